// The camera frame: the Camera record (three axes and a position), its one instance, the frame
// matrix every view builds from it, and the pure operations on them. How keys and the mouse
// move the camera, and how a view is set up, belong to the program (app/viewer.h).
#pragma once

#include "geometry/vector.h"

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

// Model space to screen pixels and w, rebuilt by every view set-up.
extern Matrix4 frameMatrix;

// Camera defaults: right (1,0,0), up (0,0,1), back (0,-1,0), position (0,0,10).
void resetCamera();
// Turn by a cursor delta in pixels (screen centre minus cursor): 0.1 degree per pixel, yaw about
// the world's vertical, then pitch about the camera's own right axis.
void mouseLook(int dx, int dy);
// Negates back and right (the second view of multi-view looks the other way).
void reverseCamera();
// out = R * T(-position) from the camera axes.
void buildViewMatrix(Matrix4& out);
