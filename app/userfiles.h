// The files of the user's: which surface file the program reads at start-up and on L and
// writes on S (data/vorl.txt, or the one named on the command line), the heightmap the scene
// may be made from instead, and the meshes exported at exit (--export, --export-control) and
// by K (export0000.obj and on). Reads the platform's requests and the scene.
#pragma once

#include <cstddef>

#include "surface/surface.h"

// How a scene made from a heightmap is first seen: its longer side spans this many world units
// (the view's scale, which Z changes), most of it nearer than the fog's thickest part, and the
// eye stands back from its near edge and above it, looking down by the pitch (radians).
constexpr float HEIGHTMAP_VIEW_SPAN = 200.0f;
constexpr float HEIGHTMAP_VIEW_BACK = 40.0f;
constexpr float HEIGHTMAP_VIEW_HEIGHT = 80.0f;
constexpr float HEIGHTMAP_VIEW_PITCH = 0.5235988f;   // 30 degrees

// The surface file a save writes and a reload reads: the named one, or data/vorl.txt.
const char* surfaceFileName();
// True when the user named a surface file (--surface FILE or a lone word).
bool surfaceFileNamed();
// Where the surface file is read from into `out` (size bytes): the named file as named, or
// data/vorl.txt from the working folder, else the shipped one (dataFileToRead).
void surfaceFileToRead(char* out, std::size_t size);
// The scene's surfaces at start-up: made from the heightmap when one is named, else read from
// the surface file. False with `list` as it was and the reason (naming the file) otherwise;
// true with `reason` empty or holding a warning to pass on.
bool readStartupSurfaces(SurfaceList& list, char* reason, std::size_t reasonSize);
// True when the scene is made from a heightmap (--heightmap).
bool heightmapNamed();
// The first view of a scene made from a heightmap: the view's scale (all three axes alike)
// makes the longer side of `surface` span HEIGHTMAP_VIEW_SPAN world units, the camera stands
// back and above looking down, and the waves are paused (they set the first surface's heights).
void frameHeightmap(const Surface& surface);

// What the exports keep through the run (program.files).
struct UserFiles {
    int nextExport;      // number of K's next file
    bool exportFailed;   // an export at exit was not written: the run ends with status 3
};

// Exit status of a run whose exports at exit were not all written (as the host's for a last
// frame that could not be saved).
constexpr int EXIT_EXPORT_FAILED = 3;
// K's files in the working folder: export0000.obj and on, OBJ, numbered from 0 each run.
constexpr const char* NUMBERED_EXPORT_FORMAT = "export%04d.obj";
constexpr const char* NUMBERED_EXPORT_PATTERN = "export####.obj";

// The export files named on the command line, tried before the run: a known extension, a
// place a file can be written. False with the reason (naming the file).
bool checkExportTargets(char* reason, std::size_t reasonSize);
// Writes the --export and --export-control files from the scene as it is (waves settled);
// a failure is reported and marks program.files.exportFailed.
void exportAtExit();
// K: the scene as drawn into the next numbered OBJ file, said on screen; a failure is
// reported and keeps the number.
void exportNumbered();
