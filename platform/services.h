// The platform's services to the program, beyond the Windows subset of win32.h: the program's
// entry and key list for the host, the status and summary lines, the options that ask the
// program for something, files saved so that nothing is lost, shipped data files, pictures and
// the one-line reasons readers give.
// Knows no geometry and no window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/rgb565.h"

// ---- The program's entry and lines ---------------------------------------------------------
// The program's entry, called by the platform's main() with the arguments that are not the
// platform's own; its result is the process exit code.
int runApplication(int argc, char** argv);
// The program's keys for people: one line a key, "GROUP\tKEYS\tWHAT\n", each group's lines
// together and the groups in the order they are shown. The host hands it to the --help text;
// a page shows it as its key panel. Lives as long as the process.
const char* applicationKeyList();
// The program hands each frame's statistics line here; a headless run prints the last one
// on standard output at exit.
void platformSetStatusLine(const char* line);
// A line the program wants printed on standard output at the end of the run, after the
// status line (the summary of a scripted run); each call replaces the line.
void platformSetSummaryLine(const char* line);
// The platform options that ask the program for something (taken from the command line like
// every platform option, so the program's own command line stays as it is).
// The detail rules --lod names, in the order the program numbers them.
enum PlatformLodRule { PLATFORM_LOD_DISTANCE = 0, PLATFORM_LOD_SMOOTH, PLATFORM_LOD_SCREEN };
// The tolerances --lod screen=PX accepts, in pixels.
constexpr float PLATFORM_LOD_TOLERANCE_MIN = 0.125f;
constexpr float PLATFORM_LOD_TOLERANCE_MAX = 64.0f;
struct PlatformRequests {
    bool auditCracks;   // --audit-cracks: audit every frame for gaps between patches
    int lodRule;        // --lod: a PlatformLodRule
    float lodTolerance; // --lod screen=PX: PX; 0 for the other rules
    // The run has no window of its own (headless), or a page shows what the program prints:
    // diagnostics go to standard error as well as to their file.
    bool echoDiagnostics;
    // The surface file the user named (--surface FILE or a lone word), read at start-up and
    // by L and written by S in place of data/vorl.txt; empty when none was named.
    const char* surfaceFile;
    // --heightmap IMAGE: the scene is made from this grey image instead of a surface file;
    // empty when none. heightScale: --height, the height of a pixel value of 1 (0 when not
    // given: the program's default).
    const char* heightmapFile;
    float heightScale;
    // --export FILE and --export-control FILE: meshes written at the end of the run; empty
    // when none.
    const char* exportFile;
    const char* exportControlFile;
};
const PlatformRequests& platformRequests();

// ---- Files saved so that nothing is lost ---------------------------------------------------
// A file written in place of another: the bytes go to a temporary file in the same folder,
// and only a complete file, flushed and synced to the disk, is renamed over the target. Until
// then, and after any failure, the old file is exactly as it was and no temporary file stays.
constexpr int SAVE_PATH_MAX = 1024;
constexpr int SAVE_REASON_MAX = 160;

struct SaveFile {
    void* file;                       // the temporary file's stream, null when not open
    bool failed;                      // a write failed; the first failure's reason is kept
    char path[SAVE_PATH_MAX];
    char temporaryPath[SAVE_PATH_MAX];
    char reason[SAVE_REASON_MAX];     // why the save failed, for the user ("No space left...")
};

// Creates the temporary file beside the file `path` names, through symbolic links to their
// target; false with save.reason set (nothing created), also when that file exists and is
// not a regular file (a folder, a pipe, a device), which a save never replaces.
bool saveFileBegin(SaveFile& save, const char* path);
// Appends bytes; false once any write has failed (the first reason is kept).
bool saveFileWrite(SaveFile& save, const void* bytes, std::size_t size);
// printf into the file; false once any write has failed.
bool saveFilePrintf(SaveFile& save, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Flushes, syncs and closes the temporary file and renames it over the target. False, with
// save.reason set, the temporary file removed and the target untouched, when this or any
// earlier step failed.
bool saveFileCommit(SaveFile& save);
// Gives the save up: the temporary file is removed, the target untouched.
void saveFileAbandon(SaveFile& save);

// Removes what saves of `target` left behind when they were killed before they finished:
// temporary files beside it (named as files.cpp describes, with the writer's process id)
// whose writer is no longer running. A '#' in the target's file name stands for any digit
// ("scrn####.tga" covers every capture). Call it before this process saves `target`: a
// temporary carrying this process's own id counts as an earlier run's. Nothing else is
// touched. Returns the count removed.
int saveFileSweep(const char* target);

// ---- Shipped data files --------------------------------------------------------------------
// Where the program reads a shipped file named by its path relative to the working folder
// ("data/tex.tga"): from the working folder when anything of that name is there (even a file
// that cannot be read, which its reader then refuses: the shipped file never stands in for
// the user's), else from beside the program, else from the installed data folder (share/vorl
// beside the program's bin folder).
// Writes the path to read into out (size bytes, at least SAVE_PATH_MAX); when no place has
// the file, `path` itself, so that a refusal names the file as the program asked for it.
void dataFileToRead(const char* path, char* out, std::size_t size);
// Makes the folder that `path` (relative to the working folder) is saved into when it is
// missing, so that a program started from an empty folder saves there and never into the
// folder its data was read from. False, with errno set, when it cannot be made.
bool makeFolderFor(const char* path);
// True when `path` names a folder (through links), so that a reader can say so instead of
// reporting what reading a folder happens to give on this system.
bool pathIsFolder(const char* path);

// ---- Pictures ------------------------------------------------------------------------------
// Saves a picture of 24-bit pixels (blue, green, red; bottom row first) as a file of that
// name: an uncompressed 24-bit TGA, or under the platform option --png an 8-bit RGB PNG with the
// same pixels. Saved as above, so the file is whole or as it was; false with the reason (for
// the user) in `reason` when given.
bool savePicture(const char* path, const std::uint8_t* bgrBottomUp, int width, int height,
                 char* reason, std::size_t reasonSize);
// The extension of the files savePicture writes: "tga", or "png" under --png.
const char* pictureExtension();

// ---- Reasons -------------------------------------------------------------------------------
// A reader's refusal in one line: writes "NAME: " and the printf-style text into `reason`
// (size bytes, cut to fit, always ended) and returns false, so that a reader refuses with
// `return refuseNamed(...)`. Writes nothing when `reason` is null or `size` is 0.
bool refuseNamed(char* reason, std::size_t size, const char* name, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
