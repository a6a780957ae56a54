// The scene's verbs on the headless rasterizer: the shipped files load and are released again;
// refused files are each named among the reasons the load hands back, and a failed load holds
// nothing of the scene. Each test works in a folder of its own holding a data/ folder.
#include "render/scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "display/device.h"
#include "render/options.h"
#include "vexa/vexa.h"

namespace {

namespace fs = std::filesystem;

class SceneFiles : public ::testing::Test {
protected:
    void SetUp() override {
        home = fs::current_path();
        folder = fs::temp_directory_path() /
                 ("vorl-scene-" + std::string(::testing::UnitTest::GetInstance()
                                                  ->current_test_info()
                                                  ->name()));
        fs::remove_all(folder);
        fs::create_directories(folder / "data");
        fs::current_path(folder);
        textureInit(scene.surfaceTexture);
        textureInit(scene.environmentTexture);
        ASSERT_TRUE(deviceStart());
        output = vxOpenWindow(nullptr, VX_RES_640x480, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                              VX_ORIGIN_UPPER_LEFT, 2, 1);
        ASSERT_NE(output, 0u);
        ASSERT_TRUE(deviceSetup());
    }
    void TearDown() override {
        sceneRelease();
        if (output != 0) vxCloseWindow(output);
        deviceStop();
        fs::current_path(home);
        fs::remove_all(folder);
        resetRenderOptions();
    }
    // The shipped file of that name copied into the test's data folder.
    void copyShipped(const char* name) {
        fs::copy_file(fs::path(VORL_SOURCE_DIR) / name, folder / name,
                      fs::copy_options::overwrite_existing);
    }
    void writeFile(const char* name, const char* text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    static bool names(const SceneReasons& reasons, int i, const char* file) {
        return std::string(reasons.text[i]).find(file) != std::string::npos;
    }
    fs::path home, folder;
    VxContext output = 0;
};

TEST_F(SceneFiles, TheShippedFilesLoadWithTexturesResidentAndAreReleased) {
    copyShipped(SURFACE_FILE);
    copyShipped(SURFACE_TEXTURE_FILE);
    copyShipped(ENVIRONMENT_TEXTURE_FILE);
    renderOptions.surfaceType = SURFACE_BEZIER;
    SceneReasons reasons{};
    ASSERT_TRUE(sceneLoad(&reasons)) << (reasons.count > 0 ? reasons.text[0] : "");
    EXPECT_EQ(reasons.count, 0);
    EXPECT_GT(scene.surfaces.count, 0);
    EXPECT_NE(scene.surfaceTexture.info.data, nullptr);
    EXPECT_EQ(scene.surfaceTexture.slot[0].resident, 1);
    EXPECT_EQ(renderOptions.surfaceType, SURFACE_BSPLINE);   // a load starts on B-splines
    // The textures go down again after the output reopened, and stay resident.
    sceneReloadTextures();
    EXPECT_EQ(scene.surfaceTexture.slot[0].resident, 1);

    sceneRelease();
    EXPECT_EQ(scene.surfaces.count, 0);
    EXPECT_EQ(scene.surfaceTexture.info.data, nullptr);
    EXPECT_EQ(scene.environmentTexture.info.data, nullptr);
    sceneRelease();   // harmless a second time
    EXPECT_EQ(scene.surfaces.count, 0);
}

TEST_F(SceneFiles, EveryRefusedFileIsNamedAndNothingIsHeld) {
    writeFile(SURFACE_FILE, "not a surface file\n");
    writeFile(SURFACE_TEXTURE_FILE, "not a picture");
    writeFile(ENVIRONMENT_TEXTURE_FILE, "");
    renderOptions.surfaceType = SURFACE_BEZIER;
    SceneReasons reasons{};
    EXPECT_FALSE(sceneLoad(&reasons));
    ASSERT_EQ(reasons.count, 3);
    // In the order the files are read: both textures, then the surfaces.
    EXPECT_TRUE(names(reasons, 0, "tex.tga")) << reasons.text[0];
    EXPECT_TRUE(names(reasons, 1, "env.tga")) << reasons.text[1];
    EXPECT_TRUE(names(reasons, 2, "vorl.txt")) << reasons.text[2];
    EXPECT_EQ(scene.surfaces.count, 0);
    EXPECT_EQ(scene.surfaceTexture.info.data, nullptr);
    EXPECT_EQ(scene.environmentTexture.info.data, nullptr);
    EXPECT_EQ(renderOptions.surfaceType, SURFACE_BEZIER);   // untouched by a failed load
}

TEST_F(SceneFiles, OneRefusedTextureFailsTheLoadAndFreesWhatDidLoad) {
    copyShipped(SURFACE_FILE);
    copyShipped(SURFACE_TEXTURE_FILE);
    writeFile(ENVIRONMENT_TEXTURE_FILE, "TGA?");
    SceneReasons reasons{};
    EXPECT_FALSE(sceneLoad(&reasons));
    ASSERT_EQ(reasons.count, 1);
    EXPECT_TRUE(names(reasons, 0, "env.tga")) << reasons.text[0];
    EXPECT_EQ(scene.surfaces.count, 0);
    EXPECT_EQ(scene.surfaceTexture.info.data, nullptr);
}

}  // namespace
