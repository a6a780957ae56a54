// A control mesh made from a grid of sample values (a heightmap image's pixels): one point per
// sample, one unit apart, the height the sample's share of its largest value times a scale,
// kept to the hundredths the surface file holds. Entry: makeHeightmapSurfaces. Knows nothing
// of images; the caller reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "surface/surface.h"

// When no height is given, the largest sample value stands a fifth of the grid's longer side
// high: hills on a map of any size, like the shipped island on its sea.
constexpr int HEIGHTMAP_DEFAULT_SIDE_SHARE = 5;
// The nearest row of points lies this far ahead (+y) of the default eye at the origin, so
// that the eye starts outside the map and looks along it.
constexpr float HEIGHTMAP_NEAR_Y = 2.0f;
// A B-spline patch needs four points a side.
constexpr int HEIGHTMAP_MIN_SIDE = 4;

// The height of the largest sample value of a width x height grid when none is given.
float heightmapDefaultHeight(int width, int height);

// The height of `sample` out of `maxValue`, times `scale`, rounded to hundredths exactly as
// the surface file writes and reads them, so that a save and a reload give the same points.
float heightmapHeight(std::uint32_t sample, std::uint32_t maxValue, float scale);

// Replaces `list` with one surface of width x height points from `samples` (width * height
// values 0 .. maxValue, top row first), heights scaled by `scale`. Sample (column, row)
// becomes the point x = column - (width - 1) / 2 (centred on the eye), y = HEIGHTMAP_NEAR_Y +
// (height - 1 - row) (the top row farthest), z = heightmapHeight of the sample; the mesh's own
// rows run from the grid's bottom row up, so its patches face +z. False with the list as it
// was and the reason (naming `name`) for a grid with a side below HEIGHTMAP_MIN_SIDE or more
// points than SURFACE_MAX_POINTS, a scale that is not above 0 or that puts a height beyond
// SURFACE_MAX_COORDINATE, or no memory.
bool makeHeightmapSurfaces(SurfaceList& list, const std::uint16_t* samples, int width, int height,
                           int maxValue, float scale, const char* name, char* reason,
                           std::size_t reasonSize);
