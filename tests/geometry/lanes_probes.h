// What the lane tests run inside an instruction set's region (included after geometry/lanes.h
// and geometry/transform_lanes.h): plain arrays in, plain arrays out, LANES at a time, so
// that the test bodies outside the region call nothing built for the extension. Deliberately
// without an include guard.

namespace {

using namespace VORL_LANES_NAMESPACE;

constexpr int PROBE_LANES = LANES;

// Clip codes of count vertices (count a multiple of LANES).
void probeClipCodes(const ClipBounds& bounds, const float* x, const float* y, const float* w,
                    std::uint32_t* out, int count) {
    for (int i = 0; i < count; i += LANES) {
        const LaneProjection v = {load(x + i), load(y + i), load(w + i), splat(0.0f)};
        storeInts(reinterpret_cast<std::int32_t*>(out + i), clipCodeLanes(bounds, v));
    }
}

// x, y, w, q of count points through the matrix elements e.
void probeTransform(const float* e, const float* p, float* out, int count) {
    for (int i = 0; i < count; i += LANES) {
        const LaneProjection v =
            transformLanes(e, load(p + i), load(p + count + i), load(p + 2 * count + i));
        storeInts(reinterpret_cast<std::int32_t*>(out + i), bitsOf(v.x));
        storeInts(reinterpret_cast<std::int32_t*>(out + count + i), bitsOf(v.y));
        storeInts(reinterpret_cast<std::int32_t*>(out + 2 * count + i), bitsOf(v.w));
        storeInts(reinterpret_cast<std::int32_t*>(out + 3 * count + i), bitsOf(v.q));
    }
}

void probeShiftRightSmall(const std::int32_t* v, const std::int32_t* shift, std::int32_t* out,
                          int count) {
    for (int i = 0; i < count; i += LANES) {
        storeInts(out + i, shiftRightSmall(loadInts(v + i), loadInts(shift + i)));
    }
}

void probeInvSqrtFast(const float* x, float* out, int count) {
    for (int i = 0; i < count; i += LANES) {
        storeInts(reinterpret_cast<std::int32_t*>(out + i), bitsOf(invSqrtFast(load(x + i))));
    }
}

// Lane k's (k + 1, k + 2, k + 3, k + 4) as x, y, w, q and (100 + k, 200 + k) as colour and
// flags of the records first[0 .. count - 1].
void probeStoreRecords(ScreenVertex* first, int count) {
    const LaneInt k = laneIndex();
    float values[4][LANES];
    for (int lane = 0; lane < LANES; ++lane) {
        for (int field = 0; field < 4; ++field)
            values[field][lane] = static_cast<float>(lane + field + 1);
    }
    storeRecords4(first, static_cast<int>(sizeof(ScreenVertex)), count, load(values[0]),
                  load(values[1]), load(values[2]), load(values[3]));
    storeRecords2(&first->colour, static_cast<int>(sizeof(ScreenVertex)), count, k + splatInt(100),
                  k + splatInt(200));
}

}  // namespace
