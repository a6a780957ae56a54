// The last presented frame and the program's status line, shared by both back ends.
// Entry points: framePresent (the rasterizer's present hook), frameSave for
// --save-last-frame, platformSetStatusLine. The copy is kept for a window that repaints from
// it or for --save-last-frame (a back end that converts each frame as it shows it is handed
// the rasterizer's frame); its buffer grows only when the frame size changes, so presenting
// allocates nothing from frame to frame.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

PlatformFrame platformFrame;

void frameReset() {
    platformFrame.pixels.clear();
    platformFrame.width = 0;
    platformFrame.height = 0;
    platformFrame.presented = 0;
    platformFrame.statusLine[0] = '\0';
    platformFrame.statusGiven = false;
    platformFrame.summaryLine[0] = '\0';
}

void framePresent(void*, void*, const std::uint16_t* pixels, int width, int height,
                  int swapInterval) {
    if (!pixels || width <= 0 || height <= 0) return;
    PlatformFrame& f = platformFrame;
    f.width = width;
    f.height = height;
    ++f.presented;
    // The copy is made only for a reader: a window that shows (and repaints) it, or the
    // picture of the last frame written at the end. A headless run with neither copies
    // nothing (1.5 MB a frame at 1024 x 768, on the program's thread).
    const bool save = platformOptions.saveLastFrameFile[0] != '\0';
    if (!platformBackend.showFrame && !save) return;
    // A back end that copies the frame as it shows it (the page's, into its own RGBA bytes)
    // needs no copy of its own to keep: 1.5 MB less a frame.
    if (platformBackend.showFrameCopies && !save) {
        platformBackend.showFrame(pixels, width, height, swapInterval);
        return;
    }
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (f.pixels.size() != count) f.pixels.resize(count);   // only when the size changes
    std::memcpy(f.pixels.data(), pixels, count * sizeof(std::uint16_t));
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

const char* backendStatusLine() {
    return platformFrame.statusGiven ? platformFrame.statusLine : "";
}

void platformSetSummaryLine(const char* line) {
    if (!line) return;
    std::snprintf(platformFrame.summaryLine, sizeof(platformFrame.summaryLine), "%s", line);
    // One line: a trailing line end is the printer's.
    const std::size_t length = std::strlen(platformFrame.summaryLine);
    if (length > 0 && platformFrame.summaryLine[length - 1] == '\n') {
        platformFrame.summaryLine[length - 1] = '\0';
    }
}

const PlatformRequests& platformRequests() {
    static PlatformRequests requests;
    requests.auditCracks = platformOptions.auditCracks;
    requests.echoDiagnostics = backendHeadless();
    requests.surfaceFile = platformOptions.surfaceFile;
    requests.heightmapFile = platformOptions.heightmapFile;
    requests.heightScale = platformOptions.heightScale;
    requests.exportFile = platformOptions.exportFile;
    requests.exportControlFile = platformOptions.exportControlFile;
#if VORL_HAVE_WEB
    requests.echoDiagnostics = true;   // nobody reads error.txt inside a page
#endif
    return requests;
}

bool frameSave(const char* path, std::string* error) {
    const PlatformFrame& f = platformFrame;
    if (f.width <= 0 || f.height <= 0) {
        if (error) *error = std::string(path) + ": not written, no frame was presented";
        return false;
    }
    if (f.pixels.size() != static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height)) {
        if (error) *error = std::string(path) + ": not written, the last frame was not kept";
        return false;
    }
    std::vector<unsigned char> colours(static_cast<std::size_t>(f.width) * f.height * 3);
    unsigned char* out = colours.data();
    for (int y = f.height - 1; y >= 0; --y) {
        const std::uint16_t* src = f.pixels.data() + static_cast<std::size_t>(y) * f.width;
        for (int x = 0; x < f.width; ++x, out += 3) {
            const Rgb888 rgb = expandRgb565(src[x]);
            out[0] = rgb.blue;
            out[1] = rgb.green;
            out[2] = rgb.red;
        }
    }
    char reason[SAVE_REASON_MAX];
    if (savePicture(path, colours.data(), f.width, f.height, reason, sizeof reason)) return true;
    if (error) *error = std::string(path) + ": not written: " + reason;
    return false;
}
