// Crafted TGA files for the reader's tests: a header builder, pixel packers and a scratch
// directory that each test writes its files into and removes afterwards; and a recorder of
// what the texture module reports.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>


#include "texture/image.h"

// Everything the texture module reported since the recorder was installed, in order.
inline std::string& textureMessages() {
    static std::string text;
    return text;
}

inline void recordTextureMessage(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    textureMessages() += line;
}

// Installs the recorder as the texture module's report routine for its lifetime.
struct TextureMessageRecorder {
    TextureMessageRecorder() {
        textureMessages().clear();
        textureReport = recordTextureMessage;
    }
    ~TextureMessageRecorder() { textureReport = nullptr; }
    TextureMessageRecorder(const TextureMessageRecorder&) = delete;
    TextureMessageRecorder& operator=(const TextureMessageRecorder&) = delete;
};

using Bytes = std::vector<std::uint8_t>;

struct TgaLayout {
    int idLength = 0;
    int mapType = 0;
    int imageType = 2;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 1;
    int height = 1;
    int bitsPerPixel = 24;
};

inline Bytes tgaHeader(const TgaLayout& layout) {
    Bytes h(18, 0);
    h[0] = static_cast<std::uint8_t>(layout.idLength);
    h[1] = static_cast<std::uint8_t>(layout.mapType);
    h[2] = static_cast<std::uint8_t>(layout.imageType);
    h[5] = static_cast<std::uint8_t>(layout.mapLength & 0xFF);
    h[6] = static_cast<std::uint8_t>(layout.mapLength >> 8);
    h[7] = static_cast<std::uint8_t>(layout.mapEntryBits);
    h[12] = static_cast<std::uint8_t>(layout.width & 0xFF);
    h[13] = static_cast<std::uint8_t>(layout.width >> 8);
    h[14] = static_cast<std::uint8_t>(layout.height & 0xFF);
    h[15] = static_cast<std::uint8_t>(layout.height >> 8);
    h[16] = static_cast<std::uint8_t>(layout.bitsPerPixel);
    return h;
}

inline Bytes& append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
    return to;
}

// Header, identification field of idLength bytes, then the given payload (map and pixels).
inline Bytes tgaFile(const TgaLayout& layout, const Bytes& payload) {
    Bytes file = tgaHeader(layout);
    for (int i = 0; i < layout.idLength; ++i) file.push_back(static_cast<std::uint8_t>(0xA0 + i));
    return append(file, payload);
}

// 24-bit true-colour image whose texel (x, y) is blue = x, green = y, red = x ^ y.
inline Bytes gradientImage(int width, int height) {
    TgaLayout layout;
    layout.width = width;
    layout.height = height;
    Bytes pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(x));
            pixels.push_back(static_cast<std::uint8_t>(y));
            pixels.push_back(static_cast<std::uint8_t>(x ^ y));
        }
    return tgaFile(layout, pixels);
}

class ScratchDir {
public:
    ScratchDir() {
        // Memory-backed when the system has it: the fuzz test writes thousands of files.
        std::error_code error;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        dir_ = base / ("vorl-texture-" + std::to_string(std::random_device{}()) + "-" +
                       std::to_string(counter()++));
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const Bytes& bytes) const {
        std::string p = path(name);
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p;
    }
    std::string read(const std::string& name) const {
        std::string text;
        std::FILE* f = std::fopen(path(name).c_str(), "rb");
        if (!f) return text;
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
        return text;
    }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    std::filesystem::path dir_;
};
