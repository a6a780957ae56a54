// Tests of vertex lighting: the worked cases of the diffuse and specular terms on both
// implementations, the two agreeing on many random normals, and intensities that stay in
// 0..1 for a long view vector or a NaN normal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "render/lighting.h"
#include "render/surfacepass.h"
#include "tests/environment.h"

namespace {

struct LightingCase {
    Point3 n, light, view;
    float diffuse, specular;
};

// The worked cases: facing the light, facing away (a full highlight from the unclamped d),
// edge-on, and a light longer than 1 that saturates the diffuse term.
const LightingCase CASES[] = {
    {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, 1.0f, 0.98654f},
    {{0, 0, -1}, {0, 0, 1}, {0, 0, 1}, 0.25f, 0.98654f},
    {{1, 0, 0}, {0, 0, 1}, {0, 0, 1}, 0.25f, 0.0f},
    {{0, 0, 1}, {1, 1, 1}, {0, 0, 1}, 1.0f, 0.012260f},
};

struct Pair {
    const char* name;
    float (*diffuse)(const Point3&, const LightState&);
    void (*both)(const Point3&, const LightState&, float&, float&);
};

const Pair PAIRS[] = {
    {"select", lightDiffuseSelect, lightDiffuseSpecularSelect},
    {"integer", lightDiffuseInteger, lightDiffuseSpecularInteger},
};

class LightingTest : public ::testing::Test {
protected:
    void SetUp() override { savedPath = surfacePass.lightingPath; }
    void TearDown() override { surfacePass.lightingPath = savedPath; }
    LightingPath savedPath{};
};

Point3 randomUnit(std::mt19937& random) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    Point3 n{g(random), g(random), g(random)};
    const float length = std::sqrt(dot(n, n));
    return {n.x / length, n.y / length, n.z / length};
}

}  // namespace

TEST_F(LightingTest, WorkedCasesOnBothPaths) {
    for (const Pair& pair : PAIRS) {
        for (const LightingCase& c : CASES) {
            const LightState state = {c.light, c.view};
            float diffuse = -1.0f, specular = -1.0f;
            pair.both(c.n, state, diffuse, specular);
            EXPECT_FLOAT_EQ(c.diffuse, diffuse) << pair.name;
            EXPECT_NEAR(c.specular, specular, 1e-5f) << pair.name;
            EXPECT_FLOAT_EQ(c.diffuse, pair.diffuse(c.n, state)) << pair.name;
        }
    }
}

TEST_F(LightingTest, PathsAgreeOnRandomNormals) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> spread(-2.0f, 2.0f);
    for (int round = 0; round < 20; ++round) {
        const Point3 light = {spread(random), spread(random), spread(random)};
        const Point3 view = randomUnit(random);
        const LightState state = {round == 0 ? Point3{1, 1, 1} : light, view};
        for (int i = 0; i < 2000; ++i) {
            const Point3 n = randomUnit(random);
            float d1, s1, d2, s2;
            lightDiffuseSpecularSelect(n, state, d1, s1);
            lightDiffuseSpecularInteger(n, state, d2, s2);
            ASSERT_NEAR(d1, d2, 1e-6f);
            ASSERT_NEAR(s1, s2, 1e-6f);
            ASSERT_GE(d1, AMBIENT);
            ASSERT_LE(d1, 1.0f);
            ASSERT_GE(s1, 0.0f);
            ASSERT_LE(s1, 1.0f);
            ASSERT_EQ(d1, lightDiffuseSelect(n, state));
            ASSERT_EQ(d2, lightDiffuseInteger(n, state));
        }
    }
}

TEST_F(LightingTest, IntensitiesStayInRangeForLongVectorsAndNaN) {
    // A view vector longer than 1 lifts the cosine above 1; the highlight is clamped to 1
    // rather than overflowing the packed colour byte.
    const LightState state = {Point3{0, 0, 1}, Point3{0, 0, 2}};
    const float nan = std::nanf("");
    for (const Pair& pair : PAIRS) {
        float diffuse, specular;
        pair.both(Point3{0, 0, 1}, state, diffuse, specular);
        EXPECT_EQ(1.0f, specular) << pair.name;
        pair.both(Point3{nan, 0, 1}, state, diffuse, specular);
        EXPECT_TRUE(diffuse >= AMBIENT && diffuse <= 1.0f) << pair.name << " " << diffuse;
        EXPECT_TRUE(specular >= 0.0f && specular <= 1.0f) << pair.name << " " << specular;
        const float alone = pair.diffuse(Point3{nan, nan, nan}, state);
        EXPECT_TRUE(alone >= AMBIENT && alone <= 1.0f) << pair.name;
    }
}

TEST_F(LightingTest, ChoiceFollowsConditionalMoveAndNamesItsStyle) {
    VxProcessor features{};
    features.hasConditionalMove = 1;
    chooseLightingRoutines(features);
    EXPECT_EQ(&lightDiffuseSelect, surfacePass.lightingPath.lightDiffuse);
    EXPECT_EQ(&lightDiffuseSpecularSelect, surfacePass.lightingPath.lightDiffuseSpecular);
    EXPECT_EQ(LIGHTING_SELECT, surfacePass.lightingPath.style);
    features.hasConditionalMove = 0;
    chooseLightingRoutines(features);
    EXPECT_EQ(&lightDiffuseInteger, surfacePass.lightingPath.lightDiffuse);
    EXPECT_EQ(&lightDiffuseSpecularInteger, surfacePass.lightingPath.lightDiffuseSpecular);
    EXPECT_EQ(LIGHTING_INTEGER, surfacePass.lightingPath.style);
}

TEST_F(LightingTest, PortableSwitchInstallsTheIntegerPair) {
    const char* value = std::getenv("VEXA_PATH");
    const std::string saved = value != nullptr ? value : "";
    setenv("VEXA_PATH", "portable", 1);
    VxProcessor features;
    vxQueryProcessor(&features);
    if (value != nullptr) {
        setenv("VEXA_PATH", saved.c_str(), 1);
    } else {
        unsetenv("VEXA_PATH");
    }
    chooseLightingRoutines(features);
    EXPECT_EQ(&lightDiffuseInteger, surfacePass.lightingPath.lightDiffuse);
    EXPECT_EQ(LIGHTING_INTEGER, surfacePass.lightingPath.style);
}
