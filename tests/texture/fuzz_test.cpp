// Mutation fuzzing of the image reader: thousands of valid files with random bytes changed,
// inserted, removed or cut off. Nothing may crash, read or write out of bounds (the sanitizer
// build checks that), and whatever is accepted must be a consistent image.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "tests/texture/tga_files.h"
#include "texture/image.h"

namespace {

std::vector<Bytes> seedFiles() {
    std::vector<Bytes> seeds;
    seeds.push_back(gradientImage(8, 4));

    TgaLayout mapped;
    mapped.imageType = 9;
    mapped.mapType = 1;
    mapped.mapLength = 4;
    mapped.mapEntryBits = 24;
    mapped.bitsPerPixel = 8;
    mapped.width = 4;
    mapped.height = 4;
    mapped.idLength = 3;
    Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    append(payload, {0x83, 1, 0x02, 0, 2, 3, 0x88, 3});
    seeds.push_back(tgaFile(mapped, payload));

    TgaLayout rle32;
    rle32.imageType = 10;
    rle32.bitsPerPixel = 32;
    rle32.width = 4;
    rle32.height = 2;
    rle32.mapType = 1;
    rle32.mapLength = 2;
    rle32.mapEntryBits = 16;
    seeds.push_back(tgaFile(rle32, {9, 9, 9, 9, 0x85, 1, 2, 3, 4, 0x01, 5, 6, 7, 8, 9, 10, 11, 12}));

    TgaLayout grey;
    grey.imageType = 11;
    grey.bitsPerPixel = 8;
    grey.width = 16;
    grey.height = 2;
    seeds.push_back(tgaFile(grey, {0x8F, 10, 0x0F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));

    TgaLayout shallow;
    shallow.bitsPerPixel = 16;
    shallow.width = 2;
    shallow.height = 2;
    seeds.push_back(tgaFile(shallow, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03}));
    return seeds;
}

void mutate(Bytes& file, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
        std::size_t at = file.empty() ? 0 : rng() % file.size();
        switch (rng() % 8) {
        case 0:
            if (!file.empty()) file.resize(at);          // cut off
            break;
        case 1:
            file.insert(file.begin() + static_cast<long>(at), static_cast<std::uint8_t>(byte(rng)));
            break;
        case 2:
            if (!file.empty()) file.erase(file.begin() + static_cast<long>(at));
            break;
        case 3:
            // Header fields are where the interesting lies are told.
            if (file.size() > 18) file[rng() % 18] = static_cast<std::uint8_t>(byte(rng));
            break;
        case 4:
            if (!file.empty()) file[at] = static_cast<std::uint8_t>(0xFF);
            break;
        default:
            if (!file.empty()) file[at] = static_cast<std::uint8_t>(byte(rng));
            break;
        }
    }
}

}  // namespace

TEST(ImageFuzz, RandomMutationsNeverCrash) {
    ScratchDir dir;
    TextureMessageRecorder messages;
    std::vector<Bytes> seeds = seedFiles();
    std::mt19937 rng(20240607u);
    int accepted = 0, textures = 0;
    auto started = std::chrono::steady_clock::now();
    const int runs = 4000;
    for (int run = 0; run < runs; ++run) {
        Bytes file = seeds[static_cast<std::size_t>(run) % seeds.size()];
        mutate(file, rng);
        std::string path = dir.write("fuzz.tga", file);

        int width = 0, height = 0;
        std::uint32_t* texels = nullptr;
        if (readImageFile(path.c_str(), &width, &height, &texels)) {
            ++accepted;
            ASSERT_NE(texels, nullptr);
            ASSERT_GT(width, 0);
            ASSERT_GT(height, 0);
            // Touch every texel: the buffer must really hold width x height of them.
            std::uint32_t sum = 0;
            for (long i = 0; i < long(width) * height; ++i) sum += texels[i];
            (void)sum;
            delete[] texels;
        } else {
            EXPECT_EQ(texels, nullptr);
        }
        TextureInfo info{};
        if (loadTextureImage(path.c_str(), info, TEXEL_RGB_565, (run & 1) ? -1 : 127, run % 3 != 0)) {
            ++textures;
            EXPECT_GT(vxTexMemRequired(VX_LEVELS_BOTH, &info), 0u) << "the rasterizer takes it";
            delete[] static_cast<std::uint16_t*>(info.data);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The mutations keep some files valid, so both paths are exercised.
    EXPECT_GT(accepted, runs / 20);
    EXPECT_GT(textures, 0);
    RecordProperty("accepted", accepted);
    std::printf("fuzz: %d runs, %d accepted, %d textures, %.2f s\n", runs, accepted, textures, seconds);
}
