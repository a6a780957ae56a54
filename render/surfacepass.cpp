// The per-view surface pass: waves, texture binding, the render state of the options, and
// every surface drawn patch by patch (culling through the surface's boxes, then each patch's
// corners; detail, tessellation, crack filling, markers) for the view it is handed. Entries:
// drawSurfaces, drawSurface, patchOutsideView, drawControlPoints. Writes only the scene's waves
// and heights, the records of the patches drawn (render/drawn.h), its own scratch and counts,
// and the render state.
#include "render/surfacepass.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "display/device.h"
#include "display/display.h"
#include "geometry/transform.h"
#include "render/detail.h"
#include "render/drawn.h"
#include "render/emit.h"
#include "render/tools.h"
#include "render/options.h"
#include "render/scene.h"
#include "render/tessellate.h"
#include "surface/bounds.h"
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

// What one surface's patch walk needs: the view's planes and eye in mesh units, the patch
// layout, and the tiles of CULL_TILE_PATCHES x CULL_TILE_PATCHES patches it visits.
struct PatchWalk {
    Point3 planes[4];
    Point3 eye;
    int origin;              // control points from one patch to the next: 1 b-spline, 3 bezier
    int nx, ny;              // patches per row, patch rows
    int tileColumns, tileRows;
    bool everyTile;          // no list of visible tiles: visit them all
    bool waving;             // the waves move this surface's heights
    float waveLow, waveHigh; // and keep them within this range
    float wRow[4];           // the frame matrix's w row: a mesh point's depth
    float wBeyond;           // depths past this lie beyond the far plane, with room to spare
    bool sliding;            // dynamic detail by a rule with fractional levels
    DetailScale detail;      // what the screen rule needs of the view
};

// Grows a scratch array to at least `wanted` entries (its contents are not kept); false, with
// the array as it was, when out of memory. Allocates only when more is wanted than ever before.
template <typename T>
bool growScratch(T*& array, std::int32_t& capacity, std::int64_t wanted) {
    if (wanted <= capacity) return true;
    if (wanted > 0x7FFFFFFF) return false;
    T* bigger = new (std::nothrow) T[static_cast<std::size_t>(wanted)];
    if (!bigger) return false;
    delete[] array;
    array = bigger;
    capacity = static_cast<std::int32_t>(wanted);
    return true;
}

// True when every point of the box lies below one of the planes as the corner test sees it.
// Each plane's largest dot over the box is taken at the box corner that plane points to, with
// the same arithmetic as the corner test: rounding is monotonic in each coordinate, so no
// point of the box gives a larger dot. A small slack on top keeps the hierarchy on the side of
// visiting (the corner test decides) should a compiler ever contract one of the two forms.
bool boxOutsideView(const Box3& box, const Point3 planes[4], const Point3& eye) {
    for (int k = 0; k < 4; ++k) {
        const Point3& n = planes[k];
        const Point3 d = {(n.x >= 0.0f ? box.hi.x : box.lo.x) - eye.x,
                          (n.y >= 0.0f ? box.hi.y : box.lo.y) - eye.y,
                          (n.z >= 0.0f ? box.hi.z : box.lo.z) - eye.z};
        const float slack =
            1e-5f * (std::fabs(n.x * d.x) + std::fabs(n.y * d.y) + std::fabs(n.z * d.z));
        if (dot(n, d) + slack < 0.0f) return true;
    }
    return false;
}

// A patch lies within the hull of its control points, so one whose points are all beyond the
// far plane draws nothing: every triangle of its grid, and every crack-fill polygon along its
// borders, is clipped away whole. The margin (a hundredth of the far depth) dwarfs the rounding
// of the tessellators' sums, so a patch skipped here would not have given a pixel.
constexpr float FAR_SKIP_MARGIN = 0.01f;

inline float depthOf(const PatchWalk& walk, float x, float y, float z) {
    return walk.wRow[0] * x + walk.wRow[1] * y + walk.wRow[2] * z + walk.wRow[3];
}

// True when the box's nearest point (its corner against the depth's gradient) is beyond the
// far plane's margin.
bool boxBeyondFar(const Box3& box, const PatchWalk& walk) {
    const float x = walk.wRow[0] >= 0.0f ? box.lo.x : box.hi.x;
    const float y = walk.wRow[1] >= 0.0f ? box.lo.y : box.hi.y;
    const float z = walk.wRow[2] >= 0.0f ? box.lo.z : box.hi.z;
    return depthOf(walk, x, y, z) > walk.wBeyond;
}

// True when all sixteen control points of the patch ending at (lastColumn, lastRow) are beyond
// the far plane's margin.
bool patchBeyondFar(const Surface& surface, const PatchWalk& walk, int lastColumn, int lastRow) {
    for (int r = lastRow - 3; r <= lastRow; ++r) {
        const Point4* row = surface.points + static_cast<std::int64_t>(r) * surface.width;
        for (int c = lastColumn - 3; c <= lastColumn; ++c) {
            if (depthOf(walk, row[c].x, row[c].y, row[c].z) <= walk.wBeyond) return false;
        }
    }
    return true;
}

// Lists the tiles tx0 .. tx1 - 1, ty0 .. ty1 - 1 whose points' box is not wholly outside the
// view, halving the range while it is more than one tile: a hidden quarter costs one test.
void collectTiles(const Surface& surface, const PatchWalk& walk, int tx0, int ty0, int tx1,
                  int ty1) {
    const int i0 = tx0 * CULL_TILE_PATCHES;
    const int i1 = (tx1 * CULL_TILE_PATCHES < walk.nx ? tx1 * CULL_TILE_PATCHES : walk.nx) - 1;
    const int j0 = ty0 * CULL_TILE_PATCHES;
    const int j1 = (ty1 * CULL_TILE_PATCHES < walk.ny ? ty1 * CULL_TILE_PATCHES : walk.ny) - 1;
    Box3 box = boundsOfPoints(*surface.bounds, walk.origin * i0, walk.origin * j0,
                              walk.origin * i1 + 3, walk.origin * j1 + 3);
    if (walk.waving) {
        if (walk.waveLow < box.lo.z) box.lo.z = walk.waveLow;
        if (walk.waveHigh > box.hi.z) box.hi.z = walk.waveHigh;
    }
    ++surfacePass.boxesTested;
    if (boxOutsideView(box, walk.planes, walk.eye) || boxBeyondFar(box, walk)) return;
    if (tx1 - tx0 == 1 && ty1 - ty0 == 1) {
        surfacePass.tiles[surfacePass.tileCount++] = ty0 * walk.tileColumns + tx0;
        return;
    }
    const int mx = tx1 - tx0 > 1 ? tx0 + (tx1 - tx0) / 2 : tx1;
    const int my = ty1 - ty0 > 1 ? ty0 + (ty1 - ty0) / 2 : ty1;
    collectTiles(surface, walk, tx0, ty0, mx, my);
    if (mx < tx1) collectTiles(surface, walk, mx, ty0, tx1, my);
    if (my < ty1) {
        collectTiles(surface, walk, tx0, my, mx, ty1);
        if (mx < tx1) collectTiles(surface, walk, mx, my, tx1, ty1);
    }
}

// Fills surfacePass.tiles with the tiles the patch walk visits, sorted row-major so that the
// patches are drawn in the order of the mesh; every tile when the surface has no bounds.
void findVisibleTiles(const Surface& surface, PatchWalk& walk) {
    surfacePass.tileCount = 0;
    const std::int64_t tiles = static_cast<std::int64_t>(walk.tileColumns) * walk.tileRows;
    walk.everyTile = surface.bounds == nullptr ||
                     !growScratch(surfacePass.tiles, surfacePass.tileCapacity, tiles);
    if (walk.everyTile) return;
    // The waves may have moved the first surface's heights anywhere within their reach of
    // each point's rest height (its lift), since the bounds were made.
    walk.waving = &surface == scene.surfaces.surfaces;
    if (walk.waving) {
        float low = 0.0f;
        float high = 0.0f;
        for (std::int32_t k = 0; k < scene.waves.liftCount; ++k) {
            const float lift = scene.waves.lifts[k].height;
            if (lift < low) low = lift;
            if (lift > high) high = lift;
        }
        walk.waveLow = low - WAVE_HEIGHT_BOUND;
        walk.waveHigh = high + WAVE_HEIGHT_BOUND;
    }
    collectTiles(surface, walk, 0, 0, walk.tileColumns, walk.tileRows);
    std::sort(surfacePass.tiles, surfacePass.tiles + surfacePass.tileCount);
}

// Brings the waving surface's points (and the normals owed) to the waves' last step where the
// walk will read them: the points of every visited tile; the whole mesh without a tile list.
// Normals owed by a step made with control normals, now read without them, are formed whole.
void moveWavesWhereVisited(Surface& surface, const PatchWalk& walk) {
    if (walk.everyTile || (!renderOptions.controlNormals && scene.waves.normalsOwed)) {
        settleWaves(scene.waves, scene.surfaces);
        return;
    }
    for (int k = 0; k < surfacePass.tileCount; ++k) {
        const int tile = surfacePass.tiles[k];
        const int i0 = (tile % walk.tileColumns) * CULL_TILE_PATCHES;
        const int j0 = (tile / walk.tileColumns) * CULL_TILE_PATCHES;
        const int i1 = (i0 + CULL_TILE_PATCHES < walk.nx ? i0 + CULL_TILE_PATCHES : walk.nx) - 1;
        const int j1 = (j0 + CULL_TILE_PATCHES < walk.ny ? j0 + CULL_TILE_PATCHES : walk.ny) - 1;
        moveWaves(scene.waves, surface, walk.origin * i0, walk.origin * j0, walk.origin * i1 + 3,
                  walk.origin * j1 + 3);
    }
}

// The s of each patch column's start, summed column by column as the texture span has always
// been stepped; null when out of memory.
const float* columnStarts(int nx, float sLo, float ds) {
    if (!growScratch(surfacePass.columnS, surfacePass.columnCapacity, nx)) return nullptr;
    float s = sLo;
    for (int i = 0; i < nx; ++i) {
        surfacePass.columnS[i] = s;
        s += ds;
    }
    return surfacePass.columnS;
}

// The start of patch column i: from the table, or (out of memory for it) summed again.
float columnStart(const float* starts, int i, float sLo, float ds) {
    if (starts != nullptr) return starts[i];
    float s = sLo;
    for (int k = 0; k < i; ++k) s += ds;
    return s;
}

// Tests, and when inside the view details, tessellates and records, patch (i, j) over the
// texture rectangle s .. s + ds, t .. t + dt; returns its triangles.
int visitPatch(Surface& surface, const View& view, const PatchWalk& walk, Tessellator tessellate,
               int i, int j, float s, float t, float ds, float dt) {
    const int stride = surface.width;
    const int lastColumn = walk.origin * i + 3;
    const int lastRow = walk.origin * j + 3;
    const Point4* firstRow = surface.points + static_cast<std::int64_t>(lastRow - 3) * stride;
    const Point4* lastRowPoints = surface.points + static_cast<std::int64_t>(lastRow) * stride;
    const Point3 corners[4] = {
        cornerFromEye(firstRow[lastColumn - 3], walk.eye),
        cornerFromEye(firstRow[lastColumn], walk.eye),
        cornerFromEye(lastRowPoints[lastColumn - 3], walk.eye),
        cornerFromEye(lastRowPoints[lastColumn], walk.eye),
    };
    stageMark(TIMED_DETAIL);
    ++surfacePass.patchesVisited;
    if (patchOutsideView(corners, walk.planes)) return 0;
    if (patchBeyondFar(surface, walk, lastColumn, lastRow)) return 0;
    PatchRecord* patch = addDrawnPatch(surfacePass.drawn, surface, j * walk.nx + i);
    if (patch == nullptr) return 0;
    ++surfacePass.patchesDrawn;
    patch->lastColumn = lastColumn;
    patch->lastRow = lastRow;
    if (walk.sliding) {
        setDetailLevel(*patch, chooseDetailLevel(*patch, walk.eye, walk.detail));
        // Only the basis tables take a sliding grid's uneven steps.
        if (patch->coarseness > 0.0f) tessellate = tessellateBasis;
    } else {
        patch->steps = chooseStepCount(*patch, walk.eye);
    }
    // The tessellators save the borders whenever gaps are filled (crack filling itself runs
    // only with dynamic detail).
    if (renderOptions.gapFill != GAP_NO_FILL) lendDrawnBorders(surfacePass.drawn, *patch);
    if (view.inspect & INSPECT_HEAT_MAP) {
        vxSetConstantColor(walk.sliding ? heatColourLevel(static_cast<float>(patch->steps) -
                                                          patch->coarseness)
                                        : heatColour(patch->steps));
    }
    stageMark(TIMED_TESSELLATE);
    const int triangles = tessellate(*patch, view, s, t, s + ds, t + dt);
    // The grid stays valid until the next patch.
    if (view.inspect & INSPECT_AUDIT_BOUNDS) recordPatchBounds(i, j, patch->steps);
    return triangles;
}

// Visits the patches of the listed tiles (of every tile when there is no list) row by row,
// each row from left to right: the order, and the texture coordinates, of the whole mesh's
// walk. Returns the triangles drawn.
int drawVisibleTiles(Surface& surface, const View& view, const PatchWalk& walk, float sLo,
                     float tLo, float sHi, float tHi) {
    const Tessellator tessellate =
        renderOptions.forwardDifferencing ? tessellateForward : tessellateBasis;
    const float ds = (sHi - sLo) / static_cast<float>(walk.nx);
    const float dt = (tHi - tLo) / static_cast<float>(walk.ny);
    const float* starts = columnStarts(walk.nx, sLo, ds);
    beginDrawnPatches(surfacePass.drawn, surface);
    int triangles = 0;
    int first = 0;   // the first listed tile of the current tile row
    float t = tLo;
    for (int j = 0; j < walk.ny; ++j) {
        const int ty = j / CULL_TILE_PATCHES;
        if (walk.everyTile) {
            float s = sLo;
            for (int i = 0; i < walk.nx; ++i) {
                triangles += visitPatch(surface, view, walk, tessellate, i, j, s, t, ds, dt);
                s += ds;
            }
        }
        if (!walk.everyTile) {
            const SurfacePass& p = surfacePass;
            while (first < p.tileCount && p.tiles[first] / walk.tileColumns < ty) {
                ++first;
            }
            for (int k = first; k < surfacePass.tileCount; ++k) {
                const int tile = surfacePass.tiles[k];
                if (tile / walk.tileColumns != ty) break;
                const int i0 = (tile % walk.tileColumns) * CULL_TILE_PATCHES;
                const int i1 = i0 + CULL_TILE_PATCHES < walk.nx ? i0 + CULL_TILE_PATCHES : walk.nx;
                for (int i = i0; i < i1; ++i) {
                    triangles += visitPatch(surface, view, walk, tessellate, i, j,
                                            columnStart(starts, i, sLo, ds), t, ds, dt);
                }
            }
        }
        t += dt;
    }
    return triangles;
}

}  // namespace

SurfacePass surfacePass = {
    .lightingPath = {lightDiffuseSelect, lightDiffuseSpecularSelect, LIGHTING_SELECT},
    .gridPath = {nullptr, GRID_LANES_SCALAR},
};

void releaseSurfacePass() {
    // The pass's own scratch and counts only: the routines chosen at start-up stay.
    SurfacePass& p = surfacePass;
    delete[] p.tiles;
    delete[] p.columnS;
    p.tiles = nullptr;
    p.tileCount = p.tileCapacity = 0;
    p.columnS = nullptr;
    p.columnCapacity = 0;
    clearSurfacePassCounts();
}

void clearSurfacePassCounts() {
    surfacePass.boxesTested = 0;
    surfacePass.patchesVisited = 0;
    surfacePass.patchesDrawn = 0;
}

int drawSurfaces(const View& view) {
    stageMark(TIMED_WAVES);
    if (!renderOptions.wavesPaused) {
        stepWaves(scene.waves, scene.surfaces, static_cast<std::int32_t>(view.timeMs),
                  renderOptions.controlNormals);
    }
    useClipBounds(view.clip);
    stageMark(TIMED_DETAIL);
    // The heat map's flat colours are neither fogged nor dithered; the state is put back after.
    const bool heatMap = (view.inspect & INSPECT_HEAT_MAP) != 0;
    const bool auditBounds = (view.inspect & INSPECT_AUDIT_BOUNDS) != 0;
    if (heatMap) {
        saveRenderState();
        vxSetFogMode(VX_FOG_DISABLE);
        vxSetDitherMode(VX_DITHER_DISABLE);
    }
    vxSetAlphaBlend(VX_BLEND_ONE, VX_BLEND_ZERO, VX_BLEND_ZERO, VX_BLEND_ZERO);
    if (auditBounds) vxSetCullMode(surfaceCullMode(view.inspect));
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
    if (heatMap) restoreRenderState();
    if (auditBounds) vxSetCullMode(VX_CULL_NEGATIVE);
    stageMark(TIMED_OTHER);
    return triangles;
}

int drawSurface(Surface& surface, const View& view, float sLo, float tLo, float sHi, float tHi) {
    setCombineState();
    if (view.inspect & INSPECT_HEAT_MAP) {
        vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                          false);
    }
    PatchWalk walk = {};
    buildCullingPlanes(walk.planes, view.camera);
    const Point3& position = view.camera.position.v;
    walk.eye = {position.x / renderOptions.modelScale[0], position.y / renderOptions.modelScale[1],
                position.z / renderOptions.modelScale[2]};
    walk.origin = renderOptions.surfaceType == SURFACE_BEZIER ? 3 : 1;
    for (int k = 0; k < 4; ++k) walk.wRow[k] = view.frameMatrix.m[12 + k];
    walk.wBeyond = view.clip.wFar + FAR_SKIP_MARGIN * std::fabs(view.clip.wFar);
    walk.sliding = renderOptions.dynamicDetail && renderOptions.detailRule != DETAIL_DISTANCE;
    if (walk.sliding) buildDetailScale(walk.detail, view.frameMatrix, view.clip);
    walk.nx = patchColumns(surface, renderOptions.surfaceType);
    walk.ny = patchRows(surface, renderOptions.surfaceType);
    int triangles = 0;
    if (walk.nx > 0 && walk.ny > 0 && surface.patchSlots != nullptr) {
        walk.tileColumns = (walk.nx + CULL_TILE_PATCHES - 1) / CULL_TILE_PATCHES;
        walk.tileRows = (walk.ny + CULL_TILE_PATCHES - 1) / CULL_TILE_PATCHES;
        findVisibleTiles(surface, walk);
        if (&surface == scene.surfaces.surfaces) moveWavesWhereVisited(surface, walk);
        triangles += drawVisibleTiles(surface, view, walk, sLo, tLo, sHi, tHi);
        if (renderOptions.dynamicDetail && renderOptions.gapFill != GAP_NO_FILL) {
            stageMark(TIMED_EMIT);
            triangles += fillCracks(surface, view.inspect);
        }
        stageMark(TIMED_DETAIL);
    }
    if (renderOptions.showControlPoints) {
        if (&surface == scene.surfaces.surfaces) settleWaves(scene.waves, scene.surfaces);
        drawControlPoints(surface, view, scene.surfaces.picked);
    }
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
