// Files saved so that nothing is lost: a temporary file beside the target, every write
// checked, then flush, sync, close and an atomic rename over the target; on any failure the
// temporary file is removed and the target left as it was. Entry points: saveFileBegin,
// saveFileWrite, saveFilePrintf, saveFileCommit, saveFileAbandon, and saveFileSweep for what
// a killed run left behind. Also where the shipped data files are read from (dataFileToRead)
// and the folder a save goes into (makeFolderFor).
// A save writes through symbolic links to the file they lead to, and its temporary file is
// named ".vorl-save-<process id>-<n>.<target's name>.tmp" beside that file: the program's own
// prefix and suffix around the writer's process id, so the sweep can tell a temporary whose
// writer is gone from a save in progress, and can never match a file of the user's.
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
#include <signal.h>
#include <unistd.h>
#endif
#if defined(__EMSCRIPTEN__)
#include <emscripten.h>
#endif

#include "platform/services.h"
#if defined(_WIN32)
#include "platform/backend.h"
#endif

namespace {

// ---- What differs between systems: making the temporary file, syncing --------------------
#if defined(_WIN32)
int processId() { return _getpid(); }
int createExclusive(const char* path) {
    return _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int syncFile(std::FILE* file) { return _commit(_fileno(file)); }
void syncFolder(const char*) {}   // the rename is recorded by the file system itself
void removeFile(const char* path) { _unlink(path); }
std::FILE* openStream(int fd) { return _fdopen(fd, "wb"); }
void closeDescriptor(int fd) { _close(fd); }
bool processGone(int pid) { return !windowsProcessAlive(static_cast<unsigned long>(pid)); }
#else
int processId() { return static_cast<int>(getpid()); }
int createExclusive(const char* path) {
    const int fd = open(path, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        // A saved file gets the usual permissions, whatever the file system's default.
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
#if defined(__EMSCRIPTEN__)
bool processGone(int) { return true; }   // a page runs one program: any other writer is gone
#else
// kill with signal 0 only asks whether the process exists; EPERM means it does (another
// user's), so only ESRCH counts as gone.
bool processGone(int pid) { return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }
#endif
#endif

constexpr char TEMPORARY_PREFIX[] = ".vorl-save-";
constexpr char TEMPORARY_SUFFIX[] = ".tmp";

// Creates a temporary file for saving `target` beside it (see the file's header for the
// name), its path into `out`; the descriptor, or -1 with errno set.
int createTemporary(const std::string& target, char* out, std::size_t size) {
    static unsigned counter = 0;
    const std::size_t slash = target.find_last_of('/');
#if defined(_WIN32)
    const std::size_t backslash = target.find_last_of('\\');
    const std::size_t cut = slash == std::string::npos ? backslash
                          : backslash == std::string::npos ? slash
                          : (slash > backslash ? slash : backslash);
#else
    const std::size_t cut = slash;
#endif
    const std::string folder = cut == std::string::npos ? "" : target.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int length = std::snprintf(out, size, "%s%s%d-%u.%s%s", folder.c_str(),
                                         TEMPORARY_PREFIX, processId(), ++counter, name.c_str(),
                                         TEMPORARY_SUFFIX);
        if (length < 0 || static_cast<std::size_t>(length) >= size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = createExclusive(out);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

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

// A shipped file beside the program is taken when it opens; one that does not is passed over
// for the next place (an installation's files are not the user's).
bool fileReadable(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace

void dataFileToRead(const char* path, char* out, std::size_t size) {
    std::snprintf(out, size, "%s", path);
    // Anything of that name in the working folder is the user's, even one that cannot be
    // read (a folder, no permission, a broken link): its reader refuses it with the reason,
    // and the shipped file never stands in for it (a later save would overwrite the user's
    // file with the shipped one). Only a name that is not there at all looks further.
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found) {
        return;
    }
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

bool pathIsFolder(const char* path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
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

namespace {

// What a save refuses to replace: anything that exists and is not a regular file.
const char* notRegularFile(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
    case file_type::directory: return "it is a folder, not a file";
    case file_type::fifo: return "it is a pipe, not a regular file";
    case file_type::block:
    case file_type::character: return "it is a device, not a regular file";
    case file_type::socket: return "it is a socket, not a regular file";
    default: return "it is not a regular file";
    }
}

// Links followed before a chain counts as a loop (the system's own limit on Linux).
constexpr int SAVE_LINKS_MAX = 40;

// The file a save of `path` replaces: `path` itself, or where its chain of symbolic links
// ends, so that the link stays and its target gets the new bytes. False, with the reason
// for the user, when the chain cannot be followed or ends at something other than a
// regular file (a folder, a pipe, a device); a missing file is fine (the save makes it).
bool resolveSaveTarget(SaveFile& save, const char* path, std::string& target) {
    namespace fs = std::filesystem;
    fs::path current(path);
    for (int hop = 0;; ++hop) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(current, error);
        if (status.type() == fs::file_type::not_found) break;
        if (error) {
            fail(save, "cannot look at the file", error.value());
            return false;
        }
        if (status.type() == fs::file_type::regular) break;
        if (status.type() != fs::file_type::symlink) {
            save.failed = true;
            std::snprintf(save.reason, sizeof save.reason, "%s", notRegularFile(status.type()));
            return false;
        }
        if (hop == SAVE_LINKS_MAX) {
            fail(save, "cannot follow the link", ELOOP);
            return false;
        }
        const fs::path next = fs::read_symlink(current, error);
        if (error) {
            fail(save, "cannot follow the link", error.value());
            return false;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    target = current.string();
    return true;
}

}  // namespace

bool saveFileBegin(SaveFile& save, const char* path) {
    save = SaveFile{};
    std::string target;
    if (path == nullptr || std::strlen(path) >= sizeof save.path) {
        fail(save, "path too long", ENAMETOOLONG);
        return false;
    }
    if (!resolveSaveTarget(save, path, target)) return false;
    if (std::snprintf(save.path, sizeof save.path, "%s", target.c_str()) >=
        static_cast<int>(sizeof save.path)) {
        fail(save, "path too long", ENAMETOOLONG);
        return false;
    }
    const int fd = createTemporary(target, save.temporaryPath, sizeof save.temporaryPath);
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

// The writer's process id when `name` is a save's temporary file for a target whose file
// name matches `pattern` ('#' any digit), else -1.
int temporaryWriter(const std::string& name, const std::string& pattern) {
    const std::size_t prefix = sizeof TEMPORARY_PREFIX - 1;
    const std::size_t suffix = sizeof TEMPORARY_SUFFIX - 1;
    if (name.size() <= prefix + suffix + pattern.size() ||
        name.compare(0, prefix, TEMPORARY_PREFIX) != 0 ||
        name.compare(name.size() - suffix, suffix, TEMPORARY_SUFFIX) != 0) {
        return -1;
    }
    // <pid>-<n>.
    std::size_t at = prefix;
    long long pid = 0;
    const std::size_t pidStart = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - pidStart < 10) {
        pid = pid * 10 + (name[at++] - '0');
    }
    if (at == pidStart || at >= name.size() || name[at++] != '-') return -1;
    const std::size_t countStart = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
    if (at == countStart || at >= name.size() || name[at++] != '.') return -1;
    if (name.size() - suffix - at != pattern.size()) return -1;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = name[at + i];
        if (pattern[i] == '#' ? !(c >= '0' && c <= '9') : c != pattern[i]) return -1;
    }
    return pid > 0x7FFFFFFF ? -1 : static_cast<int>(pid);
}

}  // namespace

int saveFileSweep(const char* target) {
    if (target == nullptr || target[0] == '\0') return 0;
    namespace fs = std::filesystem;
    const fs::path path(target);
    const std::string pattern = path.filename().string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return 0;
    int removed = 0;
    for (const fs::directory_entry& entry : entries) {
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored)) continue;
        const int writer = temporaryWriter(entry.path().filename().string(), pattern);
        // This process has not saved yet, so a temporary with its id is an earlier run's
        // (containers give every run the same few ids).
        if (writer < 0 || (writer != processId() && !processGone(writer))) continue;
        if (fs::remove(entry.path(), ignored)) ++removed;
    }
    return removed;
}
