// The scene's one instance.
#include "render/scene.h"

Scene scene;
