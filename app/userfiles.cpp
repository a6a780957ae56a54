// The user's files: the named surface file or the shipped one, the scene made from a
// heightmap and its first view, and the meshes exported at exit and by K; see
// app/userfiles.h. Reads the platform's requests, the scene and the render options.
#include "app/userfiles.h"

#include <cmath>
#include <cstdio>

#include "app/diagnostics.h"
#include "app/program.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/export.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/heightmap.h"
#include "texture/greyimage.h"

namespace {

bool named(const char* path) { return path != nullptr && path[0] != '\0'; }

}  // namespace

bool surfaceFileNamed() { return named(platformRequests().surfaceFile); }

const char* surfaceFileName() {
    return surfaceFileNamed() ? platformRequests().surfaceFile : SURFACE_FILE;
}

void surfaceFileToRead(char* out, std::size_t size) {
    // A named file is the user's own: read where it was named, never a shipped stand-in.
    if (surfaceFileNamed()) {
        std::snprintf(out, size, "%s", platformRequests().surfaceFile);
    } else {
        dataFileToRead(SURFACE_FILE, out, size);
    }
}

bool readStartupSurfaces(SurfaceList& list, char* reason, std::size_t reasonSize) {
    const char* heightmap = platformRequests().heightmapFile;
    if (!named(heightmap)) {
        char path[SAVE_PATH_MAX];
        surfaceFileToRead(path, sizeof path);
        return loadSurfaceFile(list, path, reason, reasonSize);
    }
    GreyImage image = {};
    if (!readGreyImage(heightmap, image, reason, reasonSize)) return false;
    const float given = platformRequests().heightScale;
    const float scale = given > 0.0f ? given : heightmapDefaultHeight(image.width, image.height);
    const bool made = makeHeightmapSurfaces(list, image.samples, image.width, image.height,
                                            image.maxValue, scale, heightmap, reason, reasonSize);
    freeGreyImage(image);
    return made;
}

bool heightmapNamed() { return named(platformRequests().heightmapFile); }

void frameHeightmap(const Surface& surface) {
    const int side = surface.width > surface.height ? surface.width : surface.height;
    const float scale = HEIGHTMAP_VIEW_SPAN / static_cast<float>(side - 1);
    for (float& axis : renderOptions.modelScale) axis = scale;
    // The waves set the first surface's heights (it is the sea): they would flatten the map.
    renderOptions.wavesPaused = true;
    // The eye stands back from the map's near edge and above it, looking down at its middle.
    const float c = std::cos(HEIGHTMAP_VIEW_PITCH);
    const float s = std::sin(HEIGHTMAP_VIEW_PITCH);
    Camera& camera = program.camera;
    camera.right.v = {1.0f, 0.0f, 0.0f};
    camera.up.v = {0.0f, s, c};
    camera.back.v = {0.0f, -c, s};
    camera.position.v = {0.0f, -HEIGHTMAP_VIEW_BACK, HEIGHTMAP_VIEW_HEIGHT};
}

namespace {

// Tries the place of a file to be written at the end: a temporary beside it, given up at once.
// What an earlier run killed while it wrote this file left beside it goes first.
bool tryPlace(const char* path, char* reason, std::size_t reasonSize) {
    saveFileSweep(path);
    SaveFile save;
    if (saveFileBegin(save, path)) {
        saveFileAbandon(save);
        return true;
    }
    std::snprintf(reason, reasonSize, "%s: cannot be written: %s", path, save.reason);
    return false;
}

// The scene's meshes as drawn now into `path`; false with the reason.
bool exportScene(const char* path, int format, MeshCounts* counts, char* reason,
                 std::size_t reasonSize) {
    settleWaves(scene.waves, scene.surfaces);   // the heights as the frame has them
    const ExportSettings settings = {renderOptions.surfaceType, renderOptions.subdivisions,
                                     renderOptions.controlNormals};
    return exportSurfaceMeshes(scene.surfaces, settings, format, path, counts, reason,
                               reasonSize);
}

}  // namespace

bool checkExportTargets(char* reason, std::size_t reasonSize) {
    const PlatformRequests& requests = platformRequests();
    int format = 0;
    if (named(requests.exportFile)) {
        if (!exportFormatOf(requests.exportFile, &format, reason, reasonSize)) return false;
        if (!tryPlace(requests.exportFile, reason, reasonSize)) return false;
    }
    if (named(requests.exportControlFile)) {
        if (!exportFormatOf(requests.exportControlFile, &format, reason, reasonSize)) return false;
        if (format != EXPORT_OBJ) {
            std::snprintf(reason, reasonSize, "%s: control meshes are written as OBJ only (.obj)",
                          requests.exportControlFile);
            return false;
        }
        if (!tryPlace(requests.exportControlFile, reason, reasonSize)) return false;
    }
    return true;
}

void exportAtExit() {
    const PlatformRequests& requests = platformRequests();
    char reason[EXPORT_REASON_MAX];
    int format = 0;
    if (named(requests.exportFile)) {
        if (!exportFormatOf(requests.exportFile, &format, reason, sizeof reason) ||
            !exportScene(requests.exportFile, format, nullptr, reason, sizeof reason)) {
            reportError("couldn't export the surfaces (%s)\n", reason);
            program.files.exportFailed = true;
        }
    }
    if (named(requests.exportControlFile) &&
        !exportControlMeshes(scene.surfaces, requests.exportControlFile, reason, sizeof reason)) {
        reportError("couldn't export the control meshes (%s)\n", reason);
        program.files.exportFailed = true;
    }
}

void exportNumbered() {
    char path[32];
    std::snprintf(path, sizeof path, NUMBERED_EXPORT_FORMAT, program.files.nextExport);
    char reason[EXPORT_REASON_MAX];
    MeshCounts counts = {};
    if (!exportScene(path, EXPORT_OBJ, &counts, reason, sizeof reason)) {
        reportFailure(timeGetTime(), "couldn't export the surfaces (%s)\n", reason);
        return;
    }
    ++program.files.nextExport;
    showNotice(timeGetTime(), "exported %llu vertices, %llu triangles to %s",
               static_cast<unsigned long long>(counts.vertices),
               static_cast<unsigned long long>(counts.triangles), path);
}
