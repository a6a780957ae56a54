// The program's own sine, cosine and tangent: correctly rounded floats against a long double
// reference over the angles the program uses and well beyond, exact values at the quadrant
// points, and identities that a wrong quadrant or a lost reduction step would break.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/functions.h"

namespace {

// A reference in long double whose argument is first reduced by pi/2 in three pieces (the
// first of 33 bits, so its multiples are exact), so the library's sine and cosine only ever see
// |r| <= pi/4: some reduce larger arguments with a short pi and lose digits near the multiples
// of pi.
long double referenceTrig(long double x, bool cosine) {
    const long double P1 = 1.570796326734125614166259765625L;
    const long double P2 = 6.0771005065061926014666657821981011e-11L;
    const long double P3 = 8.4784276603688996439587014693867019e-32L;
    const long double k = std::floor(x / (P1 + P2) + 0.5L);
    const long double r = ((x - k * P1) - k * P2) - k * P3;
    const int q = (static_cast<int>(std::fmod(k, 4.0L)) + 4 + (cosine ? 1 : 0)) % 4;
    switch (q) {
    case 0: return std::sin(r);
    case 1: return std::cos(r);
    case 2: return -std::sin(r);
    default: return -std::cos(r);
    }
}

TEST(Functions, FloatsAreTheNearestToTheTrueValue) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> angle(-100.0f, 100.0f);
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const float x = i < 100000 ? angle(random) : angle(random) * 0.01f;
        const long double s = referenceTrig(x, false);
        const long double c = referenceTrig(x, true);
        ASSERT_EQ(sine(x), static_cast<float>(s)) << x;
        ASSERT_EQ(cosine(x), static_cast<float>(c)) << x;
        if (std::fabs(c) > 1e-3L) {
            ASSERT_EQ(tangent(x), static_cast<float>(s / c)) << x;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 200000);
}

TEST(Functions, DoublesAreWithinOneUnitInTheLastPlace) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(0.0, 6.3);
    for (int i = 0; i < 100000; ++i) {
        const double x = angle(random);
        const long double s = referenceTrig(x, false);
        const long double c = referenceTrig(x, true);
        ASSERT_LE(std::fabs(sine(x) - s), std::nextafter(std::fabs(static_cast<double>(s)), 2.0) -
                                              std::fabs(static_cast<double>(s)))
            << x;
        ASSERT_LE(std::fabs(cosine(x) - c), std::nextafter(std::fabs(static_cast<double>(c)), 2.0) -
                                                std::fabs(static_cast<double>(c)))
            << x;
    }
}

TEST(Functions, QuadrantPointsSignsAndNonFiniteArguments) {
    EXPECT_EQ(sine(0.0f), 0.0f);
    EXPECT_EQ(cosine(0.0f), 1.0f);
    EXPECT_EQ(sine(1.5707964f), 1.0f);
    EXPECT_EQ(cosine(3.1415927f), -1.0f);
    EXPECT_EQ(sine(-1.5707964f), -1.0f);
    for (float x : {0.3f, 1.2f, 2.5f, 4.0f, 5.9f, 40.0f}) {
        EXPECT_EQ(sine(-x), -sine(x)) << x;
        EXPECT_EQ(cosine(-x), cosine(x)) << x;
        EXPECT_NEAR(sine(x) * sine(x) + cosine(x) * cosine(x), 1.0f, 1e-6f) << x;
    }
    EXPECT_TRUE(std::isnan(sine(INFINITY)));
    EXPECT_TRUE(std::isnan(cosine(NAN)));
    EXPECT_TRUE(std::isnan(sine(-INFINITY)));
}

}  // namespace
