// Tests of processor detection: the recorded CPUID text and flags, the VORL_PORTABLE switch and
// the illegal-instruction guard and its handler restore (the lighting choice made from them is
// tested with lighting).
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
}

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
