// Edit mode inside the process: a drag moves the held point as far on the screen as the
// pointer moved (across the plane facing the camera, or only up and down with Shift), the
// normals around it follow, coordinates stay within what the surface file takes, and the
// history of drags undoes, redoes and forgets as it should; edits under poly normals keep the
// control normals right; the waving first surface takes drags about its rest heights; in
// multi-view a press picks through the view under it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "app/editor.h"
#include "app/program.h"
#include "app/viewer.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"
#include "surface/waves.h"

namespace {

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        saved = scene.surfaces;
        resetRenderOptions();
        program.editor = EditorState{};
        display.output.width = 640;
        display.output.height = 480;
        // A 5 x 5 mesh ahead of the default camera (which looks along +y from (0, 0, 10)).
        for (int r = 0; r < 5; ++r) {
            for (int c = 0; c < 5; ++c) {
                points[r * 5 + c] = {c - 2.0f, 3.0f + r, 0.3f * ((c * r) % 3), 1.0f};
            }
        }
        surfaces[0] = Surface{5, 5, points, normals, nullptr};
        computeControlNormals(surfaces[0]);
        scene.surfaces = SurfaceList{1, surfaces, nullptr};
        setupView(view, CAMERA_DEFAULT, 0.0f, 640.0f, 0.0f, 480.0f, 0, 0);
        program.editor.on = true;
    }
    void TearDown() override {
        scene.surfaces = saved;
        program.editor = EditorState{};
        resetRenderOptions();
        clearWaveLifts(scene.waves);
        freeSineTable(scene.waves);
        program.viewer.viewCount = 0;
    }
    // The control normals are those the whole mesh gives.
    void expectNormalsRight(const char* when) {
        Point4 fresh[25];
        Surface copy{5, 5, points, fresh, nullptr};
        computeControlNormals(copy);
        for (int i = 0; i < 25; ++i) {
            ASSERT_EQ(fresh[i].x, normals[i].x) << when << " " << i;
            ASSERT_EQ(fresh[i].y, normals[i].y) << when << " " << i;
            ASSERT_EQ(fresh[i].z, normals[i].z) << when << " " << i;
        }
    }
    // One animation step of the fixture's mesh as the first, waving, surface.
    void animate(std::int32_t now) {
        animateWaves(scene.waves, scene.surfaces, now, renderOptions.controlNormals);
    }
    // Live sources all over the 5 x 5 mesh, the same for every run.
    void startWaves() {
        ASSERT_TRUE(buildSineTable(scene.waves));
        for (int k = 0; k < WAVE_SOURCE_COUNT; ++k) {
            scene.waves.sources[k] = WaveSource{1.0f + k, 2.0f, 1.0f, 0, 100000, 1.0f / 50000.0f};
        }
    }
    // Where the view puts a model point: screen x, y and w.
    Point3 screenOf(const Point4& p) const {
        Point4 h;
        transformPoint(h, view.frameMatrix, Point3{p.x, p.y, p.z});
        return {h.x / h.w, h.y / h.w, h.w};
    }
    SurfaceList saved{};
    Point4 points[25];
    Point4 normals[25];
    Surface surfaces[1];
    View view;
};

}  // namespace

TEST_F(Editor, ADragMovesThePointAsFarOnTheScreenAsThePointer) {
    Point4& p = points[12];
    const Point3 before = screenOf(p);
    ASSERT_TRUE(beginDrag(&p));
    dragHeldPoint(view, 30, -20, false);
    const Point3 after = screenOf(p);
    EXPECT_NEAR(after.x - before.x, 30.0f, 0.01f);
    EXPECT_NEAR(after.y - before.y, -20.0f, 0.01f);
    EXPECT_NEAR(after.z, before.z, 1e-3f) << "across the plane facing the camera: same depth";
    // Shift: up and down the world's vertical only, as far as the pointer moved up.
    const Point4 across = p;
    dragHeldPoint(view, 12, -25, true);
    EXPECT_EQ(p.x, across.x);
    EXPECT_EQ(p.y, across.y);
    EXPECT_GT(p.z, across.z) << "up the screen is up in the world here";
    EXPECT_NEAR(screenOf(p).y - screenOf(across).y, -25.0f, 0.01f);
    // The control normals around it are the ones the whole mesh would give.
    std::vector<Point4> expected(normals, normals + 25);
    computeControlNormals(surfaces[0]);
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(expected[i].x, normals[i].x) << i;
        EXPECT_EQ(expected[i].z, normals[i].z) << i;
    }
}

TEST_F(Editor, NothingMovesWithoutEditModeOrAHeldPointOrFarOffTheFile) {
    program.editor.on = false;
    EXPECT_FALSE(beginDrag(&points[3]));
    program.editor.on = true;
    EXPECT_FALSE(beginDrag(nullptr));
    Point4 stranger{0, 5, 0, 1};
    EXPECT_FALSE(beginDrag(&stranger)) << "not a point of the scene";
    const Point4 before = points[3];
    dragHeldPoint(view, 40, 40, false);
    EXPECT_EQ(points[3].x, before.x);
    // A huge drag stops at the coordinate limit of the surface file, so S writes what L reads.
    ASSERT_TRUE(beginDrag(&points[3]));
    for (int i = 0; i < 40; ++i) dragHeldPoint(view, 300000, 0, false);
    EXPECT_LE(std::fabs(points[3].x), SURFACE_MAX_COORDINATE);
    EXPECT_TRUE(std::isfinite(points[3].y) && std::isfinite(points[3].z));
}

TEST_F(Editor, UndoRedoAndAFullHistory) {
    const Point4 first = points[7];
    ASSERT_TRUE(beginDrag(&points[7]));
    dragHeldPoint(view, 10, 0, false);
    endDrag();
    const Point4 moved = points[7];
    ASSERT_NE(moved.x, first.x);
    // A press without motion is no step.
    ASSERT_TRUE(beginDrag(&points[8]));
    endDrag();
    EXPECT_EQ(program.editor.steps, 1);
    EXPECT_TRUE(undoEdit());
    EXPECT_EQ(points[7].x, first.x);
    EXPECT_EQ(points[7].z, first.z);
    EXPECT_FALSE(undoEdit());
    EXPECT_TRUE(redoEdit());
    EXPECT_EQ(points[7].x, moved.x);
    EXPECT_FALSE(redoEdit());
    // A new drag after an undo forgets the undone step.
    EXPECT_TRUE(undoEdit());
    ASSERT_TRUE(beginDrag(&points[9]));
    dragHeldPoint(view, 0, 10, false);
    endDrag();
    EXPECT_FALSE(redoEdit());
    EXPECT_EQ(points[7].x, first.x);

    // More drags than the history holds: the latest EDIT_HISTORY_MAX are undone in order.
    clearEditHistory();
    const Point4 start = points[12];
    std::vector<float> xs;
    for (int i = 0; i < EDIT_HISTORY_MAX + 20; ++i) {
        ASSERT_TRUE(beginDrag(&points[12]));
        dragHeldPoint(view, 1, 0, false);
        endDrag();
        xs.push_back(points[12].x);
    }
    EXPECT_EQ(program.editor.steps, EDIT_HISTORY_MAX);
    for (int i = 0; i < EDIT_HISTORY_MAX; ++i) ASSERT_TRUE(undoEdit()) << i;
    EXPECT_FALSE(undoEdit());
    EXPECT_EQ(points[12].x, xs[19]) << "the oldest twenty drags were forgotten";
    EXPECT_NE(points[12].x, start.x);
}

// Under poly normals (C) nothing else refreshes the control normals, yet the forward
// differencer reads them and C back shades with them: every edit leaves them right.
TEST_F(Editor, EditsUnderPolyNormalsKeepTheControlNormalsRight) {
    renderOptions.controlNormals = false;
    ASSERT_TRUE(beginDrag(&points[12]));
    dragHeldPoint(view, 0, -30, true);
    expectNormalsRight("during the drag");
    endDrag();
    ASSERT_TRUE(undoEdit());
    expectNormalsRight("after the undo");
    ASSERT_TRUE(redoEdit());
    expectNormalsRight("after the redo");
}

// The waving first surface: a drag moves the point's rest position, the waves go on about it,
// and a press that moves nothing is no step although the waves change its height meanwhile.
TEST_F(Editor, TheWavingSurfaceTakesDragsAboutItsRestHeights) {
    startWaves();
    Point4 still[25];
    std::memcpy(still, points, sizeof still);
    animate(800);

    // A press and a release without motion while the sea moves on.
    ASSERT_TRUE(beginDrag(&points[12]));
    animate(1600);
    endDrag();
    EXPECT_EQ(program.editor.steps, 0) << "the waves' own motion is no edit";

    // Raised by a vertical drag: after the next animation the point stands that much above
    // where the waves alone put it; no other point moved.
    ASSERT_TRUE(beginDrag(&points[12]));
    const float before = points[12].z;
    dragHeldPoint(view, 0, -30, true);
    const float rise = points[12].z - before;
    ASSERT_GT(rise, 0.1f);
    animate(2400);
    endDrag();
    EXPECT_EQ(program.editor.steps, 1);
    Point4 waved[25];
    std::memcpy(waved, still, sizeof waved);
    Point4 waveNormals[25];
    Surface alone{5, 5, waved, waveNormals, nullptr};
    SurfaceList aloneList{1, &alone, nullptr};
    WaveState bare = scene.waves;   // the same sources and table, without the lift
    bare.lifts = nullptr;
    bare.liftCount = bare.liftCapacity = 0;
    bare.pointStep = bare.normalStep = nullptr;   // and stamps of its own
    bare.stampCapacity = 0;
    bare.stampedPoints = nullptr;
    animateWaves(bare, aloneList, 2400, true);
    forgetWaveStamps(bare);
    for (int i = 0; i < 25; ++i) {
        if (i == 12) continue;
        EXPECT_EQ(points[i].z, waved[i].z) << i;
    }
    EXPECT_NEAR(points[12].z - waved[12].z, rise, 1e-5f);
    EXPECT_NE(waved[12].z, 0.0f) << "the waves do move the point";

    // Undo takes the rest height back: the next animation gives the undisturbed sea.
    ASSERT_TRUE(undoEdit());
    animate(2400);
    EXPECT_EQ(points[12].z, waved[12].z);
    expectNormalsRight("after the undo");
}

// With the waves paused the sea's heights stay as they are: undo and redo give the drag's
// own heights back exactly, and the rest height makes the edit survive the next animation.
TEST_F(Editor, PausedSeaUndoesExactlyAndKeepsTheEditWhenTheWavesResume) {
    startWaves();
    const Point4 first = points[7];
    ASSERT_TRUE(beginDrag(&points[7]));
    dragHeldPoint(view, 5, -20, true);
    dragHeldPoint(view, 7, 0, false);
    endDrag();
    const Point4 moved = points[7];
    ASSERT_TRUE(undoEdit());
    EXPECT_EQ(std::memcmp(&points[7], &first, sizeof first), 0);
    EXPECT_EQ(waveLift(scene.waves, 7), 0.0f);
    ASSERT_TRUE(redoEdit());
    EXPECT_EQ(std::memcmp(&points[7], &moved, sizeof moved), 0);
    animate(3000);
    EXPECT_EQ(points[7].x, moved.x) << "the waves move heights only";
    EXPECT_NEAR(waveLift(scene.waves, 7), moved.z - first.z, 1e-6f);
}

// Multi-view: two views side by side as the frame sets them, the second looking back. A press
// picks through the view under it, only what that view draws; the resting pointer (the
// screen centre, between the views) aims at the first view's centre.
TEST_F(Editor, TwoViewsPickThroughTheViewUnderThePress) {
    View& left = program.viewer.views[0];
    View& right = program.viewer.views[1];
    setupView(left, CAMERA_DEFAULT, 32.0f, 288.0f, 144.0f, 336.0f, 0, 0);
    Camera reversed = CAMERA_DEFAULT;
    reverseCamera(reversed);
    setupView(right, reversed, 352.0f, 608.0f, 144.0f, 336.0f, 0, 0);
    program.viewer.viewCount = 2;
    auto screen = [](const View& v, const Point4& p) {
        Point4 h;
        transformPoint(h, v.frameMatrix, Point3{p.x, p.y, p.z});
        return Point3{h.x / h.w, h.y / h.w, h.w};
    };
    auto press = [](float x, float y) {
        program.input.pointer.x = static_cast<int>(std::lround(x));
        program.input.pointer.y = static_cast<int>(std::lround(y));
    };

    // A point the first view draws is picked there, through that view.
    const Point3 inLeft = screen(left, points[12]);
    ASSERT_GT(inLeft.x, 32.0f);
    ASSERT_LT(inLeft.x, 288.0f);
    press(inLeft.x, inLeft.y);
    int through = -1;
    EXPECT_EQ(pickControlPoint(&through), &points[12]);
    EXPECT_EQ(through, 0);

    // A point behind the first eye, which the second view sees off to its side: its matrix
    // puts it inside the first view's rectangle, where the first view draws nothing of it.
    Point4 behind[1] = {{3.9f, -2.0f, 0.5f, 1.0f}};
    Point4 behindNormals[1];
    Surface surfaces2[2] = {surfaces[0], Surface{1, 1, behind, behindNormals, nullptr}};
    scene.surfaces = SurfaceList{2, surfaces2, nullptr};
    const Point3 mirrored = screen(right, behind[0]);
    ASSERT_GT(mirrored.z, 0.0f);
    ASSERT_GT(mirrored.x, 32.0f);
    ASSERT_LT(mirrored.x, 288.0f);
    ASSERT_GT(mirrored.y, 144.0f);
    ASSERT_LT(mirrored.y, 336.0f);
    press(mirrored.x, mirrored.y);
    EXPECT_NE(pickControlPoint(), &behind[0]);

    // A point the second view draws is picked in it, and its drag follows that view.
    Point4 back[1] = {{1.0f, -20.0f, 0.5f, 1.0f}};
    surfaces2[1] = Surface{1, 1, back, behindNormals, nullptr};
    const Point3 inRight = screen(right, back[0]);
    ASSERT_GT(inRight.x, 352.0f);
    ASSERT_LT(inRight.x, 608.0f);
    press(inRight.x, inRight.y);
    EXPECT_EQ(pickControlPoint(&through), &back[0]);
    EXPECT_EQ(through, 1);
    ASSERT_TRUE(beginDrag(&back[0], through));
    EXPECT_EQ(editorDragView(2), 1);
    EXPECT_EQ(editorDragView(1), 0) << "multi-view turned off while holding";
    endDrag();

    // The screen centre aims through the first view at its centre, where the mark is drawn.
    float x = 0.0f, y = 0.0f;
    EXPECT_EQ(aimedView(320.0f, 240.0f, x, y), 0);
    EXPECT_FLOAT_EQ(x, 160.0f);
    EXPECT_FLOAT_EQ(y, 240.0f);
    program.viewer.viewCount = 1;
    EXPECT_EQ(aimedView(320.0f, 240.0f, x, y), 0);
    EXPECT_FLOAT_EQ(x, 320.0f) << "one view: the pointer itself";
    scene.surfaces = SurfaceList{1, surfaces, nullptr};
}
