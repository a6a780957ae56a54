// Texture cache: places textures in a unit's texture memory (first fit below and above the
// 2 MB line, least-recently-used eviction), downloads, binds, refreshes and releases them.
#pragma once

#include <cstdint>

#include "texture/image.h"

constexpr std::uint32_t TEXTURE_NO_ADDRESS = 0xFFFFFFFFu;
constexpr std::uint32_t TEXTURE_LINE = 0x200000u;   // no texture crosses start + 2 MB
constexpr int TEXTURE_DEFRAGMENT_GAPS = 666;
constexpr int TEXTURE_UNITS_MAX = 2;

struct Texture;

struct TextureSlot {
    std::uint32_t address;      // TEXTURE_NO_ADDRESS when not placed
    int resident;
    std::uint32_t lastUse;
    Texture* previous;          // next lower address in the unit's list
    Texture* next;              // next higher address
};

struct Texture {
    TextureInfo info;           // texel data owned by the record
    std::uint32_t size;         // bytes of texture memory, set when first placed
    TextureSlot slot[TEXTURE_UNITS_MAX];
};

struct TextureCache {
    int unit;
    int gapCount;
    Texture* first;
    Texture* last;
    std::uint32_t useClock;
    const Texture* refused;     // last texture refused for its size: reported once, not per frame
};

// Test hook: when enabled, the cache uses these bounds instead of asking the rasterizer
// (start, end and the line as absolute addresses), so that small memories can be modelled.
struct CacheMemoryOverride {
    int enabled;
    std::uint32_t start;
    std::uint32_t end;
    std::uint32_t line;
};
extern CacheMemoryOverride cacheMemoryOverride;

// The shell's two textures (the console owns its font texture).
extern Texture surfaceTexture;
extern Texture environmentTexture;

// An empty record: no data, not placed in either unit.
void textureInit(Texture& texture);
// Finds a place and downloads the texture there (evicting if needed). A texture that can
// never fit the unit's memory, or that the rasterizer does not take, is reported and left
// out (not resident).
void cacheLoad(TextureCache& cache, Texture& texture);
// Binds the texture on the cache's unit, loading it first if needed; 1 if it was loaded
// (0 also when it could not be loaded, and then nothing is bound).
int cacheBind(TextureCache& cache, Texture& texture);
// Downloads a resident texture again at its address (memory lost), else loads it.
void cacheRefresh(TextureCache& cache, Texture& texture);
// Removes the texture from the unit, frees its texel data (new[]ed std::uint16_t) and clears
// the record. The texture must not be resident in the other unit.
void cacheRelease(TextureCache& cache, Texture& texture);
// Compacts the unit's memory from the start, keeping the list order.
void cacheDefragment(TextureCache& cache);

// Internals, exposed for tests.
std::uint32_t findPlace(TextureCache& cache, Texture& texture);
void placeTexture(TextureCache& cache, Texture& texture, std::uint32_t address);
void appendTexture(TextureCache& cache, Texture& texture);
void unlinkTexture(TextureCache& cache, Texture& texture);
int countGaps(const TextureCache& cache);
