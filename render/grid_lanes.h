// The tessellators' grid loops on lanes of vertices, written once over the vector layer for
// every instruction set: lane k of a group holds grid row i0 + k (the u step), so a group walks
// the v steps j of LANES rows at once. Every lane performs the scalar loops' operations in
// their order (basisGrid, forwardGrid, shadeVertex and what they inline) and the records
// written are byte for byte the scalar ones, clip codes and the accumulated code included.
// Included by the per-set sources after geometry/lanes.h and geometry/transform_lanes.h;
// deliberately without an include guard. The normal lines' variants have no entry here.

namespace {

using namespace VORL_LANES_NAMESPACE;

struct LanePoint {
    LaneFloat x, y, z;
};

// dot() of geometry/vector.h, lane by lane.
VORL_LANES_INLINE LaneFloat dotLanes(const LanePoint& a, const Point3& b) {
    return (a.x * splat(b.x) + a.y * splat(b.y)) + a.z * splat(b.z);
}
VORL_LANES_INLINE LaneFloat dotLanes(const LanePoint& a, const LanePoint& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// lightingDetail::diffuseSelect: a NaN d selects 0 in the first compare.
VORL_LANES_INLINE LaneFloat diffuseSelectLanes(LaneFloat d) {
    const LaneFloat lit = select(greaterThan(d, splat(0.0f)), d, splat(0.0f)) + splat(AMBIENT);
    return select(lessThan(lit, splat(1.0f)), lit, splat(1.0f));
}

// lightingDetail::diffuseInteger: a set sign bit clears the pattern; the clamp compares
// patterns as unsigned integers.
VORL_LANES_INLINE LaneFloat diffuseIntegerLanes(LaneFloat d) {
    const LaneInt bits = bitsOf(d);
    const LaneFloat lit = floatsOf(andNot(shiftRightArithmetic<31>(bits), bits)) + splat(AMBIENT);
    const LaneInt above = greaterThanUnsigned(
        bitsOf(lit), splatInt(static_cast<std::int32_t>(lightingDetail::ONE_BITS)));
    return select(above, splat(1.0f), lit);
}

// The specular term of diffuseSpecularBySelect / ByInteger for the unit normal n and the
// unclamped d = n . L.
template <int STYLE>
VORL_LANES_INLINE LaneFloat specularLanes(const LanePoint& n, const LightState& state,
                                          LaneFloat d) {
    // reflectLight and highlightPower.
    const LaneFloat twoD = splat(2.0f) * d;
    const LanePoint r = {twoD * n.x - splat(state.light.x), twoD * n.y - splat(state.light.y),
                         twoD * n.z - splat(state.light.z)};
    const LaneFloat u = dotLanes(r, state.view);
    const LaneFloat c = u * invSqrtFast(dotLanes(r, r));
    const LaneFloat c2 = c * c;
    const LaneFloat c4 = c2 * c2;
    const LaneFloat power = c4 * c4;
    const LaneFloat zero = splat(0.0f);
    const LaneFloat one = splat(1.0f);
    if constexpr (STYLE == LIGHTING_SELECT) {
        const LaneFloat s = select(greaterThan(u, zero), power, zero);
        return select(lessThan(s, one), s, one);
    } else {
        // The scalar code returns 0 early where u's pattern is <= 0 as a signed integer; here
        // the power is formed on every lane and selected away there.
        const LaneInt above = greaterThanUnsigned(
            bitsOf(power), splatInt(static_cast<std::int32_t>(lightingDetail::ONE_BITS)));
        const LaneFloat clamped = select(above, one, power);
        return select(greaterThanSigned(bitsOf(u), splatInt(0)), clamped, zero);
    }
}

// packVertexColor: intensityByte's guarded shifts, the diffuse byte in red, green and
// blue, the specular byte in alpha. Both intensities are in [0, 1].
template <bool SPECULAR>
VORL_LANES_INLINE LaneInt packColourLanes(LaneFloat specular, LaneFloat diffuse) {
    const LaneInt mantissa = splatInt(0x7FFFFF);
    const LaneInt exponentMask = splatInt(0xFF);
    const LaneInt d = bitsOf(diffuse);
    const LaneInt grey =
        shiftRightSmall((d & mantissa) + mantissa,
                        splatInt(142) - (shiftRightLogical<23>(d) & exponentMask)) &
        splatInt(0xFF);
    const LaneInt rgb = shiftLeft<16>(grey) | shiftLeft<8>(grey) | grey;
    if constexpr (!SPECULAR) {
        (void)specular;
        return rgb;  // a specular of 0 packs to alpha 0
    } else {
        const LaneInt s = bitsOf(specular);
        const LaneInt alpha = shiftLeft<9>(shiftRightSmall(
                                  (s & mantissa) + mantissa,
                                  splatInt(127) - (shiftRightLogical<23>(s) & exponentMask))) &
                              splatInt(static_cast<std::int32_t>(0xFF000000u));
        return alpha | rgb;
    }
}

// shadeVertex on lanes: normalise, light, transform, clip code, texture coordinates and
// colour; lane k is written to the record at first + k * stride bytes for k < count, and its
// clip code ORed into codes. Unit 1's coordinates are left untouched without environment
// mapping, as the scalar code leaves them.
template <int FLAGS, int STYLE>
VORL_LANES_INLINE void shadeLanes(const VertexConstants& constants, const LanePoint& point,
                                  LanePoint normal, LaneFloat s, LaneFloat t, ScreenVertex* first,
                                  int stride, int count, LaneInt& codes) {
    static_assert((FLAGS & SHADE_NORMALS) == 0, "normal lines stay on the scalar path");
    const LaneFloat r =
        invSqrtFast(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
    normal.x = normal.x * r;
    normal.y = normal.y * r;
    normal.z = normal.z * r;
    const LaneFloat d = dotLanes(normal, constants.light.light);
    LaneFloat diffuse;
    if constexpr (STYLE == LIGHTING_SELECT) {
        diffuse = diffuseSelectLanes(d);
    } else {
        diffuse = diffuseIntegerLanes(d);
    }
    LaneFloat specular = splat(0.0f);
    if constexpr ((FLAGS & SHADE_SPECULAR) != 0) {
        specular = specularLanes<STYLE>(normal, constants.light, d);
    }
    const LaneProjection v = transformLanes(constants.matrix.m, point.x, point.y, point.z);
    const LaneInt code = clipCodeLanes(constants.clip, v);
    storeRecords4(first, stride, count, v.x, v.y, v.w, v.q);
    const LaneFloat s0 = s * v.q;
    const LaneFloat t0 = t * v.q;
    if constexpr ((FLAGS & SHADE_ENVIRONMENT) != 0) {
        const LaneFloat s1 = (normal.x + splat(1.0f)) * splat(0.5f) * v.q * splat(256.0f);
        const LaneFloat t1 = (normal.y + splat(1.0f)) * splat(0.5f) * v.q * splat(256.0f);
        storeRecords4(&first->s0, stride, count, s0, t0, s1, t1);
    } else {
        storeRecords2(&first->s0, stride, count, bitsOf(s0), bitsOf(t0));
    }
    const LaneInt colour = packColourLanes<(FLAGS & SHADE_SPECULAR) != 0>(specular, diffuse);
    storeRecords2(&first->colour, stride, count, colour, code);
    codes = codes | (code & firstLanes(count));
}

// matrixTimesRow for the rows of a group: out[k] = sum over l of m[k][l] b[l], b[l] holding
// row i0 + lane's weight l.
VORL_LANES_INLINE void matrixTimesRows(LaneFloat out[4], const float m[4][4],
                                       const LaneFloat b[4]) {
    for (int k = 0; k < 4; ++k) {
        out[k] = splat(m[k][0]) * b[0] + splat(m[k][1]) * b[1] + splat(m[k][2]) * b[2] +
                 splat(m[k][3]) * b[3];
    }
}

// dot4 of a group's row products with one column's weights.
VORL_LANES_INLINE LaneFloat dot4Lanes(const LaneFloat a[4], const float b[4]) {
    return a[0] * splat(b[0]) + a[1] * splat(b[1]) + a[2] * splat(b[2]) + a[3] * splat(b[3]);
}

VORL_LANES_INLINE void loadColumn(LaneFloat out[4], const float table[4][GRID_LANE_SIDE], int i0) {
    for (int l = 0; l < 4; ++l) out[l] = load(table[l] + i0);
}

// Vertices of the group that are grid vertices: all LANES but in the last group.
VORL_LANES_INLINE int groupCount(int side, int i0) { return side - i0 < LANES ? side - i0 : LANES; }

template <bool POLY_NORMALS, int FLAGS, int STYLE>
void basisLanes(const VertexConstants& constants, int n, const PatchMatrices& pm,
                const PatchMatrices& nm, float sLo, float tLo, float stepS, float stepT) {
    prepareBasisLanes(n, POLY_NORMALS);
    prepareTextureLanes(n, sLo, tLo, stepS, stepT);
    const GridLaneTables& lanes = surfacePass.tessellation.lanes;
    const BasisTable& basis = surfacePass.tessellation.basis;
    const DerivativeTable& derivative = surfacePass.tessellation.derivative;
    const int side = n + 1;
    const int stride = side * static_cast<int>(sizeof(ScreenVertex));
    LaneInt codes = splatInt(0);
    for (int i0 = 0; i0 < side; i0 += LANES) {
        const int count = groupCount(side, i0);
        LaneFloat b[4];
        loadColumn(b, lanes.basis, i0);
        LaneFloat cx[4], cy[4], cz[4];
        LaneFloat mx[4], my[4], mz[4];
        matrixTimesRows(cx, pm.x, b);
        matrixTimesRows(cy, pm.y, b);
        matrixTimesRows(cz, pm.z, b);
        if constexpr (POLY_NORMALS) {
            LaneFloat dr[4];
            loadColumn(dr, lanes.derivative, i0);
            matrixTimesRows(mx, pm.x, dr);
            matrixTimesRows(my, pm.y, dr);
            matrixTimesRows(mz, pm.z, dr);
        } else {
            matrixTimesRows(mx, nm.x, b);
            matrixTimesRows(my, nm.y, b);
            matrixTimesRows(mz, nm.z, b);
        }
        const LaneFloat s = load(lanes.s + i0);
        ScreenVertex* column = &surfacePass.tessellation.grid[i0 * side];
        for (int j = 0; j < side; ++j) {
            const float* bv = basis.row[j];
            const LanePoint point = {dot4Lanes(cx, bv), dot4Lanes(cy, bv), dot4Lanes(cz, bv)};
            LanePoint normal;
            if constexpr (POLY_NORMALS) {
                const float* dv = derivative.row[j];
                const LanePoint pu = {dot4Lanes(mx, bv), dot4Lanes(my, bv), dot4Lanes(mz, bv)};
                const LanePoint pv = {dot4Lanes(cx, dv), dot4Lanes(cy, dv), dot4Lanes(cz, dv)};
                normal = {pu.y * pv.z - pu.z * pv.y, pu.z * pv.x - pu.x * pv.z,
                          pu.x * pv.y - pu.y * pv.x};
            } else {
                normal = {dot4Lanes(mx, bv), dot4Lanes(my, bv), dot4Lanes(mz, bv)};
            }
            shadeLanes<FLAGS, STYLE>(constants, point, normal, s, splat(lanes.t[j]), column + j,
                                     stride, count, codes);
        }
    }
    transformState.accumulated |= orAcross(codes);
}

// One coordinate's column cubic across a group's rows.
struct LaneDifferences {
    LaneFloat value, first, second, third;
};

VORL_LANES_INLINE LaneDifferences loadDifferences(const float table[4][GRID_LANE_SIDE], int i0) {
    return {load(table[0] + i0), load(table[1] + i0), load(table[2] + i0), load(table[3] + i0)};
}

// stepForward on lanes.
VORL_LANES_INLINE void stepLanes(LaneDifferences& d) {
    d.value = d.value + d.first;
    d.first = d.first + d.second;
    d.second = d.second + d.third;
}

template <int TYPE, int FLAGS, int STYLE>
void forwardLanes(const VertexConstants& constants, int n, float sLo, float tLo, float stepS,
                  float stepT, float h, float h2, float h3) {
    prepareForwardLanes(TYPE, n, h, h2, h3);
    prepareTextureLanes(n, sLo, tLo, stepS, stepT);
    const GridLaneTables& lanes = surfacePass.tessellation.lanes;
    const int side = n + 1;
    const int stride = side * static_cast<int>(sizeof(ScreenVertex));
    LaneInt codes = splatInt(0);
    for (int i0 = 0; i0 < side; i0 += LANES) {
        const int count = groupCount(side, i0);
        LaneDifferences point[3], normal[3];
        for (int c = 0; c < 3; ++c) {
            point[c] = loadDifferences(lanes.pointColumn[c], i0);
            normal[c] = loadDifferences(lanes.normalColumn[c], i0);
        }
        const LaneFloat s = load(lanes.s + i0);
        ScreenVertex* column = &surfacePass.tessellation.grid[i0 * side];
        for (int j = 0; j < n; ++j) {
            const LanePoint p = {point[0].value, point[1].value, point[2].value};
            const LanePoint m = {normal[0].value, normal[1].value, normal[2].value};
            for (int c = 0; c < 3; ++c) {
                stepLanes(point[c]);
                stepLanes(normal[c]);
            }
            shadeLanes<FLAGS, STYLE>(constants, p, m, s, splat(lanes.t[j]), column + j, stride,
                                     count, codes);
        }
        // The last column: the column cubics' end values, as in the scalar loop.
        const LanePoint p = {load(lanes.pointEnd[0] + i0), load(lanes.pointEnd[1] + i0),
                             load(lanes.pointEnd[2] + i0)};
        const LanePoint m = {load(lanes.normalEnd[0] + i0), load(lanes.normalEnd[1] + i0),
                             load(lanes.normalEnd[2] + i0)};
        shadeLanes<FLAGS, STYLE>(constants, p, m, s, splat(lanes.t[n]), column + n, stride, count,
                                 codes);
    }
    transformState.accumulated |= orAcross(codes);
}

// The tables: a null entry for the variants that draw normal lines.
template <bool POLY, int F, int STYLE>
constexpr BasisGridRoutine basisLaneRoutine() {
    if constexpr ((F & SHADE_NORMALS) != 0) {
        return nullptr;
    } else {
        return basisLanes<POLY, F, STYLE>;
    }
}
template <int TYPE, int F, int STYLE>
constexpr ForwardGridRoutine forwardLaneRoutine() {
    if constexpr ((F & SHADE_NORMALS) != 0) {
        return nullptr;
    } else {
        return forwardLanes<TYPE, F, STYLE>;
    }
}
template <bool POLY, int STYLE, int... F>
constexpr BasisGridTable basisLaneVariants(std::integer_sequence<int, F...>) {
    return {{basisLaneRoutine<POLY, F, STYLE>()...}};
}
template <int TYPE, int STYLE, int... F>
constexpr ForwardGridTable forwardLaneVariants(std::integer_sequence<int, F...>) {
    return {{forwardLaneRoutine<TYPE, F, STYLE>()...}};
}
constexpr auto LANE_VARIANTS = std::make_integer_sequence<int, SHADE_VARIANT_COUNT>{};

static_assert(LIGHTING_STYLE_COUNT == 2, "one row per lighting style");
static_assert(SURFACE_BEZIER == 0 && SURFACE_BSPLINE == 1, "indexed by surface type");
constexpr GridRoutines GRID_LANE_ROUTINES = {
    {{basisLaneVariants<false, LIGHTING_SELECT>(LANE_VARIANTS),
      basisLaneVariants<true, LIGHTING_SELECT>(LANE_VARIANTS)},
     {basisLaneVariants<false, LIGHTING_INTEGER>(LANE_VARIANTS),
      basisLaneVariants<true, LIGHTING_INTEGER>(LANE_VARIANTS)}},
    {{forwardLaneVariants<SURFACE_BEZIER, LIGHTING_SELECT>(LANE_VARIANTS),
      forwardLaneVariants<SURFACE_BSPLINE, LIGHTING_SELECT>(LANE_VARIANTS)},
     {forwardLaneVariants<SURFACE_BEZIER, LIGHTING_INTEGER>(LANE_VARIANTS),
      forwardLaneVariants<SURFACE_BSPLINE, LIGHTING_INTEGER>(LANE_VARIANTS)}},
};

}  // namespace
