// Screen capture: the back buffer read after the surface pass, written as numbered 24-bit
// bottom-up TGA files (PNG files under the platform's --png). Buffers exist only while a
// capture count is set.
#include "app/capture.h"

#include <cstdio>
#include <new>
#include <utility>

#include "app/diagnostics.h"
#include "app/program.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "vexa/vexa.h"


void resetCaptureState() {
    freeCaptureBuffers();
    program.capture = CaptureState{};
}

bool setCaptureRect(std::int32_t x, std::int32_t y, std::uint16_t width, std::uint16_t height) {
    program.capture.x = x;
    program.capture.y = y;
    program.capture.width = width;
    program.capture.height = height;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    delete[] program.capture.colourBuffer;
    program.capture.colourBuffer = new (std::nothrow) std::uint8_t[pixels * 3];
    if (program.capture.colourBuffer == nullptr) return false;
    delete[] program.capture.pixelBuffer;
    program.capture.pixelBuffer = new (std::nothrow) std::uint16_t[pixels];
    return program.capture.pixelBuffer != nullptr;
}

void freeCaptureBuffers() {
    delete[] program.capture.colourBuffer;
    delete[] program.capture.pixelBuffer;
    program.capture.colourBuffer = nullptr;
    program.capture.pixelBuffer = nullptr;
}

namespace {

bool failCapture(char* reason, std::size_t reasonSize, const char* why) {
    if (reason != nullptr && reasonSize > 0) std::snprintf(reason, reasonSize, "%s", why);
    return false;
}

}  // namespace

bool writeCapture(const char* fileName, char* reason, std::size_t reasonSize) {
    CaptureState& c = program.capture;
    if (c.colourBuffer == nullptr || c.pixelBuffer == nullptr) {
        return failCapture(reason, reasonSize, "no capture buffers");
    }
    if (!vxReadFrameRegion(VX_BUFFER_BACK, c.x, c.y, c.width, c.height, c.width * 2,
                           c.pixelBuffer)) {
        return failCapture(reason, reasonSize, "the frame could not be read");
    }
    // The file stores the bottom row first.
    for (int i = 0; i < c.height / 2; ++i) {
        std::uint16_t* top = c.pixelBuffer + static_cast<std::size_t>(i) * c.width;
        std::uint16_t* bottom = c.pixelBuffer + static_cast<std::size_t>(c.height - 1 - i) * c.width;
        for (int x = 0; x < c.width; ++x) std::swap(top[x], bottom[x]);
    }
    const std::size_t pixels = static_cast<std::size_t>(c.width) * c.height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const Rgb888 rgb = expandRgb565(c.pixelBuffer[i]);
        c.colourBuffer[i * 3 + 0] = rgb.blue;
        c.colourBuffer[i * 3 + 1] = rgb.green;
        c.colourBuffer[i * 3 + 2] = rgb.red;
    }
    // The platform writes the file: a TGA of these bytes, or a PNG of the same pixels.
    return savePicture(fileName, c.colourBuffer, c.width, c.height, reason, reasonSize);
}

void captureBurstFrame() {
    if (program.capture.remaining == 0) return;
    --program.capture.remaining;
    char name[32];
    std::snprintf(name, sizeof name, "scrn%.4d.%s", program.capture.nextIndex, pictureExtension());
    char reason[SAVE_REASON_MAX];
    if (writeCapture(name, reason, sizeof reason)) {
        ++program.capture.nextIndex;
    } else {
        reportFailure(timeGetTime(), "couldn't write capture %s (%s)\n", name, reason);
    }
}

void sweepStaleCaptures() {
    for (const char* pattern : {"scrn####.tga", "scrn####.png"}) saveFileSweep(pattern);
}
