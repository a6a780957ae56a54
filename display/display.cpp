// The display record's one instance.
#include "display/display.h"

Display display;
