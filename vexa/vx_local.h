// Vexa's private header: the device record, render state, derived draw state, the command
// ring shared by the program thread and the workers, and the stage routines of the pixel
// pipeline. Included by vexa/*.cpp only; the rest of the program sees vexa.h alone.
#pragma once

#include "vexa/vexa.h"

#include <atomic>
#include <cstdint>
#include <thread>

// ---- Limits --------------------------------------------------------------------------------
constexpr int VX_MAX_THREADS = 16;
constexpr int VX_BAND_SHIFT = 4;                   // bands of 16 rows, interleaved by worker
constexpr int VX_BAND_TABLE = 128;                 // bands with a precomputed next owner
constexpr std::uint32_t VX_RING_BYTES = 8u << 20;  // command ring, power of two
constexpr std::uint32_t VX_PUBLISH_BYTES = 32768;  // hand work to the workers this often
constexpr int VX_BATCH_MAX = 64;                   // pixels shaded together
constexpr int VX_BATCH_PAD = VX_BATCH_MAX + 8;     // per-pixel arrays: room for whole vectors
constexpr int VX_SUBPIXEL_BITS = 8;                // 1/256 pixel vertex snapping
constexpr float VX_COORD_LIMIT = 1048576.0f;       // |x|,|y| beyond this: primitive dropped
constexpr int VX_MAX_LEVELS = 9;                   // 256 .. 1
constexpr int VX_FOG_FINE_SHIFT = 4;               // fine fog table: depth code >> 4
constexpr int VX_FOG_FINE_ENTRIES = 0x10000 >> VX_FOG_FINE_SHIFT;
constexpr int VX_PRIM_CHUNK = 1024;                // vertices per queued primitive command
constexpr int VX_PACK_STRIP_MAX = 8;               // strips this short pack into one command
constexpr int VX_PACK_VERTICES = 64;               // vertices of one packed command
constexpr std::uint16_t VX_DEPTH_FAR = 0xFFFF;
constexpr std::uint32_t VX_DEFAULT_TEXMEM = 4u << 20;

// ---- Render state (what vxSaveState stores) --------------------------------------------------
struct VxCombineSetting {
    std::int32_t function, factor, local, other, invert;
};

struct VxUnitState {
    std::int32_t minFilter, magFilter, sClamp, tClamp, mipmap, blendLevels;
    float lodBias;
    std::int32_t bound;
    std::uint32_t address;
    std::int32_t levels, smallLod, largeLod, aspect, format;
    VxCombineSetting rgb, alpha;  // texture combine: local/other fields unused
};

struct VxRenderState {
    std::int32_t layoutOffset[VX_PARAM_COUNT];
    std::int32_t layoutEnabled[VX_PARAM_COUNT];
    std::int32_t coordSpace, origin;
    std::int32_t clipMinX, clipMinY, clipMaxX, clipMaxY;
    std::int32_t cullMode;
    VxCombineSetting color, alpha;
    std::uint32_t constantColor;
    std::int32_t blendRgbSrc, blendRgbDst, blendAlphaSrc, blendAlphaDst;
    std::int32_t alphaTest, alphaRef;
    std::int32_t depthMode, depthFunc, depthMask;
    std::int32_t fogMode;
    std::int32_t ditherMode;
    std::uint32_t fogColor;
    std::uint8_t fogTable[VX_FOG_TABLE_ENTRIES];
    VxUnitState unit[VX_MAX_TEXTURE_UNITS];
};

// ---- Derived draw state (what the workers draw with) -----------------------------------------
struct VxTexUnit;
struct VxBatch;
struct VxDrawState;

// Samples one unit for the live pixels of a batch into the unit's texel channels.
using VxSampleRoutine = void (*)(const VxTexUnit& unit, VxBatch& batch, int unitIndex);
struct VxSetup;
// Computes the plane-dependent values of batch pixels [from, n) from one triangle's setup.
using VxInterpolateRoutine = void (*)(const VxDrawState& state, const VxSetup& setup,
                                      VxBatch& batch, int from);
// Computes the plane-dependent values of batch pixels [from, to) from the planes stamped on
// each pixel (VxBatch::lane), so pixels of many small triangles go through one pass.
using VxLaneRoutine = void (*)(const VxDrawState& state, VxBatch& batch, int from, int to);
// Runs the rest of the pixel pipeline over a whole batch and stores the results.
using VxFinishRoutine = void (*)(const VxDrawState& state, VxBatch& batch);

struct VxTexUnit {
    const std::uint8_t* base;           // texture memory + bound address
    std::int32_t format, bytesPerTexel;
    std::int32_t levelCount;             // stored levels, largest first
    std::int32_t width[VX_MAX_LEVELS], height[VX_MAX_LEVELS];
    std::uint32_t offset[VX_MAX_LEVELS];  // byte offset of each stored level
    std::int32_t shift[VX_MAX_LEVELS];    // log2 of level-0 texels per texel of a level
    std::int32_t levelOfLod[VX_MAX_LEVELS];  // mip step from largest -> stored level index
    float scale;                         // texel-space 256 units -> level-0 texels
    std::int32_t sClamp, tClamp, minFilter, magFilter, mipmap;
    std::int32_t biasFixed;              // 2 * bias in 1/256 log2 units
    std::int32_t maxMip;                 // largeLod - smallLod
    // Per mip step (index clamped to 0..maxMip; 16 entries for vector gathers): the level's
    // shift, log2 width, log2 height and texel offset.
    std::int32_t stepShift[16], stepWLog[16], stepHLog[16], stepOffset[16];
    VxSampleRoutine sample;
};

enum VxDrawFlag : std::uint32_t {
    VX_DRAW_TEX0 = 1u << 0,        // unit 0 output is used
    VX_DRAW_TEX1 = 1u << 1,        // unit 1 output is used by unit 0
    VX_DRAW_DEPTH_TEST = 1u << 2,
    VX_DRAW_DEPTH_WRITE = 1u << 3,
    VX_DRAW_FOG = 1u << 4,
    VX_DRAW_BLEND = 1u << 5,
    VX_DRAW_ALPHA_TEST = 1u << 6,
    VX_DRAW_NEED_Q = 1u << 7,      // depth code needed (depth, fog or textures)
    VX_DRAW_DITHER = 1u << 8,      // ordered dithering into 5-6-5
};

struct VxDrawState {
    std::uint32_t flags;
    std::int32_t cullMode;
    std::int32_t clipMinX, clipMinY, clipMaxX, clipMaxY;  // already inside the output
    VxCombineSetting color, alpha;
    VxCombineSetting texRgb[VX_MAX_TEXTURE_UNITS], texAlpha[VX_MAX_TEXTURE_UNITS];
    std::int32_t constant[4];        // r, g, b, a 0..255
    std::int32_t fogColor[3];        // r, g, b
    std::int32_t blendSrc, blendDst;
    std::int32_t alphaTest, alphaRef;
    std::int32_t depthFunc;
    VxInterpolateRoutine interpolate;
    // Null, or the per-pixel-plane form of `interpolate` for this state: small primitives
    // then stamp their planes on their pixels and are interpolated together later.
    VxLaneRoutine interpolateLanes;
    VxFinishRoutine finish;
    VxTexUnit tex[VX_MAX_TEXTURE_UNITS];
};


// ---- Pixel batch ---------------------------------------------------------------------------
// Planes: value = base + dx * (px + offX) + dy * (py + offY) at pixel (px, py).
enum VxPlane {
    VX_PL_Q = 0, VX_PL_U0, VX_PL_V0, VX_PL_U1, VX_PL_V1, VX_PL_R, VX_PL_G, VX_PL_B, VX_PL_A,
    VX_PL_COUNT
};

// Planes stamped per pixel for VxLaneRoutine: the offsets, then base, dx, dy of q, u0, v0,
// r, g, b (what the surface routines read).
enum VxLanePlane {
    VX_LANE_OFFX = 0, VX_LANE_OFFY, VX_LANE_Q, VX_LANE_U0 = VX_LANE_Q + 3,
    VX_LANE_V0 = VX_LANE_U0 + 3, VX_LANE_R = VX_LANE_V0 + 3, VX_LANE_G = VX_LANE_R + 3,
    VX_LANE_B = VX_LANE_G + 3, VX_LANE_COUNT = VX_LANE_B + 3
};
// A primitive adding at least this many pixels to a batch is interpolated at once with its
// uniform planes; fewer are stamped and left for one pass over many primitives.
constexpr int VX_LANE_STAMP_MAX = 8;

struct VxSetup {
    float offX, offY;
    float base[VX_PL_COUNT], dx[VX_PL_COUNT], dy[VX_PL_COUNT];
};

struct alignas(64) VxBatch {
    std::int32_t n;
    std::int32_t pending;       // first pixel not yet interpolated
    std::int32_t stamped;       // first pixel without stamped planes (pending <= stamped)
    std::uint16_t* color;       // back buffer
    std::uint16_t* depth;
    std::int32_t pitch;
    const std::uint8_t* fogFine;
    alignas(64) std::int32_t x[VX_BATCH_PAD];
    alignas(64) std::int32_t y[VX_BATCH_PAD];
    alignas(64) std::int32_t mask[VX_BATCH_PAD];   // -1 live, 0 dropped
    alignas(64) float w[VX_BATCH_PAD];
    alignas(64) std::int32_t z[VX_BATCH_PAD];      // depth code
    alignas(64) std::int32_t it[4][VX_BATCH_PAD];  // iterated r, g, b, a
    // Level-0 texel coordinates with 8 fraction bits.
    alignas(64) std::int32_t ufix[VX_MAX_TEXTURE_UNITS][VX_BATCH_PAD];
    alignas(64) std::int32_t vfix[VX_MAX_TEXTURE_UNITS][VX_BATCH_PAD];
    alignas(64) std::int32_t mip[VX_MAX_TEXTURE_UNITS][VX_BATCH_PAD];  // mip step, or -1 = mag
    alignas(64) std::int32_t tex[VX_MAX_TEXTURE_UNITS][4][VX_BATCH_PAD];  // sampled texels
    alignas(64) std::int32_t unitOut[VX_MAX_TEXTURE_UNITS][4][VX_BATCH_PAD];  // after combine
    alignas(64) std::int32_t index[VX_BATCH_PAD];  // y * pitch + x
    alignas(64) std::int32_t out[4][VX_BATCH_PAD];
    alignas(64) float lane[VX_LANE_COUNT][VX_BATCH_PAD];  // stamped planes, VxLanePlane order
};

// ---- Commands --------------------------------------------------------------------------------
enum VxCommandType : std::uint32_t {
    VX_CMD_WRAP = 0, VX_CMD_STATE, VX_CMD_FOG, VX_CMD_PRIMS, VX_CMD_LINE, VX_CMD_CLEAR,
    VX_CMD_TARGET, VX_CMD_COUNT
};
struct VxCommand {
    std::uint32_t type;
    std::uint32_t bytes;  // whole command, multiple of 8
};
// A vertex as the workers read it: 32 bytes, texture coordinates already in level-0 texel
// units, the colour word kept as given (bytes a r g b from the top), so the ring carries less;
// a channel becomes a float (exactly its byte value) only when a primitive's planes are made.
struct VxVertex {
    float x, y, q;
    float u0, v0, u1, v1;
    std::uint32_t argb;
};
static_assert(sizeof(VxVertex) == 32);
// VX_PRIM_STRIPS: count / stripLength separate strips of stripLength vertices each, as
// consecutive small strip calls pack into one command.
enum VxPrimMode : std::uint32_t { VX_PRIM_TRIANGLES = 0, VX_PRIM_STRIP, VX_PRIM_FAN,
                                  VX_PRIM_STRIPS };
struct VxPrimCommand {
    VxCommand head;
    std::uint32_t mode;
    std::uint32_t count;
    std::uint32_t oddStart;  // the first triangle is an odd strip triangle
    // Rows whose pixel centres lie between the least and greatest snapped y of the
    // vertices (no other row can be covered): a worker owning none of them skips the whole
    // command without setting up its triangles. Computed on the program thread.
    std::int32_t rowFirst, rowLast;
    std::uint32_t stripLength;  // VX_PRIM_STRIPS: vertices per strip; 0 otherwise
    // VxVertex vertices[count] follow
};
struct VxClearCommand {
    VxCommand head;
    std::uint16_t color, depth;
    std::int32_t minX, minY, maxX, maxY;
    std::int32_t pad;
};
// The colour buffer the commands that follow draw into: a swap hands the finished frame on
// and points the workers at the next buffer without waiting for them.
struct VxTargetCommand {
    VxCommand head;
    std::int32_t buffer;
    std::int32_t pad;
};

// ---- Processor paths -----------------------------------------------------------------------
// The processor paths, least capable first: the portable one, the 128-bit one (SSE4.1 on x86,
// WebAssembly SIMD in the browser) and AVX2.
enum VxPathKind {
    VX_PATHKIND_PORTABLE = 0, VX_PATHKIND_V128, VX_PATHKIND_AVX2, VX_PATHKIND_COUNT
};
// The paths' names, as VEXA_PATH takes them and vxQueryString(VX_STRING_PATH) gives them.
inline constexpr const char* VX_PATH_NAMES[VX_PATHKIND_COUNT] = {"portable", "v128", "avx2"};
// The most capable path VEXA_PATH allows: the path it names; every path when it is unset or
// names none (vx_processor.cpp).
VxPathKind vxPathLimit();
// True when one packed single-precision instruction runs here (false off x86;
// vx_processor.cpp).
bool vxProbePackedSingle();
// What a processor path gives the workers and the draw state. Every path is the same source
// (vx_path_body.h) compiled for its processor in a file of its own (vx_path_portable.cpp,
// vx_path_v128.cpp, vx_path_avx2.cpp) and gives the portable path's pixels. vxInit fills the
// device's table once: the portable routines first, then the most capable path's over them
// that the processor has (vxQueryProcessor, which VEXA_PATH limits); nothing else asks which
// processor runs.
struct VxWorker;
struct VxPath {
    void (*flushBatch)(VxWorker& worker);  // shade and store what the batch holds
    void (*runPrims)(VxWorker& worker, const VxPrimCommand* cmd);
    void (*runLine)(VxWorker& worker, const VxPrimCommand* cmd);
    void (*runClear)(VxWorker& worker, const VxClearCommand* cmd);
    // Points a draw state at the path's pixel routines and samplers: the fused surface or text
    // routines when vxChooseRoutines found the state to be that form, the general ones
    // otherwise.
    void (*pickRoutines)(VxDrawState* state, bool surface, bool tinted);
};

// ---- Device ----------------------------------------------------------------------------------
struct VxWorker {
    std::thread thread;
    std::int32_t index;
    // Ring position up to which commands are consumed (their bytes may be overwritten: the
    // worker keeps copies of what it still needs), and up to which everything is drawn.
    alignas(64) std::atomic<std::uint64_t> readPos;
    std::atomic<std::uint64_t> donePos;
    // Bumped (and woken) when a report reaches what the waiting program thread asked for.
    std::atomic<std::uint32_t> progress;
    // The colour buffer this worker draws into (an index into colorBuffers).
    std::int32_t target;
    // Nanoseconds spent running commands while timing is on (read by the program thread).
    std::atomic<std::uint64_t> busyNs;
    alignas(64) VxDrawState state;
    std::uint8_t fogFine[VX_FOG_FINE_ENTRIES + 4];  // vector lookups read 4 bytes at an entry
    VxSetup setup;
    VxBatch batch;
    // Columns already in the batch per row (y mod 64), as one interval per row: a pixel drawn
    // twice in one batch would read the buffers before its first write, so a span that meets
    // the interval finishes the batch first. Rows belong to the batch whose epoch they carry.
    std::uint32_t rowEpoch[64];
    std::int32_t rowLo[64], rowHi[64];
    std::uint32_t epoch;
    // First band >= b that this worker owns, for b < VX_BAND_TABLE: the hot row loops ask it
    // for every triangle, and a division by the worker count would cost more.
    std::int32_t nextBand[VX_BAND_TABLE];
    // The vertices of the primitive command being drawn, snapped once (strip and fan
    // vertices belong to up to three triangles): 1/256-pixel x and y, and whether the vertex
    // is drawable (finite, within VX_COORD_LIMIT; its snapped position is 0 otherwise).
    std::int32_t snapX[VX_PRIM_CHUNK], snapY[VX_PRIM_CHUNK];
    std::int32_t snapOk[VX_PRIM_CHUNK];  // 1 for a drawable vertex, 0 otherwise
};

// The declared vertex layout as the drawing calls read it, made with the draw state.
struct VxFetchLayout {
    std::int32_t xy, q, argb, st0, st1;   // byte offsets, or -1 when disabled
    bool flipY;
    // The program's usual layout: q, unit 0's coordinates and the colour present, no unit 1
    // coordinates of their own, origin at the top.
    bool usual;
    float height, scale0, scale1;
};

struct VxDevice {
    bool initialised;
    // Environment, read at vxInit.
    std::int32_t tmus;
    char hardware[64];
    std::int32_t maxResW, maxResH;   // 0 = no limit
    std::uint32_t texMem;
    bool failQuery, failOpen, failState;
    std::int32_t threadCount;   // workers drawing bands; 1 when drawing inline
    // No worker threads: the program's thread draws what it hands in whenever it publishes
    // (VEXA_THREADS=0, or a build without threads). One worker record owns every band.
    bool drawInline;
    bool ditherAllowed;         // false with VEXA_DITHER=0: colour is always rounded
    VxPathKind pathKind;        // the path chosen at vxInit
    VxPath path;                // the processor path's routines, chosen at vxInit
    // Output.
    bool open;
    std::int32_t width, height, colorFormat, origin, bufferCount;
    std::uint16_t* colorBuffers[3];
    std::uint16_t* depthBuffer;
    std::int32_t front, back;        // indices into colorBuffers
    VxPresentHook presentHook;
    void* presentUser;
    void* window;
    // The drawing calls' recorder (vxSetDrawRecorder): null when none.
    VxDrawRecorder recorder;
    void* recorderUser;
    bool recorderDraws;
    // Texture memory, one block per unit.
    std::uint8_t* texMemory[VX_MAX_TEXTURE_UNITS];
    // Render state and whether the workers have it.
    VxRenderState state;
    bool stateDirty, fogDirty;
    VxDrawState drawState;           // derived on the program thread
    VxFetchLayout fetchLayout;       // made with drawState
    std::uint8_t fogFine[VX_FOG_FINE_ENTRIES];
    // Command ring.
    std::uint8_t* ring;
    std::uint64_t writePos;          // program thread's write position
    std::uint64_t published;         // last position handed to the workers
    std::uint64_t writableEnd;       // the ring is known free for writing up to here
    // The packed strip command still open for more strips (not yet published), or all ones,
    // and the float range of its vertices' y.
    std::uint64_t packPos;
    float packMinY, packMaxY;
    alignas(64) std::atomic<std::uint64_t> publishedPos;
    std::atomic<std::int32_t> sleepers;
    std::atomic<std::int32_t> producerWaiting;
    // The waiting producer's target: a read position or a drawn position (the other is
    // all ones), and the worker it waits for.
    std::atomic<std::uint64_t> producerTarget, producerDoneTarget;
    std::atomic<std::int32_t> producerWorker;
    std::atomic<bool> quit;
    VxWorker* workers[VX_MAX_THREADS];
    // Swapped frames the workers may still be drawing, oldest first: each is handed to the
    // present hook once every command before its pos is drawn (at a later swap, finish or
    // read-back), so the program builds the next frames while the workers finish these.
    struct PendingFrame {
        std::int32_t buffer, interval;
        std::uint64_t pos;
    };
    PendingFrame pending[2];
    int pendingCount;
    // Timing for a heads-up display: on, the workers add up their drawing time and the
    // program thread its waiting time (waitNs, program thread only).
    std::atomic<bool> timing;
    std::uint64_t waitNs;
};

extern VxDevice vexaDevice;

// ---- Snapping ---------------------------------------------------------------------------------
// A window coordinate snapped to 1/256 pixel (round half up), for |c| <= 2 * VX_COORD_LIMIT.
inline std::int64_t vxSnap(float c) {
    const double v = double(c) * (1 << VX_SUBPIXEL_BITS) + 0.5;
    const std::int64_t i = std::int64_t(v);
    return i - (double(i) > v);  // floor without a library call
}
// First and last pixel row (or column) whose centre lies in [lo, hi], snapped units.
inline std::int64_t vxFirstCentre(std::int64_t lo) {
    constexpr std::int64_t ONE = 1 << VX_SUBPIXEL_BITS;
    return (lo - ONE / 2 + ONE - 1) >> VX_SUBPIXEL_BITS;
}
inline std::int64_t vxLastCentre(std::int64_t hi) {
    return (hi - (1 << (VX_SUBPIXEL_BITS - 1))) >> VX_SUBPIXEL_BITS;
}

// ---- 5-6-5 colour ------------------------------------------------------------------------------
// The red, green and blue of 5-6-5 words, each widened to 0..255 by repeating its top bits
// below it (0 stays 0, the largest value becomes 255), as the board reads its colour buffer
// and its 5-6-5 texels. W is a number or a vector of them (one word in each lane of 16 or 32
// bits), so the scalar loops and the vector paths share the formula; bits above a word's 16
// must be 0. Always inlined, and the word taken by reference, so that a vector form is
// compiled for its caller's processor path. A vector caller may pass the green and blue
// fields' masks (63 and 31 in every lane) made once before its loop, where its compiler
// would make them anew at each use.
template <class W>
__attribute__((always_inline)) inline void vxUnpack565(const W& word, W* r, W* g, W* b,
                                                       const W& green = W{} + 63,
                                                       const W& blue = W{} + 31) {
    const W r5 = word >> 11, g6 = (word >> 5) & green, b5 = word & blue;
    *r = (r5 << 3) | (r5 >> 2);
    *g = (g6 << 2) | (g6 >> 4);
    *b = (b5 << 3) | (b5 >> 2);
}

// ---- Internal entry points -----------------------------------------------------------------
// State (vx_state.cpp).
void vxResetState();
void vxDeriveDrawState(VxDrawState* out);
void vxBuildFogFine(const std::uint8_t* table, std::uint8_t* fine);
void vxDecodeColor(std::uint32_t color, std::int32_t* rgba);
// Textures (vx_texture.cpp).
bool vxTexShape(int smallLod, int largeLod, int aspect, int format, int lod, int* w, int* h);
void vxDeriveTexUnit(int unit, VxTexUnit* out);
void vxSampleGeneric(const VxTexUnit& t, VxBatch& b, int unit);
void vxSampleWhite(const VxTexUnit& t, VxBatch& b, int unit);
// Queue (vx_queue.cpp).
void vxStartWorkers();
void vxStopWorkers();
void* vxQueueReserve(std::uint32_t bytes);
void vxQueuePublish();
// Commits `bytes` reserved with vxQueueReserve, handing the work to the workers every
// VX_PUBLISH_BYTES. Inline: every drawing call ends here.
inline void vxQueueCommit(std::uint32_t bytes) {
    VxDevice& d = vexaDevice;
    d.writePos += bytes;
    if (d.writePos - d.published >= VX_PUBLISH_BYTES) vxQueuePublish();
}
// Queues the draw state and fog table when they changed since they were last queued.
void vxQueueStateChanges();
inline void vxQueueFlushState() {
    if (vexaDevice.stateDirty || vexaDevice.fogDirty) vxQueueStateChanges();
}
// Draw (vx_draw.cpp): the vertex layout the drawing calls read, from the render state and
// the derived draw state.
VxFetchLayout vxMakeFetchLayout();
// Waits until every worker has drawn everything handed in before `pos`.
void vxWaitDrawn(std::uint64_t pos);
// Queues the buffer the workers draw into from here on.
void vxQueueTarget(int buffer);
// Device (vx_device.cpp): presents the swapped frames still pending, in order, once drawn.
void vxPresentPending();
// Processor paths: each fills `path` with its routines (vx_path_portable.cpp; on x86 and in
// the browser build vx_path_v128.cpp, for SSE4.1 with POPCNT or WebAssembly SIMD; on x86 vx_path_avx2.cpp,
// for processors with AVX2, POPCNT and BMI1).
void vxPortablePath(VxPath* path);
#if defined(__x86_64__) || defined(__i386__) || defined(__wasm_simd128__)
void vxV128Path(VxPath* path);
#endif
#if defined(__x86_64__) || defined(__i386__)
void vxAvx2Path(VxPath* path);
#endif
// The chosen path's worker side (vx_raster_body.h), run by the workers.
inline void vxFlushBatch(VxWorker& w) { vexaDevice.path.flushBatch(w); }
inline void vxRunPrims(VxWorker& w, const VxPrimCommand* cmd) { vexaDevice.path.runPrims(w, cmd); }
inline void vxRunLine(VxWorker& w, const VxPrimCommand* cmd) { vexaDevice.path.runLine(w, cmd); }
inline void vxRunClear(VxWorker& w, const VxClearCommand* cmd) { vexaDevice.path.runClear(w, cmd); }
// Points a derived draw state at the chosen path's routines (vx_state.cpp).
void vxChooseRoutines(VxDrawState* state);
// A colour of 0..255 channels rounded to 5-6-5 as the pixel pipeline rounds it
// (vx_path_portable.cpp).
std::uint16_t vxPack565(int r, int g, int b);
