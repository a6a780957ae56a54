// The pool of records of the patches drawn in a pass, and the lookup from a mesh's patch slots
// into it. Allocates only when a pass draws more patches than every pass before it; touches
// nothing but the pool and the patch slots of the surface it is handed.
#include "render/drawn.h"

#include <cstring>
#include <new>

DrawnPatches drawnPatches = {};

void beginDrawnPatches(const Surface& surface) {
    drawnPatches.count = 0;
    drawnPatches.surface = &surface;
}

// Adds one block, growing the table of blocks when it is full; false when out of memory.
static bool growDrawnPatches() {
    DrawnPatches& d = drawnPatches;
    if (d.blockCount == d.blockCapacity) {
        const std::int32_t capacity = d.blockCapacity == 0 ? 16 : d.blockCapacity * 2;
        DrawnPatch** blocks = new (std::nothrow) DrawnPatch*[static_cast<std::size_t>(capacity)];
        if (!blocks) return false;
        if (d.blockCount > 0) {
            std::memcpy(blocks, d.blocks, sizeof(DrawnPatch*) * static_cast<std::size_t>(d.blockCount));
        }
        delete[] d.blocks;
        d.blocks = blocks;
        d.blockCapacity = capacity;
    }
    DrawnPatch* block = new (std::nothrow) DrawnPatch[DRAWN_BLOCK_SIZE];
    if (!block) return false;
    d.blocks[d.blockCount++] = block;
    return true;
}

PatchRecord* addDrawnPatch(Surface& surface, std::int32_t index) {
    DrawnPatches& d = drawnPatches;
    if (d.count == d.blockCount * DRAWN_BLOCK_SIZE && !growDrawnPatches()) return nullptr;
    const std::int32_t slot = d.count++;
    DrawnPatch& drawn = drawnPatchAt(slot);
    drawn.index = index;
    // Only the fields before the borders: the tessellators write the borders' slots 0 .. steps
    // before crack filling reads them, so clearing 3.4 KB per patch would buy nothing.
    PatchRecord& record = drawn.record;
    record.controlPoints = surface.points;
    record.controlNormals = surface.normals;
    record.width = surface.width;
    record.lastColumn = 0;
    record.lastRow = 0;
    record.steps = 0;
    surface.patchSlots[index] = slot;
    return &record;
}

const PatchRecord* findDrawnPatch(const Surface& surface, std::int32_t index) {
    const DrawnPatches& d = drawnPatches;
    if (d.surface != &surface || surface.patchSlots == nullptr) return nullptr;
    // A slot left from an earlier pass either lies past this pass's count or names another
    // patch: every patch added in this pass wrote its own slot.
    const std::int32_t slot = surface.patchSlots[index];
    if (slot < 0 || slot >= d.count) return nullptr;
    const DrawnPatch& drawn = drawnPatchAt(slot);
    return drawn.index == index ? &drawn.record : nullptr;
}

void releaseDrawnPatches() {
    DrawnPatches& d = drawnPatches;
    for (std::int32_t b = 0; b < d.blockCount; ++b) delete[] d.blocks[b];
    delete[] d.blocks;
    d = DrawnPatches{};
}
