// Pictures saved by the program (screen captures) and by the platform (the last frame):
// 24-bit pixels, blue green red, bottom row first, written as an uncompressed TGA or, under
// --png, as an 8-bit RGB PNG through libpng. Either way the file goes through SaveFile, so a
// picture of that name is either whole or as it was before.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"

#if VORL_HAVE_PNG
#include <png.h>
#endif

namespace {

constexpr int TGA_HEADER_BYTES = 18;
constexpr int TGA_TYPE_TRUECOLOR = 2;

void setReason(char* reason, std::size_t reasonSize, const char* text) {
    if (reason != nullptr && reasonSize > 0) std::snprintf(reason, reasonSize, "%s", text);
}

bool finishSave(SaveFile& save, bool ok, char* reason, std::size_t reasonSize) {
    if (ok && saveFileCommit(save)) return true;
    saveFileAbandon(save);
    setReason(reason, reasonSize, save.reason);
    return false;
}

bool saveTga(SaveFile& save, const std::uint8_t* bgrBottomUp, int width, int height) {
    std::uint8_t header[TGA_HEADER_BYTES] = {};
    header[2] = TGA_TYPE_TRUECOLOR;
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = 24;   // bits per pixel; descriptor 0: rows bottom-up, no alpha
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
    return saveFileWrite(save, header, sizeof header) && saveFileWrite(save, bgrBottomUp, bytes);
}

#if VORL_HAVE_PNG
// zlib's level 3 packs a frame nearly as tightly as its default and takes half the time, which
// counts when a burst captures every frame.
constexpr int PNG_COMPRESSION_LEVEL = 3;

struct PngWrite {
    SaveFile* save;
    char message[SAVE_REASON_MAX];
};

[[noreturn]] void pngFailed(png_structp png, png_const_charp message) {
    PngWrite* write = static_cast<PngWrite*>(png_get_error_ptr(png));
    std::snprintf(write->message, sizeof write->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngWriteBytes(png_structp png, png_bytep bytes, png_size_t size) {
    PngWrite* write = static_cast<PngWrite*>(png_get_io_ptr(png));
    // The save keeps the write's own reason ("No space left on device"); libpng only needs
    // to stop.
    if (!saveFileWrite(*write->save, bytes, size)) png_error(png, write->save->reason);
}

void pngFlush(png_structp) {}

// Everything that must survive libpng's long jump back here lives in the caller: the jump
// skips the destructors of this frame.
bool writePngRows(png_structp png, png_infop info, const std::uint8_t* bgrBottomUp, int width,
                  int height, std::uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, PNG_COMPRESSION_LEVEL);
    png_write_info(png, info);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        // PNG stores the top row first, red green blue.
        const std::uint8_t* src = bgrBottomUp + static_cast<std::size_t>(height - 1 - y) * rowBytes;
        for (std::size_t i = 0; i < rowBytes; i += 3) {
            row[i + 0] = src[i + 2];
            row[i + 1] = src[i + 1];
            row[i + 2] = src[i + 0];
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

bool savePng(SaveFile& save, const std::uint8_t* bgrBottomUp, int width, int height) {
    PngWrite write{&save, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &write, pngFailed,
                                              pngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(save.reason, sizeof save.reason, "out of memory for the PNG writer");
        return false;
    }
    png_set_write_fn(png, &write, pngWriteBytes, pngFlush);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    const bool ok = writePngRows(png, info, bgrBottomUp, width, height, row.data());
    png_destroy_write_struct(&png, &info);
    if (!ok && !save.failed) std::snprintf(save.reason, sizeof save.reason, "%s", write.message);
    return ok;
}
#endif

}  // namespace

const char* pictureExtension() { return platformOptions.png ? "png" : "tga"; }

bool savePicture(const char* path, const std::uint8_t* bgrBottomUp, int width, int height,
                 char* reason, std::size_t reasonSize) {
    if (bgrBottomUp == nullptr || width <= 0 || height <= 0) {
        setReason(reason, reasonSize, "there is no picture");
        return false;
    }
    if (width > 0xFFFF || height > 0xFFFF) {
        setReason(reason, reasonSize, "the picture is too large");
        return false;
    }
    SaveFile save;
    if (!saveFileBegin(save, path)) return finishSave(save, false, reason, reasonSize);
#if VORL_HAVE_PNG
    const bool ok = platformOptions.png ? savePng(save, bgrBottomUp, width, height)
                                        : saveTga(save, bgrBottomUp, width, height);
#else
    const bool ok = saveTga(save, bgrBottomUp, width, height);
#endif
    return finishSave(save, ok, reason, reasonSize);
}
