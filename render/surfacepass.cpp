// The per-view surface pass: waves, texture binding, the render state of the options, and
// every surface drawn patch by patch (culling, detail, tessellation, crack filling, markers)
// for the view it is handed. Entries: drawSurfaces, drawSurface, patchOutsideView,
// drawControlPoints. Writes only the scene's waves and heights, the records of the patches drawn
// (render/drawn.h) and the render state.
#include "render/surfacepass.h"

#include "display/device.h"
#include "display/display.h"
#include "geometry/transform.h"
#include "render/detail.h"
#include "render/drawn.h"
#include "render/emit.h"
#include "render/insight.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/tessellate.h"
#include "surface/surface.h"
#include "surface/waves.h"
#include "vexa/vexa.h"

namespace {
constexpr float CULL_UP_LOW = -50.0f;
constexpr float CULL_UP_HIGH = -130.0f;
constexpr float CULL_RIGHT_LOW = 140.0f;
constexpr float CULL_RIGHT_HIGH = 40.0f;
constexpr std::uint32_t MARKER_FLICKER_BIT = 0x4;

using Tessellator = int (*)(PatchRecord&, const View&, float, float, float, float);

void setCombineState() {
    if (renderOptions.environmentMapping) {
        vxSetTextureCombine(1, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                            false, false);
        vxSetTextureCombine(0, VX_COMBINE_BLEND_OTHER_LOCAL, VX_FACTOR_OTHER_ALPHA,
                            VX_COMBINE_LOCAL, VX_FACTOR_ZERO, false, false);
        vxSetVertexLayout(VX_PARAM_ST1, VERTEX_OFFSET_ST1, VX_PARAM_ENABLE);
    } else {
        vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                            false, false);
        vxSetVertexLayout(VX_PARAM_ST1, VERTEX_OFFSET_ST1, VX_PARAM_DISABLE);
    }
    // Texture times the lit grey level; with specular on the vertex alpha (the specular
    // intensity) is added to red, green and blue alike.
    const int function = renderOptions.specular ? VX_COMBINE_SCALE_OTHER_ADD_LOCAL_ALPHA
                                                : VX_COMBINE_SCALE_OTHER;
    vxSetColorCombine(function, VX_FACTOR_LOCAL, VX_LOCAL_ITERATED, VX_OTHER_TEXTURE, false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
}

// The four culling-plane normals from the camera's right and up axes.
void buildCullingPlanes(Point3 planes[4], const Camera& camera) {
    const Point3& right = camera.right.v;
    const Point3& up = camera.up.v;
    rotateAboutAxis(planes[0], up, CULL_UP_LOW * DEGREES_TO_RADIANS, right);
    rotateAboutAxis(planes[1], up, CULL_UP_HIGH * DEGREES_TO_RADIANS, right);
    rotateAboutAxis(planes[2], right, CULL_RIGHT_LOW * DEGREES_TO_RADIANS, up);
    rotateAboutAxis(planes[3], right, CULL_RIGHT_HIGH * DEGREES_TO_RADIANS, up);
}

inline Point3 cornerFromEye(const Point4& p, const Point3& eye) {
    return {p.x - eye.x, p.y - eye.y, p.z - eye.z};
}

}  // namespace

int drawSurfaces(const View& view) {
    stageMark(TIMED_WAVES);
    if (!renderOptions.wavesPaused) {
        animateWaves(scene.waves, scene.surfaces, static_cast<std::int32_t>(view.timeMs),
                     renderOptions.controlNormals);
    }
    useClipBounds(view.clip);
    stageMark(TIMED_DETAIL);
    // The heat map's flat colours are neither fogged nor dithered; the state is put back after.
    if (inspection.heatMap) {
        saveRenderState();
        vxSetFogMode(VX_FOG_DISABLE);
        vxSetDitherMode(VX_DITHER_DISABLE);
    }
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
    if (inspection.auditBounds) vxSetCullMode(surfaceCullMode());
    if (display.device.textureCaches[0] != nullptr) {
        cacheBind(*display.device.textureCaches[0], scene.surfaceTexture);
    }
    if (textureUnitCount() > 1 && display.device.textureCaches[1] != nullptr) {
        cacheBind(*display.device.textureCaches[1], scene.environmentTexture);
    }
    int triangles = 0;
    for (int i = 0; i < scene.surfaces.count; ++i) {
        inspection.currentSurface = i;
        triangles += drawSurface(scene.surfaces.surfaces[i], view, 0.0f, 0.0f, TEXTURE_SPAN,
                                 TEXTURE_SPAN);
    }
    if (inspection.heatMap) restoreRenderState();
    if (inspection.auditBounds) vxSetCullMode(VX_CULL_NEGATIVE);
    stageMark(TIMED_OTHER);
    return triangles;
}

int drawSurface(Surface& surface, const View& view, float sLo, float tLo, float sHi, float tHi) {
    setCombineState();
    if (inspection.heatMap) {
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                          false);
    }
    Point3 planes[4];
    buildCullingPlanes(planes, view.camera);
    const Point3& position = view.camera.position.v;
    const Point3 eye = {position.x / renderOptions.modelScale[0],
                        position.y / renderOptions.modelScale[1],
                        position.z / renderOptions.modelScale[2]};
    const bool bezier = renderOptions.surfaceType == SURFACE_BEZIER;
    const int nx = patchColumns(surface, renderOptions.surfaceType);
    const int ny = patchRows(surface, renderOptions.surfaceType);
    int triangles = 0;
    if (nx > 0 && ny > 0 && surface.patchSlots != nullptr) {
        const Tessellator tessellate =
            renderOptions.forwardDifferencing ? tessellateForward : tessellateBasis;
        const float ds = (sHi - sLo) / static_cast<float>(nx);
        const float dt = (tHi - tLo) / static_cast<float>(ny);
        const int stride = surface.width;
        const int origin = bezier ? 3 : 1;
        // The tessellators save the borders whenever gaps are filled (crack filling itself
        // runs only with dynamic detail).
        const bool keepBorders = renderOptions.gapFill != GAP_NO_FILL;
        beginDrawnPatches(surface);
        float t = tLo;
        for (int j = 0; j < ny; ++j) {
            float s = sLo;
            for (int i = 0; i < nx; ++i) {
                const int lastColumn = origin * i + 3;
                const int lastRow = origin * j + 3;
                const Point4* firstRow = surface.points + (lastRow - 3) * stride;
                const Point4* lastRowPoints = surface.points + lastRow * stride;
                const Point3 corners[4] = {
                    cornerFromEye(firstRow[lastColumn - 3], eye),
                    cornerFromEye(firstRow[lastColumn], eye),
                    cornerFromEye(lastRowPoints[lastColumn - 3], eye),
                    cornerFromEye(lastRowPoints[lastColumn], eye),
                };
                stageMark(TIMED_DETAIL);
                PatchRecord* patch = nullptr;
                if (!patchOutsideView(corners, planes)) patch = addDrawnPatch(surface, j * nx + i);
                if (patch != nullptr) {
                    patch->lastColumn = lastColumn;
                    patch->lastRow = lastRow;
                    patch->steps = chooseStepCount(*patch, eye);
                    if (keepBorders) lendDrawnBorders(*patch);
                    if (inspection.heatMap) vxSetConstantColor(heatColour(patch->steps));
                    stageMark(TIMED_TESSELLATE);
                    triangles += tessellate(*patch, view, s, t, s + ds, t + dt);
                    // The grid stays valid until the next patch.
                    if (inspection.auditBounds) recordPatchBounds(i, j, patch->steps);
                }
                s += ds;
            }
            t += dt;
        }
        if (renderOptions.dynamicDetail && renderOptions.gapFill != GAP_NO_FILL) {
            stageMark(TIMED_EMIT);
            triangles += fillCracks(surface);
        }
        stageMark(TIMED_DETAIL);
    }
    if (renderOptions.showControlPoints) drawControlPoints(surface, view, scene.surfaces.picked);
    return triangles;
}

bool patchOutsideView(const Point3 corners[4], const Point3 planes[4]) {
    for (int k = 0; k < 4; ++k) {
        const Point3& n = planes[k];
        if (dot(n, corners[0]) < 0.0f && dot(n, corners[1]) < 0.0f &&
            dot(n, corners[2]) < 0.0f && dot(n, corners[3]) < 0.0f) {
            return true;
        }
    }
    return false;
}

void drawControlPoints(const Surface& surface, const View& view, const Point4* picked) {
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                      false);
    loadTransform(view.frameMatrix);
    const bool flickerLit = (view.timeMs & MARKER_FLICKER_BIT) != 0;
    beginVertices();
    // v stays the batch's pending vertex after the last point; endVertices below completes
    // its clip code while it is still alive.
    ScreenVertex v = {};
    const int count = surface.width * surface.height;
    for (int i = 0; i < count; ++i) {
        const Point4& point = surface.points[i];
        const bool lit = &point == picked && flickerLit;
        vxSetConstantColor(lit ? MARKER_YELLOW : MARKER_RED);
        v.flags = 0;
        transformVertex(v, Point3{point.x, point.y, point.z});
        const float r = MARKER_SIZE * v.q;
        ScreenVertex a = v;
        ScreenVertex b = v;
        a.x = v.x + r;
        a.y = v.y + r;
        b.x = v.x - r;
        b.y = v.y - r;
        drawClippedLine(a, b);
        a.x = v.x - r;
        a.y = v.y + r;
        b.x = v.x + r;
        b.y = v.y - r;
        drawClippedLine(a, b);
    }
    endVertices();
}
