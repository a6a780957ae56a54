// The scene: the surfaces (with the control point the user picked), the wave animation's record
// and the two textures the surfaces are drawn with; one instance. Verbs: load (at start-up),
// download the textures again (after the output reopened), release (at shutdown). They report
// nothing themselves: a load hands its reasons back for the program to report.
#pragma once

#include <cstddef>

#include "surface/surface.h"
#include "surface/waves.h"
#include "texture/cache.h"
#include "texture/image.h"

// The scene's files, relative to the working folder (read from where dataFileToRead finds
// them; the surfaces are saved back into the working folder).
constexpr const char* SURFACE_FILE = "data/vorl.txt";
constexpr const char* SURFACE_TEXTURE_FILE = "data/tex.tga";
constexpr const char* ENVIRONMENT_TEXTURE_FILE = "data/env.tga";

struct Scene {
    SurfaceList surfaces;
    WaveState waves;
    Texture surfaceTexture;       // unit 0: the surface's own texture
    Texture environmentTexture;   // unit 1: the environment map
};
extern Scene scene;

// One reason for each of the scene's three files at most (a refusal, or the surface file's
// warning when it loaded but may be cut short).
constexpr int SCENE_REASONS_MAX = 3;
constexpr int SCENE_REASON_MAX =
    SURFACE_REASON_MAX > IMAGE_REASON_MAX ? SURFACE_REASON_MAX : IMAGE_REASON_MAX;
struct SceneReasons {
    int count;
    char text[SCENE_REASONS_MAX][SCENE_REASON_MAX];
};

// Reads both textures and the surface file, every one tried so that one run names everything
// missing or refused; reasons->count is how many reasons it gave (a warning too). True with the
// textures resident in the device's caches and the surface type B-spline; false with nothing
// of the scene held. Needs the device started with its caches (deviceSetup).
// `readSurfaces` makes the surfaces (the program's choice of file or heightmap): false with the
// reason, or true with the reason empty or a warning; by default the surface file as
// dataFileToRead finds it.
using SurfaceSource = bool (*)(SurfaceList& list, char* reason, std::size_t reasonSize);
bool readSurfaceFileFound(SurfaceList& list, char* reason, std::size_t reasonSize);
bool sceneLoad(SceneReasons* reasons, SurfaceSource readSurfaces = readSurfaceFileFound);
// Downloads the textures into the caches again, after the output reopened.
void sceneReloadTextures();
// Releases the surfaces, the pass's records and scratch, the waves' lifts and stamps and both
// textures; harmless when nothing is held.
void sceneRelease();
