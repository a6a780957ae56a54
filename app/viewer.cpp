// The viewer: camera motion from held keys, the per-view set-up (frame matrix, clip bounds,
// light vectors, the frame's time), the spin records and control-point picking. Reads
// RenderOptions, the input state, the display size and the surfaces; writes only the camera,
// the spin records and the view records it is handed.
#include "app/viewer.h"

#include <cmath>

#include "app/input.h"
#include "app/program.h"
#include "display/display.h"
#include "geometry/camera.h"
#include "geometry/transform.h"
#include "render/options.h"
#include "render/scene.h"
#include "surface/surface.h"

namespace {

constexpr float SPIN_DEGREES_PER_PIXEL = 0.25f;
constexpr float SPIN_TWIST_SCALE = 50.0f;
constexpr float FIELD_OF_VIEW_Y = 1.0471979f;  // 60 degrees
constexpr float VIEWPORT_DEPTH_NEAR = 1.0f;
constexpr float VIEWPORT_DEPTH_FAR = 65535.0f;
constexpr float PICK_RADIUS_SQUARED = 100.0f;  // 10 pixels

// 1 / length of the horizontal part of v, or 0 when it has none (looking straight up or down).
float horizontalInverseLength(const Point3& v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y);
    return length > 0.0f ? 1.0f / length : 0.0f;
}

}  // namespace

void moveCamera() {
    const Camera& camera = program.camera;
    const float step = renderOptions.moveSpeed;
    Point3& position = program.camera.position.v;
    const Point3& right = camera.right.v;
    const Point3& back = camera.back.v;
    const std::uint8_t held = program.input.heldKeys;
    const bool shift = (held & HELD_SHIFT) != 0;

    // Sideways and forward motion stay in the horizontal plane at the same speed whatever
    // the pitch.
    if (held & HELD_LEFT) {
        const float f = step * horizontalInverseLength(right);
        position.x -= right.x * f;
        position.y -= right.y * f;
    }
    if (held & HELD_RIGHT) {
        const float f = step * horizontalInverseLength(right);
        position.x += right.x * f;
        position.y += right.y * f;
    }
    if (held & HELD_DOWN) {
        if (shift) {
            position.z -= step;
        } else {
            const float f = step * horizontalInverseLength(back);
            position.x += back.x * f;
            position.y += back.y * f;
        }
    }
    if (held & HELD_UP) {
        if (shift) {
            position.z += step;
        } else {
            const float f = step * horizontalInverseLength(back);
            position.x -= back.x * f;
            position.y -= back.y * f;
        }
    }
}

void setupView(View& out, const Camera& camera, float x0, float x1, float y0, float y1,
               std::uint32_t timeMs, std::uint32_t inspect) {
    out.camera = camera;
    out.timeMs = timeMs;
    out.inspect = inspect;

    // The drag record's rotation is advanced here but deliberately not applied to the
    // picture: no drawing step reads it, so starting or stopping a spin changes nothing
    // visible. The light record never spins, so the light stays along (1, 1, 1).
    advanceSpin(program.viewer.dragSpin);
    advanceSpin(program.viewer.lightSpin);
    Point4 light;
    transformAffine(light, program.viewer.lightSpin.rotation, Point3{1.0f, 1.0f, 1.0f});

    Matrix4 viewMatrix;
    buildViewMatrix(camera, viewMatrix);
    Matrix4 viewport;
    matViewport(viewport, x0, x1, y0, y1, VIEWPORT_DEPTH_NEAR, VIEWPORT_DEPTH_FAR);

    const float nearW = renderOptions.nearW;
    const float farW = renderOptions.farW;
    setClipBounds(out.clip, x0, x1, y0, y1, nearW, farW);

    // The aspect is that of the whole output, also for the small views of multi-view. Before
    // an output is open the size may be 0; a square aspect keeps the matrix finite.
    const float width = static_cast<float>(display.output.width);
    const float height = static_cast<float>(display.output.height);
    const float aspect = (width > 0.0f && height > 0.0f) ? width / height : 1.0f;
    // Near equal to far (both reachable by keys) would put infinities in the depth row, and
    // the product with the viewport turns 0 * inf into NaN in every row. Only the depth row
    // depends on far and nothing reads that depth (the rasterizer uses 1/w), so the
    // projection takes a far one unit further out; the clip bounds keep the real values.
    const float projectionFar = (farW == nearW) ? nearW + 1.0f : farW;
    Matrix4 projection;
    matPerspective(projection, FIELD_OF_VIEW_Y, aspect, nearW, projectionFar);

    Matrix4 scale;
    matScale(scale, renderOptions.modelScale[0], renderOptions.modelScale[1],
             renderOptions.modelScale[2]);
    matMultiply(out.frameMatrix, viewport, projection);
    matMultiply(out.frameMatrix, out.frameMatrix, viewMatrix);
    matMultiply(out.frameMatrix, out.frameMatrix, scale);

    out.light.light = Point3{light.x, light.y, light.z};
    out.light.view = camera.back.v;
}

void resetSpin(SpinState& record) {
    record = SPIN_RESET;
}

void advanceSpin(SpinState& record) {
    Matrix4 turn;
    switch (record.mode) {
        case SPIN_XY:
        case SPIN_XY_ALT:
            matRotate(turn, record.angleX * DEGREES_TO_RADIANS, 1.0f, 0.0f, 0.0f);
            matMultiplyAffine(record.rotation, turn, record.rotation);
            matRotate(turn, record.angleY * DEGREES_TO_RADIANS, 0.0f, 1.0f, 0.0f);
            matMultiplyAffine(record.rotation, turn, record.rotation);
            break;
        case SPIN_Z:
            matRotate(turn, record.angleZ * DEGREES_TO_RADIANS, 0.0f, 0.0f, 1.0f);
            matMultiplyAffine(record.rotation, turn, record.rotation);
            break;
        default:
            break;  // negative, 3 and above: no spin
    }
}

void spinFromRelease(SpinState& record, int x, int y, int px, int py) {
    if ((program.input.heldKeys & HELD_SHIFT) == 0) {
        record.mode = SPIN_XY;
        record.angleX = static_cast<float>(y - py) * SPIN_DEGREES_PER_PIXEL;
        record.angleY = static_cast<float>(x - px) * SPIN_DEGREES_PER_PIXEL;
        return;
    }
    // Twist about the screen centre: 50 times the sine of the angle between the directions
    // from the centre to the previous and to the release position.
    const float cx = static_cast<float>(display.output.width) * 0.5f;
    const float cy = static_cast<float>(display.output.height) * 0.5f;
    const float ux = static_cast<float>(x) - cx, uy = static_cast<float>(y) - cy;
    const float vx = static_cast<float>(px) - cx, vy = static_cast<float>(py) - cy;
    const float uu = ux * ux + uy * uy;
    const float vv = vx * vx + vy * vy;
    record.mode = SPIN_Z;
    // A position exactly on the centre has no direction: the reciprocal square root of 0 is
    // not meaningful (its square overflows to infinity and 0 * inf is NaN), so the twist is 0.
    if (uu > 0.0f && vv > 0.0f) {
        record.angleZ =
            SPIN_TWIST_SCALE * (ux * vy - uy * vx) * invSqrtFast(uu) * invSqrtFast(vv);
    } else {
        record.angleZ = 0.0f;
    }
}

int aimedView(float x, float y, float& viewX, float& viewY) {
    const ViewerState& viewer = program.viewer;
    viewX = x;
    viewY = y;
    if (viewer.viewCount <= 1) return 0;
    for (int v = 0; v < viewer.viewCount; ++v) {
        const ClipBounds& r = viewer.views[v].clip;
        if (x >= r.xMin && x < r.xMax && y >= r.yMin && y < r.yMax) return v;
    }
    // Outside every view: the first view shows the whole output's picture shrunk into its
    // rectangle (same camera, same aspect), so the output pixel maps to that spot of it. The
    // screen centre, where a real mouse's pointer rests, maps to the first view's centre.
    const float width = static_cast<float>(display.output.width);
    const float height = static_cast<float>(display.output.height);
    const ClipBounds& first = viewer.views[0].clip;
    if (width > 0.0f && height > 0.0f) {
        viewX = first.xMin + x * (first.xMax - first.xMin) / width;
        viewY = first.yMin + y * (first.yMax - first.yMin) / height;
    }
    return 0;
}

Point4* pickControlPoint(int* view) {
    // Through the view under the cursor of the last frame; before any frame there is none.
    const ViewerState& viewer = program.viewer;
    if (viewer.viewCount < 1) return nullptr;
    float cursorX = 0.0f, cursorY = 0.0f;
    const int aimed = aimedView(static_cast<float>(program.input.pointer.x),
                                static_cast<float>(program.input.pointer.y), cursorX, cursorY);
    if (view != nullptr) *view = aimed;
    const Matrix4& frameMatrix = viewer.views[aimed].frameMatrix;
    // In multi-view a point counts only while its marker shows in the view: its centre within
    // the pick radius of the view's rectangle (the marker is drawn clipped to it). Farther out
    // it lies in the gap or the other view, drawn by none or another. One view covers the
    // output, where such a test would exclude nothing the radius takes.
    const bool inRectangleOnly = viewer.viewCount > 1;
    const ClipBounds& rect = viewer.views[aimed].clip;
    const float reach = std::sqrt(PICK_RADIUS_SQUARED);
    float best = PICK_RADIUS_SQUARED;
    Point4* result = nullptr;
    settleWaves(scene.waves, scene.surfaces);   // every point where the waves have put it
    for (int s = 0; s < scene.surfaces.count; ++s) {
        Surface& surface = scene.surfaces.surfaces[s];
        if (surface.points == nullptr || surface.width <= 0 || surface.height <= 0) {
            continue;
        }
        const int count = surface.width * surface.height;
        for (int i = 0; i < count; ++i) {
            Point4& point = surface.points[i];
            Point4 p;
            transformPoint(p, frameMatrix, Point3{point.x, point.y, point.z});
            // Only points in front of the eye can be under the cursor: behind it the divide
            // mirrors a point onto the screen (a click at the sky picked one behind the
            // camera), and on the eye plane (w = 0) there is no position at all.
            if (!(p.w > 0.0f)) continue;
            const float sx = p.x / p.w;
            const float sy = p.y / p.w;
            if (inRectangleOnly &&
                !(sx >= rect.xMin - reach && sx <= rect.xMax + reach &&
                  sy >= rect.yMin - reach && sy <= rect.yMax + reach)) {
                continue;
            }
            const float d = (cursorX - sx) * (cursorX - sx) + (cursorY - sy) * (cursorY - sy);
            if (d < best) {  // strict: ties keep the earlier point
                best = d;
                result = &point;
            }
        }
    }
    return result;
}
