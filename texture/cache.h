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
    int refused;                // refused by this unit and reported; cleared once placed
    std::uint32_t lastUse;
    Texture* previous;          // next lower address in the unit's list
    Texture* next;              // next higher address
};

struct Texture {
    TextureInfo info;           // texel data owned by the record
    const char* name;           // what reports call it (its file), not owned; null: unnamed
    std::uint32_t size;         // bytes of texture memory, set when first placed
    TextureSlot slot[TEXTURE_UNITS_MAX];
};

// One unit's texture memory as the cache manages it. Addresses are worked in 64 bits so that
// an address near the top of the 32-bit range plus a size never wraps around.
struct TextureCache {
    int unit;
    std::uint64_t memoryStart;  // first byte address of the unit's memory
    std::uint64_t memoryEnd;    // one past the last byte address
    std::uint64_t line;         // no texture crosses it (the start + 2 MB on the board)
    int gapCount;
    Texture* first;
    Texture* last;
    std::uint32_t useClock;
};

// An empty record: no data, not placed in either unit.
void textureInit(Texture& texture);
// Frees the texel data (as loadTextureImage allocates it) and empties the record. The texture
// must not be resident in either unit.
void textureFree(Texture& texture);

// An empty cache of `unit` over the byte addresses start .. end (end exclusive) with the line
// that no texture may cross.
void cacheInit(TextureCache& cache, int unit, std::uint64_t start, std::uint64_t end,
               std::uint64_t line);
// An empty cache of the whole memory the rasterizer gives `unit`, the line 2 MB above its start.
void cacheInitForUnit(TextureCache& cache, int unit);
// Finds a place and downloads the texture there (evicting if needed). A texture that can
// never fit the unit's memory, or that the rasterizer does not take, is reported and left
// out (not resident).
void cacheLoad(TextureCache& cache, Texture& texture);
// Binds the texture on the cache's unit, loading it first if needed; 1 if it was loaded
// (0 also when it could not be loaded, and then nothing is bound).
int cacheBind(TextureCache& cache, Texture& texture);
// Downloads a resident texture again at its address (memory lost), else loads it.
void cacheRefresh(TextureCache& cache, Texture& texture);
// Takes the texture out of the unit (its memory becomes free); the record keeps its texels.
void cacheRemove(TextureCache& cache, Texture& texture);
// Takes every texture out of the unit.
void cacheRemoveAll(TextureCache& cache);
// Removes the texture from the unit, frees its texel data (textureFree) and clears the record.
// The texture must not be resident in the other unit.
void cacheRelease(TextureCache& cache, Texture& texture);
// Compacts the unit's memory from the start, keeping the list order.
void cacheDefragment(TextureCache& cache);
