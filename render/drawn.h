// The patches drawn in the current surface pass: their working records (step count, saved
// borders) in pools sized by the most patches (and border vertices) one pass has needed, and
// the lookup from a patch of the mesh to its record. One instance; the surface pass fills it,
// crack filling reads it.
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
extern DrawnPatches drawnPatches;

// Starts a pass over `surface`: no patch of it (or of any other surface) is drawn yet.
void beginDrawnPatches(const Surface& surface);
// The record of patch `index` of the pass's surface, added now: its fields are cleared, the
// mesh's pointers and width filled in, steps 0. Null when there is no memory for it (the pool
// grows only when a pass draws more patches than any before). Call once per patch and pass.
PatchRecord* addDrawnPatch(Surface& surface, std::int32_t index);
// Lends the record room for its four borders at its step count (1..20) until the next pass;
// false, with no room lent, when there is no memory for it.
bool lendDrawnBorders(PatchRecord& patch);
// The record of patch `index` of `surface` when it was added in the current pass, else null.
const PatchRecord* findDrawnPatch(const Surface& surface, std::int32_t index);
// Record `slot` (0 .. count - 1) of this pass and its patch index.
inline DrawnPatch& drawnPatchAt(std::int32_t slot) {
    return drawnPatches.blocks[slot / DRAWN_BLOCK_SIZE][slot % DRAWN_BLOCK_SIZE];
}
// Frees the pool (at exit); the next pass allocates again.
void releaseDrawnPatches();
