// Writes the shipped data files from nothing: the surface file (a sea that the waves move and
// an island that keeps its heights), the surface texture (tileable water with soft caustic
// lines) and the environment map (a sky with soft clouds), both 256 x 256 24-bit TGA.
// Run from the repository root: build/make_data [folder], default "data".
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "surface/surface.h"

namespace {

// The two meshes being made, written and read back.
SurfaceList surfaces;

constexpr int IMAGE_SIDE = 256;
constexpr float TAU = 6.2831853f;

// ---- Surfaces --------------------------------------------------------------------------------
// World = mesh * model scale (20, 20, 10); the eye starts at (0, 0, 10) looking along +y.

// The sea: 31 x 31 points one unit apart (both patch types use every point), level, starting a
// little behind the eye and running 470 world units ahead of it. The waves set its heights.
constexpr int SEA_SIDE = 31;
constexpr float SEA_FIRST_X = -15.0f;
constexpr float SEA_FIRST_Y = -7.0f;

// The island: 13 x 13 points, a ridge running away from the eye (0.35 units apart across,
// 0.75 along), rising from the sea ahead and to the left, near enough (about 130 world units)
// to stand out of the fog. The light comes from (1, 1, 1), so from the start the eye looks at
// the island's east flank, which faces the light, rather than at a side in its own shadow.
constexpr int ISLAND_SIDE = 13;
constexpr float ISLAND_SPACING_X = 0.35f;
constexpr float ISLAND_SPACING_Y = 0.75f;
constexpr float ISLAND_HEIGHT_SCALE = 0.6f;
constexpr float ISLAND_CENTRE_X = -1.8f;
constexpr float ISLAND_CENTRE_Y = 6.5f;

float islandHeight(float u, float v) {
    // u, v: -1 .. 1 across the mesh. Two summits on a ridge, a saddle, edges under the water.
    const float main = 8.0f * std::exp(-((u + 0.15f) * (u + 0.15f) + (v - 0.1f) * (v - 0.1f)) * 5.0f);
    const float second = 4.0f * std::exp(-((u - 0.45f) * (u - 0.45f) + (v + 0.35f) * (v + 0.35f)) * 9.0f);
    const float ridges = 0.35f * std::sin(u * 7.0f + v * 3.0f) * std::cos(v * 5.0f);
    const float edge = std::fmax(std::fabs(u), std::fabs(v));
    const float fall = edge > 0.8f ? (edge - 0.8f) * 4.0f : 0.0f;
    return main + second + ridges * (1.0f - edge) - 0.6f - fall;
}

bool buildSurfaces() {
    surfaces.count = 2;
    surfaces.surfaces = new Surface[2]();
    Surface& sea = surfaces.surfaces[0];
    sea.width = SEA_SIDE;
    sea.height = SEA_SIDE;
    sea.points = new Point4[SEA_SIDE * SEA_SIDE];
    for (int r = 0; r < SEA_SIDE; ++r) {
        for (int c = 0; c < SEA_SIDE; ++c) {
            sea.points[r * SEA_SIDE + c] = Point4{SEA_FIRST_X + c, SEA_FIRST_Y + r, 0.0f, 1.0f};
        }
    }
    Surface& island = surfaces.surfaces[1];
    island.width = ISLAND_SIDE;
    island.height = ISLAND_SIDE;
    island.points = new Point4[ISLAND_SIDE * ISLAND_SIDE];
    const float half = (ISLAND_SIDE - 1) * 0.5f;
    for (int r = 0; r < ISLAND_SIDE; ++r) {
        for (int c = 0; c < ISLAND_SIDE; ++c) {
            const float u = (c - half) / half;
            const float v = (r - half) / half;
            island.points[r * ISLAND_SIDE + c] =
                Point4{ISLAND_CENTRE_X + (c - half) * ISLAND_SPACING_X,
                       ISLAND_CENTRE_Y + (r - half) * ISLAND_SPACING_Y,
                       islandHeight(u, v) * ISLAND_HEIGHT_SCALE, 1.0f};
        }
    }
    return true;
}

// ---- Images ----------------------------------------------------------------------------------
struct Rgb {
    float r, g, b;   // 0 .. 255
};

Rgb mix(const Rgb& a, const Rgb& b, float t) {
    return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float smoothstep(float lo, float hi, float x) {
    float t = (x - lo) / (hi - lo);
    t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    return t * t * (3.0f - 2.0f * t);
}

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

float hashUnit(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    return static_cast<float>(hash(x, y, seed) & 0xFFFFFFu) / 16777215.0f;
}

// Value noise on a lattice of `cells` x `cells` that wraps at the image side, so every layer
// tiles seamlessly. x, y in pixels.
float tiledNoise(float x, float y, int cells, std::uint32_t seed) {
    const float scale = static_cast<float>(cells) / IMAGE_SIDE;
    const float fx = x * scale, fy = y * scale;
    const float x0f = std::floor(fx), y0f = std::floor(fy);
    const int x0 = static_cast<int>(x0f), y0 = static_cast<int>(y0f);
    const float tx = smoothstep(0.0f, 1.0f, fx - x0f), ty = smoothstep(0.0f, 1.0f, fy - y0f);
    auto at = [&](int i, int j) {
        const int wi = ((i % cells) + cells) % cells, wj = ((j % cells) + cells) % cells;
        return hashUnit(static_cast<std::uint32_t>(wi), static_cast<std::uint32_t>(wj), seed);
    };
    const float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * tx;
    const float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * tx;
    return top + (bottom - top) * ty;
}

// Sum of octaves from `cells` upwards, 0 .. 1.
float tiledFbm(float x, float y, int cells, int octaves, std::uint32_t seed) {
    float sum = 0.0f, weight = 0.5f, total = 0.0f;
    for (int o = 0; o < octaves; ++o) {
        sum += tiledNoise(x, y, cells << o, seed + o) * weight;
        total += weight;
        weight *= 0.5f;
    }
    return sum / total;
}

// Distance to the nearest cell border of a wrapped grid of jittered points (F2 - F1), in
// pixels: 0 on the borders, which become the bright caustic lines.
float cellBorderDistance(float x, float y, int cells, std::uint32_t seed) {
    const float size = static_cast<float>(IMAGE_SIDE) / cells;
    const int cx = static_cast<int>(std::floor(x / size)), cy = static_cast<int>(std::floor(y / size));
    float first = 1e9f, second = 1e9f;
    for (int j = cy - 2; j <= cy + 2; ++j) {
        for (int i = cx - 2; i <= cx + 2; ++i) {
            const int wi = ((i % cells) + cells) % cells, wj = ((j % cells) + cells) % cells;
            const float px = (i + 0.15f + 0.7f * hashUnit(wi, wj, seed)) * size;
            const float py = (j + 0.15f + 0.7f * hashUnit(wi, wj, seed + 101)) * size;
            const float d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < first) {
                second = first;
                first = d;
            } else if (d < second) {
                second = d;
            }
        }
    }
    return second - first;
}

// Small deterministic noise, in 0..1 units of one byte step, that breaks up the banding of
// the 16-bit texel formats.
float dither(int x, int y, std::uint32_t seed) {
    return hashUnit(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed) - 0.5f;
}

std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v + 0.5f));
}

Rgb waterTexel(int px, int py) {
    const float x = px + 0.5f, y = py + 0.5f;
    // Warp the cell pattern with wrapped sines of whole periods so it stays seamless.
    const float wx = x + 7.0f * std::sin(TAU * (y / IMAGE_SIDE) * 3.0f) + 4.0f * std::sin(TAU * (x + y) / IMAGE_SIDE * 2.0f);
    const float wy = y + 7.0f * std::sin(TAU * (x / IMAGE_SIDE) * 2.0f) + 4.0f * std::cos(TAU * (x - y) / IMAGE_SIDE * 3.0f);
    const float coarse = cellBorderDistance(wx, wy, 8, 11);
    const float fine = cellBorderDistance(wy + 31.0f, wx + 17.0f, 16, 23);
    const float lines = std::exp(-coarse / 2.6f) * 0.85f + std::exp(-fine / 1.8f) * 0.35f;
    const float shade = tiledFbm(x, y, 4, 4, 5);

    const Rgb deep{24, 92, 128};
    const Rgb shallow{52, 150, 168};
    const Rgb light{200, 240, 232};
    Rgb c = mix(deep, shallow, smoothstep(0.25f, 0.75f, shade));
    c = mix(c, light, std::fmin(1.0f, lines * 0.8f));
    const float d = dither(px, py, 77) * 6.0f;
    return Rgb{c.r + d, c.g + d, c.b + d};
}

Rgb skyTexel(int px, int py) {
    const float x = px + 0.5f, y = py + 0.5f;
    // The map is addressed by the surface normal: the middle is "straight up", so it holds
    // the bright sky near the sun and darkens to a deep blue towards the border, where it is
    // flat so that the edges meet.
    const float dx = (x - IMAGE_SIDE * 0.5f) / (IMAGE_SIDE * 0.5f);
    const float dy = (y - IMAGE_SIDE * 0.5f) / (IMAGE_SIDE * 0.5f);
    const float radius = std::sqrt(dx * dx + dy * dy);
    const Rgb glow{236, 242, 250};
    const Rgb sky{120, 176, 232};
    const Rgb deep{44, 96, 188};
    Rgb c = radius < 0.35f ? mix(glow, sky, smoothstep(0.0f, 0.35f, radius))
                           : mix(sky, deep, smoothstep(0.35f, 0.95f, radius));
    // A slight warm tint towards one side so tilting waves shows direction.
    c = mix(c, Rgb{250, 226, 200}, 0.18f * smoothstep(0.2f, -0.9f, dy) * (1.0f - smoothstep(0.6f, 1.0f, radius)));

    const float cloud = tiledFbm(x, y, 4, 5, 31);
    const float cover = smoothstep(0.48f, 0.72f, cloud);
    const float puff = tiledFbm(x + 40.0f, y + 9.0f, 16, 3, 47);
    const Rgb white{246, 248, 252};
    const Rgb grey{196, 206, 222};
    c = mix(c, mix(grey, white, puff), cover * 0.85f);
    const float d = dither(px, py, 91) * 10.0f;
    return Rgb{c.r + d, c.g + d, c.b + d};
}

// 24-bit uncompressed TGA, rows bottom-up (image descriptor 0), bytes blue, green, red.
bool writeTga(const std::string& path, Rgb (*texel)(int, int)) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const std::uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     IMAGE_SIDE & 0xFF, IMAGE_SIDE >> 8, IMAGE_SIDE & 0xFF, IMAGE_SIDE >> 8, 24, 0};
    std::vector<std::uint8_t> pixels(IMAGE_SIDE * IMAGE_SIDE * 3);
    for (int row = 0; row < IMAGE_SIDE; ++row) {
        // File row 0 is the bottom of the picture.
        const int y = IMAGE_SIDE - 1 - row;
        for (int x = 0; x < IMAGE_SIDE; ++x) {
            const Rgb c = texel(x, y);
            std::uint8_t* p = &pixels[(row * IMAGE_SIDE + x) * 3];
            p[0] = toByte(c.b);
            p[1] = toByte(c.g);
            p[2] = toByte(c.r);
        }
    }
    const bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                    std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "data";
    const std::string surfacePath = folder + "/vorl.txt";
    buildSurfaces();
    if (!saveSurfaceFile(surfaces, surfacePath.c_str())) {
        std::fprintf(stderr, "make_data: cannot write %s\n", surfacePath.c_str());
        return 1;
    }
    releaseSurfaces(surfaces);
    // Read the file back through the program's own reader as a check.
    char reason[SURFACE_REASON_MAX] = "";
    if (!loadSurfaceFile(surfaces, surfacePath.c_str(), reason, sizeof reason) ||
        surfaces.count != 2) {
        std::fprintf(stderr, "make_data: %s does not read back (%s)\n", surfacePath.c_str(),
                     reason[0] != '\0' ? reason : "not two surfaces");
        return 1;
    }
    releaseSurfaces(surfaces);
    if (!writeTga(folder + "/tex.tga", waterTexel) || !writeTga(folder + "/env.tga", skyTexel)) {
        std::fprintf(stderr, "make_data: cannot write the images in %s\n", folder.c_str());
        return 1;
    }
    std::printf("make_data: wrote %s, %s/tex.tga, %s/env.tga\n", surfacePath.c_str(), folder.c_str(),
                folder.c_str());
    return 0;
}
