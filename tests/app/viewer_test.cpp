// Tests of the viewer: motion from held keys, the view set-up (frame matrix, clip bounds,
// light vectors), the spin gesture and records, and control-point picking. The fixture resets
// every program-wide record these routines read or write.
#include <gtest/gtest.h>

#include <cmath>

#include "app/input.h"
#include "app/program.h"
#include "app/viewer.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"

namespace {

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedOutput = display.output;
        savedSurfaces = scene.surfaces;
        program.camera = CAMERA_DEFAULT;
        resetRenderOptions();
        program.input = InputState{};
        display.output.width = 640;
        display.output.height = 480;
        resetSpin(program.viewer.dragSpin);
        resetSpin(program.viewer.lightSpin);
        program.viewer.spinTarget = &program.viewer.dragSpin;
        // Picking looks through the last view drawn: an identity frame matrix.
        program.viewer.viewCount = 1;
        matIdentity(program.viewer.views[0].frameMatrix);
        scene.surfaces = SurfaceList{0, nullptr, nullptr};
    }
    void TearDown() override {
        program.camera = CAMERA_DEFAULT;
        resetRenderOptions();
        program.input = InputState{};
        display.output = savedOutput;
        scene.surfaces = savedSurfaces;
        resetSpin(program.viewer.dragSpin);
        resetSpin(program.viewer.lightSpin);
        program.viewer.viewCount = 0;
    }
    OutputState savedOutput{};
    SurfaceList savedSurfaces{};
};

void expectPointNear(const Point3& expected, const Point3& actual, float tolerance) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

Point3 screenOf(const Matrix4& m, const Point3& p, float* w = nullptr) {
    Point4 h;
    transformPoint(h, m, p);
    if (w != nullptr) *w = h.w;
    return {h.x / h.w, h.y / h.w, 0.0f};
}

bool finiteMatrix(const Matrix4& m) {
    for (float e : m.m) {
        if (!std::isfinite(e)) return false;
    }
    return true;
}

}  // namespace

TEST_F(ViewerTest, LeftAndRightTogetherCancel) {
    mouseLook(program.camera, -317, 123);  // any heading and pitch
    const Point3 start = program.camera.position.v;
    program.input.heldKeys = HELD_LEFT | HELD_RIGHT;
    for (int i = 0; i < 10; ++i) moveCamera();
    expectPointNear(start, program.camera.position.v, 1e-5f);
}

TEST_F(ViewerTest, ForwardStaysHorizontalAtFullSpeedWhateverThePitch) {
    program.input.heldKeys = HELD_UP;
    moveCamera();
    expectPointNear(Point3{0.0f, 1.0f, 10.0f}, program.camera.position.v, 1e-6f);  // looks along +y
    program.camera = CAMERA_DEFAULT;
    mouseLook(program.camera, 0, -450);  // 45 degrees down
    renderOptions.moveSpeed = 2.5f;
    moveCamera();
    expectPointNear(Point3{0.0f, 2.5f, 10.0f}, program.camera.position.v, 1e-5f);
    program.input.heldKeys = HELD_DOWN;
    moveCamera();
    expectPointNear(Point3{0.0f, 0.0f, 10.0f}, program.camera.position.v, 1e-5f);
}

TEST_F(ViewerTest, ForwardLookingStraightDownDoesNotMove) {
    program.camera.back.v = {0.0f, 0.0f, 1.0f};  // eye looks along -z
    program.camera.up.v = {0.0f, 1.0f, 0.0f};
    program.input.heldKeys = HELD_UP;
    moveCamera();
    program.input.heldKeys = HELD_DOWN;
    moveCamera();
    expectPointNear(Point3{0.0f, 0.0f, 10.0f}, program.camera.position.v, 0.0f);
}

TEST_F(ViewerTest, ShiftTurnsForwardAndBackIntoClimbAndDescent) {
    program.input.heldKeys = HELD_SHIFT | HELD_UP;
    moveCamera();
    moveCamera();
    expectPointNear(Point3{0.0f, 0.0f, 12.0f}, program.camera.position.v, 0.0f);
    program.input.heldKeys = HELD_SHIFT | HELD_DOWN;
    moveCamera();
    expectPointNear(Point3{0.0f, 0.0f, 11.0f}, program.camera.position.v, 0.0f);
    program.input.heldKeys = HELD_SHIFT | HELD_RIGHT;  // sideways motion ignores Shift
    moveCamera();
    expectPointNear(Point3{1.0f, 0.0f, 11.0f}, program.camera.position.v, 1e-6f);
}

TEST_F(ViewerTest, SetupViewMapsTheModelToPixels) {
    View view;
    setupView(view, program.camera, 0.0f, 640.0f, 0.0f, 480.0f, 1234, 0);
    const Matrix4& frameMatrix = view.frameMatrix;
    // Model (0, 1, 1) is world (0, 20, 10): 20 straight ahead of the eye.
    float w = 0.0f;
    Point3 s = screenOf(frameMatrix, Point3{0.0f, 1.0f, 1.0f}, &w);
    EXPECT_NEAR(320.0f, s.x, 1e-3f);
    EXPECT_NEAR(240.0f, s.y, 1e-3f);
    EXPECT_NEAR(20.0f, w, 1e-4f);
    // On the upper edge of the 60 degree field of view: the top row of pixels.
    const float rise = 20.0f * std::tan(0.5235988f);
    s = screenOf(frameMatrix, Point3{0.0f, 1.0f, (10.0f + rise) / 10.0f});
    EXPECT_NEAR(0.0f, s.y, 1e-2f);
    // On the right edge: the aspect is 640 / 480.
    s = screenOf(frameMatrix, Point3{rise * (640.0f / 480.0f) / 20.0f, 1.0f, 1.0f});
    EXPECT_NEAR(640.0f, s.x, 1e-2f);

    EXPECT_EQ(640.0f, view.clip.xMax);
    EXPECT_EQ(1.0f, view.clip.wNear);
    EXPECT_EQ(1000.0f, view.clip.wFar);
    expectPointNear(Point3{1.0f, 1.0f, 1.0f}, view.light.light, 0.0f);
    expectPointNear(program.camera.back.v, view.light.view, 0.0f);
    EXPECT_EQ(view.timeMs, 1234u) << "the frame's time travels with the view";
}

TEST_F(ViewerTest, SetupViewStaysFiniteWithNearEqualToFarOrNoOutput) {
    renderOptions.nearW = 500.0f;
    renderOptions.farW = 500.0f;
    View view;
    setupView(view, program.camera, 0.0f, 640.0f, 0.0f, 480.0f, 0, 0);
    EXPECT_TRUE(finiteMatrix(view.frameMatrix));
    EXPECT_EQ(500.0f, view.clip.wFar);  // the clip bounds keep the real values
    Point3 s = screenOf(view.frameMatrix, Point3{0.0f, 1.0f, 1.0f});
    EXPECT_NEAR(320.0f, s.x, 1e-3f);

    resetRenderOptions();
    display.output.width = 0;
    display.output.height = 0;
    setupView(view, program.camera, 0.0f, 640.0f, 0.0f, 480.0f, 0, 0);
    EXPECT_TRUE(finiteMatrix(view.frameMatrix));
}

TEST_F(ViewerTest, ReleaseWithoutShiftSpinsAQuarterDegreePerPixel) {
    program.viewer.dragSpin.angleZ = 4.0f;
    spinFromRelease(*program.viewer.spinTarget, 103, 50, 100, 50);
    EXPECT_EQ(SPIN_XY, program.viewer.dragSpin.mode);
    EXPECT_FLOAT_EQ(0.75f, program.viewer.dragSpin.angleY);
    EXPECT_FLOAT_EQ(0.0f, program.viewer.dragSpin.angleX);
    EXPECT_FLOAT_EQ(4.0f, program.viewer.dragSpin.angleZ);  // the other angle keeps its value
    spinFromRelease(program.viewer.dragSpin, 100, 42, 100, 50);
    EXPECT_FLOAT_EQ(-2.0f, program.viewer.dragSpin.angleX);
}

TEST_F(ViewerTest, ShiftReleaseTwistsAboutTheScreenCentre) {
    program.input.heldKeys = HELD_SHIFT;
    // From right of the centre (320, 240) to below it: a quarter turn, sine -1.
    spinFromRelease(program.viewer.dragSpin, 320, 340, 420, 240);
    EXPECT_EQ(SPIN_Z, program.viewer.dragSpin.mode);
    EXPECT_NEAR(-50.0f, program.viewer.dragSpin.angleZ, 50.0f * 0.004f);
    // Released exactly on the centre: no direction, so no twist (and never NaN).
    spinFromRelease(program.viewer.dragSpin, 320, 240, 420, 240);
    EXPECT_EQ(0.0f, program.viewer.dragSpin.angleZ);
    spinFromRelease(program.viewer.dragSpin, 400, 200, 320, 240);
    EXPECT_EQ(0.0f, program.viewer.dragSpin.angleZ);
}

TEST_F(ViewerTest, AdvanceSpinTurnsAboutXThenY) {
    program.viewer.dragSpin.mode = SPIN_XY;
    program.viewer.dragSpin.angleX = 90.0f;
    program.viewer.dragSpin.angleY = 90.0f;
    advanceSpin(program.viewer.dragSpin);
    Point4 p;
    transformAffine(p, program.viewer.dragSpin.rotation, Point3{0.0f, 1.0f, 0.0f});
    // x first: (0, 1, 0) -> (0, 0, 1); then y: (0, 0, 1) -> (1, 0, 0).
    expectPointNear(Point3{1.0f, 0.0f, 0.0f}, Point3{p.x, p.y, p.z}, 1e-5f);

    resetSpin(program.viewer.dragSpin);
    program.viewer.dragSpin.mode = SPIN_Z;
    program.viewer.dragSpin.angleZ = 45.0f;
    advanceSpin(program.viewer.dragSpin);
    advanceSpin(program.viewer.dragSpin);
    transformAffine(p, program.viewer.dragSpin.rotation, Point3{1.0f, 0.0f, 0.0f});
    expectPointNear(Point3{0.0f, 1.0f, 0.0f}, Point3{p.x, p.y, p.z}, 1e-5f);
}

TEST_F(ViewerTest, AdvanceSpinWithoutModeLeavesTheRotation) {
    for (int mode : {3, 7, -1}) {
        resetSpin(program.viewer.dragSpin);
        program.viewer.dragSpin.mode = mode;
        program.viewer.dragSpin.angleX = program.viewer.dragSpin.angleY = program.viewer.dragSpin.angleZ = 30.0f;
        advanceSpin(program.viewer.dragSpin);
        Matrix4 identity;
        matIdentity(identity);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(identity.m[i], program.viewer.dragSpin.rotation.m[i]) << mode;
    }
}

TEST_F(ViewerTest, PickingTakesTheNearestWithinTenPixelsFirstOnTies) {
    // Identity frame matrix: a point's screen position is its own x, y.
    Point4 first[3] = {{200, 200, 0, 1}, {105, 100, 0, 1}, {100, 95, 0, 1}};
    Point4 second[2] = {{103, 104, 0, 1}, {91, 100, 0, 1}};
    Surface surfaces[2] = {{3, 1, first, nullptr, nullptr}, {2, 1, second, nullptr, nullptr}};
    scene.surfaces = SurfaceList{1, surfaces};
    program.input.pointer.x = 100;
    program.input.pointer.y = 100;
    EXPECT_EQ(&first[1], pickControlPoint());  // 5 px, tied with first[2], stored earlier
    scene.surfaces.count = 2;
    EXPECT_EQ(&first[1], pickControlPoint());  // second[0] is also 5 px away: later loses
    second[1].x = 98.0f;
    EXPECT_EQ(&second[1], pickControlPoint());  // a nearer point in a later surface wins
}

TEST_F(ViewerTest, PickingFindsNothingAtTenPixelsOnTheEyePlaneOrBehindIt) {
    Point4 points[3] = {{110, 100, 1, 1}, {100, 90, 1, 1}, {100, 100, 0, 1}};
    Surface surface = {3, 1, points, nullptr, nullptr};
    scene.surfaces = SurfaceList{1, &surface};
    program.input.pointer.x = 100;
    program.input.pointer.y = 100;
    // w = z: the third point lies on the eye plane exactly under the cursor.
    program.viewer.views[0].frameMatrix.m[14] = 1.0f;
    program.viewer.views[0].frameMatrix.m[15] = 0.0f;
    EXPECT_EQ(nullptr, pickControlPoint());
    points[2].x = 0.0f;  // 0 / 0: a NaN distance never wins either
    EXPECT_EQ(nullptr, pickControlPoint());
    points[1].y = 91.0f;
    EXPECT_EQ(&points[1], pickControlPoint());
    // Behind the eye (w = z = -1) the divide mirrors (-100, -100) onto the cursor exactly:
    // it is not there, and the point in front stays the pick.
    points[2] = {-100, -100, -1, 1};
    EXPECT_EQ(&points[1], pickControlPoint());
    points[1].y = 50.0f;
    EXPECT_EQ(nullptr, pickControlPoint());
}
