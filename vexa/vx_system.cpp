// The operating-system helpers of Vexa: wait and wake on a 32-bit word, aligned allocation.
// The one file of Vexa that names a system; each branch is the whole of that system's part.
#include "vexa/vx_system.h"

#include <climits>
#include <cstdlib>

#if defined(_WIN32)
#include <malloc.h>
#include <windows.h>
#elif defined(__EMSCRIPTEN__)
#include <cmath>
#include <emscripten/threading.h>
#elif defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
              "the word is waited on at its own address");

void vxWaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    auto* address = reinterpret_cast<std::uint32_t*>(&word);
#if defined(_WIN32)
    WaitOnAddress(address, &expected, sizeof expected, INFINITE);
#elif defined(__EMSCRIPTEN__)
    emscripten_futex_wait(address, expected, INFINITY);
#elif defined(__linux__)
    syscall(SYS_futex, address, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
#else
    (void)address;
    word.wait(expected);
#endif
}

void vxWakeAll(std::atomic<std::uint32_t>& word) {
    auto* address = reinterpret_cast<std::uint32_t*>(&word);
#if defined(_WIN32)
    WakeByAddressAll(address);
#elif defined(__EMSCRIPTEN__)
    emscripten_futex_wake(address, INT_MAX);
#elif defined(__linux__)
    syscall(SYS_futex, address, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
#else
    (void)address;
    word.notify_all();
#endif
}

void* vxAllocAligned(std::size_t bytes) {
    const std::size_t rounded = (bytes + 63) & ~std::size_t(63);
#if defined(_WIN32)
    return _aligned_malloc(rounded, 64);
#else
    return std::aligned_alloc(64, rounded);
#endif
}

void vxFreeAligned(void* memory) {
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}
