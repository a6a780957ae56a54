// Runs the real program in a scratch working directory that holds a copy of the shipped
// data, and collects its exit status, standard output, standard error and files.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/vorl-e2e-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
        std::filesystem::create_directories(path_ / "data");
        for (const char* name : {"vorl.txt", "tex.tga", "env.tga"}) {
            std::filesystem::copy_file(std::filesystem::path(VORL_SOURCE_DIR) / "data" / name,
                                       path_ / "data" / name,
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

    // Runs `env ENV vorl ARGS` in the directory; the arguments are passed to the shell as
    // written. Without a prefix DISPLAY is cleared so the headless back end is chosen; a
    // prefix such as "xvfb-run -a" supplies a display of its own.
    ProgramRun run(const std::string& args, const std::string& env = "",
                   const std::string& prefix = "") const {
        const std::string display = prefix.empty() ? "-u DISPLAY -u WAYLAND_DISPLAY " : "";
        return runCommand(prefix + " env " + display + env + " '" + VORL_BINARY + "' " + args);
    }

    // Runs headless with every file the program writes limited to `bytes` (a multiple of 512):
    // a write past it fails as on a full disk (the signal that would end the process is
    // ignored, so the write reports the error instead).
    ProgramRun runWithFileLimit(const std::string& args, long bytes) const {
        return runCommand("ulimit -f " + std::to_string(bytes / 512) + " && trap '' XFSZ && " +
                          "env -u DISPLAY -u WAYLAND_DISPLAY '" + VORL_BINARY + "' " + args);
    }

    // Runs `program` (a path inside the directory, e.g. a copy of the binary placed there)
    // headless with `args`, its working folder `folder` inside the directory.
    ProgramRun runCopy(const std::string& program, const std::string& folder,
                       const std::string& args) const {
        return runCommand("cd '" + (path_ / folder).string() + "' && env -u DISPLAY " +
                          "-u WAYLAND_DISPLAY '" + (path_ / program).string() + "' " + args);
    }

    // The names of the files in a folder of the scratch directory ("" for the top).
    std::vector<std::string> list(const std::string& folder = "") const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_ / folder)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    // Runs a shell command line in the directory, standard output and error to files (which
    // the file limit leaves room for).
    ProgramRun runCommand(const std::string& line) const {
        const std::string top = path_.string();
        const std::string command = "cd '" + top + "' && ( " + line + " ) >'" + top +
                                    "/stdout.txt' 2>'" + top + "/stderr.txt' </dev/null";
        const int raw = std::system(command.c_str());
        ProgramRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = read("stdout.txt");
        result.err = read("stderr.txt");
        return result;
    }

    std::filesystem::path path_;
};

// An input script that presses each of `keys` (blank-separated names) on frame 0.
inline std::string keysOnFirstFrame(const std::string& keys) {
    std::string script;
    std::size_t start = 0;
    while (start < keys.size()) {
        std::size_t end = keys.find(' ', start);
        if (end == std::string::npos) end = keys.size();
        if (end > start) script += "0 key " + keys.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return script;
}
