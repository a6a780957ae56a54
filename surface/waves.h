// Travelling waves on the first surface: the 4096-entry sine table, four randomly placed
// wave sources and the per-frame height update. The pseudo-random generator lives here too.
// The wave record, the surfaces, the clock reading and the normals' source are handed in by
// the caller (the scene owns the record).
#pragma once

#include <cstdint>

#include "geometry/vector.h"

constexpr int SINE_TABLE_SIZE = 4096;
constexpr int WAVE_SOURCE_COUNT = 4;
// No point's ripple sum (its height without its lift) ever leaves -WAVE_HEIGHT_BOUND ..
// WAVE_HEIGHT_BOUND: each source adds at most its amplitude (1.5 at most) times the fall-off
// and the envelope (each at most 1 in size); the rest is room for rounding.
constexpr float WAVE_HEIGHT_BOUND = WAVE_SOURCE_COUNT * 1.5f + 0.01f;

struct WaveSource {
    float x, y;               // centre in control-point columns and rows
    float amplitude;          // 0.5 .. 1.5
    std::int32_t start;       // clock value when placed
    std::int32_t duration;    // 5000 .. 15000 ms
    float inverseHalfDuration;
};
// A height the user gave one point of the waving surface: the waves move that point about
// its raised rest height instead of about 0. Only edited points have one.
struct WaveLift {
    std::int32_t index;       // the point, row-major in the first surface
    float height;             // added to the ripples' sum; never 0 (a lift of 0 is dropped)
};
// Everything the animation keeps between frames.
struct WaveState {
    float* sineTable = nullptr;             // SINE_TABLE_SIZE entries, or null before start-up
    WaveSource sources[WAVE_SOURCE_COUNT] = {};
    std::uint32_t randomState = 1;          // the generator's state
    WaveLift* lifts = nullptr;              // sorted by index; liftCount of liftCapacity used
    std::int32_t liftCount = 0;
    std::int32_t liftCapacity = 0;
    // The step the waves were last moved to (0 before the first) and what bringing a point
    // there takes. Points are moved lazily: each carries the step it was last moved to.
    std::uint32_t step = 0;
    float phase = 0.0f;
    float reachSquared = 0.0f;
    float inverseReachSquared = 0.0f;
    float envelope[WAVE_SOURCE_COUNT] = {};
    bool normalsOwed = false;               // the step came with control normals: all are due
    const Point4* stampedPoints = nullptr;  // the first surface's points the stamps belong to
    std::uint32_t* pointStep = nullptr;     // per point: the step its height was moved to
    std::uint32_t* normalStep = nullptr;    // per point: the step its normal was formed at
    std::int64_t stampCapacity = 0;
};

struct Surface;
struct SurfaceList;

// Allocates and fills the sine table; false when there is no memory.
bool buildSineTable(WaveState& waves);
// Releases the sine table and the points' stamps; harmless when none is built. animateWaves
// does nothing without the table.
void freeSineTable(WaveState& waves);
// cos(2 pi i / 4096) from the table; negative indices wrap.
float cosineLookup(const WaveState& waves, int index);
// One animation step of the list's first surface at clock reading `now` (milliseconds): sets
// every point's z from the ripples plus its lift, re-places expired sources, and recomputes the
// normals when `controlNormals` is set (the shading reads them only then).
void animateWaves(WaveState& waves, SurfaceList& list, std::int32_t now, bool controlNormals);

// One animation step, lazily: re-places expired sources and fixes the step's terms, but moves
// no point; moveWaves brings the points that are read to the step. Exactly animateWaves once
// every point has been brought there. Allocates the per-point stamps when the first surface
// is new or larger than any before.
void stepWaves(WaveState& waves, SurfaceList& list, std::int32_t now, bool controlNormals);
// Brings the first surface's points of columns c0 .. c1, rows r0 .. r1 (clamped to the mesh)
// to the last step, and when the step owes normals, their normals too (and the heights of
// the neighbours those read). Nothing for any other surface, or for one the waves have not
// stepped since it was loaded.
void moveWaves(WaveState& waves, Surface& surface, int c0, int r0, int c1, int r1);
// Brings every point (and normal owed) of the first surface to the last step: before the
// mesh is read whole (saved, picked from, marked) or the owed normals are read without the
// step forming them (control normals switched off).
void settleWaves(WaveState& waves, SurfaceList& list);
// Forgets (and frees) the stamps: the first surface was replaced, or at exit.
void forgetWaveStamps(WaveState& waves);

// The lift of point `index` of the first surface, 0 when it has none.
float waveLift(const WaveState& waves, std::int32_t index);
// Gives point `index` the lift `height` (0 takes it away). False, with the lifts as they were,
// when there is no memory for another one. Allocates only when an edit asks for it.
bool setWaveLift(WaveState& waves, std::int32_t index, float height);
// Forgets every lift and frees their memory (the first surface was replaced, or at exit).
void clearWaveLifts(WaveState& waves);

// The program's own generator: state = state * 214013 + 2531011, result (state >> 16) & 0x7FFF.
void seedRandom(WaveState& waves, std::uint32_t seed);
int nextRandom(WaveState& waves);
