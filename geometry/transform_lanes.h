// The vertex transform and clip code of geometry/transform.h on lanes of vertices: the body of
// transformVertexWith and clipCode, operation for operation, so every lane holds the bytes the
// scalar code writes. Included after geometry/lanes.h, inside its region and namespace;
// deliberately without an include guard (one instruction set per source).

namespace VORL_LANES_NAMESPACE {

// x and y in pixels after the divide, w and q = 1 / w, as transformVertexWith writes them.
struct LaneProjection {
    LaneFloat x, y, w, q;
};

// transformVertexWith's arithmetic on lanes of points, with the matrix elements e (row-major).
VORL_LANES_INLINE LaneProjection transformLanes(const float* e, LaneFloat px, LaneFloat py,
                                                LaneFloat pz) {
    const LaneFloat w = splat(e[12]) * px + splat(e[13]) * py + splat(e[14]) * pz + splat(e[15]);
    const LaneFloat sx = splat(e[0]) * px + splat(e[1]) * py + splat(e[2]) * pz + splat(e[3]);
    const LaneFloat sy = splat(e[4]) * px + splat(e[5]) * py + splat(e[6]) * pz + splat(e[7]);
    // A true division, as in the scalar code: w = 0 gives an infinite q and CLIP_NEAR.
    const LaneFloat q = splat(1.0f) / w;
    return {sx * q, sy * q, w, q};
}

// clipCode on lanes: the same unsigned compares of the bit patterns against the bounds, the
// same pair swaps for set sign bits and the same mirroring behind the eye.
VORL_LANES_INLINE LaneInt clipCodeLanes(const ClipBounds& b, const LaneProjection& v) {
    const LaneInt x = bitsOf(v.x);
    const LaneInt y = bitsOf(v.y);
    const LaneInt w = bitsOf(v.w);
    auto bound = [](float f) { return splatInt(static_cast<std::int32_t>(clipFloatBits(f))); };
    auto bit = [](std::uint32_t flag) { return splatInt(static_cast<std::int32_t>(flag)); };
    const LaneInt code = (greaterThanUnsigned(w, bound(b.wFar)) & bit(CLIP_FAR)) |
                         (greaterThanUnsigned(bound(b.wNear), w) & bit(CLIP_NEAR)) |
                         (greaterThanUnsigned(y, bound(b.yMax)) & bit(CLIP_Y_MAX)) |
                         (greaterThanUnsigned(bound(b.yMin), y) & bit(CLIP_Y_MIN)) |
                         (greaterThanUnsigned(x, bound(b.xMax)) & bit(CLIP_X_MAX)) |
                         (greaterThanUnsigned(bound(b.xMin), x) & bit(CLIP_X_MIN));
    // CLIP_SIGN_FIX's pair for each set sign bit, and for w's the inversion of the four x and
    // y bits too: the entries' bits are disjoint, so they combine by exclusive or.
    const LaneInt fix = (shiftRightArithmetic<31>(x) & bit(CLIP_SIGN_FIX[1])) ^
                        (shiftRightArithmetic<31>(y) & bit(CLIP_SIGN_FIX[2])) ^
                        (shiftRightArithmetic<31>(w) & bit(CLIP_SIGN_FIX[4] ^ 0x0Fu));
    return code ^ fix;
}

}  // namespace VORL_LANES_NAMESPACE
