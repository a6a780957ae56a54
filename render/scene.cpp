// The scene's instance and its verbs: load, download the textures again, release. Reasons go
// back to the caller; nothing here reports or shows a message.
#include "render/scene.h"

#include <cstdio>

#include "display/device.h"
#include "display/display.h"
#include "platform/services.h"
#include "render/drawn.h"
#include "render/options.h"
#include "render/surfacepass.h"

Scene scene;

namespace {

void keepReason(SceneReasons* reasons, const char* reason) {
    if (reasons->count >= SCENE_REASONS_MAX) return;
    std::snprintf(reasons->text[reasons->count], SCENE_REASON_MAX, "%s", reason);
    reasons->count += 1;
}

}  // namespace

bool readSurfaceFileFound(SurfaceList& list, char* reason, std::size_t reasonSize) {
    char path[SAVE_PATH_MAX];
    dataFileToRead(SURFACE_FILE, path, sizeof path);
    return loadSurfaceFile(list, path, reason, reasonSize);
}

bool sceneLoad(SceneReasons* reasons, SurfaceSource readSurfaces) {
    reasons->count = 0;
    releaseSurfaces(scene.surfaces);
    forgetWaveStamps(scene.waves);
    // Each file is read from the working folder, or else where the program's own data is.
    char reason[SCENE_REASON_MAX];
    char path[SAVE_PATH_MAX];
    bool loaded = true;
    dataFileToRead(SURFACE_TEXTURE_FILE, path, sizeof path);
    if (!loadTextureImage(path, scene.surfaceTexture.info, TEXEL_RGB_565, -1, true, reason,
                          sizeof reason)) {
        keepReason(reasons, reason);
        loaded = false;
    }
    dataFileToRead(ENVIRONMENT_TEXTURE_FILE, path, sizeof path);
    if (!loadTextureImage(path, scene.environmentTexture.info, TEXEL_ARGB_4444, 127, true, reason,
                          sizeof reason)) {
        keepReason(reasons, reason);
        loaded = false;
    }
    if (!readSurfaces(scene.surfaces, reason, sizeof reason)) {
        keepReason(reasons, reason);
        loaded = false;
    } else if (reason[0] != '\0') {
        keepReason(reasons, reason);   // loaded, with a warning (a file that may be cut short)
    }
    scene.surfaceTexture.name = SURFACE_TEXTURE_FILE;
    scene.environmentTexture.name = ENVIRONMENT_TEXTURE_FILE;
    if (!loaded) {
        textureFree(scene.surfaceTexture);
        textureFree(scene.environmentTexture);
        releaseSurfaces(scene.surfaces);
        return false;
    }
    cacheLoad(*display.device.textureCaches[0], scene.surfaceTexture);
    if (textureUnitCount() >= 2) cacheLoad(*display.device.textureCaches[1], scene.environmentTexture);
    renderOptions.surfaceType = SURFACE_BSPLINE;
    return true;
}

void sceneReloadTextures() {
    cacheRefresh(*display.device.textureCaches[0], scene.surfaceTexture);
    if (textureUnitCount() >= 2) cacheRefresh(*display.device.textureCaches[1], scene.environmentTexture);
}

void sceneRelease() {
    releaseSurfaces(scene.surfaces);
    releaseDrawnPatches(surfacePass.drawn);
    releaseSurfacePass();
    clearWaveLifts(scene.waves);   // they were heights of points that are gone
    forgetWaveStamps(scene.waves);
    if (display.device.textureCaches[0] != nullptr) {
        cacheRelease(*display.device.textureCaches[0], scene.surfaceTexture);
    }
    if (textureUnitCount() >= 2 && display.device.textureCaches[1] != nullptr) {
        cacheRelease(*display.device.textureCaches[1], scene.environmentTexture);
    } else {
        // With one unit the environment map was read but never made resident: its texels
        // are freed here so they do not outlive the scene.
        textureFree(scene.environmentTexture);
    }
}
