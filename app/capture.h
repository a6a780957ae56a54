// Screen capture: numbered 24-bit TGA files of the back buffer, taken in bursts after the
// surface is drawn and before the overlay.
#pragma once

#include <cstddef>
#include <cstdint>

struct CaptureState {
    std::int32_t captureCount;   // frames per burst
    std::int32_t remaining;      // frames left in the current burst
    std::int32_t nextIndex;      // number of the next file
    std::int32_t x, y;
    std::uint16_t width, height;
    std::uint8_t* colourBuffer;  // width * height * 3
    std::uint16_t* pixelBuffer;  // width * height
};

// Counts and index to 0, no buffers.
void resetCaptureState();
// Stores the rectangle and (re)allocates both buffers; false when either fails.
bool setCaptureRect(std::int32_t x, std::int32_t y, std::uint16_t width, std::uint16_t height);
void freeCaptureBuffers();
// Reads the back-buffer rectangle and writes it as a 24-bit bottom-up TGA (a PNG of the same
// pixels under the platform's --png), so that a file of
// that name is either the whole capture or as it was before; true when the whole file was
// written. On failure the reason (for the user) goes to `reason` when given.
bool writeCapture(const char* fileName, char* reason = nullptr, std::size_t reasonSize = 0);
// One frame of a burst: when frames remain, captures into the next numbered file. A capture
// that fails is reported (error.txt and the screen notice) and keeps its number for the next.
void captureBurstFrame();
// Removes the temporary files that captures of a killed run left in the working folder.
void sweepStaleCaptures();
