// The operating-system helpers of Vexa: wait and wake on a 32-bit word, aligned allocation,
// the illegal-instruction guard.
// The one file of Vexa that names a system; each branch is the whole of that system's part.
#include "vexa/vx_system.h"

#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>

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

namespace {

// The illegal-instruction guard, on systems with POSIX signals and on those (Windows) whose C
// library only has signal() and setjmp, and turns the processor's fault into SIGILL.
#if defined(_WIN32)
std::jmp_buf probeJump;

void onIllegalInstruction(int) {
    std::longjmp(probeJump, 1);
}

// Installs the guard; the previous handler goes to *previous. False when it cannot.
bool installGuard(void (**previous)(int)) {
    *previous = std::signal(SIGILL, onIllegalInstruction);
    return *previous != SIG_ERR;
}
void restoreGuard(void (*previous)(int)) { std::signal(SIGILL, previous); }
#define VX_PROBE_JUMP() setjmp(probeJump)
using PreviousGuard = void (*)(int);
#else
sigjmp_buf probeJump;

void onIllegalInstruction(int) {
    siglongjmp(probeJump, 1);
}

bool installGuard(struct sigaction* previous) {
    struct sigaction guard;
    std::memset(&guard, 0, sizeof guard);
    guard.sa_handler = onIllegalInstruction;
    sigemptyset(&guard.sa_mask);
    return sigaction(SIGILL, &guard, previous) == 0;
}
void restoreGuard(const struct sigaction& previous) { sigaction(SIGILL, &previous, nullptr); }
// sigsetjmp with the mask saved: a second fault after a caught one is caught too.
#define VX_PROBE_JUMP() sigsetjmp(probeJump, 1)
using PreviousGuard = struct sigaction;
#endif

}  // namespace

bool vxRunsWithoutIllegalInstruction(void (*trial)()) {
    PreviousGuard previous;
    if (!installGuard(&previous)) return false;
    // volatile: the value must survive the jump back out of the handler.
    volatile bool ran = false;
    if (VX_PROBE_JUMP() == 0) {
        trial();
        ran = true;
    }
    restoreGuard(previous);
    return ran;
}
