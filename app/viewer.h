// The viewer: camera motion from the held keys, the per-view set-up (frame matrix, clip
// bounds, light vectors), the spin records of the mouse gesture and of the light, and
// control-point picking. Reads the options, the input state, the display size and the
// surfaces; writes the camera, the spin records and the view's matrices and vectors.
#pragma once

#include <cstdint>

#include "geometry/vector.h"

enum SpinMode : std::int32_t {
    SPIN_XY = 0,       // 0 or 1: turn about x then y
    SPIN_XY_ALT = 1,
    SPIN_Z = 2,        // turn about z
    SPIN_NONE = 3      // 3 and above, or negative: none
};

struct SpinState {
    float angleX, angleY, angleZ;  // degrees per advance
    float fourth;                  // 1.0, not read
    Matrix4 rotation;              // accumulated rotation
    std::int32_t mode;
};
extern SpinState dragSpin;    // the spin target of the mouse gesture
extern SpinState lightSpin;   // the light's rotation
extern SpinState* spinTarget;

// Motion from the held arrow keys (and Shift) by the move speed.
void moveCamera();
// Sets up one view on the pixel rectangle x0..x1, y0..y1.
void setupView(float x0, float x1, float y0, float y1);
void resetSpin(SpinState& record);
void advanceSpin(SpinState& record);
// Sets the record's spin from a release at (x, y) after the previous position (px, py).
void spinFromRelease(SpinState& record, int x, int y, int px, int py);
// The control point within 10 pixels of the cursor that is nearest, or null.
Point4* pickControlPoint();
