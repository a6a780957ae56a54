// Files saved so that nothing is lost: a temporary file beside the target, every write
// checked, then flush, sync, close and an atomic rename over the target; on any failure the
// temporary file is removed and the target left as it was. Entry points: saveFileBegin,
// saveFileWrite, saveFilePrintf, saveFileCommit, saveFileAbandon, and saveFileSweep for what
// a killed run left behind. Also where the shipped data files are read from (dataFileToRead)
// and the folder a save goes into (makeFolderFor).
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif
#if defined(__EMSCRIPTEN__)
#include <emscripten.h>
#endif

#include "platform/win32.h"
#if defined(_WIN32)
#include "platform/backend.h"
#endif

namespace {

// ---- What differs between systems: making the temporary file, syncing --------------------
#if defined(_WIN32)
// Opens a new file named `pattern` with its six trailing X's replaced, never an existing one.
int createUnique(char* pattern) {
    const std::size_t length = std::strlen(pattern);
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const unsigned tag = (static_cast<unsigned>(_getpid()) * 7919u + ++counter) % 1000000u;
        std::snprintf(pattern + length - 6, 7, "%06u", tag);
        const int fd = _open(pattern, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                             _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}
int syncFile(std::FILE* file) { return _commit(_fileno(file)); }
void syncFolder(const char*) {}   // the rename is recorded by the file system itself
void removeFile(const char* path) { _unlink(path); }
std::FILE* openStream(int fd) { return _fdopen(fd, "wb"); }
void closeDescriptor(int fd) { _close(fd); }
#else
int createUnique(char* pattern) {
    const int fd = mkstemp(pattern);
    if (fd >= 0) {
        // mkstemp makes the file private (0600); a saved file gets the usual permissions.
#if defined(__EMSCRIPTEN__)
        const mode_t mask = 022;   // the browser's file system reports a mask that hides all
#else
        const mode_t mask = umask(0);
        umask(mask);
#endif
        fchmod(fd, 0666 & ~mask);
    }
    return fd;
}
int syncFile(std::FILE* file) { return fsync(fileno(file)); }
void removeFile(const char* path) { unlink(path); }
std::FILE* openStream(int fd) { return fdopen(fd, "wb"); }
void closeDescriptor(int fd) { close(fd); }
#endif

// The first failure wins: later steps of a save that already failed only add noise.
void fail(SaveFile& save, const char* what, int error) {
    if (save.failed) return;
    save.failed = true;
    std::snprintf(save.reason, sizeof save.reason, "%s: %s", what,
                  error != 0 ? std::strerror(error) : "unknown error");
}

std::FILE* stream(const SaveFile& save) { return static_cast<std::FILE*>(save.file); }

#if !defined(_WIN32)
// The folder part of a path ("." when it has none), for syncing the rename itself.
void folderOf(const char* path, char* out, std::size_t size) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(out, size, ".");
    } else if (slash == path) {
        std::snprintf(out, size, "/");
    } else {
        std::snprintf(out, size, "%.*s", static_cast<int>(slash - path), path);
    }
}

// Makes the rename durable: the folder's entry is synced too. A folder that cannot be opened
// or synced (some file systems refuse) does not undo a rename that has happened.
void syncFolder(const char* path) {
    char folder[SAVE_PATH_MAX];
    folderOf(path, folder, sizeof folder);
    const int fd = open(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
#endif

#if defined(__EMSCRIPTEN__)
// In a page the program's files live in the browser: what it keeps (data/) is written through
// to the page's storage so that a reload finds it (Module.vorlKeep); anything else it saves
// (captures, the last frame) is offered to the user as a download (Module.vorlOffer, which
// gives pictures as PNG files of the same pixels). The file system lives on the page's main
// thread, so this runs there, and the save is complete when it does.
void keepInBrowser(const char* path) {
    MAIN_THREAD_EM_ASM({
        var name = UTF8ToString($0);
        if (name.indexOf('data/') === 0) {
            if (Module['vorlKeep']) Module['vorlKeep'](name);
            else FS.syncfs(false, function() {});
        } else if (Module['vorlOffer']) {
            Module['vorlOffer'](name, FS.readFile(name));
        }
    }, path);
}
#endif

// Replaces `to` with `from` in one step (over an existing file on every system).
bool replaceFile(const char* from, const char* to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (error) errno = error.value();
    return !error;
}

#if !defined(VORL_DATA_FROM_PROGRAM)
#define VORL_DATA_FROM_PROGRAM "../share/vorl"   // the build sets it from the install folders
#endif

// The folder the running program's file is in, with its trailing separator, into out; false
// when the system does not say (in a page there is no program file).
bool programFolder(char* out, std::size_t size) {
#if defined(_WIN32)
    if (!windowsProgramPath(out, size)) return false;
#elif defined(__EMSCRIPTEN__)
    (void)out;
    (void)size;
    return false;
#else
    const ssize_t length = readlink("/proc/self/exe", out, size - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= size - 1) return false;
    out[length] = '\0';
#endif
    char* cut = std::strrchr(out, '/');
#if defined(_WIN32)
    char* backslash = std::strrchr(out, '\\');
    if (backslash != nullptr && (cut == nullptr || backslash > cut)) cut = backslash;
#endif
    if (cut == nullptr) return false;
    cut[1] = '\0';
    return true;
}

bool fileReadable(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace

void dataFileToRead(const char* path, char* out, std::size_t size) {
    std::snprintf(out, size, "%s", path);
    if (fileReadable(path)) return;
    char folder[SAVE_PATH_MAX];
    if (!programFolder(folder, sizeof folder)) return;
    char candidate[2 * SAVE_PATH_MAX];
    const char* const places[] = {"", VORL_DATA_FROM_PROGRAM "/"};
    for (const char* place : places) {
        const int length = std::snprintf(candidate, sizeof candidate, "%s%s%s", folder, place, path);
        if (length > 0 && static_cast<std::size_t>(length) < size && fileReadable(candidate)) {
            std::snprintf(out, size, "%s", candidate);
            return;
        }
    }
}

bool makeFolderFor(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr || slash == path) return true;   // the working folder itself
    std::error_code error;
    std::filesystem::create_directories(std::string(path, static_cast<std::size_t>(slash - path)),
                                        error);
    if (error) errno = error.value();
    return !error;
}

bool saveFileBegin(SaveFile& save, const char* path) {
    save = SaveFile{};
    if (path == nullptr || std::snprintf(save.path, sizeof save.path, "%s", path) >=
                               static_cast<int>(sizeof save.path) - 8) {
        fail(save, "path too long", ENAMETOOLONG);
        return false;
    }
    std::snprintf(save.temporaryPath, sizeof save.temporaryPath, "%s.XXXXXX", path);
    const int fd = createUnique(save.temporaryPath);
    if (fd < 0) {
        fail(save, "cannot create a file there", errno);
        save.temporaryPath[0] = '\0';
        return false;
    }
    std::FILE* file = openStream(fd);
    if (file == nullptr) {
        fail(save, "cannot write there", errno);
        closeDescriptor(fd);
        removeFile(save.temporaryPath);
        save.temporaryPath[0] = '\0';
        return false;
    }
    save.file = file;
    return true;
}

bool saveFileWrite(SaveFile& save, const void* bytes, std::size_t size) {
    if (save.failed || save.file == nullptr) return false;
    if (size != 0 && std::fwrite(bytes, 1, size, stream(save)) != size) {
        fail(save, "write failed", errno);
        return false;
    }
    return true;
}

bool saveFilePrintf(SaveFile& save, const char* format, ...) {
    if (save.failed || save.file == nullptr) return false;
    va_list args;
    va_start(args, format);
    const int written = std::vfprintf(stream(save), format, args);
    va_end(args);
    if (written < 0) {
        fail(save, "write failed", errno);
        return false;
    }
    return true;
}

bool saveFileCommit(SaveFile& save) {
    if (save.file == nullptr) {
        if (!save.failed) fail(save, "nothing to save", 0);
        return false;
    }
    std::FILE* file = stream(save);
    if (!save.failed && std::fflush(file) != 0) fail(save, "write failed", errno);
    if (!save.failed && std::ferror(file)) fail(save, "write failed", EIO);
    if (!save.failed && syncFile(file) != 0) fail(save, "sync failed", errno);
    if (std::fclose(file) != 0) fail(save, "close failed", errno);
    save.file = nullptr;
    if (!save.failed && !replaceFile(save.temporaryPath, save.path)) {
        fail(save, "cannot replace the file", errno);
    }
    if (save.failed) {
        removeFile(save.temporaryPath);
        save.temporaryPath[0] = '\0';
        return false;
    }
    save.temporaryPath[0] = '\0';
    syncFolder(save.path);
#if defined(__EMSCRIPTEN__)
    keepInBrowser(save.path);
#endif
    return true;
}

void saveFileAbandon(SaveFile& save) {
    if (save.file != nullptr) std::fclose(stream(save));
    save.file = nullptr;
    if (save.temporaryPath[0] != '\0') removeFile(save.temporaryPath);
    save.temporaryPath[0] = '\0';
}

namespace {

// True when `name` is `pattern` ('#' any digit) followed by "." and six letters or digits.
bool temporaryOf(const std::string& name, const std::string& pattern) {
    if (name.size() != pattern.size() + 7 || name[pattern.size()] != '.') return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (pattern[i] == '#' ? !digit : name[i] != pattern[i]) return false;
    }
    for (std::size_t i = pattern.size() + 1; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int saveFileSweep(const char* target) {
    if (target == nullptr || target[0] == '\0') return 0;
    namespace fs = std::filesystem;
    const fs::path path(target);
    const std::string pattern = path.filename().string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const auto staleBefore =
        fs::file_time_type::clock::now() - std::chrono::seconds(SAVE_STALE_SECONDS);
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return 0;
    int removed = 0;
    for (const fs::directory_entry& entry : entries) {
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || !temporaryOf(entry.path().filename().string(), pattern)) {
            continue;
        }
        const auto written = entry.last_write_time(ignored);
        if (ignored || written > staleBefore) continue;
        if (fs::remove(entry.path(), ignored)) ++removed;
    }
    return removed;
}
