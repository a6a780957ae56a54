// Travelling waves on the first surface: the sine table, four wave sources re-placed at random
// when they expire, and animateWaves, which sets every control point's height to the sum of
// the ripples (plus the lifts the editor gave single points). Also the program's pseudo-random
// generator. Changes only the z of the first surface's points (and its normals); allocates
// only the sine table and the lifts. Works on the wave record
// and the surface list it is handed.
#include "surface/waves.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <new>

#include "geometry/functions.h"
#include "surface/surface.h"

// Single-precision constants as the animation has always used them.
static constexpr float TABLE_STEP = 0.0015339814f;        // 2 pi / 4096
static constexpr float TABLE_SCALE = 651.8984f;           // 4096 / (2 pi)
static constexpr float RANDOM_SCALE = 3.0518509e-05f;     // 1 / 32767
static constexpr float AMPLITUDE_SCALE = 0.003051851f;    // 100 / 32767
static constexpr float RIPPLE_PHASE = 31.41594f;          // 10 pi: five ripples across the reach

static_assert((SINE_TABLE_SIZE & (SINE_TABLE_SIZE - 1)) == 0, "indices wrap with a mask");

void seedRandom(WaveState& waves, std::uint32_t seed) {
    waves.randomState = seed;
}

int nextRandom(WaveState& waves) {
    waves.randomState = waves.randomState * 214013u + 2531011u;
    return static_cast<int>((waves.randomState >> 16) & 0x7FFFu);
}

bool buildSineTable(WaveState& waves) {
    freeSineTable(waves);
    float* table = new (std::nothrow) float[SINE_TABLE_SIZE];
    if (!table) return false;
    waves.sineTable = table;
    for (int i = 0; i < SINE_TABLE_SIZE; ++i) {
        // The program's own sine: the same table on every system.
        table[i] = static_cast<float>(sine(static_cast<double>(static_cast<float>(i) * TABLE_STEP)));
    }
    return true;
}

void freeSineTable(WaveState& waves) {
    delete[] waves.sineTable;
    waves.sineTable = nullptr;
    forgetWaveStamps(waves);
}

float cosineLookup(const WaveState& waves, int index) {
    assert(waves.sineTable);
    // Unsigned arithmetic gives the two's-complement wrap for every index, INT_MAX included.
    const unsigned entry = (static_cast<unsigned>(index) + SINE_TABLE_SIZE / 4) & (SINE_TABLE_SIZE - 1);
    return waves.sineTable[entry];
}

// trunc(value) as a table index without undefined behaviour. The phase grows with the clock,
// so after about 17 days of running (or with a negative clock reading) the product leaves the
// 32-bit range. Only the index modulo the table size matters, and fmodf is exact, so an
// out-of-range value is reduced modulo the table size first: the ripples keep moving instead
// of freezing on a clamped value. NaN and infinities read entry 0.
static int tableIndex(float value) {
    if (!std::isfinite(value)) return 0;
    if (std::fabs(value) >= 2147483520.0f) value = std::fmod(value, static_cast<float>(SINE_TABLE_SIZE));
    return static_cast<int>(value);
}

// Signed 32-bit difference a - b of two clock readings, correct across the clock's wrap.
static std::int32_t clockDifference(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// Places a source at a random spot of a width x height mesh for a random lifetime from now.
static void placeSource(WaveState& waves, WaveSource& source, std::int32_t now,
                        std::int32_t width, std::int32_t height) {
    const int r1 = nextRandom(waves);
    const int r2 = nextRandom(waves);
    const int r3 = nextRandom(waves);
    const int r4 = nextRandom(waves);
    // The products with the mesh size are formed as integers first; 64 bits wide because a
    // mesh side may be up to 16M points.
    source.x = static_cast<float>(static_cast<std::int64_t>(r1) * width) * RANDOM_SCALE;
    source.y = static_cast<float>(static_cast<std::int64_t>(r2) * height) * RANDOM_SCALE;
    source.start = now;
    source.duration = static_cast<std::int32_t>(static_cast<float>(r3 * 10000) * RANDOM_SCALE + 5000.0f);
    source.inverseHalfDuration = 1.0f / (static_cast<float>(source.duration) * 0.5f);
    source.amplitude = (static_cast<float>(r4) * AMPLITUDE_SCALE + 50.0f) * 0.01f;
}

// The first surface's stamps: made (every point counted as moved to the current step, as
// loading left it) when the surface is new to them. False when there is no memory.
static bool stampsFor(WaveState& waves, const Surface& surface) {
    const std::int64_t count = static_cast<std::int64_t>(surface.width) * surface.height;
    if (waves.stampedPoints == surface.points && waves.pointStep != nullptr) return true;
    if (count > waves.stampCapacity) {
        std::uint32_t* points = new (std::nothrow) std::uint32_t[static_cast<std::size_t>(count)];
        std::uint32_t* normals = new (std::nothrow) std::uint32_t[static_cast<std::size_t>(count)];
        if (!points || !normals) {
            delete[] points;
            delete[] normals;
            return false;
        }
        delete[] waves.pointStep;
        delete[] waves.normalStep;
        waves.pointStep = points;
        waves.normalStep = normals;
        waves.stampCapacity = count;
    }
    for (std::int64_t k = 0; k < count; ++k) {
        waves.pointStep[k] = waves.step;
        waves.normalStep[k] = waves.step;
    }
    waves.stampedPoints = surface.points;
    return true;
}

// The ripples' height of point (column j, index `index`) at the last step, plus its lift,
// from each source's squared row distance (formed once per row by the callers).
static float rippleHeight(const WaveState& waves, std::int32_t j, const float* dySquared,
                          std::int64_t index) {
    float z = 0.0f;
    for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) {
        const WaveSource& source = waves.sources[k];
        const float dx = static_cast<float>(j) - source.x;
        const float distanceSquared = dx * dx + dySquared[k];
        if (distanceSquared > waves.reachSquared) continue;
        const float s = std::sqrt(distanceSquared * waves.inverseReachSquared);
        const int tableAt = tableIndex((s * RIPPLE_PHASE - waves.phase) * TABLE_SCALE);
        const float fall = (1.0f - s) * (1.0f - s);
        z = z - cosineLookup(waves, tableAt) * fall * source.amplitude * waves.envelope[k];
    }
    // The edited points ride the waves about their own rest heights. Adding after the sum
    // leaves every point without a lift exactly as the ripples alone put it.
    if (waves.liftCount > 0) {
        const float lift = waveLift(waves, static_cast<std::int32_t>(index));
        if (lift != 0.0f) z += lift;
    }
    return z;
}

// Each source's squared distance from row i.
static void rowDistances(const WaveState& waves, std::int32_t i, float* dySquared) {
    for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) {
        const float dy = static_cast<float>(i) - waves.sources[k].y;
        dySquared[k] = dy * dy;
    }
}

// The ripples' height of point (column j, row i) at the last step, plus its lift.
static float waveHeight(const WaveState& waves, std::int32_t j, std::int32_t i,
                        std::int64_t index) {
    float dySquared[WAVE_SOURCE_COUNT];
    rowDistances(waves, i, dySquared);
    return rippleHeight(waves, j, dySquared, index);
}

// Whether the lazy waves apply to `surface`: the first surface, stepped since it was loaded.
static bool wavesApply(const WaveState& waves, const Surface& surface) {
    return waves.step != 0 && waves.sineTable != nullptr && surface.points != nullptr &&
           waves.stampedPoints == surface.points && waves.pointStep != nullptr;
}

// Heights of columns c0 .. c1, rows r0 .. r1 (inside the mesh) brought to the last step: the
// sum waveHeight forms, with each source's row term formed once per row (the same product).
static void moveHeights(WaveState& waves, Surface& surface, int c0, int r0, int c1, int r1) {
    for (int i = r0; i <= r1; ++i) {
        const std::int64_t row = static_cast<std::int64_t>(i) * surface.width;
        float dySquared[WAVE_SOURCE_COUNT];
        rowDistances(waves, i, dySquared);
        for (int j = c0; j <= c1; ++j) {
            const std::int64_t index = row + j;
            if (waves.pointStep[index] == waves.step) continue;
            waves.pointStep[index] = waves.step;
            surface.points[index].z = rippleHeight(waves, j, dySquared, index);
        }
    }
}

void moveWaves(WaveState& waves, Surface& surface, int c0, int r0, int c1, int r1) {
    if (!wavesApply(waves, surface)) return;
    const int lastColumn = surface.width - 1;
    const int lastRow = surface.height - 1;
    if (c0 < 0) c0 = 0;
    if (r0 < 0) r0 = 0;
    if (c1 > lastColumn) c1 = lastColumn;
    if (r1 > lastRow) r1 = lastRow;
    if (c0 > c1 || r0 > r1) return;
    if (!waves.normalsOwed) {
        moveHeights(waves, surface, c0, r0, c1, r1);
        return;
    }
    // A normal reads the heights of its four neighbours (at the border the mirrored
    // difference reads the opposite one, still a neighbour).
    moveHeights(waves, surface, c0 > 0 ? c0 - 1 : 0, r0 > 0 ? r0 - 1 : 0,
                c1 < lastColumn ? c1 + 1 : lastColumn, r1 < lastRow ? r1 + 1 : lastRow);
    for (int i = r0; i <= r1; ++i) {
        const std::int64_t row = static_cast<std::int64_t>(i) * surface.width;
        for (int j = c0; j <= c1; ++j) {
            if (waves.normalStep[row + j] == waves.step) continue;
            waves.normalStep[row + j] = waves.step;
            surface.normals[row + j] = controlNormalAt(surface, j, i);
        }
    }
}

void settleWaves(WaveState& waves, SurfaceList& list) {
    if (list.count <= 0 || !list.surfaces) return;
    Surface& surface = list.surfaces[0];
    moveWaves(waves, surface, 0, 0, surface.width - 1, surface.height - 1);
    if (wavesApply(waves, surface)) waves.normalsOwed = false;
}

void forgetWaveStamps(WaveState& waves) {
    delete[] waves.pointStep;
    delete[] waves.normalStep;
    waves.pointStep = nullptr;
    waves.normalStep = nullptr;
    waves.stampCapacity = 0;
    waves.stampedPoints = nullptr;
}

// The step's terms that do not depend on the point: expired sources re-placed, the phase,
// the reach and each source's envelope at `now`.
static void beginStep(WaveState& waves, std::int32_t now, std::int32_t width,
                      std::int32_t height) {
    // An expired source is re-placed. So is one whose start lies in the future: that happens
    // only when more than 2^31 ms (24.8 days) passed between two calls, and left alone such a
    // source would keep a large negative envelope (ever-growing heights) for weeks.
    for (WaveSource& source : waves.sources) {
        const std::int32_t elapsed = clockDifference(now, source.start);
        if (elapsed > source.duration || elapsed < 0) placeSource(waves, source, now, width, height);
    }

    waves.phase = static_cast<float>(now >> 3) * DEGREES_TO_RADIANS;  // 1 degree per 8 ms
    // Integer halves of the dimensions; 64-bit because 16M-point sides would overflow.
    const std::int64_t halfWidth = width >> 1;
    const std::int64_t halfHeight = height >> 1;
    waves.reachSquared = static_cast<float>(halfHeight * halfHeight + halfWidth * halfWidth);
    waves.inverseReachSquared = 1.0f / waves.reachSquared;

    // Per-source terms that do not depend on the point.
    for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) {
        const WaveSource& source = waves.sources[k];
        const std::int64_t offset = static_cast<std::int64_t>(clockDifference(now, source.start)) - (source.duration >> 1);
        waves.envelope[k] = 1.0f - static_cast<float>(offset < 0 ? -offset : offset) * source.inverseHalfDuration;
    }
}

void stepWaves(WaveState& waves, SurfaceList& list, std::int32_t now, bool controlNormals) {
    if (list.count <= 0 || !list.surfaces || !waves.sineTable) return;
    Surface& surface = list.surfaces[0];
    const std::int32_t width = surface.width;
    const std::int32_t height = surface.height;
    if (!surface.points || width < SURFACE_MIN_SIDE || height < SURFACE_MIN_SIDE) return;
    // Normals owed by the step before, which this one no longer forms, are the ones the
    // shading reads from now on: they are formed at that step before it is left.
    if (waves.normalsOwed && !controlNormals) settleWaves(waves, list);
    if (!stampsFor(waves, surface)) {
        // No memory for the stamps: the whole mesh is moved at once, as it always was.
        animateWaves(waves, list, now, controlNormals);
        return;
    }

    beginStep(waves, now, width, height);
    // Step 0 means "never stepped": skip it when the count wraps.
    waves.step = waves.step + 1 == 0 ? 1 : waves.step + 1;
    waves.normalsOwed = controlNormals;
}

void animateWaves(WaveState& waves, SurfaceList& list, std::int32_t now, bool controlNormals) {
    if (list.count <= 0 || !list.surfaces || !waves.sineTable) return;
    Surface& surface = list.surfaces[0];
    const std::int32_t width = surface.width;
    const std::int32_t height = surface.height;
    if (!surface.points || width < SURFACE_MIN_SIDE || height < SURFACE_MIN_SIDE) return;
    if (stampsFor(waves, surface)) {
        stepWaves(waves, list, now, controlNormals);
        settleWaves(waves, list);
        return;
    }
    // No memory for the stamps: every point moved at once.
    beginStep(waves, now, width, height);
    Point4* point = surface.points;
    for (std::int32_t i = 0; i < height; ++i) {
        for (std::int32_t j = 0; j < width; ++j, ++point) {
            point->z = waveHeight(waves, j, i, point - surface.points);
        }
    }
    if (controlNormals) computeControlNormals(surface);
}

// The slot of `index` in the sorted lifts: where it is, or where it would go.
static std::int32_t liftSlot(const WaveState& waves, std::int32_t index) {
    std::int32_t lo = 0, hi = waves.liftCount;
    while (lo < hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        if (waves.lifts[mid].index < index) lo = mid + 1; else hi = mid;
    }
    return lo;
}

float waveLift(const WaveState& waves, std::int32_t index) {
    const std::int32_t slot = liftSlot(waves, index);
    return slot < waves.liftCount && waves.lifts[slot].index == index ? waves.lifts[slot].height
                                                                      : 0.0f;
}

bool setWaveLift(WaveState& waves, std::int32_t index, float height) {
    const std::int32_t slot = liftSlot(waves, index);
    const bool present = slot < waves.liftCount && waves.lifts[slot].index == index;
    WaveLift* at = waves.lifts + slot;
    if (height == 0.0f) {
        // Dropped rather than kept at 0: adding 0 would turn a point's z of -0 into +0.
        if (present) {
            const std::size_t after = static_cast<std::size_t>(waves.liftCount - slot - 1);
            std::memmove(at, at + 1, sizeof(WaveLift) * after);
            --waves.liftCount;
        }
        return true;
    }
    if (present) {
        at->height = height;
        return true;
    }
    if (waves.liftCount == waves.liftCapacity) {
        const std::int32_t capacity = waves.liftCapacity == 0 ? 16 : waves.liftCapacity * 2;
        WaveLift* grown = new (std::nothrow) WaveLift[static_cast<std::size_t>(capacity)];
        if (!grown) return false;
        if (waves.liftCount > 0) {
            std::memcpy(grown, waves.lifts,
                        sizeof(WaveLift) * static_cast<std::size_t>(waves.liftCount));
        }
        delete[] waves.lifts;
        waves.lifts = grown;
        waves.liftCapacity = capacity;
        at = waves.lifts + slot;
    }
    std::memmove(at + 1, at, sizeof(WaveLift) * static_cast<std::size_t>(waves.liftCount - slot));
    *at = WaveLift{index, height};
    ++waves.liftCount;
    return true;
}

void clearWaveLifts(WaveState& waves) {
    delete[] waves.lifts;
    waves.lifts = nullptr;
    waves.liftCount = 0;
    waves.liftCapacity = 0;
}
