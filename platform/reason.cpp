// The readers' one-line refusals: the name of what was refused, then why.
#include <cstdarg>
#include <cstdio>

#include "platform/services.h"

bool refuseNamed(char* reason, std::size_t size, const char* name, const char* format, ...) {
    if (reason == nullptr || size == 0) return false;
    const int used = std::snprintf(reason, size, "%s: ", name);
    if (used < 0 || static_cast<std::size_t>(used) >= size) return false;
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason + used, size - static_cast<std::size_t>(used), format, args);
    va_end(args);
    return false;
}
