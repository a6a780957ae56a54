// Vexa throughput at 1024x768: large textured, bilinear, mipmapped, fogged, depth-tested
// triangles (Mpixels/s); small strip triangles of a finely tessellated patch grid drawn as
// the program draws them (Mtriangles/s); and one clear + swap. Prints its results; run it
// with VEXA_THREADS / VEXA_PATH set to compare configurations. Each figure is
// the median of several timed runs.
#include "vexa/vexa.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct BenchVertex {
    float x, y, w, q;
    float s0, t0, s1, t1;
    std::uint32_t argb;
    std::uint32_t pad;
};

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

BenchVertex vertex(float x, float y, float q, float s, float t, std::uint32_t argb) {
    return BenchVertex{x, y, 1.0f / q, q, s * q, t * q, s * q, t * q, argb, 0};
}

void setUpSurfaceState(std::vector<std::uint16_t>& chain) {
    // 256x256 RGB 5-6-5 with its whole mipmap chain.
    for (int lod = 8; lod >= 0; --lod) {
        const int side = 1 << lod;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                chain.push_back(std::uint16_t(((x ^ y) * 2654435761u) >> 16 | (lod << 2)));
            }
        }
    }
    VxTexInfo info{0, 8, 0, VX_TEXFMT_RGB_565, chain.data()};
    vxTexDownload(0, 0, VX_LEVELS_BOTH, &info);
    vxTexBind(0, 0, VX_LEVELS_BOTH, &info);
    vxSetTexFilter(0, VX_FILTER_BILINEAR, VX_FILTER_BILINEAR);
    vxSetTexMipMapMode(0, VX_MIPMAP_NEAREST, false);
    vxSetTexClamp(0, VX_TEXCLAMP_WRAP, VX_TEXCLAMP_WRAP);
    vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                        false, false);
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_ITERATED,
                      VX_OTHER_TEXTURE, false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_ITERATED, VX_OTHER_ITERATED,
                      false);
    vxSetDepthMode(VX_DEPTH_WBUFFER);
    vxSetDepthFunction(VX_CMP_LEQUAL);
    std::uint8_t fog[VX_FOG_TABLE_ENTRIES];
    vxMakeFogTableExp2(fog, 0.004f);
    vxSetFogTable(fog);
    vxSetFogColor(0xFF806040u);
    vxSetFogMode(VX_FOG_WTABLE);
    vxSetCullMode(VX_CULL_NONE);
}

// Full-screen quads, slightly receding, drawn far to near so every pixel passes LEQUAL.
double largeTriangles(int frames) {
    const int quads = 8;
    double pixels = 0.0;
    const double t0 = now();
    for (int f = 0; f < frames; ++f) {
        vxClearBuffers(0, 0, 0xFFFF);
        for (int k = 0; k < quads; ++k) {
            const float qn = 0.02f + 0.01f * float(k), qf = qn * 0.8f;
            const float so = float(f * 3 + k * 17);
            BenchVertex v[4] = {vertex(0, 0, qf, so, 0, 0xFFFFC080u),
                                vertex(1024, 0, qf, so + 256 * 4, 0, 0xFF80C0FFu),
                                vertex(0, 768, qn, so, 256 * 3, 0xFFC0FF80u),
                                vertex(1024, 768, qn, so + 256 * 4, 256 * 3, 0xFFFFFFFFu)};
            const void* p[4] = {&v[0], &v[1], &v[2], &v[3]};
            vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
            pixels += 1024.0 * 768.0;
        }
    }
    vxFinish();
    return pixels / (now() - t0) / 1e6;
}

// 20x20-cell grids of 3x3-pixel cells, one 4-vertex strip per cell, tiled over the screen.
double smallTriangles(int frames) {
    constexpr int CELLS = 20, SIDE = 3;
    std::vector<BenchVertex> grid((CELLS + 1) * (CELLS + 1));
    double triangles = 0.0;
    const double t0 = now();
    for (int f = 0; f < frames; ++f) {
        vxClearBuffers(0, 0, 0xFFFF);
        for (int gy = 0; gy + CELLS * SIDE <= 768; gy += CELLS * SIDE) {
            for (int gx = 0; gx + CELLS * SIDE <= 1024; gx += CELLS * SIDE) {
                const float q = 0.01f + 0.0004f * float((gx + gy) % 97);
                for (int j = 0; j <= CELLS; ++j) {
                    for (int i = 0; i <= CELLS; ++i) {
                        const float x = float(gx + i * SIDE) + 0.3f, y = float(gy + j * SIDE) + 0.6f;
                        grid[std::size_t(j * (CELLS + 1) + i)] =
                            vertex(x, y, q * (1.0f + 0.01f * float(j)), float(i * 13), float(j * 13),
                                   0xFF000000u | std::uint32_t(i * 12) << 16 | std::uint32_t(j * 12) << 8 | 0x80u);
                    }
                }
                for (int j = 0; j < CELLS; ++j) {
                    for (int i = 0; i < CELLS; ++i) {
                        const BenchVertex* a = &grid[std::size_t(j * (CELLS + 1) + i)];
                        const void* p[4] = {a, a + (CELLS + 1), a + 1, a + (CELLS + 2)};
                        vxDrawVertexArray(VX_TRIANGLE_STRIP, 4, p);
                        triangles += 2.0;
                    }
                }
            }
        }
    }
    vxFinish();
    return triangles / (now() - t0) / 1e6;
}

double clearAndSwap(int frames) {
    const double t0 = now();
    for (int f = 0; f < frames; ++f) {
        vxClearBuffers(0xFF000000u, 0, 0xFFFF);
        vxSwapBuffers(0);
    }
    return (now() - t0) / frames * 1e3;
}

}  // namespace

// The median of `runs` timings of one part (they vary with what else the machine runs).
template <class Part>
double median(int runs, Part part) {
    std::vector<double> results;
    for (int i = 0; i < runs; ++i) results.push_back(part());
    std::sort(results.begin(), results.end());
    return results[results.size() / 2];
}

int main(int argc, char** argv) {
    // Optional arguments: a repeat factor, which part to run (large, small, clear) and how
    // many timed runs to take the median of (default 5).
    const int scale = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 1;
    const std::string only = argc > 2 ? argv[2] : "";
    const int runs = argc > 3 && std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : 5;
    vxInit();
    if (!vxOpenWindow(nullptr, VX_RES_1024x768, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                      VX_ORIGIN_UPPER_LEFT, 2, 1)) {
        std::fprintf(stderr, "vexa_bench: could not open 1024x768\n");
        return 1;
    }
    vxSetVertexLayout(VX_PARAM_XY, 0, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_Q, 12, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ST0, 16, VX_PARAM_ENABLE);
    vxSetVertexLayout(VX_PARAM_ARGB, 32, VX_PARAM_ENABLE);
    std::vector<std::uint16_t> chain;
    setUpSurfaceState(chain);
    const char* threads = std::getenv("VEXA_THREADS");
    std::printf("vexa_bench 1024x768, VEXA_THREADS=%s, %s path, median of %d runs\n",
                threads ? threads : "(cores)", vxQueryString(VX_STRING_PATH), runs);
    if (only.empty() || only == "large") {
        largeTriangles(2);  // warm up
        std::printf("large textured bilinear mipmapped fogged depth-tested triangles: %8.1f Mpixels/s\n",
                    median(runs, [&] { return largeTriangles(20 * scale); }));
    }
    if (only.empty() || only == "small") {
        smallTriangles(2);
        std::printf("small strip triangles (3x3-pixel cells, 20x20 grids):           %8.2f Mtriangles/s\n",
                    median(runs, [&] { return smallTriangles(20 * scale); }));
    }
    if (only.empty() || only == "clear") {
        std::printf("clear + swap 1024x768:                                           %8.3f ms\n",
                    median(runs, [&] { return clearAndSwap(50 * scale); }));
    }
    vxShutdown();
    return 0;
}
