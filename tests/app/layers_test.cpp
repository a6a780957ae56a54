// The folders stack one way: every include of another folder's header goes down a layer (as
// the build's layer table says), no folder reaches another round about, and no include climbs
// out of its folder with "../". The build already refuses an upward include; this reads the
// sources so that a mistake in the table itself, or a path around it, is caught as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Layers = std::map<std::string, std::set<std::string>>;

std::string readText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The build's layer table: set(LAYER_<folder> <folders below it>...).
Layers readLayerTable() {
    const std::string text = readText(fs::path(VORL_SOURCE_DIR) / "CMakeLists.txt");
    const std::regex entry(R"(set\(LAYER_(\w+)([^)]*)\))");
    Layers layers;
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
        std::set<std::string>& below = layers[(*it)[1]];
        std::istringstream words((*it)[2].str());
        for (std::string word; words >> word;) below.insert(word);
    }
    return layers;
}

struct Include {
    std::string file;
    std::string target;   // the path as written
};

std::vector<Include> includesOf(const std::string& folder) {
    std::vector<Include> found;
    const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(VORL_SOURCE_DIR) / folder)) {
        const std::string ext = e.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        std::istringstream lines(readText(e.path()));
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (std::regex_search(line, m, include)) {
                found.push_back({folder + "/" + e.path().filename().string(), m[1]});
            }
        }
    }
    return found;
}

// Everything `from` reaches through the table, directly or round about.
std::set<std::string> reach(const Layers& layers, const std::string& from) {
    std::set<std::string> seen;
    std::vector<std::string> todo = {from};
    while (!todo.empty()) {
        const std::string at = todo.back();
        todo.pop_back();
        auto it = layers.find(at);
        if (it == layers.end()) continue;
        for (const std::string& next : it->second) {
            if (seen.insert(next).second) todo.push_back(next);
        }
    }
    return seen;
}

}  // namespace

TEST(Layers, TableNamesEveryProgramFolderAndHasNoCircle) {
    const Layers layers = readLayerTable();
    for (const char* folder :
         {"vexa", "platform", "geometry", "surface", "texture", "display", "render", "app"}) {
        EXPECT_EQ(layers.count(folder), 1u) << folder << " has no layer";
    }
    for (const auto& [folder, below] : layers) {
        EXPECT_EQ(reach(layers, folder).count(folder), 0u) << folder << " reaches itself";
        for (const std::string& b : below) EXPECT_EQ(layers.count(b), 1u) << b << " unknown";
    }
    // The rasterizer and the platform stand below the whole program.
    EXPECT_TRUE(layers.at("vexa").empty());
    EXPECT_EQ(layers.at("platform"), std::set<std::string>{"vexa"});
}

TEST(Layers, EveryIncludeGoesDownAndStaysInsideTheTree) {
    const Layers layers = readLayerTable();
    ASSERT_FALSE(layers.empty());
    int checked = 0;
    for (const auto& [folder, below] : layers) {
        for (const Include& include : includesOf(folder)) {
            EXPECT_EQ(include.target.find(".."), std::string::npos)
                << include.file << " includes " << include.target << " around the layers";
            const std::string::size_type slash = include.target.find('/');
            if (slash == std::string::npos) continue;   // a file of its own folder
            const std::string target = include.target.substr(0, slash);
            if (target == folder || layers.count(target) == 0) continue;
            ++checked;
            EXPECT_EQ(below.count(target), 1u)
                << include.file << " includes " << include.target << ", which is not below "
                << folder;
        }
    }
    EXPECT_GT(checked, 50) << "the includes were not found";
}
