// setenv and unsetenv for the tests on systems whose C library names them otherwise (Windows:
// _putenv_s, where an empty value removes the variable).
#pragma once

#include <cstdlib>

#if defined(_WIN32)
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif
