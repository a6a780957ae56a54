// The scene: the surfaces (with the control point the user picked), the wave animation's record
// and the two textures the surfaces are drawn with. Loaded at start-up and by L, animated by the
// surface pass, released at shutdown; one instance.
#pragma once

#include "surface/surface.h"
#include "surface/waves.h"
#include "texture/cache.h"

struct Scene {
    SurfaceList surfaces;
    WaveState waves;
    Texture surfaceTexture;       // unit 0: the surface's own texture
    Texture environmentTexture;   // unit 1: the environment map
};
extern Scene scene;
