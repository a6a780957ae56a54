// Reads the pictures the program saves back into plain pixels (red, green, blue; top row
// first) so that a TGA and a PNG of the same frame compare equal.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if VORL_HAVE_PNG
#include <png.h>
#endif

struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;   // width * height * 3, top row first
    bool operator==(const RgbPicture&) const = default;
};

// A 24-bit uncompressed TGA with rows bottom-up, as the program writes it; empty otherwise.
inline RgbPicture readTgaPicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    RgbPicture picture;
    if (bytes.size() < 18 || bytes[2] != 2 || bytes[16] != 24) return picture;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const int width = byte(12) | byte(13) << 8;
    const int height = byte(14) | byte(15) << 8;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    if (bytes.size() != 18 + rowBytes * height) return picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.resize(rowBytes * height);
    for (int y = 0; y < height; ++y) {
        const std::size_t from = 18 + rowBytes * (height - 1 - y);
        for (std::size_t i = 0; i < rowBytes; i += 3) {
            picture.rgb[rowBytes * y + i + 0] = byte(from + i + 2);
            picture.rgb[rowBytes * y + i + 1] = byte(from + i + 1);
            picture.rgb[rowBytes * y + i + 2] = byte(from + i + 0);
        }
    }
    return picture;
}

#if VORL_HAVE_PNG
// Any PNG, converted to 8-bit RGB by libpng; empty when it does not read.
inline RgbPicture readPngPicture(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    RgbPicture picture;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return picture;
    }
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb = std::move(rgb);
    return picture;
}
#endif
