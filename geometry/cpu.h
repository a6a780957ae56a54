// Processor feature detection, run once at start-up; the routine tables are chosen from what
// it finds. The drawing code calls through the tables only and never tests features itself.
#pragma once

#include <cstdint>

struct CpuFeatures {
    char vendor[16];            // CPUID leaf 0 text (EBX, EDX, ECX) and four zero bytes
    std::uint32_t signature;    // CPUID leaf 1 EAX
    std::uint32_t featureFlags; // CPUID leaf 1 EDX
    int hasConditionalMove;     // bit 15
    int hasMmx;                 // bit 23
    int hasPackedSingle;        // bit 25, cleared when the OS does not run packed instructions
};

// Fills out from CPUID (where the processor has it) and the packed-instruction probe.
// With VORL_PORTABLE set in the environment every feature reads as absent, so the portable
// routines are chosen.
void detectCpuFeatures(CpuFeatures& out);
// Runs trial under an illegal-instruction guard; false when it raised SIGILL. The previous
// SIGILL disposition is restored either way.
bool runsWithoutIllegalInstruction(void (*trial)());
// True when one packed single-precision instruction runs here (false off x86).
bool probePackedSingle();
