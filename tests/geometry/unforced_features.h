// The processor's features as detection finds them without VORL_PORTABLE, whatever the
// environment of the test says: for tests that run a vector path only where it can run.
#pragma once

#include <cstdlib>
#include <string>

#include "geometry/cpu.h"
#include "tests/environment.h"

inline CpuFeatures unforcedFeatures() {
    const char* value = std::getenv("VORL_PORTABLE");
    const std::string saved = value != nullptr ? value : "";
    unsetenv("VORL_PORTABLE");
    CpuFeatures features;
    detectCpuFeatures(features);
    if (value != nullptr) setenv("VORL_PORTABLE", saved.c_str(), 1);
    return features;
}
