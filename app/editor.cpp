// Edit mode: holding a picked control point, moving it with the pointer as the view sees it,
// and the history of whole drags that U and R walk. Writes only the scene's points (their
// normals, and the rest heights the waves move the first surface's points about) and the
// editor's record; reads the view it is handed.
#include "app/editor.h"

#include <cmath>
#include <cstring>

#include "app/program.h"
#include "app/viewer.h"
#include "display/console.h"
#include "display/display.h"
#include "display/overlay.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/bounds.h"
#include "surface/surface.h"
#include "surface/waves.h"

namespace {

constexpr std::uint32_t EDIT_MARK_COLOUR = 0xFFFFFFFFu;   // white
constexpr float EDIT_MARK_SIZE = 6.0f;                    // pixels each way from the centre

// The surface and index of `point` in the scene, or false when it is not one of its points.
bool locate(const Point4* point, std::int32_t& surface, std::int32_t& index) {
    const SurfaceList& list = scene.surfaces;
    for (std::int32_t s = 0; s < list.count; ++s) {
        const Surface& mesh = list.surfaces[s];
        const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(mesh.width) * mesh.height;
        if (mesh.points != nullptr && point >= mesh.points && point < mesh.points + count) {
            surface = s;
            index = static_cast<std::int32_t>(point - mesh.points);
            return true;
        }
    }
    return false;
}

// The point a step names, or null when the surfaces no longer hold it.
Point4* pointOf(std::int32_t surface, std::int32_t index) {
    const SurfaceList& list = scene.surfaces;
    if (surface < 0 || surface >= list.count) return nullptr;
    Surface& mesh = list.surfaces[surface];
    if (mesh.points == nullptr || index < 0 ||
        index >= static_cast<std::int64_t>(mesh.width) * mesh.height) {
        return nullptr;
    }
    // The point and the neighbours its normals read, where the waves have put them (the
    // waves move only the first surface's points, and only those that are read).
    const int column = static_cast<int>(index % mesh.width);
    const int row = static_cast<int>(index / mesh.width);
    if (surface == 0) moveWaves(scene.waves, mesh, column - 2, row - 2, column + 2, row + 2);
    return &mesh.points[index];
}

// The surface the waves move: its heights are the ripples' plus each point's rest height.
constexpr std::int32_t WAVING_SURFACE = 0;

// The rest height of a point: its lift on the waving surface, its height elsewhere.
float restHeight(std::int32_t surface, std::int32_t index, const Point4& point) {
    return surface == WAVING_SURFACE ? waveLift(scene.waves, index) : point.z;
}

// Recomputes the normals the point takes part in, and the culling boxes above it. Always, whatever the shading reads now: the
// forward differencer reads them under either normals' source, and C must find them right.
void renewNormalsAround(std::int32_t surface, std::int32_t index) {
    Surface& mesh = scene.surfaces.surfaces[surface];
    computeControlNormalsAround(mesh, index % mesh.width, index / mesh.width);
    refitSurfaceBounds(mesh, index % mesh.width, index / mesh.width);
}

// Puts the point where one side of `step` has it, with its normals. On the waving surface the
// rest height goes with it; the height is the step's own when nothing moved the point since
// (waves paused), else the point's height shifted by the change of rest height (the waves
// moved it meanwhile). False when there was no memory for the rest height.
bool place(const EditStep& step, bool after) {
    Point4* point = pointOf(step.surface, step.index);
    if (point == nullptr) return true;   // the surfaces changed: nothing left to move
    const Point4& value = after ? step.after : step.before;
    if (step.surface == WAVING_SURFACE) {
        const Point4& other = after ? step.before : step.after;
        const float lift = after ? step.liftAfter : step.liftBefore;
        const float z = point->z == other.z
                            ? value.z
                            : point->z + (lift - waveLift(scene.waves, step.index));
        if (!setWaveLift(scene.waves, step.index, lift)) return false;
        *point = Point4{value.x, value.y, z, value.w};
    } else {
        *point = value;
    }
    renewNormalsAround(step.surface, step.index);
    return true;
}

// A coordinate kept where the surface file can take it back: finite and within the reader's
// limit, so that whatever a drag does, S writes a file that L reads.
float keepInFile(double value, float previous) {
    if (!(std::fabs(value) <= SURFACE_MAX_COORDINATE)) {
        if (value != value) return previous;
        return value < 0.0 ? -SURFACE_MAX_COORDINATE : SURFACE_MAX_COORDINATE;
    }
    return static_cast<float>(value);
}

bool samePoint(const Point4& a, const Point4& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

void toggleEditMode() {
    EditorState& e = program.editor;
    if (e.on && e.holding) endDrag();
    e.on = !e.on;
}

bool beginDrag(Point4* point, int view) {
    EditorState& e = program.editor;
    if (!e.on || point == nullptr || !locate(point, e.surface, e.index)) return false;
    e.holding = true;
    e.view = view;
    e.start = *point;
    e.startLift = restHeight(e.surface, e.index, *point);
    return true;
}

int editorDragView(int viewCount) {
    const int view = program.editor.view;
    // Multi-view turned off while a point of the second view is held: the one view left.
    return view >= 0 && view < viewCount ? view : 0;
}

void dragHeldPoint(const View& view, int dx, int dy, bool vertical) {
    const EditorState& e = program.editor;
    if (!e.holding || (dx == 0 && dy == 0)) return;
    Point4* point = pointOf(e.surface, e.index);
    if (point == nullptr) return;
    // In the frame matrix's rows: screen x times w, screen y times w, and w itself are linear in
    // the model point; the moves below keep w, so the point stays at its depth.
    const float* m = view.frameMatrix.m;
    const double p[3] = {point->x, point->y, point->z};
    const double w = m[12] * p[0] + m[13] * p[1] + m[14] * p[2] + m[15];
    if (!(w > 0.0)) return;
    double delta[3] = {0.0, 0.0, 0.0};
    if (vertical) {
        // Along the model's z (the world's vertical) by as much as moves the point dy pixels
        // down the screen: (y w + m6 d) / (w + m14 d) = y + dy.
        const double y = (m[4] * p[0] + m[5] * p[1] + m[6] * p[2] + m[7]) / w;
        const double denominator = m[6] - (y + dy) * m[14];
        if (std::fabs(denominator) < 1e-9) return;   // the vertical seen end-on
        delta[2] = dy * w / denominator;
    } else {
        // Across the plane at depth w: the rows of x w, y w and w, times the move, give
        // (dx w, dy w, 0). Solved by Cramer's rule.
        const double a[3][3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[12], m[13], m[14]}};
        const double b[3] = {dx * w, dy * w, 0.0};
        auto determinant = [](const double r[3][3]) {
            return r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                   r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                   r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
        };
        const double det = determinant(a);
        if (std::fabs(det) < 1e-12) return;
        for (int k = 0; k < 3; ++k) {
            double column[3][3];
            std::memcpy(column, a, sizeof column);
            for (int row = 0; row < 3; ++row) column[row][k] = b[row];
            delta[k] = determinant(column) / det;
        }
    }
    const Point4 moved = {keepInFile(p[0] + delta[0], point->x),
                          keepInFile(p[1] + delta[1], point->y),
                          keepInFile(p[2] + delta[2], point->z), point->w};
    if (e.surface == WAVING_SURFACE) {
        // The rest height follows the move; the next animation puts the waves on top of it.
        const float lift = waveLift(scene.waves, e.index) + (moved.z - point->z);
        if (!setWaveLift(scene.waves, e.index, lift)) return;
    }
    *point = moved;
    renewNormalsAround(e.surface, e.index);
}

void endDrag() {
    EditorState& e = program.editor;
    if (!e.holding) return;
    e.holding = false;
    const Point4* point = pointOf(e.surface, e.index);
    if (point == nullptr) return;
    // Only a move of the rest position is a step: on the waving surface the height changes by
    // itself every frame, so a press without motion there is none either.
    const float lift = restHeight(e.surface, e.index, *point);
    if (e.surface == WAVING_SURFACE) {
        if (point->x == e.start.x && point->y == e.start.y && lift == e.startLift) return;
    } else if (samePoint(*point, e.start)) {
        return;
    }
    // A new step forgets the undone ones after it; a full history forgets its oldest.
    e.steps = e.applied;
    if (e.steps == EDIT_HISTORY_MAX) {
        std::memmove(&e.history[0], &e.history[1], sizeof(EditStep) * (EDIT_HISTORY_MAX - 1));
        --e.steps;
    }
    e.history[e.steps++] = {e.surface, e.index, e.start, *point, e.startLift, lift};
    e.applied = e.steps;
}

bool undoEdit() {
    EditorState& e = program.editor;
    if (e.holding || e.applied == 0) return false;
    if (!place(e.history[e.applied - 1], false)) return false;
    --e.applied;
    return true;
}

bool redoEdit() {
    EditorState& e = program.editor;
    if (e.holding || e.applied == e.steps) return false;
    if (!place(e.history[e.applied], true)) return false;
    ++e.applied;
    return true;
}

void clearEditHistory() {
    EditorState& e = program.editor;
    e.holding = false;
    e.steps = 0;
    e.applied = 0;
    clearWaveLifts(scene.waves);   // rest heights of points that are gone
    forgetWaveStamps(scene.waves);
}

void editorPrintLines() {
    const EditorState& e = program.editor;
    if (!e.on) return;
    if (!renderOptions.showControlPoints) {
        consolePrintf("\nedit mode: D shows the control points to pick\n");
        return;
    }
    const Point4* point = e.holding ? pointOf(e.surface, e.index) : nullptr;
    if (point == nullptr) {
        consolePrintf("\nedit mode: aim at a control point and drag it; U undo, R redo (%d of %d)\n",
                      static_cast<int>(e.applied), static_cast<int>(e.steps));
        return;
    }
    const int width = scene.surfaces.surfaces[e.surface].width;
    consolePrintf("\nmoving surface %d row %d column %d: %.2f %.2f %.2f\n",
                  static_cast<int>(e.surface), static_cast<int>(e.index / width),
                  static_cast<int>(e.index % width), static_cast<double>(point->x),
                  static_cast<double>(point->y), static_cast<double>(point->z));
}

void editorDrawMarks() {
    if (!program.editor.on || !renderOptions.showControlPoints) return;
    // Between frames the pointer rests at the screen centre; the mark is where that aims.
    float x = 0.0f, y = 0.0f;
    aimedView(static_cast<float>(display.output.width) * 0.5f,
              static_cast<float>(display.output.height) * 0.5f, x, y);
    const OverlayLine cross[2] = {{x - EDIT_MARK_SIZE, y, x + EDIT_MARK_SIZE, y},
                                  {x, y - EDIT_MARK_SIZE, x, y + EDIT_MARK_SIZE}};
    overlayDrawLines(cross, 2, EDIT_MARK_COLOUR);
}
