// Grey images read for their values rather than as textures (a heightmap): PNG through libpng
// (where the build has it) and TGA through readImageFile, colour taken as grey, 8 or 16 bits a
// sample. Entry points: readGreyImage, freeGreyImage. No decoding of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "texture/image.h"

// Most samples an image may have: the image reader's cap (64 MB of its texels).
constexpr std::uint64_t GREY_IMAGE_MAX_SAMPLES = IMAGE_READ_MAX_TEXELS;
// Colour is taken as grey by these weights, in thousandths (red, green, blue), rounded.
constexpr int GREY_WEIGHT_RED = 299;
constexpr int GREY_WEIGHT_GREEN = 587;
constexpr int GREY_WEIGHT_BLUE = 114;

// Samples top row first, left to right; each 0 .. maxValue (255 for 8-bit images, 65535
// for 16-bit PNGs).
struct GreyImage {
    std::int32_t width;
    std::int32_t height;
    std::int32_t maxValue;
    std::uint16_t* samples;   // width * height, new[]ed, owned
};

// Reads a PNG (by its signature) or else a TGA into `image` (freed first). Grey, grey with
// alpha, colour, colour with alpha and palette images; alpha is ignored, colour weighed into
// grey. False with nothing allocated and the reason with the file's name, for a file that
// cannot be opened or read, is neither format, or has more than GREY_IMAGE_MAX_SAMPLES.
bool readGreyImage(const char* path, GreyImage& image, char* reason, std::size_t reasonSize);
// Frees the samples; the record becomes empty.
void freeGreyImage(GreyImage& image);
// The grey of a colour of three samples, by the weights above, rounded to nearest.
std::uint32_t greyOf(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
