// What Vexa needs of the operating system beyond standard C++, each behind one small helper:
// waiting on and waking a 32-bit word (the futex on Linux, WaitOnAddress on Windows,
// emscripten_futex_wait in the browser), aligned allocation, and a guard against illegal
// instructions for the processor detection. std::atomic::wait is not
// used: it loses wake-ups in MinGW's library and polls with sleeps in Emscripten's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Blocks while word holds `expected`; may also return early. The caller re-checks its
// condition and waits again, so an early return costs only a loop.
void vxWaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected);
// Wakes every thread waiting on word (after the caller changed it).
void vxWakeAll(std::atomic<std::uint32_t>& word);

// `bytes` (rounded up to a multiple of 64) at a 64-byte aligned address, or null; release with
// vxFreeAligned.
void* vxAllocAligned(std::size_t bytes);
void vxFreeAligned(void* memory);

// Runs trial under an illegal-instruction guard; false when it raised SIGILL. The previous
// SIGILL disposition is restored either way.
bool vxRunsWithoutIllegalInstruction(void (*trial)());
