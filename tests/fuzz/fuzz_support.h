// Shared pieces of the libFuzzer targets under tests/fuzz/: a reader that takes values from the
// front of the fuzz input (zeros once it runs out, so every input is a whole run of calls), a
// check that says what failed and aborts (libFuzzer keeps the input as the reproducer), and a
// private scratch folder for code under test that reads and writes files by path.
#pragma once

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include <unistd.h>

// Where failed checks are written: a copy of standard error taken at start-up, so that a run
// with -close_fd_mask=2 (which silences the code under test) still says what went wrong.
inline std::FILE* fuzzLog = stderr;

inline void fuzzKeepLog() {
    const int fd = dup(2);
    if (fd < 0) return;
    if (std::FILE* file = fdopen(fd, "w")) fuzzLog = file;
}

[[noreturn]] inline void fuzzFail(const char* file, int line, const char* condition,
                                  const char* format, ...) {
    std::fprintf(fuzzLog, "%s:%d: check failed: %s\n  ", file, line, condition);
    va_list args;
    va_start(args, format);
    std::vfprintf(fuzzLog, format, args);
    va_end(args);
    std::fprintf(fuzzLog, "\n");
    std::fflush(fuzzLog);
    std::abort();
}

// FUZZ_CHECK(condition, printf-style message, ...): aborts with the message when false.
#define FUZZ_CHECK(condition, ...) \
    ((condition) ? (void)0 : fuzzFail(__FILE__, __LINE__, #condition, __VA_ARGS__))

// Values taken in order from the front of the input. Past the end every read gives zero, so a
// short input is the same run as that input padded with zeros.
struct FuzzReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;

    FuzzReader(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length), at(0) {}

    bool empty() const { return at >= size; }
    std::size_t left() const { return at < size ? size - at : 0; }

    // Little-endian. (Reads are separate statements: operands of one expression, like the
    // arguments of one call, are evaluated in no fixed order.)
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t low = byte();
        return std::uint16_t(low | (byte() << 8));
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | (std::uint32_t(u16()) << 16);
    }
    bool flag() { return (byte() & 1) != 0; }

    // An integer in [lo, hi] (inclusive), one byte for short ranges, two for longer ones.
    int range(int lo, int hi) {
        const std::uint32_t span = std::uint32_t(hi - lo) + 1;
        const std::uint32_t raw = span <= 256 ? byte() : u16();
        return lo + int(raw % span);
    }

    // A float in [lo, hi] in 65536 steps.
    float real(float lo, float hi) { return lo + (hi - lo) * float(u16()) / 65535.0f; }

    // Usually a float in [lo, hi]; sometimes a value that breaks careless arithmetic (NaN,
    // infinities, huge, tiny, negative zero, the edges of 16- and 32-bit integers), or any
    // bit pattern at all.
    float wild(float lo, float hi) {
        static const float EDGE_VALUES[] = {
            std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
            -std::numeric_limits<float>::max(),      std::numeric_limits<float>::denorm_min(),
            -0.0f, 0.0f, 1.0e30f, -1.0e30f, 1.0e9f, -1.0e9f, 2147483648.0f, -2147483648.0f,
            1048576.0f, -1048576.0f, 1048577.0f, 65536.0f, 32768.0f, -32769.0f, 0.5f, 1.0e-30f,
        };
        constexpr int EDGE_VALUE_COUNT = int(sizeof(EDGE_VALUES) / sizeof(EDGE_VALUES[0]));
        const int kind = byte();
        if (kind < 208) return real(lo, hi);
        if (kind < 248) return EDGE_VALUES[std::size_t(kind - 208) % EDGE_VALUE_COUNT];
        const std::uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
};

// A folder of its own for the files a target writes: /dev/shm when it exists (a synced save
// costs nothing there), otherwise the system's temporary folder. Removed at a normal exit; a
// crashed run leaves it behind with the files that show the state at the crash.
inline std::string fuzzScratchFolder(const char* name) {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR")) {
        if (tmp[0]) base = tmp;
    }
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) base = "/dev/shm";
    std::string folder = base + "/vorl-fuzz-" + name + "-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::fprintf(stderr, "cannot make a scratch folder under %s\n", base.c_str());
        std::exit(1);
    }
    static std::string removeAtExit;
    removeAtExit = folder;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(removeAtExit, ignored);
    });
    return folder;
}

// Writes the bytes to the file (replacing it); false when that fails.
inline bool fuzzWriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = (size == 0 || std::fwrite(data, 1, size, file) == size);
    return std::fclose(file) == 0 && ok;
}

// The whole file, or false when it cannot be read.
inline bool fuzzReadFile(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text->clear();
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}
