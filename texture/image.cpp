// Image file reader: TGA types 1, 2, 3 and their run-length forms 9, 10, 11 at 8, 16, 24 and
// 32 bits into 32-bit texels, and the mipmapped 16-bit textures built from them.
// Entry points: readImageFile, loadTextureImage. Reads files from anywhere, so every count
// from the header is checked before it sizes an allocation or bounds a loop, and every
// refusal says why, with the file's name.
#include "texture/image.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

TextureReport textureReport;

namespace {

constexpr int TGA_HEADER_SIZE = 18;
constexpr int TGA_TYPE_MAPPED = 1;
constexpr int TGA_TYPE_RLE_BIT = 8;
constexpr std::uint32_t TEXEL_OPAQUE = 0xFF000000u;
// Index past the end of the colour map: opaque black, so a bad index is visible but harmless.
constexpr std::uint32_t TEXEL_BAD_INDEX = TEXEL_OPAQUE;

struct TgaHeader {
    int idLength;
    int mapType;
    int imageType;
    int mapLength;
    int mapEntryBits;
    int width;
    int height;
    int bitsPerPixel;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

bool readBytes(std::FILE* file, void* dst, std::size_t bytes) {
    return bytes == 0 || std::fread(dst, 1, bytes, file) == bytes;
}

// Skips by reading, so that a file shorter than its header promises fails here.
bool skipBytes(std::FILE* file, std::uint64_t bytes) {
    std::uint8_t scratch[1024];
    while (bytes > 0) {
        std::size_t chunk = bytes < sizeof scratch ? static_cast<std::size_t>(bytes) : sizeof scratch;
        if (!readBytes(file, scratch, chunk)) return false;
        bytes -= chunk;
    }
    return true;
}

// Bytes left between the position and the end, or -1 when the stream cannot tell.
long long bytesLeft(std::FILE* file) {
    long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(file);
    if (end < 0 || std::fseek(file, here, SEEK_SET) != 0) return -1;
    return end - here;
}

TgaHeader parseHeader(const std::uint8_t* h) {
    TgaHeader header;
    header.idLength = h[0];
    header.mapType = h[1];
    header.imageType = h[2];
    header.mapLength = h[5] | (h[6] << 8);
    header.mapEntryBits = h[7];
    header.width = h[12] | (h[13] << 8);
    header.height = h[14] | (h[15] << 8);
    header.bitsPerPixel = h[16];
    return header;
}

// Where a refusal's reason goes: "path: what", or nowhere when the caller asked for none.
struct Refusal {
    const char* path;
    char* text;
    std::size_t size;
};

bool refuse(const Refusal& r, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool refuse(const Refusal& r, const char* format, ...) {
    if (r.text == nullptr || r.size == 0) return false;
    const int used = std::snprintf(r.text, r.size, "%s: ", r.path);
    if (used < 0 || static_cast<std::size_t>(used) >= r.size) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(r.text + used, r.size - static_cast<std::size_t>(used), format, args);
    va_end(args);
    return false;
}

// Types 1, 2, 3 and 9, 10, 11; depths 8, 16, 24, 32; colour-mapped images 8 bits with a
// map of 24-bit entries; no side of 0 and no more texels than the reader decodes. False with
// the reason otherwise.
bool headerUsable(const TgaHeader& header, const Refusal& refusal) {
    int baseType = header.imageType & ~TGA_TYPE_RLE_BIT;
    if (baseType < 1 || baseType > 3) {
        return refuse(refusal, "TGA image type %d is not supported (only colour-mapped, true-colour "
                               "and grey images, raw or run-length)", header.imageType);
    }
    int bits = header.bitsPerPixel;
    if (baseType == TGA_TYPE_MAPPED && bits != 8) {
        return refuse(refusal, "%d-bit colour-mapped images are not supported", bits);
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return refuse(refusal, "%d-bit pixels are not supported (8, 16, 24 or 32)", bits);
    }
    if (header.width == 0 || header.height == 0) {
        return refuse(refusal, "the image is %d x %d pixels: a side of 0", header.width,
                      header.height);
    }
    std::uint64_t texels = static_cast<std::uint64_t>(header.width) *
                           static_cast<std::uint64_t>(header.height);
    if (texels > IMAGE_READ_MAX_TEXELS) {
        return refuse(refusal, "the image is %d x %d pixels, more than the reader takes (%llu)",
                      header.width, header.height,
                      static_cast<unsigned long long>(IMAGE_READ_MAX_TEXELS));
    }
    if (baseType == TGA_TYPE_MAPPED && header.mapType == 0) {
        return refuse(refusal, "a colour-mapped image without a colour map");
    }
    if (baseType == TGA_TYPE_MAPPED && header.mapEntryBits != 24) {
        return refuse(refusal, "colour maps of %d-bit entries are not supported (24)",
                      header.mapEntryBits);
    }
    return true;
}

// Smallest number of pixel-data bytes that can describe the image: refuses files far too
// short for their header before anything is allocated for them.
std::uint64_t minimumPixelBytes(const TgaHeader& header) {
    std::uint64_t texels = static_cast<std::uint64_t>(header.width) *
                           static_cast<std::uint64_t>(header.height);
    std::uint64_t pixelBytes = static_cast<std::uint64_t>(header.bitsPerPixel / 8);
    if ((header.imageType & TGA_TYPE_RLE_BIT) == 0) return texels * pixelBytes;
    return (texels + 127) / 128 * (1 + pixelBytes);
}

// Run-length packets until `pixels` pixels are decoded; a packet that runs past the last
// pixel is cut there, so the output buffer is never overrun.
bool decodeRunLength(std::FILE* file, std::uint8_t* raw, std::uint64_t pixels, int pixelBytes) {
    std::uint64_t produced = 0;
    while (produced < pixels) {
        std::uint8_t packet;
        if (!readBytes(file, &packet, 1)) return false;
        std::uint64_t count = static_cast<std::uint64_t>(packet & 0x7F) + 1;
        if (count > pixels - produced) count = pixels - produced;
        std::uint8_t* dst = raw + produced * pixelBytes;
        if (packet & 0x80) {
            if (!readBytes(file, dst, pixelBytes)) return false;
            for (std::uint64_t i = 1; i < count; ++i)
                std::memcpy(dst + i * pixelBytes, dst, pixelBytes);
        } else if (!readBytes(file, dst, static_cast<std::size_t>(count * pixelBytes))) {
            return false;
        }
        produced += count;
    }
    return true;
}

void expandPixels(const TgaHeader& header, const std::uint8_t* raw, std::uint64_t pixels,
                  const std::uint32_t* palette, int paletteLength, std::uint32_t* texels) {
    bool mapped = (header.imageType & ~TGA_TYPE_RLE_BIT) == TGA_TYPE_MAPPED;
    for (std::uint64_t i = 0; i < pixels; ++i) {
        std::uint32_t texel;
        switch (header.bitsPerPixel) {
        case 8: {
            std::uint32_t v = raw[i];
            if (mapped)
                texel = static_cast<int>(v) < paletteLength ? palette[v] : TEXEL_BAD_INDEX;
            else
                texel = TEXEL_OPAQUE | (v << 16) | (v << 8) | v;
            break;
        }
        case 16: {
            std::uint32_t v = raw[2 * i] | (raw[2 * i + 1] << 8);
            std::uint32_t blue = (v & 0x1F) * 8;
            std::uint32_t green = ((v >> 5) & 0x1F) * 8;
            std::uint32_t red = ((v >> 10) & 0x1F) * 8;
            texel = TEXEL_OPAQUE | (red << 16) | (green << 8) | blue;
            break;
        }
        case 24: {
            const std::uint8_t* p = raw + 3 * i;
            texel = TEXEL_OPAQUE | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            break;
        }
        default: {
            const std::uint8_t* p = raw + 4 * i;
            texel = (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) |
                    (std::uint32_t(p[1]) << 8) | p[0];
            break;
        }
        }
        texels[i] = texel;
    }
}

bool isPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

int log2Of(int v) {
    int n = 0;
    while ((1 << n) < v) ++n;
    return n;
}

}  // namespace

// Colour maps longer than 256 entries: the first 256 are kept and the rest skipped.
// Colour maps announced by true-colour and grey images are skipped, never read as pixels.
bool readImageFile(const char* path, int* width, int* height, std::uint32_t** texels,
                   char* reason, std::size_t reasonSize) {
    const Refusal refusal = {path, reason, reasonSize};
    FileHandle file(std::fopen(path, "rb"));
    if (!file) {
        // Windows refuses to open a folder at all ("permission denied"): name it as a folder
        // there too, as its first read does elsewhere.
        const int error = errno;
        std::error_code ignored;
        if (std::filesystem::is_directory(path, ignored)) {
            return refuse(refusal, "it is a folder, not a file");
        }
        return refuse(refusal, "cannot open it (%s)", std::strerror(error));
    }

    std::uint8_t raw[TGA_HEADER_SIZE];
    errno = 0;
    if (!readBytes(file.get(), raw, TGA_HEADER_SIZE)) {
        // A read that fails is not a short file: a folder opens as a file on some systems
        // and only its first read says what it is.
        if (std::ferror(file.get())) {
            if (errno == EISDIR) return refuse(refusal, "it is a folder, not a file");
            return refuse(refusal, "cannot read it (%s)", std::strerror(errno != 0 ? errno : EIO));
        }
        return refuse(refusal, "shorter than a TGA header (%d bytes)", TGA_HEADER_SIZE);
    }
    TgaHeader header = parseHeader(raw);
    if (!headerUsable(header, refusal)) return false;
    if (!skipBytes(file.get(), static_cast<std::uint64_t>(header.idLength))) {
        return refuse(refusal, "cut short in its image identification field");
    }

    std::uint32_t palette[IMAGE_MAX_PALETTE];
    int paletteLength = 0;
    bool mapped = (header.imageType & ~TGA_TYPE_RLE_BIT) == TGA_TYPE_MAPPED;
    if (mapped) {
        paletteLength = header.mapLength < IMAGE_MAX_PALETTE ? header.mapLength : IMAGE_MAX_PALETTE;
        for (int i = 0; i < paletteLength; ++i) {
            std::uint8_t entry[3];
            if (!readBytes(file.get(), entry, 3)) return refuse(refusal, "cut short in its colour map");
            palette[i] = TEXEL_OPAQUE | (std::uint32_t(entry[2]) << 16) |
                         (std::uint32_t(entry[1]) << 8) | entry[0];
        }
        if (!skipBytes(file.get(), static_cast<std::uint64_t>(header.mapLength - paletteLength) * 3))
            return refuse(refusal, "cut short in its colour map");
    } else if (header.mapType != 0) {
        std::uint64_t entryBytes = (static_cast<std::uint64_t>(header.mapEntryBits) + 7) / 8;
        if (!skipBytes(file.get(), entryBytes * static_cast<std::uint64_t>(header.mapLength)))
            return refuse(refusal, "cut short in its colour map");
    }

    std::uint64_t pixels = static_cast<std::uint64_t>(header.width) *
                           static_cast<std::uint64_t>(header.height);
    long long left = bytesLeft(file.get());
    if (left >= 0 && static_cast<std::uint64_t>(left) < minimumPixelBytes(header)) {
        return refuse(refusal, "cut short: %lld bytes of pixel data for %d x %d pixels", left,
                      header.width, header.height);
    }

    int pixelBytes = header.bitsPerPixel / 8;
    std::unique_ptr<std::uint32_t[]> out(new (std::nothrow) std::uint32_t[pixels]);
    std::unique_ptr<std::uint8_t[]> pixelData(new (std::nothrow) std::uint8_t[pixels * pixelBytes]);
    if (!out || !pixelData) {
        return refuse(refusal, "no memory for %d x %d pixels", header.width, header.height);
    }

    if (header.imageType & TGA_TYPE_RLE_BIT) {
        if (!decodeRunLength(file.get(), pixelData.get(), pixels, pixelBytes)) {
            return refuse(refusal, "cut short in its run-length pixel data");
        }
    } else if (!readBytes(file.get(), pixelData.get(), static_cast<std::size_t>(pixels * pixelBytes))) {
        return refuse(refusal, "cut short in its pixel data");
    }
    file.reset();

    expandPixels(header, pixelData.get(), pixels, palette, paletteLength, out.get());
    *width = header.width;
    *height = header.height;
    *texels = out.release();
    return true;
}

// Sides must be powers of two up to 256 with a ratio of at most 8:1; anything else is
// reported with its size and refused.
bool loadTextureImage(const char* path, TextureInfo& info, int format, int alphaOverride,
                      bool mipmaps, char* reason, std::size_t reasonSize) {
    const Refusal refusal = {path, reason, reasonSize};
    int width = 0, height = 0;
    std::uint32_t* imageTexels = nullptr;
    if (!readImageFile(path, &width, &height, &imageTexels, reason, reasonSize)) return false;
    std::unique_ptr<std::uint32_t[]> image(imageTexels);

    int lw = log2Of(width), lh = log2Of(height);
    if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE || !isPowerOfTwo(width) ||
        !isPowerOfTwo(height) || lw - lh > IMAGE_MAX_ASPECT_LOG2 ||
        lh - lw > IMAGE_MAX_ASPECT_LOG2) {
        if (textureReport) textureReport("can't handle this texture (%dx%d)\n", width, height);
        return refuse(refusal, "a texture of %d x %d: sides must be powers of two up to %d, "
                               "neither more than %d times the other", width, height,
                      IMAGE_MAX_SIDE, 1 << IMAGE_MAX_ASPECT_LOG2);
    }
    int largest = lw > lh ? lw : lh;
    int extraLevels = mipmaps ? largest : 0;

    std::size_t baseTexels = static_cast<std::size_t>(width) * height;
    if (alphaOverride >= 0) {
        std::uint32_t alpha = static_cast<std::uint32_t>(alphaOverride & 0xFF) << 24;
        for (std::size_t i = 0; i < baseTexels; ++i) image[i] = (image[i] & 0x00FFFFFFu) | alpha;
    }

    std::size_t total = baseTexels;
    for (int h = 1; h <= extraLevels; ++h) {
        std::size_t w = width >> h ? width >> h : 1, v = height >> h ? height >> h : 1;
        total += w * v;
    }
    std::unique_ptr<std::uint32_t[]> work(new (std::nothrow) std::uint32_t[total]);
    std::unique_ptr<std::uint16_t[]> output(new (std::nothrow) std::uint16_t[total]);
    if (!work || !output) return refuse(refusal, "no memory for its texture levels");
    std::memcpy(work.get(), image.get(), baseTexels * sizeof(std::uint32_t));

    // Every level averages its block of the base level directly, so rounding does not pile
    // up from one level to the next.
    std::uint32_t* level = work.get() + baseTexels;
    for (int h = 1; h <= extraLevels; ++h) {
        int bx = h < lw ? h : lw, by = h < lh ? h : lh;
        int levelWidth = width >> h ? width >> h : 1, levelHeight = height >> h ? height >> h : 1;
        for (int y = 0; y < levelHeight; ++y) {
            for (int x = 0; x < levelWidth; ++x) {
                std::uint32_t sum[4] = {0, 0, 0, 0};
                for (int row = 0; row < (1 << by); ++row) {
                    const std::uint32_t* src =
                        image.get() + static_cast<std::size_t>((y << by) + row) * width + (x << bx);
                    for (int col = 0; col < (1 << bx); ++col) {
                        std::uint32_t t = src[col];
                        sum[0] += t & 0xFF;
                        sum[1] += (t >> 8) & 0xFF;
                        sum[2] += (t >> 16) & 0xFF;
                        sum[3] += t >> 24;
                    }
                }
                int shift = bx + by;
                level[y * levelWidth + x] = (sum[0] >> shift) | ((sum[1] >> shift) << 8) |
                                            ((sum[2] >> shift) << 16) | ((sum[3] >> shift) << 24);
            }
        }
        level += static_cast<std::size_t>(levelWidth) * levelHeight;
    }

    if (format != TEXEL_ARGB_4444 && format != TEXEL_ALPHA_INTENSITY_88) format = TEXEL_RGB_565;
    for (std::size_t i = 0; i < total; ++i) {
        std::uint32_t t = work[i];
        std::uint32_t blue = t & 0xFF, green = (t >> 8) & 0xFF, red = (t >> 16) & 0xFF, alpha = t >> 24;
        std::uint32_t packed;
        if (format == TEXEL_ARGB_4444)
            packed = ((alpha >> 4) << 12) | ((red >> 4) << 8) | ((green >> 4) << 4) | (blue >> 4);
        else if (format == TEXEL_ALPHA_INTENSITY_88)
            packed = (alpha << 8) | red;
        else
            packed = ((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3);
        output[i] = static_cast<std::uint16_t>(packed);
    }

    info.largeLod = largest;
    info.smallLod = largest - extraLevels;
    info.aspect = lw - lh;
    info.format = format;
    info.data = output.release();
    return true;
}
