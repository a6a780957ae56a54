// Texture cache tests: placement at the start and the line, first fit in holes, LRU eviction,
// release, compaction, oversized and invalid textures, and a long random run against a model
// of the list that also checks the unit's memory holds each resident texture's texels.
#include "texture/cache.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "tests/texture/tga_files.h"
#include "tests/environment.h"

namespace {

constexpr std::uint32_t KB = 1024;

// Bytes of the levels of a shape, unrounded: what a download writes.
std::uint32_t rawBytes(const TextureInfo& info) {
    std::uint32_t total = 0;
    int aspect = info.aspect < 0 ? -info.aspect : info.aspect;
    int texelBytes = info.format == VX_TEXFMT_ALPHA_8 ? 1 : 2;
    for (int lod = info.largeLod; lod >= info.smallLod; --lod) {
        std::uint32_t shorter = lod >= aspect ? 1u << (lod - aspect) : 1u;
        total += (1u << lod) * shorter * texelBytes;
    }
    return total;
}

// A texture of the shape with new[]ed texels in a pattern of the seed (so that cacheRelease
// can free them).
void makeTexture(Texture& t, int smallLod, int largeLod, int aspect, std::uint32_t seed,
                 int format = VX_TEXFMT_RGB_565) {
    textureInit(t);
    t.info.smallLod = smallLod;
    t.info.largeLod = largeLod;
    t.info.aspect = aspect;
    t.info.format = format;
    std::uint32_t bytes = rawBytes(t.info);
    auto* texels = new std::uint16_t[bytes / 2 + 1];
    for (std::uint32_t i = 0; i < bytes / 2 + 1; ++i)
        texels[i] = static_cast<std::uint16_t>(seed * 2654435761u + i * 40503u);
    t.info.data = texels;
}

// Sizes in texture memory: one 5-6-5 level of side 2^lod is 2 * 4^lod bytes (8 at least).
std::uint32_t squareBytes(int lod) { return std::max(8u, 2u << (2 * lod)); }

// The unit's memory at the texture's address holds its texels, as the board reads them back.
bool memoryHolds(int unit, const Texture& t) {
    std::vector<std::uint8_t> memory(rawBytes(t.info));
    if (!vxTexReadMemory(unit, t.slot[unit].address, static_cast<std::uint32_t>(memory.size()),
                         memory.data())) {
        return false;
    }
    return std::memcmp(memory.data(), t.info.data, memory.size()) == 0;
}

// Overwrites `bytes` of the unit's memory from `address` with the byte `value`, through a
// download of a one-level alpha texture (bytes a power of two from 1 to 64 KB).
void scribble(int unit, std::uint32_t address, std::uint32_t bytes, std::uint8_t value) {
    int lod = 0;
    while ((1u << (2 * lod)) < bytes) ++lod;
    const int aspect = (1u << (2 * lod)) == bytes ? 0 : 1;   // 2^(2 lod - 1) bytes otherwise
    std::vector<std::uint8_t> texels(bytes, value);
    const TextureInfo info = {lod, lod, aspect, VX_TEXFMT_ALPHA_8, texels.data()};
    ASSERT_EQ(vxTexMemRequired(VX_LEVELS_BOTH, &info), bytes < 8 ? 8u : bytes);
    ASSERT_TRUE(vxTexDownload(unit, address, VX_LEVELS_BOTH, &info));
}

// The list's invariants: address order and links, only resident textures, no overlap, within
// bounds, nothing across the line, and the gap count equal to the holes.
void checkInvariants(const TextureCache& cache, std::uint64_t start, std::uint64_t end,
                     std::uint64_t line) {
    int unit = cache.unit;
    const Texture* previous = nullptr;
    int holes = 0;
    for (const Texture* t = cache.first; t; t = t->slot[unit].next) {
        const TextureSlot& s = t->slot[unit];
        ASSERT_TRUE(s.resident);
        ASSERT_EQ(s.previous, previous);
        ASSERT_GE(s.address, start);
        ASSERT_LE(std::uint64_t(s.address) + t->size, end);
        ASSERT_FALSE(s.address < line && std::uint64_t(s.address) + t->size > line)
            << "texture at " << s.address << " crosses the line";
        if (previous) {
            std::uint64_t previousEnd = std::uint64_t(previous->slot[unit].address) + previous->size;
            ASSERT_LE(previousEnd, s.address) << "overlap";
            if (previousEnd < s.address) ++holes;
        }
        previous = t;
    }
    ASSERT_EQ(cache.last, previous);
    ASSERT_EQ(cache.gapCount, holes);
}

class TextureCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        vxInit();
        ASSERT_TRUE(vxSelectDevice(0));
        cacheInitForUnit(cache, 0);
    }
    void TearDown() override {
        for (Texture& t : textures)
            if (t.info.data) cacheRelease(cache, t);
        vxShutdown();
        unsetenv("VEXA_TEXMEM");
    }
    Texture& add(int smallLod, int largeLod, int aspect = 0) {
        textures.emplace_back();
        makeTexture(textures.back(), smallLod, largeLod, aspect,
                    static_cast<std::uint32_t>(textures.size()));
        return textures.back();
    }
    Texture& square(int lod) { return add(lod, lod); }
    // A small memory for the fixture's cache (the unit's real memory is larger).
    void useMemory(std::uint32_t start, std::uint32_t end, std::uint32_t line) {
        cacheInit(cache, 0, start, end, line);
    }
    void check() { checkInvariants(cache, cache.memoryStart, cache.memoryEnd, cache.line); }
    TextureMessageRecorder messages;
    TextureCache cache{};
    std::deque<Texture> textures;   // stable addresses: the lists point into it
};

}  // namespace

TEST_F(TextureCacheTest, FirstLoadGoesToStartOrLine) {
    Texture& a = square(8);
    cacheLoad(cache, a);
    EXPECT_EQ(a.slot[0].address, vxTexMinAddress(0));
    EXPECT_EQ(a.size, squareBytes(8));
    EXPECT_TRUE(memoryHolds(0, a));
    EXPECT_EQ(cache.useClock, 1u);
    check();

    // With the line 64 bytes above the start, a 128-byte texture cannot start below it.
    TextureCache other{};
    cacheInit(other, 0, 256, 4096, 320);
    Texture& b = square(3);
    cacheLoad(other, b);
    EXPECT_EQ(b.slot[0].address, 320u);
    checkInvariants(other, 256, 4096, 320);
    cacheRelease(other, b);
}

TEST_F(TextureCacheTest, TextureThatWouldStraddleLineMovesUpLeavingHole) {
    for (int i = 0; i < 15; ++i) cacheLoad(cache, square(8));   // 15 x 128 KB below the line
    Texture& chain = add(0, 8);
    cacheLoad(cache, chain);
    EXPECT_EQ(chain.slot[0].address, TEXTURE_LINE);
    EXPECT_EQ(cache.gapCount, 1);
    EXPECT_TRUE(memoryHolds(0, chain));
    check();
}

TEST_F(TextureCacheTest, BindResidentOnlyStampsAndAdvancesClock) {
    Texture& a = square(4);
    Texture& b = square(4);
    EXPECT_EQ(cacheBind(cache, a), 1) << "loaded on first bind";
    cacheLoad(cache, b);
    std::uint32_t clock = cache.useClock;
    // Scribble over a's memory: a bind of a resident texture must not download it again.
    scribble(0, a.slot[0].address, a.size, 0xAB);
    EXPECT_EQ(cacheBind(cache, a), 0);
    EXPECT_EQ(cache.useClock, clock + 1);
    EXPECT_EQ(a.slot[0].lastUse, clock);
    EXPECT_FALSE(memoryHolds(0, a));
    cacheRefresh(cache, a);
    EXPECT_TRUE(memoryHolds(0, a)) << "refresh downloads again at the same address";
    EXPECT_EQ(cache.useClock, clock + 1);
    check();
}

TEST_F(TextureCacheTest, FullMemoryReplacesLeastRecentlyUsed) {
    useMemory(0, 6 * KB, 64 * KB);
    Texture& a = square(5);          // 2 KB each: memory full with three
    Texture& b = square(5);
    Texture& c = square(5);
    cacheLoad(cache, a);
    cacheLoad(cache, b);
    cacheLoad(cache, c);
    cacheBind(cache, a);             // b is now the least recently used
    Texture& d = square(4);          // 512 bytes
    cacheLoad(cache, d);
    EXPECT_FALSE(b.slot[0].resident);
    EXPECT_EQ(b.slot[0].address, TEXTURE_NO_ADDRESS);
    EXPECT_EQ(b.slot[0].previous, nullptr);
    EXPECT_EQ(d.slot[0].address, 2 * KB);
    EXPECT_EQ(d.slot[0].previous, &a);
    EXPECT_EQ(d.slot[0].next, &c);
    EXPECT_EQ(cache.gapCount, 1) << "a larger victim leaves a hole after the new texture";
    EXPECT_TRUE(memoryHolds(0, d));
    check();

    Texture& e = square(4);
    cacheLoad(cache, e);
    EXPECT_TRUE(a.slot[0].resident && c.slot[0].resident) << "the hole takes it: no eviction";
    EXPECT_EQ(e.slot[0].address, 2 * KB + 512);
    check();
}

TEST_F(TextureCacheTest, EqualStampsEvictLowestAddress) {
    useMemory(0, 2 * KB, 64 * KB);
    Texture& a = square(4);
    Texture& b = square(4);
    cacheLoad(cache, a);
    cacheLoad(cache, b);
    cacheLoad(cache, square(4));
    cacheLoad(cache, square(4));
    a.slot[0].lastUse = b.slot[0].lastUse = 0;   // a tie: the first in address order wins
    Texture& e = square(4);
    cacheLoad(cache, e);
    EXPECT_FALSE(a.slot[0].resident);
    EXPECT_TRUE(b.slot[0].resident);
    EXPECT_EQ(e.slot[0].address, 0u);
    check();
}

TEST_F(TextureCacheTest, NoVictimLargeEnoughEvictsFromBottom) {
    useMemory(0, 2 * KB, 64 * KB);
    std::vector<Texture*> small;
    for (int i = 0; i < 4; ++i) {
        small.push_back(&square(4));
        cacheLoad(cache, *small.back());
    }
    cacheBind(cache, *small[0]);     // the bottom goes even when it is the newest
    Texture& big = add(5, 5, 1);     // 32 x 16: 1 KB, larger than any resident texture
    cacheLoad(cache, big);
    EXPECT_EQ(big.slot[0].address, 0u);
    EXPECT_FALSE(small[0]->slot[0].resident);
    EXPECT_FALSE(small[1]->slot[0].resident);
    EXPECT_TRUE(small[2]->slot[0].resident);
    EXPECT_EQ(cache.first, &big);
    EXPECT_EQ(small[2]->slot[0].previous, &big);
    EXPECT_TRUE(memoryHolds(0, big));
    check();
}

TEST_F(TextureCacheTest, FirstFitInHoleAndReleaseChangesGapsByOne) {
    useMemory(0, 8 * KB, 64 * KB);
    std::vector<Texture*> row;
    for (int i = 0; i < 16; ++i) {
        row.push_back(&square(4));
        cacheLoad(cache, *row.back());
    }
    cacheRelease(cache, *row[3]);
    EXPECT_EQ(cache.gapCount, 1) << "a new hole";
    cacheRelease(cache, *row[5]);
    EXPECT_EQ(cache.gapCount, 2);
    cacheRelease(cache, *row[4]);
    EXPECT_EQ(cache.gapCount, 1) << "two holes merged into one";
    cacheRelease(cache, *row[15]);
    EXPECT_EQ(cache.gapCount, 1) << "the last texture leaves no hole between two";
    check();

    Texture& fill = square(4);
    Texture& tail = square(4);
    cacheLoad(cache, fill);
    EXPECT_EQ(fill.slot[0].address, 15 * 512u) << "the end of the list comes first";
    cacheLoad(cache, tail);
    EXPECT_EQ(tail.slot[0].address, 3 * 512u) << "then the first hole that fits";
    EXPECT_EQ(tail.slot[0].previous, row[2]);
    EXPECT_EQ(cache.gapCount, 1);
    check();
}

TEST_F(TextureCacheTest, HoleAcrossLineIsUsedAboveIt) {
    useMemory(0, 4 * KB, 1 * KB);
    Texture& low = square(3);          // 128 bytes at 0
    Texture& gap = add(5, 5, 1);       // 1 KB at 1 KB (moved up to the line)
    Texture& high = square(5);         // 2 KB at 2 KB
    cacheLoad(cache, low);
    cacheLoad(cache, gap);
    cacheLoad(cache, high);
    ASSERT_EQ(gap.slot[0].address, 1 * KB);
    cacheRelease(cache, gap);
    EXPECT_EQ(cache.gapCount, 1);
    // 1 KB from 128 would cross the line; the next texture lies above it, so the place is
    // the line itself.
    Texture& again = add(5, 5, -1);
    cacheLoad(cache, again);
    EXPECT_EQ(again.slot[0].address, 1 * KB);
    check();
}

TEST_F(TextureCacheTest, DefragmentCompactsAndKeepsOrder) {
    useMemory(64, 8 * KB, 2 * KB);
    std::vector<Texture*> row;
    for (int i = 0; i < 12; ++i) {
        row.push_back(&add(i % 3 + 2, i % 3 + 2));
        cacheLoad(cache, *row.back());
    }
    for (int i = 1; i < 12; i += 3) cacheRelease(cache, *row[i]);
    ASSERT_GT(cache.gapCount, 0);
    std::vector<Texture*> order;
    for (Texture* t = cache.first; t; t = t->slot[0].next) order.push_back(t);
    scribble(0, 0, 8 * KB, 0);
    cacheDefragment(cache);
    // Packed from the start; the only hole left is below the line, where one would cross it.
    std::uint64_t expected = 64;
    for (Texture* t = cache.first; t; t = t->slot[0].next) {
        if (expected < 2 * KB && expected + t->size > 2 * KB) expected = 2 * KB;
        EXPECT_EQ(t->slot[0].address, expected);
        expected += t->size;
    }
    std::vector<Texture*> after;
    for (Texture* t = cache.first; t; t = t->slot[0].next) after.push_back(t);
    EXPECT_EQ(order, after);
    EXPECT_EQ(cache.first->slot[0].address, 64u);
    for (Texture* t : after) EXPECT_TRUE(memoryHolds(0, *t)) << "downloaded at its new place";
    check();
}

TEST_F(TextureCacheTest, ManyHolesTriggerDefragmentNotice) {
    useMemory(0, 1400 * 8, 1 << 20);
    std::vector<Texture*> row;
    for (int i = 0; i < 1400; ++i) {
        row.push_back(&square(0));
        cacheLoad(cache, *row.back());
    }
    for (int i = 1; i < 1400; i += 2) cacheRelease(cache, *row[i]);
    ASSERT_GE(cache.gapCount, TEXTURE_DEFRAGMENT_GAPS);
    Texture& wide = add(2, 2, 1);    // 16 bytes: no 8-byte hole takes it
    cacheLoad(cache, wide);
    EXPECT_EQ(textureMessages(), "DEFRAGMENTING texture cache....\n");
    EXPECT_TRUE(wide.slot[0].resident);
    EXPECT_EQ(wide.slot[0].address, 0u) << "after compaction, the bottom two give way";
    EXPECT_EQ(cache.gapCount, 0);
    check();
}

TEST_F(TextureCacheTest, TextureLargerThanMemoryIsRefused) {
    useMemory(0, 4 * KB, 64 * KB);
    Texture& a = square(4);
    cacheLoad(cache, a);
    Texture& huge = square(6);   // 8 KB
    EXPECT_EQ(cacheBind(cache, huge), 0);
    EXPECT_EQ(cacheBind(cache, huge), 0);
    EXPECT_FALSE(huge.slot[0].resident);
    EXPECT_TRUE(a.slot[0].resident) << "nothing was evicted for it";
    EXPECT_EQ(textureMessages(), "texture too large for texture memory (8192 bytes)\n")
        << "reported once, not on every bind";
    check();

    // 1 KB below the line and 1 KB above: 1368 bytes fit in the sum but in neither half.
    TextureCache split{};
    cacheInit(split, 0, 0, 2 * KB, 1 * KB);
    Texture& chain = add(0, 5, 1);
    ASSERT_EQ(vxTexMemRequired(VX_LEVELS_BOTH, &chain.info), 1368u);
    cacheLoad(split, chain);
    EXPECT_FALSE(chain.slot[0].resident);
    EXPECT_EQ(split.first, nullptr);
    Texture& half = add(5, 5, 1);   // exactly 1 KB: fits below the line
    cacheLoad(split, half);
    EXPECT_EQ(half.slot[0].address, 0u);
    cacheRelease(split, half);
}

TEST_F(TextureCacheTest, TwoRefusedTexturesBoundInTurnAreReportedOnceEach) {
    useMemory(0, 4 * KB, 64 * KB);
    Texture& first = square(6);    // 8 KB each: neither ever fits
    Texture& second = square(6);
    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(cacheBind(cache, first), 0);
        EXPECT_EQ(cacheBind(cache, second), 0);
    }
    EXPECT_EQ(textureMessages(), "texture too large for texture memory (8192 bytes)\n"
                                 "texture too large for texture memory (8192 bytes)\n");
    // Released and loaded again, a texture is a new one: refused again, reported again.
    cacheRelease(cache, first);
    makeTexture(first, 6, 6, 0, 99);
    textureMessages().clear();
    cacheLoad(cache, first);
    EXPECT_EQ(textureMessages(), "texture too large for texture memory (8192 bytes)\n");
}

TEST_F(TextureCacheTest, RefusedAgainstRealMemory) {
    vxShutdown();
    setenv("VEXA_TEXMEM", "65536", 1);
    vxInit();
    ASSERT_EQ(vxTexMaxAddress(0) + 8, 65536u);
    cacheInitForUnit(cache, 0);
    EXPECT_EQ(cache.memoryEnd, 65536u);
    Texture& big = square(8);   // 128 KB
    cacheLoad(cache, big);
    EXPECT_FALSE(big.slot[0].resident);
    EXPECT_EQ(textureMessages(), "texture too large for texture memory (131072 bytes)\n");
    Texture& fits = square(7);
    cacheLoad(cache, fits);
    EXPECT_TRUE(fits.slot[0].resident);
    EXPECT_TRUE(memoryHolds(0, fits));
    check();
}

TEST_F(TextureCacheTest, InvalidShapeOrNoTexelsIsRefused) {
    Texture& bad = add(2, 6, 5);   // 64:1 is beyond the rasterizer
    EXPECT_EQ(vxTexMemRequired(VX_LEVELS_BOTH, &bad.info), 0u);
    EXPECT_EQ(cacheBind(cache, bad), 0);
    EXPECT_FALSE(bad.slot[0].resident);
    EXPECT_EQ(cache.first, nullptr);
    EXPECT_NE(textureMessages().find("texture not accepted"), std::string::npos);

    Texture empty;
    textureInit(empty);
    cacheLoad(cache, empty);
    EXPECT_FALSE(empty.slot[0].resident);
}

TEST_F(TextureCacheTest, ReleaseClearsRecordAndUnitsKeepSeparateBooks) {
    TextureCache second{};
    cacheInitForUnit(second, 1);
    Texture& a = square(4);
    Texture& b = square(4);
    cacheLoad(cache, a);
    cacheLoad(second, b);
    cacheLoad(second, a);
    EXPECT_EQ(a.slot[0].address, 0u);
    EXPECT_EQ(a.slot[1].address, b.size);
    EXPECT_TRUE(memoryHolds(1, a));
    cacheRemove(second, a);
    EXPECT_FALSE(a.slot[1].resident);
    EXPECT_TRUE(a.slot[0].resident);
    EXPECT_EQ(second.first, &b);
    EXPECT_EQ(second.last, &b);
    cacheRelease(cache, a);
    EXPECT_EQ(a.info.data, nullptr);
    EXPECT_EQ(a.size, 0u);
    EXPECT_EQ(a.slot[0].resident, 0);
    EXPECT_EQ(cache.first, nullptr);
    EXPECT_EQ(cache.last, nullptr);
    cacheRelease(second, b);
    EXPECT_EQ(second.first, nullptr);
}

// ---- Random run against a model ------------------------------------------------------------

namespace {

struct Placed {
    Texture* texture;
    std::uint64_t address, size;
    std::uint32_t lastUse;
};

std::vector<Placed> snapshot(const TextureCache& cache) {
    std::vector<Placed> list;
    for (Texture* t = cache.first; t; t = t->slot[cache.unit].next)
        list.push_back({t, t->slot[cache.unit].address, t->size, t->slot[cache.unit].lastUse});
    return list;
}

bool crosses(std::uint64_t a, std::uint64_t size, std::uint64_t line) {
    return a < line && a + size > line;
}

// Where a texture of `size` goes without evicting: after the last texture, else the first
// hole that takes it; 0 (never a valid place here, the start is above 0) when nowhere.
struct Memory {
    std::uint64_t start, end, line;
};

std::uint64_t placeWithoutEviction(const std::vector<Placed>& list, std::uint64_t size,
                                   const Memory& m) {
    std::uint64_t candidate = list.empty() ? m.start : list.back().address + list.back().size;
    if (crosses(candidate, size, m.line)) candidate = m.line;
    if (candidate + size <= m.end) return candidate;
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        candidate = list[i].address + list[i].size;
        std::uint64_t next = list[i + 1].address;
        if (candidate >= next) continue;
        if (crosses(candidate, size, m.line)) {
            if (next < m.line) continue;
            candidate = m.line;
        }
        if (next >= candidate && next - candidate >= size) return candidate;
    }
    return 0;
}

}  // namespace

TEST_F(TextureCacheTest, RandomOperationsKeepModelInvariants) {
    const Memory memory{4096, 4096 + 160 * KB, 4096 + 64 * KB};
    useMemory(4096, 4096 + 160 * KB, 4096 + 64 * KB);
    std::mt19937 rng(1234567u);
    const int poolSize = 24;
    for (int i = 0; i < poolSize; ++i) textures.emplace_back();
    auto reshape = [&](Texture& t, std::uint32_t seed) {
        int large = 3 + static_cast<int>(rng() % 5);
        int small = static_cast<int>(rng() % (large + 1));
        int aspect = static_cast<int>(rng() % 7) - 3;
        int formats[] = {VX_TEXFMT_RGB_565, VX_TEXFMT_ARGB_4444, VX_TEXFMT_ALPHA_INTENSITY_88};
        makeTexture(t, small, large, aspect, seed, formats[rng() % 3]);
    };
    for (int i = 0; i < poolSize; ++i) reshape(textures[i], static_cast<std::uint32_t>(i));

    std::uint32_t modelClock = 0;
    int evictions = 0, bottomEvictions = 0, holeFits = 0;
    for (int step = 0; step < 6000; ++step) {
        Texture& t = textures[rng() % poolSize];
        unsigned op = rng() % 8;
        std::vector<Placed> before = snapshot(cache);
        bool wasResident = t.slot[0].resident != 0;

        if (op == 7) {
            cacheRelease(cache, t);
            reshape(t, static_cast<std::uint32_t>(step + poolSize));
            ASSERT_FALSE(t.slot[0].resident);
        } else if (op == 6) {
            cacheRefresh(cache, t);
        } else if (op >= 3) {
            EXPECT_EQ(cacheBind(cache, t), wasResident ? 0 : 1);
            if (wasResident) {
                ASSERT_EQ(t.slot[0].lastUse, modelClock) << "step " << step;
                ++modelClock;
            }
        } else {
            cacheLoad(cache, t);
            if (wasResident) {
                // Loading a resident texture downloads it again in place and stamps it.
                ASSERT_EQ(t.slot[0].lastUse, modelClock) << "step " << step;
                ++modelClock;
            }
        }
        ASSERT_NO_FATAL_FAILURE(check()) << "step " << step;

        if (op != 7 && !wasResident) {
            // A placement: first fit if there was room, else the least recently used victim
            // large enough, else room made from the bottom.
            ASSERT_TRUE(t.slot[0].resident);
            ASSERT_EQ(t.slot[0].lastUse, modelClock++);
            std::uint64_t size = t.size;
            std::uint64_t expected = placeWithoutEviction(before, size, memory);
            std::vector<Texture*> gone;
            for (const Placed& p : before)
                if (!p.texture->slot[0].resident) gone.push_back(p.texture);
            if (expected != 0) {
                ASSERT_TRUE(gone.empty()) << "step " << step;
                ASSERT_EQ(t.slot[0].address, expected) << "step " << step;
                if (before.size() > 0 && expected < before.back().address) ++holeFits;
            } else {
                const Placed* victim = nullptr;
                for (const Placed& p : before)
                    if (p.size >= size && !crosses(p.address, size, memory.line) &&
                        (!victim || p.lastUse < victim->lastUse))
                        victim = &p;
                if (victim) {
                    ++evictions;
                    ASSERT_EQ(gone, std::vector<Texture*>{victim->texture}) << "step " << step;
                    ASSERT_EQ(t.slot[0].address, victim->address);
                } else {
                    ++bottomEvictions;
                    std::uint64_t base = crosses(memory.start, size, memory.line) ? memory.line
                                                                                  : memory.start;
                    ASSERT_EQ(t.slot[0].address, base) << "step " << step;
                    for (const Placed& p : before) {
                        bool inTheWay = p.address + p.size > base && p.address < base + size;
                        ASSERT_EQ(!p.texture->slot[0].resident, inTheWay) << "step " << step;
                    }
                }
            }
        } else if (op != 7) {
            ASSERT_EQ(snapshot(cache).size(), before.size()) << "step " << step;
        }
        ASSERT_EQ(cache.useClock, modelClock);
        for (Texture* r = cache.first; r; r = r->slot[0].next)
            ASSERT_TRUE(memoryHolds(0, *r)) << "step " << step;
    }
    // The run must have reached every branch to mean anything.
    EXPECT_GT(evictions, 20);
    EXPECT_GT(bottomEvictions, 5);
    EXPECT_GT(holeFits, 20);
    std::printf("model: %d evictions, %d from the bottom, %d hole fits\n", evictions,
                bottomEvictions, holeFits);
}
