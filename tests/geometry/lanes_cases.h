// The lane tests, written once for every instruction set: LANES_SUITE names the suite and
// LANES_RUN_HERE(sets) says whether the processor runs the set; the probes of
// tests/geometry/lanes_probes.h come first. Each operation against the scalar code it stands
// for, bit for bit, at the values where a lane version is easiest to get wrong: signed zeros,
// infinities, NaN, exact bounds, the ends of the shift counts. Deliberately without an
// include guard.

namespace {

bool setRunsHere() { return LANES_RUN_HERE(laneSetsHere()); }

// Pads v with copies of its first element to a whole number of lanes.
template <typename T>
void padToLanes(std::vector<T>& v) {
    while (v.size() % PROBE_LANES != 0) v.push_back(v.front());
}

std::uint32_t bitsOfFloat(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

}  // namespace

TEST(LANES_SUITE, ClipCodesAreTheScalarCodesAtEveryEdgeValue) {
    if (!setRunsHere()) GTEST_SKIP() << "the processor does not run this instruction set";
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const ClipBounds& bounds : {ClipBounds{0, 1000, 0, 1000, 0.5f, 10, 2, 0.1f},
                                     ClipBounds{3.5f, 640, 7, 480, 1, 100, 1, 0.01f}}) {
        std::vector<float> values = {0.0f, -0.0f, 1e-42f, -1e-42f, 0.25f, -3.0f,
                                     2e9f, -2e9f, inf,    -inf,    nan,   -nan};
        for (float b :
             {bounds.xMin, bounds.xMax, bounds.yMin, bounds.yMax, bounds.wNear, bounds.wFar}) {
            values.push_back(b);
            values.push_back(std::nextafter(b, -inf));
            values.push_back(std::nextafter(b, inf));
        }
        std::vector<float> x, y, w;
        for (float a : values) {
            for (float b : values) {
                for (float c : values) {
                    x.push_back(a);
                    y.push_back(b);
                    w.push_back(c);
                }
            }
        }
        padToLanes(x);
        padToLanes(y);
        padToLanes(w);
        std::vector<std::uint32_t> codes(x.size());
        probeClipCodes(bounds, x.data(), y.data(), w.data(), codes.data(),
                       static_cast<int>(x.size()));
        const ClipBounds saved = transformState.clip;
        useClipBounds(bounds);
        for (std::size_t i = 0; i < x.size(); ++i) {
            ScreenVertex v = {};
            v.x = x[i];
            v.y = y[i];
            v.w = w[i];
            ASSERT_EQ(codes[i], clipCode(v)) << "x " << x[i] << " y " << y[i] << " w " << w[i];
        }
        useClipBounds(saved);
    }
}

TEST(LANES_SUITE, TransformIsTheScalarTransformWithItsTrueDivision) {
    if (!setRunsHere()) GTEST_SKIP() << "the processor does not run this instruction set";
    std::mt19937 random(77);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Matrix4 m;
    for (float& e : m.m) e = unit(random);
    m.m[15] = 0.0f;  // w = 0 at the origin: an infinite q, as in the scalar code
    const int count = 64 * PROBE_LANES;
    std::vector<float> p(3 * count), out(4 * count);
    for (int i = 0; i < count; ++i) {
        const float scale = i % 3 == 0 ? 1e6f : 100.0f;
        for (int c = 0; c < 3; ++c) p[c * count + i] = i == 0 ? 0.0f : scale * unit(random);
    }
    probeTransform(m.m, p.data(), out.data(), count);
    for (int i = 0; i < count; ++i) {
        ScreenVertex v = {};
        ScreenVertex* const saved = transformState.pending;
        transformState.pending = nullptr;
        transformVertexWith(m.m, v, Point3{p[i], p[count + i], p[2 * count + i]});
        transformState.pending = saved;
        ASSERT_EQ(bitsOfFloat(out[i]), bitsOfFloat(v.x)) << i;
        ASSERT_EQ(bitsOfFloat(out[count + i]), bitsOfFloat(v.y)) << i;
        ASSERT_EQ(bitsOfFloat(out[2 * count + i]), bitsOfFloat(v.w)) << i;
        ASSERT_EQ(bitsOfFloat(out[3 * count + i]), bitsOfFloat(v.q)) << i;
    }
}

TEST(LANES_SUITE, ShiftsByLaneCountsAreExactAndEmptyPastThirtyOne) {
    if (!setRunsHere()) GTEST_SKIP() << "the processor does not run this instruction set";
    std::vector<std::int32_t> values, shifts;
    const std::int32_t samples[] = {0, 1, 2, 3, 0x7FFFFF, 0x800000, 0xFFFFFE, 0xFFFFFF, 0x123457};
    for (std::int32_t v : samples) {
        for (std::int32_t s = -40; s <= 160; ++s) {
            values.push_back(v);
            shifts.push_back(s);
        }
        values.push_back(v);
        shifts.push_back(std::numeric_limits<std::int32_t>::min());
    }
    padToLanes(values);
    padToLanes(shifts);
    std::vector<std::int32_t> out(values.size());
    probeShiftRightSmall(values.data(), shifts.data(), out.data(), static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint32_t s = static_cast<std::uint32_t>(shifts[i]);
        const std::uint32_t want = s <= 31u ? static_cast<std::uint32_t>(values[i]) >> s : 0u;
        ASSERT_EQ(static_cast<std::uint32_t>(out[i]), want) << values[i] << " >> " << shifts[i];
    }
}

TEST(LANES_SUITE, FastInverseSquareRootIsTheScalarOne) {
    if (!setRunsHere()) GTEST_SKIP() << "the processor does not run this instruction set";
    std::vector<float> x;
    // Every 4097th pattern of the positive floats, denormals and infinity included, and zero.
    for (std::uint64_t bits = 0; bits <= 0x7F800000u; bits += 4097) {
        const std::uint32_t b = static_cast<std::uint32_t>(bits);
        float f;
        std::memcpy(&f, &b, sizeof f);
        x.push_back(f);
    }
    padToLanes(x);
    std::vector<float> out(x.size());
    probeInvSqrtFast(x.data(), out.data(), static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
        ASSERT_EQ(bitsOfFloat(out[i]), bitsOfFloat(invSqrtFast(x[i]))) << x[i];
    }
}

TEST(LANES_SUITE, RecordStoresWriteTheirLanesAndNothingElse) {
    if (!setRunsHere()) GTEST_SKIP() << "the processor does not run this instruction set";
    for (int count = 1; count <= PROBE_LANES; ++count) {
        ScreenVertex records[PROBE_LANES + 1];
        std::memset(records, 0xA5, sizeof records);
        ScreenVertex untouched;
        std::memset(&untouched, 0xA5, sizeof untouched);
        probeStoreRecords(records, count);
        for (int k = 0; k <= PROBE_LANES; ++k) {
            const ScreenVertex& r = records[k];
            if (k >= count) {
                EXPECT_EQ(std::memcmp(&r, &untouched, sizeof r), 0) << count << " " << k;
                continue;
            }
            EXPECT_EQ(r.x, static_cast<float>(k + 1)) << count << " " << k;
            EXPECT_EQ(r.y, static_cast<float>(k + 2)) << count << " " << k;
            EXPECT_EQ(r.w, static_cast<float>(k + 3)) << count << " " << k;
            EXPECT_EQ(r.q, static_cast<float>(k + 4)) << count << " " << k;
            EXPECT_EQ(r.colour, static_cast<std::uint32_t>(100 + k)) << count << " " << k;
            EXPECT_EQ(r.flags, static_cast<std::uint32_t>(200 + k)) << count << " " << k;
            // The fields between the two groups are not written.
            EXPECT_EQ(std::memcmp(&r.s0, &untouched.s0, 4 * sizeof(float)), 0) << count << " " << k;
        }
    }
}
