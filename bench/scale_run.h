// The pieces of the scale benchmark (bench/scale_bench.cpp) that tests check on their own: the
// terrain file it writes, the list of mesh sides, the program's statistics line, the median,
// and one run of a program in a folder under a time limit with its peak resident memory.
// Reads nothing of the program but its files and what it prints; POSIX only (a bench of this
// machine, never cross-built).
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace scale {

// The largest side the surface reader takes: 4096 x 4096 points.
constexpr int SIDE_MIN = 4;
constexpr int SIDE_MAX = 4096;

// ---- The terrain -----------------------------------------------------------------------------
// Gentle hills under the start view: the eye stands at model (0, 0, 1) (world (0, 0, 10) over a
// model scale of 20, 20, 10) and looks along +y. The mesh is centred on the eye, one unit
// between control points, so every side from 128 up shows the same hills out to the far plane
// (1000 world units, 50 mesh units) and the views draw about the same. Heights stay between
// -1.2 and 0.4, below the eye; the hills are 15 to 40 units across.
inline double hillHeight(double x, double y) {
    return 0.5 * std::sin(0.21 * x + 0.4) * std::cos(0.17 * y) +
           0.3 * std::sin(0.07 * x - 0.09 * y + 1.3) - 0.4;
}

// Column c (or row r) of a side's mesh in model units: the eye over the middle.
inline int meshCoordinate(int index, int side) { return index - side / 2; }

// Writes one B-spline surface of side x side points as the program's surface file: the header,
// the count, the dimensions, then one "x y z" line a point, rows from y = -side/2 up. Returns
// the bytes written, or -1 when the file could not be written in full.
inline long long writeTerrain(const char* path, int side) {
    std::FILE* out = std::fopen(path, "w");
    if (out == nullptr) return -1;
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    long long bytes = std::fprintf(out, "B-Spline Surface\n\n1\n\n%d %d\n\n", side, side);
    for (int r = 0; r < side; ++r) {
        const int y = meshCoordinate(r, side);
        for (int c = 0; c < side; ++c) {
            const int x = meshCoordinate(c, side);
            bytes += std::fprintf(out, "%d %d %.6f\n", x, y, hillHeight(x, y));
        }
    }
    const bool written = !std::ferror(out);
    return (std::fclose(out) == 0 && written) ? bytes : -1;
}

// The file's size before it is written, to within a few per cent (for the disk check): about
// 22 bytes a point ("-2048 -2048 -0.123456").
inline long long terrainBytesEstimate(int side) {
    const double digits = std::floor(std::log10(std::max(1, side / 2))) + 1.0;
    return static_cast<long long>(static_cast<double>(side) * side * (2.0 * digits + 13.0)) + 64;
}

// ---- Options ---------------------------------------------------------------------------------
// "128,512,1024": sides from SIDE_MIN to SIDE_MAX, at most `limit`, in the order given. False
// when the list is empty, too long or holds anything else.
inline bool readSides(const char* list, std::vector<int>* sides, std::size_t limit) {
    sides->clear();
    const char* at = list;
    while (*at != '\0') {
        char* end = nullptr;
        const long side = std::strtol(at, &end, 10);
        if (end == at || side < SIDE_MIN || side > SIDE_MAX || sides->size() == limit) {
            return false;
        }
        sides->push_back(static_cast<int>(side));
        at = end;
        if (*at == ',' && at[1] != '\0') {
            ++at;
        } else if (*at != '\0') {
            return false;
        }
    }
    return !sides->empty();
}

// The middle value, or the mean of the middle two; 0 for none.
inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// ---- The statistics line ---------------------------------------------------------------------
// The program prints its last frame's statistics line at the end of a headless run:
// "fps: 186.23, ppf:   6543, pps: ... [1024 x 768 vsynch: off]". fps is the rate over the last
// whole second of the frames' own time (0 until one second has passed); ppf the surface
// triangles of that frame.
struct Statistics {
    bool found;
    double fps;
    long ppf;
};

// The last statistics line in `output`; found is false when there is none.
inline Statistics lastStatistics(const std::string& output) {
    Statistics stats = {false, 0.0, 0};
    std::size_t at = 0;
    while (at < output.size()) {
        std::size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(at, end - at);
        if (line.rfind("fps: ", 0) == 0) {
            stats.found = true;
            stats.fps = std::atof(line.c_str() + 5);
            const std::size_t ppf = line.find("ppf:");
            stats.ppf = ppf == std::string::npos ? 0 : std::atol(line.c_str() + ppf + 4);
        }
        at = end + 1;
    }
    return stats;
}

// ---- One run of a program --------------------------------------------------------------------
struct RunResult {
    bool started;        // false when it could not be started at all (the reason in output)
    bool timedOut;       // it ran past the limit and was killed
    bool interrupted;    // `stop` was raised while it ran; it was killed
    int status;          // exit status, 128 + signal when a signal ended it, -1 when killed
    double seconds;      // wall time from start to exit
    long peakKilobytes;  // the peak resident memory of the process
    std::string output;  // standard output and standard error, interleaved
};

// The text after the last `lines` lines' start of `text` (the tail of a failed run's output).
inline std::string lastLines(const std::string& text, int lines) {
    std::size_t at = text.size();
    if (at > 0 && text[at - 1] == '\n') --at;
    while (lines > 0 && at > 0) {
        at = text.rfind('\n', at - 1);
        if (at == std::string::npos) return text;
        --lines;
    }
    return lines > 0 ? text : text.substr(at + 1);
}

// Runs `arguments` (arguments[0] the program's path) in `folder`, standard output and error into
// `logFile`, its address space capped at `addressLimit` bytes when that is positive, and waits
// at most `limitSeconds` or until *stop is raised (by a signal handler). The wall time counts
// from just before the start to the exit; the peak resident memory is the child's own
// (wait4's ru_maxrss, which Linux gives in kilobytes).
inline RunResult runLimited(const std::vector<std::string>& arguments, const char* folder,
                            const char* logFile, double limitSeconds, long long addressLimit,
                            const volatile std::sig_atomic_t* stop) {
    RunResult result = {false, false, false, -1, 0.0, 0, {}};
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        result.output = std::string("cannot start a process: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        // The child: only async-signal-safe calls until exec.
        const int log = open(logFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log < 0 || chdir(folder) != 0) _exit(126);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        close(log);
        const int none = open("/dev/null", O_RDONLY);
        if (none >= 0) dup2(none, STDIN_FILENO);
        if (addressLimit > 0) {
            const rlimit limit = {static_cast<rlim_t>(addressLimit),
                                  static_cast<rlim_t>(addressLimit)};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(argv[0], argv.data());
        const char message[] = "cannot execute the program\n";
        (void)!write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }
    result.started = true;
    int status = 0;
    rusage usage = {};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done == pid) {
            result.seconds = seconds;
            break;
        }
        const bool over = seconds > limitSeconds;
        const bool stopped = stop != nullptr && *stop != 0;
        if (done < 0 || over || stopped) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            result.seconds = seconds;
            result.timedOut = over;
            result.interrupted = stopped;
            status = -1;
            break;
        }
        // A millisecond between looks: the first frame of a small mesh takes about 0.1 s.
        usleep(1000);
    }
    if (status != -1) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.peakKilobytes = usage.ru_maxrss;
    if (std::FILE* in = std::fopen(logFile, "r")) {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) result.output.append(chunk, n);
        std::fclose(in);
    }
    return result;
}

}  // namespace scale
