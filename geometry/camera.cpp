// The camera frame: mouse look, the reversed view and the view matrix. Touches only the camera
// record it is handed.
#include "geometry/camera.h"

namespace {

constexpr float LOOK_DEGREES_PER_PIXEL = 0.1f;

}  // namespace

void mouseLook(Camera& camera, int dx, int dy) {
    // Yaw about the world's vertical, then pitch about the camera's own (turned) right axis.
    // The axes are never re-orthonormalised; the drift over a session is far below a pixel.
    const Point3 worldUp = {0.0f, 0.0f, 1.0f};
    const float yaw = static_cast<float>(dx) * LOOK_DEGREES_PER_PIXEL * DEGREES_TO_RADIANS;
    rotateAboutAxis(camera.right.v, camera.right.v, yaw, worldUp);
    rotateAboutAxis(camera.up.v, camera.up.v, yaw, worldUp);
    rotateAboutAxis(camera.back.v, camera.back.v, yaw, worldUp);

    const float pitch = static_cast<float>(dy) * LOOK_DEGREES_PER_PIXEL * DEGREES_TO_RADIANS;
    const Point3 axis = camera.right.v;
    rotateAboutAxis(camera.up.v, camera.up.v, pitch, axis);
    rotateAboutAxis(camera.back.v, camera.back.v, pitch, axis);
}

void reverseCamera(Camera& camera) {
    Point3& back = camera.back.v;
    Point3& right = camera.right.v;
    back = {-back.x, -back.y, -back.z};
    right = {-right.x, -right.y, -right.z};
}

void buildViewMatrix(const Camera& camera, Matrix4& out) {
    const Point3& r = camera.right.v;
    const Point3& u = camera.up.v;
    const Point3& b = camera.back.v;
    const Point3& p = camera.position.v;
    const Matrix4 rotation = {{r.x, r.y, r.z, 0.0f,
                               u.x, u.y, u.z, 0.0f,
                               b.x, b.y, b.z, 0.0f,
                               0.0f, 0.0f, 0.0f, 1.0f}};
    Matrix4 toEye;
    matTranslate(toEye, -p.x, -p.y, -p.z);
    matMultiplyAffine(out, rotation, toEye);
}
