// A 5-6-5 pixel's red, green and blue as bytes: shared by the program's view of the platform
// (services.h) and the back ends (backend.h), so that every picture saved or shown reads a frame
// the same way.
#pragma once

#include <cstdint>

struct Rgb888 {
    std::uint8_t red, green, blue;
};

// Each field shifted to the top of its byte: full white is (248, 252, 248).
inline Rgb888 expandRgb565(std::uint16_t p) {
    return {static_cast<std::uint8_t>((p >> 11) << 3),
            static_cast<std::uint8_t>(((p >> 5) & 0x3F) << 2),
            static_cast<std::uint8_t>((p & 0x1F) << 3)};
}
