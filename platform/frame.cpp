// The last presented frame and the program's status line, shared by both back ends.
// Entry points: framePresent (the rasterizer's present hook), frameSaveTga for
// --save-last-frame, platformSetStatusLine. The copy's buffer grows only when the frame size
// changes, so presenting allocates nothing from frame to frame.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

PlatformFrame platformFrame;

constexpr int TGA_HEADER_BYTES = 18;
constexpr int TGA_TYPE_TRUECOLOR = 2;

void frameReset() {
    platformFrame.pixels.clear();
    platformFrame.width = 0;
    platformFrame.height = 0;
    platformFrame.presented = 0;
    platformFrame.statusLine[0] = '\0';
    platformFrame.statusGiven = false;
}

void framePresent(void*, void*, const std::uint16_t* pixels, int width, int height,
                  int swapInterval) {
    if (!pixels || width <= 0 || height <= 0) return;
    PlatformFrame& f = platformFrame;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (f.pixels.size() != count) f.pixels.resize(count);   // only when the size changes
    std::memcpy(f.pixels.data(), pixels, count * sizeof(std::uint16_t));
    f.width = width;
    f.height = height;
    ++f.presented;
    // The back end is handed the copy: it stays as it is until the next frame, so a window
    // can repaint from it while the rasterizer draws into its own buffers.
    if (platformBackend.showFrame) {
        platformBackend.showFrame(f.pixels.data(), width, height, swapInterval);
    }
}

void platformSetStatusLine(const char* line) {
    if (!line) return;
    std::snprintf(platformFrame.statusLine, sizeof(platformFrame.statusLine), "%s", line);
    platformFrame.statusGiven = true;
}

bool frameSaveTga(const char* path, std::string* error) {
    const PlatformFrame& f = platformFrame;
    if (f.width <= 0 || f.height <= 0) {
        if (error) *error = std::string(path) + ": not written, no frame was presented";
        return false;
    }
    if (f.width > 0xFFFF || f.height > 0xFFFF) {
        if (error) *error = std::string(path) + ": not written, the frame is too large";
        return false;
    }
    // Written beside the target and renamed over it only when complete: a failed save leaves
    // no partial file under the name.
    SaveFile save;
    unsigned char header[TGA_HEADER_BYTES] = {};
    header[2] = TGA_TYPE_TRUECOLOR;
    header[12] = static_cast<unsigned char>(f.width & 0xFF);
    header[13] = static_cast<unsigned char>(f.width >> 8);
    header[14] = static_cast<unsigned char>(f.height & 0xFF);
    header[15] = static_cast<unsigned char>(f.height >> 8);
    header[16] = 24;   // bits per pixel; descriptor 0: rows bottom-up, no alpha
    bool ok = saveFileBegin(save, path) && saveFileWrite(save, header, sizeof(header));
    std::vector<unsigned char> row(static_cast<std::size_t>(f.width) * 3);
    for (int y = f.height - 1; ok && y >= 0; --y) {
        const std::uint16_t* src = f.pixels.data() + static_cast<std::size_t>(y) * f.width;
        for (int x = 0; x < f.width; ++x) {
            const std::uint16_t p = src[x];
            // Each field shifted to the top of its byte: full white becomes (248, 252, 248).
            row[x * 3 + 0] = static_cast<unsigned char>((p & 0x1F) << 3);
            row[x * 3 + 1] = static_cast<unsigned char>(((p >> 5) & 0x3F) << 2);
            row[x * 3 + 2] = static_cast<unsigned char>((p >> 11) << 3);
        }
        ok = saveFileWrite(save, row.data(), row.size());
    }
    ok = ok && saveFileCommit(save);
    if (!ok) {
        saveFileAbandon(save);
        if (error) *error = std::string(path) + ": not written: " + save.reason;
    }
    return ok;
}
