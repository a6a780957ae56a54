// Runs the real program in a scratch working directory that holds a copy of the shipped
// data, and collects its exit status, standard output, standard error and files.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

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
        const std::string command = "cd '" + path_.string() + "' && " + prefix + " env " +
                                    display + env + " '" + VORL_BINARY + "' " + args +
                                    " >stdout.txt 2>stderr.txt </dev/null";
        const int raw = std::system(command.c_str());
        ProgramRun result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = read("stdout.txt");
        result.err = read("stderr.txt");
        return result;
    }

private:
    std::filesystem::path path_;
};
