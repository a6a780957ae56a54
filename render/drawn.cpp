// The pool of records of the patches drawn in a pass, and the lookup from a mesh's patch slots
// into it. Allocates only when a pass draws more patches than every pass before it; touches
// nothing but the pool and the patch slots of the surface it is handed.
#include "render/drawn.h"

#include <cstring>
#include <new>

void beginDrawnPatches(DrawnPatches& d, const Surface& surface) {
    d.count = 0;
    d.surface = &surface;
    d.vertexBlock = 0;
    d.vertexUsed = 0;
}

// Makes room for one more entry in a table of `count` of `capacity` pointers; false when out
// of memory (the table is then as it was).
template <typename T>
static bool roomForOneMore(T**& table, std::int32_t count, std::int32_t& capacity) {
    if (count < capacity) return true;
    const std::int32_t grown = capacity == 0 ? 16 : capacity * 2;
    T** bigger = new (std::nothrow) T*[static_cast<std::size_t>(grown)];
    if (!bigger) return false;
    if (count > 0) std::memcpy(bigger, table, sizeof(T*) * static_cast<std::size_t>(count));
    delete[] table;
    table = bigger;
    capacity = grown;
    return true;
}

// Adds one block, growing the table of blocks when it is full; false when out of memory.
bool growDrawnPatches(DrawnPatches& d) {
    if (!roomForOneMore(d.blocks, d.blockCount, d.blockCapacity)) return false;
    DrawnPatch* block = new (std::nothrow) DrawnPatch[DRAWN_BLOCK_SIZE];
    if (!block) return false;
    d.blocks[d.blockCount++] = block;
    return true;
}

bool lendDrawnBordersFromNextBlock(DrawnPatches& d, PatchRecord& patch) {
    const int side = patch.steps + 1;
    const int needed = EDGE_COUNT * side;
    std::int32_t block = d.vertexBlock;
    std::int32_t used = d.vertexUsed;
    if (used + needed > DRAWN_VERTEX_BLOCK_SIZE) {
        ++block;
        used = 0;
    }
    if (block == d.vertexBlockCount) {
        if (!roomForOneMore(d.vertexBlocks, d.vertexBlockCount, d.vertexBlockCapacity)) return false;
        ScreenVertex* made = new (std::nothrow) ScreenVertex[DRAWN_VERTEX_BLOCK_SIZE];
        if (!made) return false;
        d.vertexBlocks[d.vertexBlockCount++] = made;
    }
    ScreenVertex* room = d.vertexBlocks[block] + used;
    d.vertexBlock = block;
    d.vertexUsed = used + needed;
    for (int e = 0; e < EDGE_COUNT; ++e) patch.edges[e].slot = room + e * side;
    return true;
}

void releaseDrawnPatches(DrawnPatches& d) {
    for (std::int32_t b = 0; b < d.blockCount; ++b) delete[] d.blocks[b];
    delete[] d.blocks;
    for (std::int32_t b = 0; b < d.vertexBlockCount; ++b) delete[] d.vertexBlocks[b];
    delete[] d.vertexBlocks;
    d = DrawnPatches{};
}
