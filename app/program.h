// The program's own record: everything the application keeps from start-up to shutdown, one
// sub-record per concern, each declared with its verbs in its own header. What is drawn lives
// in the scene (render/scene.h), the settings the keys change in renderOptions
// (render/options.h), the console and device in the display record (display/display.h).
#pragma once

#include "app/capture.h"
#include "app/diagnostics.h"
#include "app/editor.h"
#include "app/frame.h"
#include "app/input.h"
#include "app/insight.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "geometry/camera.h"
#include "vexa/vexa.h"

struct Program {
    DisplaySettings output;       // the output asked for and the one open (start-up)
    StartupStage stage;           // how far start-up got, what is still held
    VxProcessor cpu;              // what the processor offers (vxQueryProcessor), at start-up
    InputState input;             // held keys and the pointer (key and mouse routine)
    Camera camera;                // moved by keys and mouse; every view starts from it
    ViewerState viewer;           // the spins and the views drawn in the last frame
    FrameStats stats;             // frame rate and polygons per frame
    CaptureState capture;         // capture bursts and their buffers
    DiagnosticsState diagnostics; // where reports go, the screen notice
    InspectionTools tools;        // heat map, timing overlay, crack audit
    EditorState editor;           // edit mode, the held control point, the drags' history
};
extern Program program;
