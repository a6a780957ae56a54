// Grey images for their values: a PNG's rows through libpng's own transforms (palette and
// low bit depths expanded, alpha stripped, 16-bit samples kept), a TGA through readImageFile
// with its rows put top first. Every size is checked before anything is allocated for it.
#include "texture/greyimage.h"

#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#if VORL_HAVE_PNG
#include <png.h>
#endif

namespace {

constexpr int TGA_DESCRIPTOR_OFFSET = 17;
constexpr std::uint8_t TGA_TOP_FIRST = 0x20;   // descriptor bit 5: the first row is the top
constexpr std::uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// As the platform's refuseNamed, which this layer does not reach.
bool refuse(char* reason, std::size_t size, const char* path, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
bool refuse(char* reason, std::size_t size, const char* path, const char* format, ...) {
    if (reason == nullptr || size == 0) return false;
    const int used = std::snprintf(reason, size, "%s: ", path);
    if (used < 0 || static_cast<std::size_t>(used) >= size) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason + used, size - static_cast<std::size_t>(used), format, args);
    va_end(args);
    return false;
}

// A TGA through the texture reader: its texels weighed into grey, rows turned top first
// unless the descriptor says they are already.
bool readGreyTga(const char* path, std::FILE* file, GreyImage& image, char* reason,
                 std::size_t size) {
    std::uint8_t header[TGA_DESCRIPTOR_OFFSET + 1];
    const bool topFirst = std::fseek(file, 0, SEEK_SET) == 0 &&
                          std::fread(header, 1, sizeof header, file) == sizeof header &&
                          (header[TGA_DESCRIPTOR_OFFSET] & TGA_TOP_FIRST) != 0;
    int width = 0, height = 0;
    std::uint32_t* texels = nullptr;
    if (!readImageFile(path, &width, &height, &texels, reason, size)) return false;
    image.samples = new (std::nothrow) std::uint16_t[static_cast<std::size_t>(width) * height];
    if (image.samples == nullptr) {
        delete[] texels;
        return refuse(reason, size, path, "no memory for %d x %d samples", width, height);
    }
    for (int y = 0; y < height; ++y) {
        const int row = topFirst ? y : height - 1 - y;
        const std::uint32_t* src = texels + static_cast<std::size_t>(row) * width;
        std::uint16_t* dst = image.samples + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t t = src[x];
            const std::uint32_t grey = greyOf((t >> 16) & 0xFF, (t >> 8) & 0xFF, t & 0xFF);
            dst[x] = static_cast<std::uint16_t>(grey);
        }
    }
    delete[] texels;
    image.width = width;
    image.height = height;
    image.maxValue = 255;
    return true;
}

#if VORL_HAVE_PNG
bool tooManySamples(std::uint64_t width, std::uint64_t height, const char* path, char* reason,
                    std::size_t size) {
    if (width * height <= GREY_IMAGE_MAX_SAMPLES) return false;
    refuse(reason, size, path, "the image is %llu x %llu pixels, more than the reader takes (%llu)",
           static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
           static_cast<unsigned long long>(GREY_IMAGE_MAX_SAMPLES));
    return true;
}

struct PngRead {
    char message[IMAGE_REASON_MAX];
};

[[noreturn]] void pngFailed(png_structp png, png_const_charp message) {
    PngRead* read = static_cast<PngRead*>(png_get_error_ptr(png));
    std::snprintf(read->message, sizeof read->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// One decoded row (after the transforms: 1 or 3 samples a pixel, 8 or 16 bits, big-endian)
// into grey samples.
void greyRow(const std::uint8_t* row, int width, int channels, bool wide, std::uint16_t* out) {
    for (int x = 0; x < width; ++x) {
        std::uint32_t c[3];
        for (int k = 0; k < channels; ++k) {
            const std::size_t at = static_cast<std::size_t>(x) * channels + k;
            const std::uint8_t* p = row + at * (wide ? 2 : 1);
            c[k] = wide ? (static_cast<std::uint32_t>(p[0]) << 8 | p[1]) : p[0];
        }
        out[x] = static_cast<std::uint16_t>(channels == 1 ? c[0] : greyOf(c[0], c[1], c[2]));
    }
}

// What survives libpng's long jump lives in the caller (`rows`, the image): the jump skips
// this frame's destructors, so nothing here owns memory.
bool readPngRows(png_structp png, png_infop info, const char* path, GreyImage& image,
                 std::uint8_t** rows, char* reason, std::size_t size) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (tooManySamples(width, height, path, reason, size)) return false;
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_alpha(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const bool wide = png_get_bit_depth(png, info) == 16;
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    if (channels != 1 && channels != 3) {
        return refuse(reason, size, path, "PNG of %d channels after decoding", channels);
    }
    image.samples = new (std::nothrow) std::uint16_t[static_cast<std::size_t>(width) * height];
    // Interlaced rows are complete only after the last pass: the whole image is kept then.
    const std::size_t kept = passes > 1 ? height : 1;
    *rows = new (std::nothrow) std::uint8_t[rowBytes * kept];
    if (image.samples == nullptr || *rows == nullptr) {
        return refuse(reason, size, path, "no memory for %u x %u samples", width, height);
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, *rows + (passes > 1 ? y * rowBytes : 0), nullptr);
            if (passes == 1) {
                greyRow(*rows, static_cast<int>(width), channels, wide, image.samples + y * width);
            }
        }
    }
    if (passes > 1) {
        for (png_uint_32 y = 0; y < height; ++y) {
            greyRow(*rows + y * rowBytes, static_cast<int>(width), channels, wide,
                    image.samples + y * width);
        }
    }
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    image.maxValue = wide ? 65535 : 255;
    return true;
}

bool readGreyPng(const char* path, std::FILE* file, GreyImage& image, char* reason,
                 std::size_t size) {
    PngRead read = {};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngFailed, pngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return refuse(reason, size, path, "no memory for the PNG reader");
    }
    std::rewind(file);
    png_init_io(png, file);
    std::uint8_t* rows = nullptr;
    reason[0] = '\0';
    const bool ok = readPngRows(png, info, path, image, &rows, reason, size);
    png_destroy_read_struct(&png, &info, nullptr);
    delete[] rows;
    if (ok) return true;
    delete[] image.samples;
    image = GreyImage{};
    if (reason[0] == '\0') refuse(reason, size, path, "not a readable PNG (%s)", read.message);
    return false;
}
#endif

}  // namespace

std::uint32_t greyOf(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    const std::uint32_t weighed = GREY_WEIGHT_RED * red + GREY_WEIGHT_GREEN * green +
                                  GREY_WEIGHT_BLUE * blue;
    return (weighed + 500) / 1000;
}

void freeGreyImage(GreyImage& image) {
    delete[] image.samples;
    image = GreyImage{};
}

bool readGreyImage(const char* path, GreyImage& image, char* reason, std::size_t reasonSize) {
    freeGreyImage(image);
    char ignored[IMAGE_REASON_MAX];
    if (reason == nullptr || reasonSize == 0) {
        reason = ignored;
        reasonSize = sizeof ignored;
    }
    reason[0] = '\0';
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return refuse(reason, reasonSize, path, "cannot open it (%s)", std::strerror(errno));
    }
    std::uint8_t signature[sizeof PNG_SIGNATURE] = {};
    const bool png = std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
                     std::memcmp(signature, PNG_SIGNATURE, sizeof signature) == 0;
    bool ok;
    if (png) {
#if VORL_HAVE_PNG
        ok = readGreyPng(path, file, image, reason, reasonSize);
#else
        ok = refuse(reason, reasonSize, path, "a PNG, which this build cannot read (TGA only)");
#endif
    } else {
        ok = readGreyTga(path, file, image, reason, reasonSize);
    }
    std::fclose(file);
    return ok;
}
