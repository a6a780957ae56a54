// Fuzz target of the TGA reader and texture builder (texture/image.h) and the download into
// texture memory (vexa/vexa.h); the input is an image file. Whatever the reader accepts the
// builder turns into RGB 5-6-5 and ARGB 4-4-4-4 textures (with and without mipmaps) or reports
// once as an unusable size, and the rasterizer takes them at both ends of its memory and holds
// them byte for byte, each level parity alone included.
#include <memory>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "texture/image.h"
#include "vexa/vexa.h"

namespace {

std::string inputPath;
int reports;

void countReport(const char*, ...) { ++reports; }

bool powerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

int log2Of(int v) {
    int n = 0;
    while ((1 << n) < v) ++n;
    return n;
}

// Texels of each level, largest first: what the texture's data holds, level after level.
std::vector<std::uint32_t> levelTexels(const TextureInfo& info) {
    std::vector<std::uint32_t> out;
    for (int lod = info.largeLod; lod >= info.smallLod; --lod) {
        const int shorter = lod - std::abs(info.aspect);
        const std::uint32_t longer = 1u << lod;
        out.push_back(longer * (shorter >= 0 ? 1u << shorter : 1u));
    }
    return out;
}

// The texture must fit the unit at its lowest and highest address and not one step past that;
// what lands there must be the data's levels of the chosen parity, in order.
void checkDownload(const TextureInfo& info, int levels, const char* what) {
    const std::vector<std::uint32_t> texels = levelTexels(info);
    const auto* data = static_cast<const std::uint8_t*>(info.data);
    std::vector<std::uint8_t> expected;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < texels.size(); ++i) {
        const int lod = info.largeLod - int(i);
        const std::size_t bytes = std::size_t(texels[i]) * 2;
        const bool stored = (lod % 2 == 0) ? (levels & VX_LEVELS_EVEN) : (levels & VX_LEVELS_ODD);
        if (stored) expected.insert(expected.end(), data + offset, data + offset + bytes);
        offset += bytes;
    }
    const std::uint32_t required = vxTexMemRequired(levels, &info);
    FUZZ_CHECK(required % 8 == 0 && required >= expected.size() && required < expected.size() + 8,
               "%s levels %d: %u bytes required for %zu bytes of texels", what, levels,
               unsigned(required), expected.size());
    if (required == 0) return;   // one parity of a single level may store nothing

    const std::uint32_t low = vxTexMinAddress(0);
    const std::uint32_t end = vxTexMaxAddress(0) + 8;
    const std::uint32_t high = end - required;
    std::vector<std::uint8_t> back(expected.size());
    for (std::uint32_t address : {low, high}) {
        FUZZ_CHECK(vxTexDownload(0, address, levels, &info),
                   "%s levels %d: refused at %u (%u bytes)", what, levels, unsigned(address),
                   unsigned(required));
        FUZZ_CHECK(expected.empty() ||
                       vxTexReadMemory(0, address, std::uint32_t(back.size()), back.data()),
                   "%s levels %d: cannot read back at %u", what, levels, unsigned(address));
        FUZZ_CHECK(back == expected, "%s levels %d: texture memory at %u differs from the data",
                   what, levels, unsigned(address));
    }
    FUZZ_CHECK(!vxTexDownload(0, high + 8, levels, &info),
               "%s levels %d: taken at %u, past the end of the memory", what, levels,
               unsigned(high + 8));
}

void checkTexture(int width, int height, int format, bool mipmaps) {
    const char* what = format == TEXEL_RGB_565 ? (mipmaps ? "565 mipmapped" : "565")
                                               : (mipmaps ? "4444 mipmapped" : "4444");
    TextureInfo info = {};
    info.data = nullptr;
    reports = 0;
    const bool usable = width <= IMAGE_MAX_SIDE && height <= IMAGE_MAX_SIDE &&
                        powerOfTwo(width) && powerOfTwo(height) &&
                        std::abs(log2Of(width) - log2Of(height)) <= IMAGE_MAX_ASPECT_LOG2;
    const bool built = loadTextureImage(inputPath.c_str(), info, format, -1, mipmaps);
    FUZZ_CHECK(built == usable, "%s: a %dx%d image was %s", what, width, height,
               built ? "built" : "refused");
    if (!built) {
        FUZZ_CHECK(reports == 1, "%s: a %dx%d image refused with %d reports", what, width,
                   height, reports);
        FUZZ_CHECK(info.data == nullptr, "%s: a refused texture has data", what);
        return;
    }
    std::unique_ptr<std::uint16_t[]> owned(static_cast<std::uint16_t*>(info.data));
    const int lw = log2Of(width), lh = log2Of(height);
    const int largest = lw > lh ? lw : lh;
    FUZZ_CHECK(info.format == format && info.largeLod == largest &&
                   info.smallLod == (mipmaps ? 0 : largest) && info.aspect == lw - lh,
               "%s: a %dx%d image became format %d, levels %d..%d, aspect %d", what, width,
               height, int(info.format), int(info.smallLod), int(info.largeLod),
               int(info.aspect));
    for (int levels : {VX_LEVELS_BOTH, VX_LEVELS_EVEN, VX_LEVELS_ODD}) {
        checkDownload(info, levels, what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzKeepLog();
    inputPath = fuzzScratchFolder("image") + "/input.tga";
    setenv("VEXA_THREADS", "1", 0);
    vxInit();
    std::atexit(vxShutdown);   // the workers are joined before the statics go
    if (!vxSelectDevice(0)) {
        std::fprintf(stderr, "the rasterizer has no device 0\n");
        std::exit(1);
    }
    textureReport = countReport;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzzWriteFile(inputPath, data, size)) return 0;
    int width = 0, height = 0;
    std::uint32_t* texels = nullptr;
    if (!readImageFile(inputPath.c_str(), &width, &height, &texels)) {
        FUZZ_CHECK(texels == nullptr, "a refused image left texels");
        // The builder reads through the same reader: it must refuse too, and say nothing.
        TextureInfo info = {};
        reports = 0;
        FUZZ_CHECK(!loadTextureImage(inputPath.c_str(), info, TEXEL_RGB_565, -1, true),
                   "the builder took an image the reader refused");
        FUZZ_CHECK(reports == 0, "an unreadable file was reported %d times", reports);
        return 0;
    }
    std::unique_ptr<std::uint32_t[]> image(texels);
    FUZZ_CHECK(texels != nullptr && width > 0 && height > 0 && width <= 0xFFFF &&
                   height <= 0xFFFF &&
                   std::uint64_t(width) * std::uint64_t(height) <= IMAGE_READ_MAX_TEXELS,
               "an accepted image is %dx%d", width, height);
    for (int format : {int(TEXEL_RGB_565), int(TEXEL_ARGB_4444)}) {
        for (bool mipmaps : {false, true}) checkTexture(width, height, format, mipmaps);
    }
    return 0;
}
