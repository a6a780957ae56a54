// Tests of the camera frame: mouse look turns the axes and turns back, and the view matrix
// built from them.
#include <gtest/gtest.h>

#include "geometry/camera.h"

namespace {

class CameraTest : public ::testing::Test {
protected:
    Camera camera = CAMERA_DEFAULT;
};

void expectPointNear(const Point3& expected, const Point3& actual, float tolerance) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

}  // namespace

TEST_F(CameraTest, MouseRightTurnsTheViewRightAndBackAgain) {
    const Camera start = camera;
    mouseLook(camera, -900, 0);  // cursor 900 px right of the centre: a quarter turn to the right
    expectPointNear(Point3{-1.0f, 0.0f, 0.0f}, camera.back.v, 1e-5f);  // eye looks along +x
    mouseLook(camera, 900, 0);
    expectPointNear(start.right.v, camera.right.v, 1e-5f);
    expectPointNear(start.up.v, camera.up.v, 1e-5f);
    expectPointNear(start.back.v, camera.back.v, 1e-5f);
}

TEST_F(CameraTest, MouseDownTiltsTheViewDown) {
    mouseLook(camera, 0, -900);
    expectPointNear(Point3{0.0f, 0.0f, 1.0f}, camera.back.v, 1e-5f);  // eye looks along -z
    expectPointNear(Point3{0.0f, 1.0f, 0.0f}, camera.up.v, 1e-5f);
    expectPointNear(Point3{1.0f, 0.0f, 0.0f}, camera.right.v, 0.0f);
}

TEST_F(CameraTest, ViewMatrixPutsTheEyeAtTheOriginLookingDownMinusZ) {
    mouseLook(camera, -317, 123);  // any heading and pitch
    camera.position.v = {3.0f, -4.0f, 7.0f};
    Matrix4 view;
    buildViewMatrix(camera, view);
    Point4 p;
    transformAffine(p, view, camera.position.v);
    expectPointNear(Point3{0.0f, 0.0f, 0.0f}, Point3{p.x, p.y, p.z}, 1e-5f);
    const Point3& b = camera.back.v;
    const Point3 ahead = {3.0f - 2.0f * b.x, -4.0f - 2.0f * b.y, 7.0f - 2.0f * b.z};
    transformAffine(p, view, ahead);
    expectPointNear(Point3{0.0f, 0.0f, -2.0f}, Point3{p.x, p.y, p.z}, 1e-5f);
    reverseCamera(camera);
    buildViewMatrix(camera, view);
    transformAffine(p, view, ahead);
    expectPointNear(Point3{0.0f, 0.0f, 2.0f}, Point3{p.x, p.y, p.z}, 1e-5f);
}
