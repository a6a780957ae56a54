// Device half of Vexa: start-up from the environment, queries, opening and closing the
// output, clearing, swapping through the present hook and reading frames back.
// Entry points: vxInit, vxShutdown, vxSelectDevice, vxQuery*, vxOpenWindow, vxCloseWindow,
// vxClearBuffers, vxSwapBuffers, vxReadFrameRegion; the choice of processor path. Drawing
// itself lives in the paths (vx_path_body.h).
#include "vexa/vx_local.h"
#include "vexa/vx_system.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

VxDevice vexaDevice;

namespace {

constexpr int RESOLUTIONS[VX_RES_COUNT][2] = {
    {512, 384}, {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}};
static_assert(sizeof(RESOLUTIONS) / sizeof(RESOLUTIONS[0]) == VX_RES_COUNT);

constexpr int REFRESH_HERTZ[VX_REFRESH_COUNT] = {0, 60, 70, 72, 75, 80, 85, 90, 100, 120};
static_assert(sizeof(REFRESH_HERTZ) / sizeof(REFRESH_HERTZ[0]) == VX_REFRESH_COUNT);

const char VERSION_STRING[] = "Vexa 1.0 (software)";

// 64 bytes of room past the end: vector reads of 16-bit pixels load 4 bytes at a pixel.
void* allocAligned(std::size_t bytes) { return vxAllocAligned(bytes + 64); }

// The board's variables that take a number or a size; a value they cannot take is named on
// standard error once per run (the board is opened again at every resolution switch) and the
// default stays, so that a mistyped setting is not silently a different board.
enum VxEnvironmentName { VX_ENV_TMUS, VX_ENV_MAX_RES, VX_ENV_TEXMEM, VX_ENV_THREADS, VX_ENV_COUNT };
constexpr const char* ENVIRONMENT_NAMES[VX_ENV_COUNT] = {"VEXA_TMUS", "VEXA_MAX_RES",
                                                         "VEXA_TEXMEM", "VEXA_THREADS"};
static_assert(sizeof(ENVIRONMENT_NAMES) / sizeof(ENVIRONMENT_NAMES[0]) == VX_ENV_COUNT);

void ignoreEnvironment(VxEnvironmentName name, const char* value, const char* expected) {
    static bool told[VX_ENV_COUNT] = {};
    if (told[name]) return;
    told[name] = true;
    std::fprintf(stderr, "vexa: %s=%s ignored: expected %s\n", ENVIRONMENT_NAMES[name], value,
                 expected);
}

// The value as a whole decimal number (digits only, in range); false for anything else.
bool wholeNumber(const char* s, unsigned long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(s, &end, 10);
    return s[0] >= '0' && s[0] <= '9' && *end == '\0' && errno == 0;
}

void readEnvironment() {
    VxDevice& d = vexaDevice;
    d.tmus = 2;
    if (const char* s = std::getenv("VEXA_TMUS")) {
        if (std::strcmp(s, "1") == 0) d.tmus = 1;
        else if (std::strcmp(s, "2") != 0) ignoreEnvironment(VX_ENV_TMUS, s, "1 or 2");
    }
    std::snprintf(d.hardware, sizeof d.hardware, "%s", "Vexa Software Board");
    if (const char* s = std::getenv("VEXA_HARDWARE")) {
        if (s[0]) std::snprintf(d.hardware, sizeof d.hardware, "%s", s);
    }
    d.maxResW = d.maxResH = 0;
    if (const char* s = std::getenv("VEXA_MAX_RES")) {
        int w = 0, h = 0;
        char extra = 0;
        if (std::sscanf(s, "%dx%d%c", &w, &h, &extra) == 2 && w > 0 && h > 0) {
            d.maxResW = w;
            d.maxResH = h;
        } else {
            ignoreEnvironment(VX_ENV_MAX_RES, s, "WIDTHxHEIGHT, as 800x600");
        }
    }
    d.texMem = VX_DEFAULT_TEXMEM;
    if (const char* s = std::getenv("VEXA_TEXMEM")) {
        unsigned long long v = 0;
        // At least one smallest texture, at most 64 MiB per unit.
        if (wholeNumber(s, &v) && v >= 8 && v <= (64ull << 20)) {
            d.texMem = std::uint32_t(v) & ~7u;
        } else {
            ignoreEnvironment(VX_ENV_TEXMEM, s, "bytes per texture unit from 8 to 67108864");
        }
    }
    d.failQuery = d.failOpen = d.failState = false;
    if (const char* s = std::getenv("VEXA_FAIL")) {
        d.failQuery = std::strcmp(s, "query") == 0;
        d.failOpen = std::strcmp(s, "open") == 0;
        d.failState = std::strcmp(s, "state") == 0;
    }
    unsigned cores = std::thread::hardware_concurrency();
    d.threadCount = cores ? int(cores) : 1;
    d.drawInline = false;
    if (const char* s = std::getenv("VEXA_THREADS")) {
        unsigned long long n = 0;
        if (wholeNumber(s, &n) && n <= INT_MAX) {
            if (n >= 1) d.threadCount = int(n);
            if (n == 0) d.drawInline = true;
        } else {
            ignoreEnvironment(VX_ENV_THREADS, s, "a count of worker threads (0: none)");
        }
    }
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    d.drawInline = true;   // a build without threads
#endif
    if (d.drawInline) d.threadCount = 1;
    if (d.threadCount > VX_MAX_THREADS) d.threadCount = VX_MAX_THREADS;
    d.ditherAllowed = true;
    if (const char* s = std::getenv("VEXA_DITHER")) d.ditherAllowed = !(s[0] == '0' && s[1] == '\0');
}

// The one choice of processor path: the portable routines, then over them the most capable
// path's that the processor has (as vxQueryProcessor finds it, VEXA_PATH limiting it): the
// 128-bit path where it has SSE4.1 and population count (in the browser build, always: it is
// compiled for WebAssembly SIMD), the AVX2 path where it has AVX2 and the bit instructions
// every AVX2 processor has (population count, BMI1), which that path is built for too.
void choosePath() {
    VxDevice& d = vexaDevice;
    vxPortablePath(&d.path);
    d.pathKind = VX_PATHKIND_PORTABLE;
    VxProcessor cpu;
    vxQueryProcessor(&cpu);
#if defined(__x86_64__) || defined(__i386__)
    if (cpu.hasAvx2 && cpu.hasPopcount && cpu.hasBmi1) {
        vxAvx2Path(&d.path);
        d.pathKind = VX_PATHKIND_AVX2;
    } else if (cpu.hasSse41 && cpu.hasPopcount) {
        vxV128Path(&d.path);
        d.pathKind = VX_PATHKIND_V128;
    }
#elif defined(__wasm_simd128__)
    if (cpu.hasSimd128) {
        vxV128Path(&d.path);
        d.pathKind = VX_PATHKIND_V128;
    }
#endif
}

}  // namespace

bool vxResolutionSize(int resolution, int* width, int* height) {
    if (resolution < 0 || resolution >= VX_RES_COUNT) return false;
    if (width) *width = RESOLUTIONS[resolution][0];
    if (height) *height = RESOLUTIONS[resolution][1];
    return true;
}

int vxRefreshHertz(int refresh) {
    if (refresh < 0 || refresh >= VX_REFRESH_COUNT) return 0;
    return REFRESH_HERTZ[refresh];
}

void vxSetPresentHook(VxPresentHook hook, void* user) {
    vexaDevice.presentHook = hook;
    vexaDevice.presentUser = user;
}

void vxInit() {
    VxDevice& d = vexaDevice;
    if (d.initialised) vxShutdown();
    readEnvironment();
    choosePath();
    for (int u = 0; u < VX_MAX_TEXTURE_UNITS; ++u) {
        d.texMemory[u] = nullptr;
        if (u < d.tmus) {
            // Zeroed so that a bound but never downloaded texture reads as black.
            d.texMemory[u] = static_cast<std::uint8_t*>(allocAligned(d.texMem + 64));
            std::memset(d.texMemory[u], 0, d.texMem + 64);
        }
    }
    d.ring = static_cast<std::uint8_t*>(allocAligned(VX_RING_BYTES));
    d.writePos = d.published = 0;
    d.packPos = ~std::uint64_t(0);
    d.writableEnd = VX_RING_BYTES;
    d.publishedPos.store(0);
    d.open = false;
    d.pendingCount = 0;
    d.back = 0;
    vxResetState();
    d.initialised = true;
    vxStartWorkers();
}

void vxShutdown() {
    VxDevice& d = vexaDevice;
    if (!d.initialised) return;
    if (d.open) vxCloseWindow(1);
    vxStopWorkers();
    for (auto& m : d.texMemory) {
        vxFreeAligned(m);
        m = nullptr;
    }
    vxFreeAligned(d.ring);
    d.ring = nullptr;
    d.initialised = false;
}

bool vxSelectDevice(int device) { return vexaDevice.initialised && device == 0; }

int vxQuery(int item, int bytes, std::int32_t* out) {
    const VxDevice& d = vexaDevice;
    if (!out || bytes < int(sizeof(std::int32_t))) return 0;
    switch (item) {
    case VX_QUERY_TEXTURE_UNITS:
        if (d.failQuery) return 0;
        *out = d.tmus;
        return 4;
    case VX_QUERY_STATE_SIZE:
        if (d.failState) return 0;
        *out = std::int32_t(sizeof(VxRenderState));
        return 4;
    case VX_QUERY_FOG_TABLE_ENTRIES:
        *out = VX_FOG_TABLE_ENTRIES;
        return 4;
    case VX_QUERY_SUBPIXEL_BITS:
        *out = VX_SUBPIXEL_BITS;
        return 4;
    default:
        return 0;
    }
}

const char* vxQueryString(int item) {
    switch (item) {
    case VX_STRING_HARDWARE: return vexaDevice.hardware;
    case VX_STRING_VERSION: return VERSION_STRING;
    case VX_STRING_PATH: return vexaDevice.initialised ? VX_PATH_NAMES[vexaDevice.pathKind] : "";
    default: return "";
    }
}

VxContext vxOpenWindow(void* window, int resolution, int refresh, int colorFormat, int origin,
                       int colorBuffers, int auxBuffers) {
    VxDevice& d = vexaDevice;
    int w = 0, h = 0;
    if (!d.initialised || d.open || d.failOpen) return 0;
    if (!vxResolutionSize(resolution, &w, &h)) return 0;
    if (refresh < 0 || refresh >= VX_REFRESH_COUNT) return 0;
    if (colorFormat < VX_COLORFORMAT_ARGB || colorFormat > VX_COLORFORMAT_BGRA) return 0;
    if (origin != VX_ORIGIN_UPPER_LEFT && origin != VX_ORIGIN_LOWER_LEFT) return 0;
    if (colorBuffers < 2 || colorBuffers > 3 || auxBuffers < 0 || auxBuffers > 1) return 0;
    if (d.maxResW > 0 && (w > d.maxResW || h > d.maxResH)) return 0;
    const std::size_t pixels = std::size_t(w) * std::size_t(h);
    for (int i = 0; i < 3; ++i) d.colorBuffers[i] = nullptr;
    for (int i = 0; i < colorBuffers; ++i) {
        d.colorBuffers[i] = static_cast<std::uint16_t*>(allocAligned(pixels * 2));
        std::memset(d.colorBuffers[i], 0, pixels * 2);
    }
    // The depth buffer always exists so that depth testing never reads a null buffer.
    d.depthBuffer = static_cast<std::uint16_t*>(allocAligned(pixels * 2));
    std::memset(d.depthBuffer, 0xFF, pixels * 2);
    d.width = w;
    d.height = h;
    d.colorFormat = colorFormat;
    d.origin = origin;
    d.bufferCount = colorBuffers;
    d.front = 0;
    d.back = 1;
    d.window = window;
    d.open = true;
    d.state.origin = origin;
    d.state.clipMinX = 0;
    d.state.clipMinY = 0;
    d.state.clipMaxX = w;
    d.state.clipMaxY = h;
    d.stateDirty = true;
    d.pendingCount = 0;
    vxQueueTarget(d.back);
    return 1;
}

void vxCloseWindow(VxContext context) {
    VxDevice& d = vexaDevice;
    if (!d.open || context == 0) return;
    vxFinish();
    for (auto& b : d.colorBuffers) {
        vxFreeAligned(b);
        b = nullptr;
    }
    vxFreeAligned(d.depthBuffer);
    d.depthBuffer = nullptr;
    d.open = false;
}

void vxClearBuffers(std::uint32_t color, std::uint8_t alpha, std::uint32_t depth) {
    VxDevice& d = vexaDevice;
    (void)alpha;  // no alpha buffer
    if (!d.open) return;
    vxQueueFlushState();
    auto* c = static_cast<VxClearCommand*>(vxQueueReserve(sizeof(VxClearCommand)));
    c->head.type = VX_CMD_CLEAR;
    c->head.bytes = sizeof(VxClearCommand);
    std::int32_t rgba[4];
    vxDecodeColor(color, rgba);
    c->color = vxPack565(rgba[0], rgba[1], rgba[2]);
    c->depth = std::uint16_t(depth > 0xFFFF ? 0xFFFF : depth);
    c->minX = d.drawState.clipMinX;
    c->minY = d.drawState.clipMinY;
    c->maxX = d.drawState.clipMaxX;
    c->maxY = d.drawState.clipMaxY;
    vxQueueCommit(sizeof(VxClearCommand));
}

namespace {
// Shows the oldest pending frame once it is drawn.
void presentOldest() {
    VxDevice& d = vexaDevice;
    const VxDevice::PendingFrame f = d.pending[0];
    d.pending[0] = d.pending[1];
    --d.pendingCount;
    vxWaitDrawn(f.pos);
    if (d.presentHook && d.open) {
        d.presentHook(d.presentUser, d.window, d.colorBuffers[f.buffer], d.width, d.height,
                      f.interval);
    }
}
}  // namespace

void vxPresentPending() {
    while (vexaDevice.pendingCount > 0) presentOldest();
}

void vxSwapBuffers(int swapInterval) {
    VxDevice& d = vexaDevice;
    if (!d.open) return;
    // The frame's commands go to the workers first, so that they draw it while older frames
    // are waited for and shown.
    vxQueuePublish();
    // One frame may wait for the workers, as with two buffers on a board: the frame swapped
    // before is shown first (its drawing is normally long done), which also frees its buffer.
    // With three buffers and no vertical sync, two may: the next frame draws into the buffer
    // of the frame two swaps back, shown here. Then a worker done with its share of a frame
    // goes on to the next while another still finishes its own (on a busy machine, threads
    // seldom end a frame together), where it would otherwise wait for the program, which
    // waits for that frame. With vertical sync a frame waits for the display anyway, and one
    // frame ahead keeps the picture closer to the input.
    const int ahead = swapInterval == 0 && d.bufferCount == 3 ? 2 : 1;
    while (d.pendingCount >= ahead) presentOldest();
    d.pending[d.pendingCount++] = {d.back, swapInterval, d.writePos};
    // The shown buffer becomes the front; the oldest buffer becomes the next back buffer,
    // which the workers draw into once they finish this frame.
    d.front = d.back;
    d.back = (d.back + 1) % d.bufferCount;
    vxQueueTarget(d.back);
    vxQueuePublish();
    // Drawing on the program's thread leaves nothing to overlap: show the frame now.
    if (d.drawInline) vxPresentPending();
}

bool vxReadFrameRegion(int buffer, int x, int y, int width, int height, int strideBytes,
                       void* dst) {
    VxDevice& d = vexaDevice;
    if (!d.open || !dst || width <= 0 || height <= 0) return false;
    if (buffer != VX_BUFFER_FRONT && buffer != VX_BUFFER_BACK) return false;
    if (x < 0 || y < 0 || x > d.width - width || y > d.height - height) return false;
    if (strideBytes < width * 2) return false;
    vxFinish();
    const std::uint16_t* src = d.colorBuffers[buffer == VX_BUFFER_FRONT ? d.front : d.back];
    auto* out = static_cast<std::uint8_t*>(dst);
    for (int row = 0; row < height; ++row) {
        std::memcpy(out + std::size_t(row) * std::size_t(strideBytes),
                    src + std::size_t(y + row) * std::size_t(d.width) + std::size_t(x),
                    std::size_t(width) * 2);
    }
    return true;
}
