// Key and mouse commands through the application's window procedure: defaults, steps and
// limits, held keys, the spin gesture and picking.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/audit.h"
#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/input.h"
#include "app/keys.h"
#include "app/program.h"
#include "app/timing.h"
#include "app/viewer.h"
#include "display/device.h"
#include "display/display.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"
#include "vexa/vexa.h"

namespace {

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxInit();
        resetRenderOptions();
        resetCaptureState();
        program.input = InputState{};
        display.device.textureUnitCount = 2;
        resetSpin(program.viewer.dragSpin);
        program.viewer.spinTarget = &program.viewer.dragSpin;
    }
    void TearDown() override { vxShutdown(); }
    static void down(int key, int times = 1) {
        for (int i = 0; i < times; ++i) appWindowProc(nullptr, WM_KEYDOWN, key, 0);
    }
    static void up(int key) { appWindowProc(nullptr, WM_KEYUP, key, 0); }
};

}  // namespace

TEST_F(InputTest, DefaultsMatchTheStartingPicture) {
    const RenderOptions& o = renderOptions;
    EXPECT_EQ(o.subdivisions, 6);
    EXPECT_TRUE(o.controlNormals);
    EXPECT_EQ(o.gapFill, GAP_FILL);
    EXPECT_TRUE(o.fog);
    EXPECT_TRUE(o.verticalSync);
    EXPECT_TRUE(o.dynamicDetail);
    EXPECT_EQ(o.surfaceType, SURFACE_BSPLINE);
    EXPECT_FALSE(o.multiView || o.showControlPoints || o.environmentMapping ||
                 o.forwardDifferencing || o.drawNormals || o.wavesPaused || o.wireframe ||
                 o.specular || o.showHelp);
    EXPECT_EQ(o.nearW, 1.0f);
    EXPECT_EQ(o.farW, 1000.0f);
    EXPECT_EQ(o.modelScale[0], 20.0f);
    EXPECT_EQ(o.modelScale[2], 10.0f);
    EXPECT_EQ(o.moveSpeed, 1.0f);
}

TEST_F(InputTest, StepsStopAtTheirLimits) {
    down(VK_OEM_PLUS, 30);
    EXPECT_EQ(renderOptions.subdivisions, 20);
    down(VK_OEM_MINUS, 30);
    EXPECT_EQ(renderOptions.subdivisions, 1);
    // The numeric keypad's plus and minus do the same.
    down(VK_ADD, 2);
    EXPECT_EQ(renderOptions.subdivisions, 3);
    down(VK_SUBTRACT);
    EXPECT_EQ(renderOptions.subdivisions, 2);
    down(VK_OEM_MINUS);

    down('B');
    EXPECT_EQ(renderOptions.farW, 1100.0f);
    down(VK_SHIFT);
    down('B', 11);
    EXPECT_EQ(renderOptions.farW, 1.0f);
    down('F');
    EXPECT_EQ(renderOptions.nearW, 1.0f) << "Shift+F at near 1 keeps 1";
    up(VK_SHIFT);
    down('F');
    EXPECT_EQ(renderOptions.nearW, 2.0f);

    down(VK_HOME, 73);
    EXPECT_EQ(renderOptions.moveSpeed, 1000.0f);
    down(VK_END, 200);
    EXPECT_EQ(renderOptions.moveSpeed, 0.001f);

    down('Z');
    EXPECT_FLOAT_EQ(renderOptions.modelScale[0], 22.0f);
    down(VK_SHIFT);
    down('Z');
    EXPECT_FLOAT_EQ(renderOptions.modelScale[2], 9.9f);
}

TEST_F(InputTest, TogglesAndCycles) {
    down('G', 3);
    EXPECT_EQ(renderOptions.gapFill, GAP_FILL);
    down('G');
    EXPECT_EQ(renderOptions.gapFill, GAP_FILL_GREEN);
    for (int key : std::initializer_list<int>{'2', 'C', 'D', 'E', 'H', 'I', 'N', 'P', 'T', 'V', 'W', 'X', 'Y', VK_F1}) {
        const RenderOptions before = renderOptions;
        down(key);
        EXPECT_NE(std::memcmp(&before, &renderOptions, sizeof before), 0) << key;
        down(key);
        EXPECT_EQ(std::memcmp(&before, &renderOptions, sizeof before), 0) << key;
    }
}

// F2, F3 and F4 switch the inspection record's tools, and only their own; F4 makes frames
// audited.
TEST_F(InputTest, InspectionKeysSwitchTheInspectionRecord) {
    resetInspection();
    resetTiming();
    resetAudit();
    down(VK_F2);
    EXPECT_TRUE(inspection.heatMap);
    EXPECT_FALSE(inspection.timing || inspection.crackAudit);
    EXPECT_EQ(inspectionViewTools(auditingFrames()), INSPECT_HEAT_MAP);
    down(VK_F3);
    EXPECT_TRUE(inspection.timing);
    down(VK_F4);
    EXPECT_TRUE(inspection.crackAudit);
    EXPECT_TRUE(auditingFrames());
    EXPECT_EQ(inspectionViewTools(auditingFrames()), INSPECT_HEAT_MAP | INSPECT_AUDIT_BOUNDS);
    down(VK_F2);
    down(VK_F3);
    down(VK_F4);
    EXPECT_FALSE(inspection.heatMap || inspection.timing || inspection.crackAudit);
    EXPECT_FALSE(auditingFrames());
    EXPECT_EQ(inspectionViewTools(false), 0u);
    resetTiming();
}

// A key no row of the key table answers to changes nothing, going down or up, with Shift or
// without: the window procedure acts only through the table.
TEST_F(InputTest, KeysOutsideTheTableDoNothing) {
    resetInspection();
    program.capture.captureCount = 3;
    for (const bool shift : {false, true}) {
        if (shift) down(VK_SHIFT);
        for (int code = 1; code < 256; ++code) {
            if (code == VK_SHIFT || findKey(code, shift, false) || findKey(code, shift, true)) {
                continue;
            }
            const RenderOptions options = renderOptions;
            const InspectionState tools = inspection;
            const InputState input = program.input;
            down(code);
            up(code);
            EXPECT_EQ(std::memcmp(&options, &renderOptions, sizeof options), 0) << code;
            EXPECT_EQ(program.input.heldKeys, input.heldKeys) << code;
            EXPECT_FALSE(inspection.heatMap != tools.heatMap || inspection.timing != tools.timing ||
                         inspection.crackAudit != tools.crackAudit)
                << code;
            EXPECT_EQ(program.capture.remaining, 0) << code;
        }
    }
    up(VK_SHIFT);
}

TEST_F(InputTest, EnvironmentNeedsTwoTextureUnits) {
    display.device.textureUnitCount = 1;
    down('E');
    EXPECT_FALSE(renderOptions.environmentMapping);
}

TEST_F(InputTest, HeldKeysFollowDownAndUp) {
    down(VK_UP);
    down(VK_SHIFT);
    EXPECT_EQ(program.input.heldKeys, HELD_UP | HELD_SHIFT);
    up(VK_SHIFT);
    EXPECT_EQ(program.input.heldKeys, HELD_UP);
    down(VK_LEFT);
    down(VK_RIGHT);
    down(VK_DOWN);
    up(VK_UP);
    EXPECT_EQ(program.input.heldKeys, HELD_LEFT | HELD_RIGHT | HELD_DOWN);
}

TEST_F(InputTest, EnterStartsACaptureBurst) {
    program.capture.captureCount = 3;
    up(VK_RETURN);
    EXPECT_EQ(program.capture.remaining, 3);
    program.capture.remaining = 1;
    up(VK_RETURN);
    EXPECT_EQ(program.capture.remaining, 3) << "a release during a burst restarts the count";
}

TEST_F(InputTest, ReleaseWhileMovingSpinsAndAClickStops) {
    appWindowProc(nullptr, WM_LBUTTONDOWN, 0, MAKELPARAM(100, 100));
    appWindowProc(nullptr, WM_LBUTTONUP, 0, MAKELPARAM(103, 100));
    EXPECT_EQ(program.viewer.dragSpin.mode, SPIN_XY);
    EXPECT_FLOAT_EQ(program.viewer.dragSpin.angleY, 0.75f);
    EXPECT_FLOAT_EQ(program.viewer.dragSpin.angleX, 0.0f);

    appWindowProc(nullptr, WM_LBUTTONDOWN, 0, MAKELPARAM(50, 60));
    appWindowProc(nullptr, WM_LBUTTONUP, 0, MAKELPARAM(50, 60));
    EXPECT_EQ(program.viewer.dragSpin.mode, SPIN_NONE);
    EXPECT_EQ(program.viewer.dragSpin.angleY, 0.0f);
}

TEST_F(InputTest, MousePositionsUnpackLikeWindows) {
    appWindowProc(nullptr, WM_RBUTTONDOWN, 0, MAKELPARAM(40000, -5));
    EXPECT_EQ(program.input.pointer.x, 40000);
    EXPECT_EQ(program.input.pointer.y, -5);
    EXPECT_EQ(program.input.pointer.previousX, 40000);
}

TEST_F(InputTest, LSaysWhyItRefusesTheSurfaceFile) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vorl-input-l-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "data");
    std::ofstream(dir / "data" / "vorl.txt") << "B-Spline Surface\n1\n3 3\n0 0 0\n";
    std::filesystem::current_path(dir);
    resetDiagnostics();
    down('L');
    const char* notice = currentNotice(timeGetTime());
    ASSERT_NE(notice, nullptr) << "a refused file is not silent";
    EXPECT_STREQ(notice, "couldn't reload surface file (data/vorl.txt line 5: expected 3 numbers "
                         "(point 2 of 3 x 3 in surface 1 of 1), found the end of the file)");
    std::filesystem::current_path(before);
    std::filesystem::remove_all(dir);
    releaseSurfaces(scene.surfaces);
}

TEST_F(InputTest, SAndLSayOnScreenWhatTheyDidAndNothingElse) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vorl-input-sl-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "data");
    std::filesystem::copy_file(std::filesystem::path(VORL_SOURCE_DIR) / "data" / "vorl.txt",
                               dir / "data" / "vorl.txt");
    std::filesystem::current_path(dir);
    resetDiagnostics();
    down('L');
    const int count = scene.surfaces.count;
    ASSERT_GT(count, 0);
    const std::string plural = count == 1 ? "" : "s";
    const char* notice = currentNotice(timeGetTime());
    ASSERT_NE(notice, nullptr) << "a load that worked is not silent";
    EXPECT_EQ(std::string(notice),
              "loaded " + std::to_string(count) + " surface" + plural + " from data/vorl.txt");
    down('S');
    notice = currentNotice(timeGetTime());
    ASSERT_NE(notice, nullptr) << "a save that worked is not silent";
    EXPECT_EQ(std::string(notice),
              "saved " + std::to_string(count) + " surface" + plural + " to data/vorl.txt");
    EXPECT_FALSE(std::filesystem::exists(dir / "error.txt")) << "success is not a diagnostic";
    EXPECT_EQ(currentNotice(timeGetTime() + NOTICE_MILLISECONDS), nullptr) << "and it goes away";

    // A save that cannot happen replaces the line with its refusal.
    std::filesystem::remove(dir / "data" / "vorl.txt");
    std::filesystem::create_directories(dir / "data" / "vorl.txt");
    down('S');
    notice = currentNotice(timeGetTime());
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(std::string(notice).rfind("couldn't save surface file (", 0), 0u) << notice;
    std::filesystem::current_path(before);
    std::filesystem::remove_all(dir);
    releaseSurfaces(scene.surfaces);
}
