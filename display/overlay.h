// Lines drawn over the picture in one flat colour (the timing graph, the crack audit's marks),
// with the render state saved around them as the console does.
#pragma once

#include <cstdint>

struct OverlayLine {
    float x0, y0, x1, y1;   // pixels, upper-left origin
};

// Draws the lines in `colour` (output format ABGR): no texture, depth, fog, dither or blending;
// the render state is the same afterwards.
void overlayDrawLines(const OverlayLine* lines, int count, std::uint32_t colour);
// The four sides of a rectangle.
void overlayDrawBox(float x0, float y0, float x1, float y1, std::uint32_t colour);
