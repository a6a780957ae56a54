// The patches drawn in the current surface pass: their working records (step count, saved
// borders) in pools sized by the most patches (and border vertices) one pass has needed, and
// the lookup from a patch of the mesh to its record. The surface pass's record holds the one
// instance (surfacePass.drawn); the pass fills it, crack filling reads it.
#pragma once

#include <cstdint>

#include "surface/surface.h"

// Records are kept in blocks of this many, so a block never moves once made.
constexpr int DRAWN_BLOCK_SIZE = 256;
// Border vertices are lent from blocks of this many (640 KB); a patch's four borders take
// 4 * (steps + 1) of them, 84 at most, and never straddle two blocks.
constexpr int DRAWN_VERTEX_BLOCK_SIZE = 16384;

// One drawn patch: its working record and its index in the mesh (row-major by patch row,
// nx records per row, as the surface type counts them).
struct DrawnPatch {
    PatchRecord record;
    std::int32_t index;
};

struct DrawnPatches {
    DrawnPatch** blocks;          // blockCount blocks of DRAWN_BLOCK_SIZE, of blockCapacity
    std::int32_t blockCount;
    std::int32_t blockCapacity;
    std::int32_t count;           // records in use this pass, in the order they were added
    const Surface* surface;       // the surface of this pass
    ScreenVertex** vertexBlocks;  // vertexBlockCount blocks of DRAWN_VERTEX_BLOCK_SIZE
    std::int32_t vertexBlockCount;
    std::int32_t vertexBlockCapacity;
    std::int32_t vertexBlock;     // the block borders are lent from now
    std::int32_t vertexUsed;      // vertices of it already lent this pass
};

// Starts a pass over `surface`: no patch of it (or of any other surface) is drawn yet.
void beginDrawnPatches(DrawnPatches& d, const Surface& surface);
// Adds a block of records; false when out of memory. Called by addDrawnPatch only.
bool growDrawnPatches(DrawnPatches& d);
// The record of patch `index` of the pass's surface, added now: its fields are cleared, the
// mesh's pointers and width filled in, steps 0, no border room. Null when there is no memory
// for it (the pool grows only when a pass draws more patches than any before). Call once per
// patch and pass.
inline PatchRecord* addDrawnPatch(DrawnPatches& d, Surface& surface, std::int32_t index) {
    if (d.count == d.blockCount * DRAWN_BLOCK_SIZE && !growDrawnPatches(d)) return nullptr;
    const std::int32_t slot = d.count++;
    DrawnPatch& drawn = d.blocks[slot / DRAWN_BLOCK_SIZE][slot % DRAWN_BLOCK_SIZE];
    drawn.index = index;
    PatchRecord& record = drawn.record;
    record.controlPoints = surface.points;
    record.controlNormals = surface.normals;
    record.width = surface.width;
    record.lastColumn = 0;
    record.lastRow = 0;
    record.steps = 0;
    record.coarseness = 0.0f;
    for (PatchEdge& edge : record.edges) edge.slot = nullptr;
    surface.patchSlots[index] = slot;
    return &record;
}
// Lends from a new vertex block; false when out of memory. Called by lendDrawnBorders only.
bool lendDrawnBordersFromNextBlock(DrawnPatches& d, PatchRecord& patch);
// Lends the record room for its four borders at its step count (1..20) until the next pass;
// false, with no room lent, when there is no memory for it.
inline bool lendDrawnBorders(DrawnPatches& d, PatchRecord& patch) {
    const int side = patch.steps + 1;
    if (d.vertexBlock == d.vertexBlockCount ||
        d.vertexUsed + EDGE_COUNT * side > DRAWN_VERTEX_BLOCK_SIZE) {
        return lendDrawnBordersFromNextBlock(d, patch);
    }
    ScreenVertex* room = d.vertexBlocks[d.vertexBlock] + d.vertexUsed;
    d.vertexUsed += EDGE_COUNT * side;
    for (int e = 0; e < EDGE_COUNT; ++e) patch.edges[e].slot = room + e * side;
    return true;
}
// Record `slot` (0 .. count - 1) of this pass and its patch index.
inline DrawnPatch& drawnPatchAt(const DrawnPatches& d, std::int32_t slot) {
    return d.blocks[slot / DRAWN_BLOCK_SIZE][slot % DRAWN_BLOCK_SIZE];
}
// The record of patch `index` of `surface` when it was added in the current pass, else null.
inline const PatchRecord* findDrawnPatch(const DrawnPatches& d, const Surface& surface,
                                         std::int32_t index) {
    if (d.surface != &surface || surface.patchSlots == nullptr) return nullptr;
    // A slot left from an earlier pass either lies past this pass's count or names another
    // patch: every patch added in this pass wrote its own slot.
    const std::int32_t slot = surface.patchSlots[index];
    if (slot < 0 || slot >= d.count) return nullptr;
    const DrawnPatch& drawn = drawnPatchAt(d, slot);
    return drawn.index == index ? &drawn.record : nullptr;
}
// Frees the pool (at exit); the next pass allocates again.
void releaseDrawnPatches(DrawnPatches& d);
