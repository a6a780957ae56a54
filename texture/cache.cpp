// Texture cache: one list per texture unit of the resident textures in address order, first
// fit in the holes below and above the 2 MB line, least-recently-used eviction, compaction.
// Entry points: cacheInit, cacheLoad, cacheBind, cacheRefresh, cacheRemove, cacheRelease,
// cacheDefragment. Touches the rasterizer's texture memory only through vxTexDownload and
// vxTexBind; its bounds are fixed when the cache is set up.
#include "texture/cache.h"

#include <cassert>
#include <cstring>

namespace {

// The cache's memory bounds, as the placement routines read them.
struct MemoryBounds {
    std::uint64_t start;
    std::uint64_t end;
    std::uint64_t line;
};

MemoryBounds memoryBounds(const TextureCache& cache) {
    return {cache.memoryStart, cache.memoryEnd, cache.line};
}

bool crossesLine(std::uint64_t address, std::uint64_t size, const MemoryBounds& bounds) {
    return address < bounds.line && address + size > bounds.line;
}

// Where a texture of this size goes when it has the memory to itself: the start, or the
// line when it would cross it from the start.
std::uint64_t lowestPlace(std::uint64_t size, const MemoryBounds& bounds) {
    return crossesLine(bounds.start, size, bounds) ? bounds.line : bounds.start;
}

bool fitsMemory(std::uint64_t size, const MemoryBounds& bounds) {
    std::uint64_t base = lowestPlace(size, bounds);
    return base <= bounds.end && size <= bounds.end - base;
}

std::uint64_t endOf(const Texture& texture, int unit) {
    return static_cast<std::uint64_t>(texture.slot[unit].address) + texture.size;
}

void clearSlot(TextureSlot& slot) {
    slot.address = TEXTURE_NO_ADDRESS;
    slot.resident = 0;
    slot.lastUse = 0;
    slot.previous = nullptr;
    slot.next = nullptr;
}

// Links t between previous and next (either may be none), keeping first and last.
void linkBetween(TextureCache& cache, Texture& texture, Texture* previous, Texture* next) {
    int unit = cache.unit;
    texture.slot[unit].previous = previous;
    texture.slot[unit].next = next;
    if (previous) previous->slot[unit].next = &texture;
    else cache.first = &texture;
    if (next) next->slot[unit].previous = &texture;
    else cache.last = &texture;
}

void appendTexture(TextureCache& cache, Texture& texture) {
    linkBetween(cache, texture, cache.last, nullptr);
}

void unlinkTexture(TextureCache& cache, Texture& texture) {
    int unit = cache.unit;
    TextureSlot& slot = texture.slot[unit];
    if (!slot.resident) return;
    if (slot.previous) slot.previous->slot[unit].next = slot.next;
    if (slot.next) slot.next->slot[unit].previous = slot.previous;
    if (cache.first == &texture) cache.first = slot.next;
    if (cache.last == &texture) cache.last = slot.previous ? slot.previous : cache.first;
    clearSlot(slot);
}

int countGaps(const TextureCache& cache) {
    int unit = cache.unit;
    int gaps = 0;
    for (const Texture* t = cache.first; t && t->slot[unit].next; t = t->slot[unit].next)
        if (endOf(*t, unit) < t->slot[unit].next->slot[unit].address) ++gaps;
    return gaps;
}

// Reports a texture that can never be placed once per texture and unit, so that a frame loop
// binding it (or binding two refused textures in turn) does not write the message every frame.
void refuseTexture(TextureCache& cache, Texture& texture, std::uint32_t size) {
    TextureSlot& slot = texture.slot[cache.unit];
    if (slot.refused) return;
    slot.refused = 1;
    if (textureReport == nullptr) return;
    // A named texture is named first, as every report about a file names the file.
    const char* name = texture.name != nullptr ? texture.name : "";
    const char* colon = texture.name != nullptr ? ": " : "";
    if (size == 0)
        textureReport("%s%stexture not accepted by the rasterizer (levels %d-%d, aspect %d)\n",
                      name, colon, static_cast<int>(texture.info.smallLod),
                      static_cast<int>(texture.info.largeLod), static_cast<int>(texture.info.aspect));
    else
        textureReport("%s%stexture too large for texture memory (%u bytes)\n", name, colon, size);
}

// The least recently used resident texture that T can replace without crossing the line;
// on equal stamps the lowest address wins.
Texture* findVictim(const TextureCache& cache, const Texture& texture, const MemoryBounds& bounds) {
    int unit = cache.unit;
    Texture* victim = nullptr;
    for (Texture* t = cache.first; t; t = t->slot[unit].next) {
        if (t->size < texture.size) continue;
        if (crossesLine(t->slot[unit].address, texture.size, bounds)) continue;
        if (!victim || t->slot[unit].lastUse < victim->slot[unit].lastUse) victim = t;
    }
    return victim;
}

// No single victim: textures are removed from the bottom of the region T must start in
// (the start, or the line for a texture that would cross it) until T fits below the next
// remaining one or none remain. False when even the emptied region is too small.
bool evictFromBottom(TextureCache& cache, Texture& texture, const MemoryBounds& bounds,
                     std::uint64_t* address) {
    int unit = cache.unit;
    std::uint64_t base = lowestPlace(texture.size, bounds);
    if (base > bounds.end || texture.size > bounds.end - base) return false;
    Texture* below = nullptr;
    Texture* t = cache.first;
    while (t && endOf(*t, unit) <= base) {
        below = t;
        t = t->slot[unit].next;
    }
    while (t && t->slot[unit].address < base + texture.size) {
        Texture* next = t->slot[unit].next;
        unlinkTexture(cache, *t);
        t = next;
    }
    linkBetween(cache, texture, below, t);
    *address = base;
    return true;
}

std::uint32_t findPlace(TextureCache& cache, Texture& texture) {
    int unit = cache.unit;
    if (texture.slot[unit].resident) return texture.slot[unit].address;

    MemoryBounds bounds = memoryBounds(cache);
    std::uint64_t candidate = cache.last ? endOf(*cache.last, unit) : bounds.start;
    texture.size = vxTexMemRequired(VX_LEVELS_BOTH, &texture.info);
    std::uint64_t size = texture.size;
    if (crossesLine(candidate, size, bounds)) candidate = bounds.line;

    if (candidate <= bounds.end && size <= bounds.end - candidate) {
        appendTexture(cache, texture);
        texture.slot[unit].address = static_cast<std::uint32_t>(candidate);
        return static_cast<std::uint32_t>(candidate);
    }
    if (cache.gapCount == 0) return TEXTURE_NO_ADDRESS;

    int holes = cache.gapCount;
    for (Texture* cur = cache.first; cur && cur->slot[unit].next && holes > 0;
         cur = cur->slot[unit].next) {
        Texture* next = cur->slot[unit].next;
        std::uint64_t nextAddress = next->slot[unit].address;
        candidate = endOf(*cur, unit);
        if (candidate >= nextAddress) continue;
        --holes;
        if (crossesLine(candidate, size, bounds)) {
            if (nextAddress < bounds.line) continue;
            candidate = bounds.line;
        }
        if (nextAddress >= candidate && nextAddress - candidate >= size) {
            linkBetween(cache, texture, cur, next);
            texture.slot[unit].address = static_cast<std::uint32_t>(candidate);
            cache.gapCount = countGaps(cache);
            return static_cast<std::uint32_t>(candidate);
        }
    }

    if (cache.gapCount >= TEXTURE_DEFRAGMENT_GAPS) {
        cacheDefragment(cache);
        if (textureReport) textureReport("DEFRAGMENTING texture cache....\n");
    }
    return TEXTURE_NO_ADDRESS;
}

void placeTexture(TextureCache& cache, Texture& texture, std::uint32_t address) {
    int unit = cache.unit;
    std::uint64_t place = address;
    if (address == TEXTURE_NO_ADDRESS) {
        MemoryBounds bounds = memoryBounds(cache);
        if (Texture* victim = findVictim(cache, texture, bounds)) {
            place = victim->slot[unit].address;
            linkBetween(cache, texture, victim->slot[unit].previous, victim->slot[unit].next);
            clearSlot(victim->slot[unit]);
        } else if (!evictFromBottom(cache, texture, bounds, &place)) {
            refuseTexture(cache, texture, texture.size);
            return;
        }
    }
    TextureSlot& slot = texture.slot[unit];
    slot.address = static_cast<std::uint32_t>(place);
    slot.resident = 1;
    slot.lastUse = cache.useClock++;
    // Appending at the line or taking a larger victim's place leaves a hole: recount here so
    // that the count always matches the list.
    cache.gapCount = countGaps(cache);
    slot.refused = 0;
    vxTexDownload(unit, slot.address, VX_LEVELS_BOTH, &texture.info);
}

}  // namespace

void textureInit(Texture& texture) {
    std::memset(&texture, 0, sizeof texture);
    for (TextureSlot& slot : texture.slot) clearSlot(slot);
}

void textureFree(Texture& texture) {
    assert(!texture.slot[0].resident && !texture.slot[1].resident && "remove it first");
    delete[] static_cast<std::uint16_t*>(texture.info.data);
    textureInit(texture);
}

void cacheInit(TextureCache& cache, int unit, std::uint64_t start, std::uint64_t end,
               std::uint64_t line) {
    cache = TextureCache{};
    cache.unit = unit;
    cache.memoryStart = start;
    cache.memoryEnd = end;
    cache.line = line;
}

void cacheInitForUnit(TextureCache& cache, int unit) {
    const std::uint64_t start = vxTexMinAddress(unit);
    // The highest address still takes the smallest texture, so the memory ends that far above.
    const std::uint64_t end = static_cast<std::uint64_t>(vxTexMaxAddress(unit)) +
                              vxTexLevelsMemRequired(VX_LEVELS_BOTH, 0, 0, 0, VX_TEXFMT_RGB_565);
    cacheInit(cache, unit, start, end, start + TEXTURE_LINE);
}

// Loads the texture unless the unit's memory can never hold it (or the rasterizer does not
// take its shape): such a texture is reported and stays out rather than evicting everything
// and being written past the end of the memory.
void cacheLoad(TextureCache& cache, Texture& texture) {
    if (!texture.slot[cache.unit].resident) {
        // A record without texels (never loaded, or released) is refused like a bad shape.
        std::uint32_t size =
            texture.info.data ? vxTexMemRequired(VX_LEVELS_BOTH, &texture.info) : 0;
        if (size == 0 || !fitsMemory(size, memoryBounds(cache))) {
            refuseTexture(cache, texture, size);
            return;
        }
    }
    placeTexture(cache, texture, findPlace(cache, texture));
}

int cacheBind(TextureCache& cache, Texture& texture) {
    TextureSlot& slot = texture.slot[cache.unit];
    if (slot.resident) {
        vxTexBind(cache.unit, slot.address, VX_LEVELS_BOTH, &texture.info);
        slot.lastUse = cache.useClock++;
        return 0;
    }
    cacheLoad(cache, texture);
    if (!slot.resident) return 0;
    vxTexBind(cache.unit, slot.address, VX_LEVELS_BOTH, &texture.info);
    return 1;
}

void cacheRefresh(TextureCache& cache, Texture& texture) {
    const TextureSlot& slot = texture.slot[cache.unit];
    if (slot.resident)
        vxTexDownload(cache.unit, slot.address, VX_LEVELS_BOTH, &texture.info);
    else
        cacheLoad(cache, texture);
}

void cacheRemove(TextureCache& cache, Texture& texture) {
    unlinkTexture(cache, texture);
    cache.gapCount = countGaps(cache);
}

void cacheRemoveAll(TextureCache& cache) {
    while (cache.first != nullptr) unlinkTexture(cache, *cache.first);
    cache.gapCount = 0;
}

void cacheRelease(TextureCache& cache, Texture& texture) {
    assert(!texture.slot[1 - cache.unit].resident && "release from the other unit first");
    cacheRemove(cache, texture);
    textureFree(texture);
}

void cacheDefragment(TextureCache& cache) {
    if (cache.gapCount == 0) return;
    int unit = cache.unit;
    MemoryBounds bounds = memoryBounds(cache);
    std::uint64_t address = bounds.start;
    for (Texture* t = cache.first; t; t = t->slot[unit].next) {
        if (crossesLine(address, t->size, bounds)) address = bounds.line;
        t->slot[unit].address = static_cast<std::uint32_t>(address);
        vxTexDownload(unit, t->slot[unit].address, VX_LEVELS_BOTH, &t->info);
        address += t->size;
    }
    cache.gapCount = countGaps(cache);
}
