// Tests of processor detection: the recorded CPUID text and flags, the vector extensions, the
// VORL_PORTABLE switch and the illegal-instruction guard and its handler restore (the lighting
// and grid-loop choices made from them are tested with lighting and the grid loops).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "geometry/cpu.h"
#include "tests/environment.h"

namespace {

class CpuTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* value = std::getenv("VORL_PORTABLE");
        hadPortable = value != nullptr;
        if (hadPortable) savedPortable = value;
        unsetenv("VORL_PORTABLE");
    }
    void TearDown() override {
        if (hadPortable) {
            setenv("VORL_PORTABLE", savedPortable.c_str(), 1);
        } else {
            unsetenv("VORL_PORTABLE");
        }
    }
    bool hadPortable = false;
    std::string savedPortable;
};

void noOperation() {}
void raiseIllegalInstruction() { std::raise(SIGILL); }
void markerHandler(int) {}

}  // namespace

TEST_F(CpuTest, DetectionRecordsTheFlagsItDerivesFrom) {
    CpuFeatures features;
    std::memset(&features, 0x5A, sizeof features);
    detectCpuFeatures(features);
    for (int i = 12; i < 16; ++i) {
        EXPECT_EQ(0, features.vendor[i]);
    }
    EXPECT_EQ((features.featureFlags >> 15) & 1u, static_cast<unsigned>(features.hasConditionalMove));
    EXPECT_EQ((features.featureFlags >> 23) & 1u, static_cast<unsigned>(features.hasMmx));
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
    // Every x86-64 processor has CPUID, conditional moves and packed single, and Linux runs them.
    EXPECT_EQ(12u, std::strlen(features.vendor));
    EXPECT_EQ(1, features.hasConditionalMove);
    EXPECT_EQ(1, features.hasPackedSingle);
    EXPECT_TRUE(probePackedSingle());
#endif
}

TEST_F(CpuTest, PortableSwitchClearsEveryFeature) {
    setenv("VORL_PORTABLE", "1", 1);
    CpuFeatures features;
    detectCpuFeatures(features);
    EXPECT_EQ(0u, features.featureFlags);
    EXPECT_EQ(0, features.hasConditionalMove);
    EXPECT_EQ(0, features.hasMmx);
    EXPECT_EQ(0, features.hasPackedSingle);
    EXPECT_EQ(0u, features.extendedFlags);
    EXPECT_EQ(0u, features.structuredFlags);
    EXPECT_EQ(0, features.hasSse41);
    EXPECT_EQ(0, features.hasAvx2);
    EXPECT_EQ(0, features.hasSimd128);
}

#if defined(__x86_64__) || defined(__i386__)
// The processor's own answer, asked the way the compiler's run-time check asks it, agrees.
TEST_F(CpuTest, VectorExtensionsAgreeWithTheCompilersCheck) {
    CpuFeatures features;
    detectCpuFeatures(features);
    __builtin_cpu_init();
    EXPECT_EQ(features.hasSse41 != 0, __builtin_cpu_supports("sse4.1") != 0);
    EXPECT_EQ(features.hasAvx2 != 0, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(0, features.hasSimd128);
}
#endif

TEST_F(CpuTest, IllegalInstructionGuardCatchesAndRestoresTheHandler) {
    void (*const original)(int) = std::signal(SIGILL, markerHandler);
    ASSERT_NE(original, SIG_ERR);

    EXPECT_FALSE(runsWithoutIllegalInstruction(raiseIllegalInstruction));
    EXPECT_TRUE(runsWithoutIllegalInstruction(noOperation));
    // A second fault after a caught one is caught too (the signal mask was restored).
    EXPECT_FALSE(runsWithoutIllegalInstruction(raiseIllegalInstruction));

    void (*const after)(int) = std::signal(SIGILL, original);
    EXPECT_EQ(&markerHandler, after);
}
