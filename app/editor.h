// Shaping the surface: edit mode (F5), in which a left press on a shown control point holds
// it and the pointer's motion moves it (in the plane facing the camera, or along the world's
// vertical with Shift) instead of turning the view; each whole drag is one step that U undoes
// and R redoes. The program's record keeps the editor's state (program.editor); the points
// themselves are the scene's.
#pragma once

#include <cstdint>

#include "geometry/vector.h"
#include "render/view.h"

// Steps of undo kept; past it the oldest step is forgotten.
constexpr int EDIT_HISTORY_MAX = 256;

// One drag: which point (surface, index in its mesh) and where it was before and after. On
// the waving first surface the heights are the moment's; the lifts are the point's rest
// heights, about which the waves move it.
struct EditStep {
    std::int32_t surface;
    std::int32_t index;
    Point4 before;
    Point4 after;
    float liftBefore;
    float liftAfter;
};

struct EditorState {
    bool on;                         // F5
    bool holding;                    // a point is held by the left button
    std::int32_t surface, index;     // the held point
    std::int32_t view;               // the view it was picked in, which its drag follows
    Point4 start;                    // where it was when the press took it
    float startLift;                 // and its rest height on the waving surface
    EditStep history[EDIT_HISTORY_MAX];
    std::int32_t steps;              // steps kept, oldest first
    std::int32_t applied;            // of them, how many are in effect (the rest are redone by R)
};

// F5: edit mode on or off (off lets go of a held point, keeping the drag as a step).
void toggleEditMode();
// A left press picked `point` (or nothing) in view `view` (0 or 1): in edit mode it is held
// from now on and the view's motion moves it. True when a point is held.
bool beginDrag(Point4* point, int view = 0);
// The view the held point's drag follows, among the `viewCount` views the frame draws.
int editorDragView(int viewCount);
// Moves the held point by the pointer's motion of (dx, dy) screen pixels as `view` sees it:
// across the plane facing the camera at the point's depth, or with `vertical` along the
// world's vertical; recomputes the control normals around it. On the waving first surface
// the move also raises or lowers the point's rest height, so the waves go on about it.
// Nothing when no point is held or the motion cannot be followed (the point at the eye).
void dragHeldPoint(const View& view, int dx, int dy, bool vertical);
// The left button is released: a drag that moved the point (its rest position: the waves'
// own motion does not count) becomes one step of the history.
void endDrag();
// U and R: undo the last step, redo the last undone one; false when there is none.
bool undoEdit();
bool redoEdit();
// The history and the rest heights of the waving surface are forgotten (a reload replaced the
// surfaces); a held point is let go.
void clearEditHistory();
// The edit mode's line under the statistics line (the held point and its coordinates).
void editorPrintLines();
// The mark that shows where a press of the resting pointer picks, in edit mode: the screen
// centre, or in multi-view where the first view shows it.
void editorDrawMarks();
