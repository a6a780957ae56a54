// Tests of the processor detection the board and the program share: the flags it derives its
// answers from, the vector extensions against the compiler's own check, the VEXA_PATH switch
// (the board's path choice under it is tested with the device; the program's lighting and grid
// choices with lighting and the grid loops), and the illegal-instruction guard and its handler
// restore.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/environment.h"
#include "vexa/vexa.h"
#include "vexa/vx_local.h"
#include "vexa/vx_system.h"

namespace {

class Processor : public ::testing::Test {
protected:
    void SetUp() override {
        const char* value = std::getenv("VEXA_PATH");
        hadPath = value != nullptr;
        if (hadPath) savedPath = value;
        unsetenv("VEXA_PATH");
    }
    void TearDown() override {
        if (hadPath) {
            setenv("VEXA_PATH", savedPath.c_str(), 1);
        } else {
            unsetenv("VEXA_PATH");
        }
    }
    static VxProcessor query() {
        VxProcessor features;
        std::memset(&features, 0x5A, sizeof features);
        vxQueryProcessor(&features);
        return features;
    }
    bool hadPath = false;
    std::string savedPath;
};

void noOperation() {}
void raiseIllegalInstruction() { std::raise(SIGILL); }
void markerHandler(int) {}

}  // namespace

TEST_F(Processor, DetectionRecordsTheFlagsItDerivesFrom) {
    const VxProcessor features = query();
    EXPECT_EQ((features.featureFlags >> 15) & 1u,
              static_cast<unsigned>(features.hasConditionalMove));
    EXPECT_EQ((features.extendedFlags >> 23) & 1u, static_cast<unsigned>(features.hasPopcount));
    EXPECT_EQ((features.structuredFlags >> 3) & 1u, static_cast<unsigned>(features.hasBmi1));
    // SSE4.1 is ECX bit 19 of leaf 1; AVX2 needs SSE4.1, AVX (ECX bit 28), OSXSAVE (bit 27)
    // and leaf 7's EBX bit 5.
    EXPECT_EQ(features.hasPackedSingle && ((features.extendedFlags >> 19) & 1u) != 0,
              features.hasSse41 != 0);
    if (features.hasAvx2) {
        EXPECT_EQ(1, features.hasSse41);
        EXPECT_EQ(3u, (features.extendedFlags >> 27) & 3u);
        EXPECT_EQ(1u, (features.structuredFlags >> 5) & 1u);
    }
#if defined(__x86_64__)
    // Every x86-64 processor has CPUID, conditional moves and packed single, and the system
    // runs them.
    EXPECT_EQ(1, features.hasConditionalMove);
    EXPECT_EQ(1, features.hasPackedSingle);
    EXPECT_TRUE(vxProbePackedSingle());
#endif
}

TEST_F(Processor, PathSwitchLimitsTheFeaturesAtEveryQuery) {
    const VxProcessor found = query();
    setenv("VEXA_PATH", "portable", 1);
    VxProcessor none;
    std::memset(&none, 0, sizeof none);
    const VxProcessor portable = query();
    EXPECT_EQ(0, std::memcmp(&none, &portable, sizeof none)) << "every feature reads as absent";

    setenv("VEXA_PATH", "v128", 1);
    const VxProcessor v128 = query();
    EXPECT_EQ(0, v128.hasAvx2);
    EXPECT_EQ(found.hasSse41, v128.hasSse41);
    EXPECT_EQ(found.hasPopcount, v128.hasPopcount);
    EXPECT_EQ(found.hasConditionalMove, v128.hasConditionalMove);
    EXPECT_EQ(found.hasSimd128, v128.hasSimd128);

    // The most capable path, a name it does not know and an empty value limit nothing; nor
    // does the switch, once gone, leave anything behind.
    for (const char* value : {"avx2", "AVX2", "", "1"}) {
        setenv("VEXA_PATH", value, 1);
        const VxProcessor all = query();
        EXPECT_EQ(0, std::memcmp(&found, &all, sizeof found)) << value;
    }
    unsetenv("VEXA_PATH");
    const VxProcessor again = query();
    EXPECT_EQ(0, std::memcmp(&found, &again, sizeof found));
}

#if defined(__x86_64__) || defined(__i386__)
// The processor's own answer, asked the way the compiler's run-time check asks it, agrees.
TEST_F(Processor, VectorExtensionsAgreeWithTheCompilersCheck) {
    const VxProcessor features = query();
    __builtin_cpu_init();
    EXPECT_EQ(features.hasSse41 != 0, __builtin_cpu_supports("sse4.1") != 0);
    EXPECT_EQ(features.hasPopcount != 0, __builtin_cpu_supports("popcnt") != 0);
    EXPECT_EQ(features.hasAvx2 != 0, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(features.hasBmi1 != 0, __builtin_cpu_supports("bmi") != 0);
    EXPECT_EQ(0, features.hasSimd128);
}
#endif

TEST_F(Processor, IllegalInstructionGuardCatchesAndRestoresTheHandler) {
    void (*const original)(int) = std::signal(SIGILL, markerHandler);
    ASSERT_NE(original, SIG_ERR);

    EXPECT_FALSE(vxRunsWithoutIllegalInstruction(raiseIllegalInstruction));
    EXPECT_TRUE(vxRunsWithoutIllegalInstruction(noOperation));
    // A second fault after a caught one is caught too (the signal mask was restored).
    EXPECT_FALSE(vxRunsWithoutIllegalInstruction(raiseIllegalInstruction));

    void (*const after)(int) = std::signal(SIGILL, original);
    EXPECT_EQ(&markerHandler, after);
}
