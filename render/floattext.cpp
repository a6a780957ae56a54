// Shortest round-trip float text: the fewest significant digits found by printing with rising
// precision until the text reads back as the value (a correctly rounded printf gives the
// closest decimal of each length, so the first that reads back is the shortest, and the one
// nearest the value), then laid out in fixed or scientific notation as std::to_chars does.
// Slower than std::to_chars; used only where that is missing.
#include "render/floattext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char* putText(char* at, const char* text) {
    const std::size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    return at + length;
}

}  // namespace

char* shortestFloatText(char* at, float value) {
    if (std::signbit(value)) *at++ = '-';
    const float size = std::fabs(value);
    if (std::isnan(value)) return putText(at, "nan");
    if (std::isinf(value)) return putText(at, "inf");
    if (size == 0.0f) return putText(at, "0");

    // The digits (no point) and the power of ten of the first one.
    char printed[32];
    for (int precision = 0; precision <= 9; ++precision) {
        std::snprintf(printed, sizeof printed, "%.*e", precision, static_cast<double>(size));
        if (std::strtof(printed, nullptr) == size) break;
    }
    char digits[16] = {};
    int count = 0;
    const char* c = printed;
    for (; *c != 'e'; ++c) {
        if (*c != '.') digits[count++] = *c;
    }
    const int exponent = std::atoi(c + 1);
    while (count > 1 && digits[count - 1] == '0') --count;

    // Scientific: d[.ddd]e+XX, the exponent at least two digits.
    char scientific[FLOAT_TEXT_MAX + 1];
    int s = 0;
    scientific[s++] = digits[0];
    if (count > 1) {
        scientific[s++] = '.';
        for (int i = 1; i < count; ++i) scientific[s++] = digits[i];
    }
    s += std::snprintf(scientific + s, sizeof scientific - static_cast<std::size_t>(s), "e%c%02d",
                       exponent < 0 ? '-' : '+', std::abs(exponent));

    // Fixed: the digits with the point moved, zeros filling in; taken when no longer.
    const int fixedLength = exponent >= count - 1 ? exponent + 1
                            : exponent < 0      ? count + 1 - exponent
                                                : count + 1;
    if (fixedLength > s) {
        std::memcpy(at, scientific, static_cast<std::size_t>(s));
        return at + s;
    }
    if (exponent < 0) {
        at = putText(at, "0.");
        for (int i = 0; i < -exponent - 1; ++i) *at++ = '0';
        std::memcpy(at, digits, static_cast<std::size_t>(count));
        return at + count;
    }
    if (exponent >= count - 1) {
        // A whole number: written exactly, as the standard library does (a float from 2^24
        // on is a whole number whose shortest digits, filled with zeros, may not be it).
        char whole[FLOAT_TEXT_MAX + 1];
        std::snprintf(whole, sizeof whole, "%.0f", static_cast<double>(size));
        return putText(at, whole);
    }
    for (int i = 0; i < count; ++i) {
        if (i == exponent + 1) *at++ = '.';
        *at++ = digits[i];
    }
    return at;
}
