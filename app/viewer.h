// The viewer: camera motion from the held keys, the per-view set-up (frame matrix, clip
// bounds, light vectors), the spin records of the mouse gesture and of the light, and
// control-point picking. Reads the options, the input state, the display size and the
// surfaces; writes the camera, the spin records and the view's matrices and vectors.
#pragma once

#include <cstdint>

#include "geometry/camera.h"
#include "geometry/vector.h"
#include "render/view.h"

enum SpinMode : std::int32_t {
    SPIN_XY = 0,       // 0 or 1: turn about x then y
    SPIN_XY_ALT = 1,
    SPIN_Z = 2,        // turn about z
    SPIN_NONE = 3      // 3 and above, or negative: none
};

struct SpinState {
    float angleX, angleY, angleZ;  // degrees per advance
    Matrix4 rotation;              // accumulated rotation
    std::int32_t mode;
};
// The spin records start with no spin and an identity rotation.
constexpr SpinState SPIN_RESET = {
    0.0f, 0.0f, 0.0f,
    {{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
      0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f}},
    SPIN_NONE,
};

// The viewer's record (program.viewer): the spins, and the views the last frame drew (one, or
// two in multi-view; picking looks through the one under the cursor).
struct ViewerState {
    SpinState dragSpin = SPIN_RESET;    // the spin target of the mouse gesture
    SpinState lightSpin = SPIN_RESET;   // the light's rotation
    SpinState* spinTarget = &dragSpin;
    View views[2];
    int viewCount;
};

// Moves the program's camera by the held arrow keys (and Shift) at the move speed.
void moveCamera();
// Sets up a view of `camera` on the pixel rectangle x0..x1, y0..y1 at the frame's clock
// reading, for the frame's inspection tools (INSPECT_* bits): its frame matrix, clip bounds
// and light vectors (and advances the spins).
void setupView(View& out, const Camera& camera, float x0, float x1, float y0, float y1,
               std::uint32_t timeMs, std::uint32_t inspect);
void resetSpin(SpinState& record);
void advanceSpin(SpinState& record);
// Sets the record's spin from a release at (x, y) after the previous position (px, py).
void spinFromRelease(SpinState& record, int x, int y, int px, int py);
// The view (index into the last frame's views) a press at output pixel (x, y) aims through,
// and the pixel of that view it aims at (viewX, viewY): the view whose rectangle holds it,
// with one view always that one. A press in no view (multi-view's gap, where the pointer rests
// between frames) aims through the first view at the pixel that view shows for it.
int aimedView(float x, float y, float& viewX, float& viewY);
// The nearest control point within 10 pixels of the cursor among those the view under the
// cursor draws (in front of its eye, its marker inside its rectangle), or null; `view` (when
// given) receives that view's index.
Point4* pickControlPoint(int* view = nullptr);
