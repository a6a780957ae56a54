// The camera frame: the Camera record (three axes and a position) and the pure operations on
// it. The program owns its camera; each view it draws copies one (render/view.h). How keys
// and the mouse move the camera, and how a view is set up, belong to the program
// (app/viewer.h).
#pragma once

#include "geometry/vector.h"

// A camera axis: a Point3 followed by a float that no routine reads.
struct CameraVector {
    Point3 v;
    float unused;
};

// right x up = back; the eye looks along -back.
struct Camera {
    CameraVector right;
    CameraVector up;
    CameraVector back;
    CameraVector position;
};

// Camera defaults: right (1,0,0), up (0,0,1), back (0,-1,0), position (0,0,10).
constexpr Camera CAMERA_DEFAULT = {
    {{1.0f, 0.0f, 0.0f}, 0.0f},
    {{0.0f, 0.0f, 1.0f}, 0.0f},
    {{0.0f, -1.0f, 0.0f}, 0.0f},
    {{0.0f, 0.0f, 10.0f}, 0.0f},
};

// Turn by a cursor delta in pixels (screen centre minus cursor): 0.1 degree per pixel, yaw about
// the world's vertical, then pitch about the camera's own right axis.
void mouseLook(Camera& camera, int dx, int dy);
// Negates back and right (the second view of multi-view looks the other way).
void reverseCamera(Camera& camera);
// out = R * T(-position) from the camera axes.
void buildViewMatrix(const Camera& camera, Matrix4& out);
