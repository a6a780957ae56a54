// The program's own record: everything the application keeps from start-up to shutdown, one
// sub-record per concern, each declared with its verbs in its own header. What is drawn lives
// in the scene (render/scene.h), the settings the keys change in renderOptions
// (render/options.h), the output, console and device in the display record
// (display/display.h).
#pragma once

#include "app/audit.h"
#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/frame.h"
#include "app/input.h"
#include "app/timing.h"
#include "app/userfiles.h"
#include "app/viewer.h"
#include "geometry/camera.h"
#include "vexa/vexa.h"

// What start-up holds, in the order it is taken; released in the reverse order.
enum StartupStage : int {
    STAGE_NONE = 0,
    STAGE_SINE_TABLE,   // the wave animation's table
    STAGE_WINDOW,       // the application window
    STAGE_DEVICE,       // the started rasterizer (deviceStart), later its state block and caches
    STAGE_OUTPUT,       // the open output
    STAGE_CAPTURE,      // the capture buffers (when a capture count is set)
    STAGE_CONSOLE,      // the fixed render state and the console
    STAGE_SCENE,        // the textures and surfaces: the program is running
    STARTUP_STAGE_COUNT
};

struct Program {
    StartupStage stage;           // how far start-up got, what is still held
    VxProcessor cpu;              // what the processor offers (vxQueryProcessor), at start-up
    InputState input;             // held keys and the pointer (key and mouse routine)
    Camera camera;                // moved by keys and mouse; every view starts from it
    ViewerState viewer;           // the spins and the views drawn in the last frame
    FrameStats stats;             // frame rate and polygons per frame
    CaptureState capture;         // capture bursts and their buffers
    DiagnosticsState diagnostics; // where reports go, the screen notice
    TimingHistory timing;         // the timing overlay's averages and graph
    AuditState audit;             // the crack audit's totals and working memory
    EditorState editor;           // edit mode, the held control point, the drags' history
    UserFiles files;              // K's next export number, a failed export at exit
};
extern Program program;

// The main loop: takes messages one at a time, a frame whenever the queue is empty, until the
// quit message; returns its parameter.
int runMainLoop();
