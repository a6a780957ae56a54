// Files saved so that nothing is lost: a temporary file beside the target, every write
// checked, then flush, sync, close and an atomic rename over the target; on any failure the
// temporary file is removed and the target left as it was. Entry points: saveFileBegin,
// saveFileWrite, saveFilePrintf, saveFileCommit, saveFileAbandon.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win32.h"

namespace {

// The first failure wins: later steps of a save that already failed only add noise.
void fail(SaveFile& save, const char* what, int error) {
    if (save.failed) return;
    save.failed = true;
    std::snprintf(save.reason, sizeof save.reason, "%s: %s", what,
                  error != 0 ? std::strerror(error) : "unknown error");
}

std::FILE* stream(const SaveFile& save) { return static_cast<std::FILE*>(save.file); }

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

}  // namespace

bool saveFileBegin(SaveFile& save, const char* path) {
    save = SaveFile{};
    if (path == nullptr || std::snprintf(save.path, sizeof save.path, "%s", path) >=
                               static_cast<int>(sizeof save.path) - 8) {
        fail(save, "path too long", ENAMETOOLONG);
        return false;
    }
    std::snprintf(save.temporaryPath, sizeof save.temporaryPath, "%s.XXXXXX", path);
    const int fd = mkstemp(save.temporaryPath);
    if (fd < 0) {
        fail(save, "cannot create a file there", errno);
        save.temporaryPath[0] = '\0';
        return false;
    }
    // mkstemp makes the file private (0600); a saved file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        fail(save, "cannot write there", errno);
        close(fd);
        unlink(save.temporaryPath);
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
    if (!save.failed && fsync(fileno(file)) != 0) fail(save, "sync failed", errno);
    if (std::fclose(file) != 0) fail(save, "close failed", errno);
    save.file = nullptr;
    if (!save.failed && std::rename(save.temporaryPath, save.path) != 0) {
        fail(save, "cannot replace the file", errno);
    }
    if (save.failed) {
        unlink(save.temporaryPath);
        save.temporaryPath[0] = '\0';
        return false;
    }
    save.temporaryPath[0] = '\0';
    syncFolder(save.path);
    return true;
}

void saveFileAbandon(SaveFile& save) {
    if (save.file != nullptr) std::fclose(stream(save));
    save.file = nullptr;
    if (save.temporaryPath[0] != '\0') unlink(save.temporaryPath);
    save.temporaryPath[0] = '\0';
}
