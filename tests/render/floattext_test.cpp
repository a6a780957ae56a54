// The float text the browser build writes is the text std::to_chars writes here, over every
// kind of float: zeros, signs, infinities, the smallest and largest, powers of ten and their
// neighbours, whole numbers around the float's exact range, and many random bit patterns.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "render/floattext.h"

namespace {

std::string ours(float value) {
    char text[FLOAT_TEXT_MAX + 8];
    std::memset(text, '#', sizeof text);
    char* end = shortestFloatText(text, value);
    EXPECT_LE(end - text, FLOAT_TEXT_MAX);
    return std::string(text, static_cast<std::size_t>(end - text));
}

std::string theirs(float value) {
    char text[64];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, static_cast<std::size_t>(end - text));
}

float fromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(FloatText, ChosenValuesReadAsTheStandardLibraryWritesThem) {
    using limits = std::numeric_limits<float>;
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.1f, 0.3f, 1.5f, 100.0f,
                                 1500.0f, 123456.0f, 16777216.0f, 16777218.0f, 123456792.0f,
                                 1e7f, 1e8f, 1e9f, 1e-4f, 1e-5f, 0.00012345f, 3.14159265f,
                                 limits::min(), limits::max(), limits::denorm_min(),
                                 limits::lowest(), limits::infinity(), -limits::infinity(),
                                 limits::quiet_NaN(), -limits::quiet_NaN()};
    for (int power = -45; power <= 38; ++power) {
        const float ten = std::pow(10.0f, static_cast<float>(power));
        values.insert(values.end(), {ten, std::nextafter(ten, 0.0f),
                                     std::nextafter(ten, limits::infinity()), 3.0f * ten,
                                     -7.25f * ten});
    }
    for (const float value : values) EXPECT_EQ(ours(value), theirs(value)) << value;
}

TEST(FloatText, RandomBitPatternsReadAsTheStandardLibraryWritesThem) {
    std::mt19937 random(20261210);
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        const float value = fromBits(static_cast<std::uint32_t>(random()));
        if (!std::isfinite(value)) continue;
        ASSERT_EQ(ours(value), theirs(value)) << "bits " << std::hex << random();
        ++compared;
    }
    EXPECT_GT(compared, 190000);
}

TEST(FloatText, ExportSizedValuesReadBackExactly) {
    // Coordinates, normals and texture coordinates as the export writes them.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spread(-4096.0f, 4096.0f);
    for (int i = 0; i < 100000; ++i) {
        const float value = spread(random) / static_cast<float>(1 + i % 97);
        const std::string text = ours(value);
        ASSERT_EQ(text, theirs(value));
        ASSERT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
    }
}

}  // namespace
