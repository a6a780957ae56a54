// Image file reader: TGA files (colour-mapped, true-colour and grey, raw or run-length) into
// 32-bit texels, and their conversion into mipmapped 16-bit textures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vexa/vexa.h"

// The record handed to the rasterizer: smallest and largest level (log2 of the longer
// side), aspect log2(width) - log2(height), texel format, texel data (owned by the texture).
using TextureInfo = VxTexInfo;

enum TexelFormat : std::int32_t {
    TEXEL_RGB_565 = VX_TEXFMT_RGB_565,
    TEXEL_ARGB_4444 = VX_TEXFMT_ARGB_4444,
    TEXEL_ALPHA_INTENSITY_88 = VX_TEXFMT_ALPHA_INTENSITY_88,
};

constexpr int IMAGE_MAX_SIDE = 256;
constexpr int IMAGE_MAX_PALETTE = 256;
// The rasterizer takes side ratios from 8:1 to 1:8 (|log2 w - log2 h| <= 3).
constexpr int IMAGE_MAX_ASPECT_LOG2 = 3;
// Largest image the reader decodes at all (64 MB of texels); the texture builder refuses
// anything over IMAGE_MAX_SIDE later with a message, this only caps the allocation.
constexpr std::uint64_t IMAGE_READ_MAX_TEXELS = 4096u * 4096u;

// Where the texture module reports what it cannot use (an image of a size the board cannot
// take, a texture refused, a defragmentation): printf-style, one line per call. The program
// points it at its diagnostics at start-up; while it is null nothing is said.
using TextureReport = void (*)(const char* format, ...);
extern TextureReport textureReport;

// Longest reason a refusal gives, with the file's name.
constexpr int IMAGE_REASON_MAX = 320;

// Reads one TGA file. On success *texels holds width * height little-endian 0xAARRGGBB
// words in file row order, allocated with new[]; the caller owns it. False on any problem,
// with nothing allocated and, when `reason` is given, why ("data/tex.tga: 16-bit
// colour-mapped images are not supported").
bool readImageFile(const char* path, int* width, int* height, std::uint32_t** texels,
                   char* reason = nullptr, std::size_t reasonSize = 0);
// Reads a file into a 16-bit texture of the requested format; alphaOverride -1 keeps alpha,
// 0..255 replaces it; with mipmaps the full chain down to 1 texel. Reports unusable sizes
// through textureReport. The info is untouched on failure (the reason as readImageFile gives
// it); on success info.data is new[]ed.
bool loadTextureImage(const char* path, TextureInfo& info, int format, int alphaOverride,
                      bool mipmaps, char* reason = nullptr, std::size_t reasonSize = 0);
