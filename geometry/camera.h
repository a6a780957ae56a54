// The viewer: a free-flying camera moved by held keys and turned by the mouse, the per-view
// set-up (FrameMatrix, ClipBounds, light vectors), the spin records and control-point picking.
#pragma once

#include <cstdint>

#include "geometry/vector.h"

struct Point4;

// A camera axis: a Point3 followed by a float that no routine reads.
struct CameraVector {
    Point3 v;
    float unused;
};

// right x up = back; the eye looks along -back. Saved and restored as one block.
struct Camera {
    CameraVector right;
    CameraVector up;
    CameraVector back;
    CameraVector position;
};
extern Camera camera;

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

// Model space to screen pixels and w, rebuilt by every setupView.
extern Matrix4 frameMatrix;

// The picked control point, or null.
extern Point4* pickedControlPoint;

// Camera defaults: right (1,0,0), up (0,0,1), back (0,-1,0), position (0,0,10).
void resetCamera();
// Motion from the held arrow keys (and Shift) by the move speed.
void moveCamera();
// Turn by a cursor delta in pixels (screen centre minus cursor): 0.1 degree per pixel.
void mouseLook(int dx, int dy);
// Negates back and right.
void reverseCamera();
// Sets up one view on the pixel rectangle x0..x1, y0..y1.
void setupView(float x0, float x1, float y0, float y1);
// out = R * T(-position) from the camera axes.
void buildViewMatrix(Matrix4& out);
// Fills clipBounds with the rectangle, depth bounds, reciprocals and replicated copies.
void setClipBounds(float x0, float x1, float y0, float y1, float nearW, float farW);
void resetSpin(SpinState& record);
void advanceSpin(SpinState& record);
// Sets the record's spin from a release at (x, y) after the previous position (px, py).
void spinFromRelease(SpinState& record, int x, int y, int px, int py);
// The control point within 10 pixels of the cursor that is nearest, or null.
Point4* pickControlPoint();
