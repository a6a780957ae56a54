// The key table: well formed, grouped, every key's row acting on exactly the keys its words
// name, and the same in the text the platform gets (--help, a page's key panel), in F1 and in
// the README's key section, so none of them can drift.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/frame.h"
#include "app/keys.h"
#include "app/startup.h"
#include "display/display.h"
#include "platform/services.h"
#include "platform/win32.h"
#include "render/options.h"

namespace {

std::string readmeText() {
    std::ifstream file(std::string(VORL_SOURCE_DIR) + "/README.md");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The README's key section as it must read: each group's name in bold, then its keys.
std::string readmeSection() {
    int count = 0;
    const KeyEntry* list = keyList(&count);
    std::string text;
    int group = -1;
    for (int i = 0; i < count; ++i) {
        if (list[i].group != group) {
            group = list[i].group;
            text += std::string(group == list[0].group ? "" : "\n") + "**" +
                    keyGroupName(group) + "**\n\n";
        }
        text += std::string("- `") + list[i].keys + "`: " + list[i].what + "\n";
    }
    return text;
}

}  // namespace

TEST(KeyList, EveryGroupIsOneRunInOrderAndNoKeyIsListedTwice) {
    int count = 0;
    const KeyEntry* list = keyList(&count);
    ASSERT_GT(count, 0);
    std::set<int> groupsSeen;
    std::set<std::string> keysSeen;
    for (int i = 0; i < count; ++i) {
        ASSERT_GE(list[i].group, 0);
        ASSERT_LT(list[i].group, KEY_GROUP_COUNT);
        if (i > 0 && list[i].group != list[i - 1].group) {
            EXPECT_GT(list[i].group, list[i - 1].group) << list[i].keys << ": groups in order";
            EXPECT_EQ(groupsSeen.count(list[i].group), 0u) << list[i].keys << ": group split";
        }
        groupsSeen.insert(list[i].group);
        EXPECT_TRUE(keysSeen.insert(list[i].keys).second) << list[i].keys << " listed twice";
        const std::string keys = list[i].keys, what = list[i].what;
        EXPECT_FALSE(keys.empty() || what.empty());
        // Tabs and line ends would break the lines the platform and the page split.
        EXPECT_EQ((keys + what).find_first_of("\t\n"), std::string::npos) << keys;
    }
    EXPECT_EQ(static_cast<int>(groupsSeen.size()), KEY_GROUP_COUNT) << "every group has keys";
    EXPECT_STREQ(keyGroupName(KEY_GROUP_COUNT), "");
}

namespace {

// The virtual keys a key's name stands for, as the words write it: "+" and "-" are on the main
// keyboard and the keypad.
std::vector<int> codesNamed(const std::string& name) {
    static const std::map<std::string, std::vector<int>> NAMED = {
        {"Up", {VK_UP}},       {"Down", {VK_DOWN}},       {"Left", {VK_LEFT}},
        {"Right", {VK_RIGHT}}, {"Home", {VK_HOME}},       {"End", {VK_END}},
        {"Enter", {VK_RETURN}}, {"Escape", {VK_ESCAPE}},
        {"+", {VK_OEM_PLUS, VK_ADD}}, {"-", {VK_OEM_MINUS, VK_SUBTRACT}},
    };
    const auto named = NAMED.find(name);
    if (named != NAMED.end()) return named->second;
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0]))) return {name[0]};
    if (name.size() == 2 && name[0] == 'F' && name[1] >= '1' && name[1] <= '9') {
        return {VK_F1 + name[1] - '1'};
    }
    return {};
}

// The keys a row's words name ("B, Shift+B"), each with whether Shift is part of it.
std::vector<std::pair<std::string, bool>> namedKeys(const std::string& keys) {
    std::vector<std::pair<std::string, bool>> named;
    std::size_t at = 0;
    while (at <= keys.size()) {
        std::size_t end = keys.find(", ", at);
        if (end == std::string::npos) end = keys.size();
        std::string name = keys.substr(at, end - at);
        const bool shift = name.rfind("Shift+", 0) == 0;
        named.push_back({shift ? name.substr(6) : name, shift});
        at = end + 2;
    }
    return named;
}

std::set<int> rowCodes(const KeyEntry& row) {
    std::set<int> codes;
    for (const std::uint16_t c : row.codes) {
        if (c != 0) codes.insert(c);
    }
    return codes;
}

}  // namespace

// A row with an action answers to exactly the keys its words name, with Shift as they write
// it, and the look-up finds that row for each: no other row claims any of them. A row without
// an action is one the platform acts on itself and answers to no key.
TEST(KeyTable, EveryRowActsOnTheKeysItsWordsNameAndNoOtherRowClaimsThem) {
    int count = 0;
    const KeyEntry* list = keyList(&count);
    int actions = 0;
    for (int i = 0; i < count; ++i) {
        const KeyEntry& row = list[i];
        const std::set<int> codes = rowCodes(row);
        if (row.action == nullptr) {
            EXPECT_TRUE(codes.empty()) << row.keys << ": keys but no action";
            continue;
        }
        ++actions;
        std::set<int> named;
        for (const auto& [name, shift] : namedKeys(row.keys)) {
            const std::vector<int> these = codesNamed(name);
            EXPECT_FALSE(these.empty()) << row.keys << ": no key called '" << name << "'";
            for (const int code : these) {
                named.insert(code);
                EXPECT_EQ(findKey(code, shift, row.onRelease), &row)
                    << row.keys << ": '" << name << "' finds another row";
            }
        }
        EXPECT_EQ(codes, named) << row.keys << ": its codes are not the keys its words name";
        // Shift either way: each state the row takes finds it.
        for (const bool shift : {false, true}) {
            const bool takes = row.shift == KEY_ANY_SHIFT ||
                               (row.shift == KEY_WITH_SHIFT) == shift;
            if (!takes) continue;
            for (const int code : codes) {
                EXPECT_EQ(findKey(code, shift, row.onRelease), &row) << row.keys;
            }
        }
    }
    EXPECT_GE(actions, count - 2) << "only the mouse and F6 are the platform's own";
    EXPECT_EQ(findKey(VK_RETURN, false, false), nullptr) << "Enter acts on release only";
    EXPECT_EQ(findKey(VK_SHIFT, false, false), nullptr) << "Shift is a modifier, not a key";
    EXPECT_EQ(findKey('J', false, false), nullptr);
}

TEST(KeyList, ThePlatformsTextHoldsEveryEntryInOrder) {
    int count = 0;
    const KeyEntry* list = keyList(&count);
    std::istringstream lines(applicationKeyList());
    int index = 0;
    for (std::string line; std::getline(lines, line); ++index) {
        ASSERT_LT(index, count) << "more lines than keys: " << line;
        EXPECT_EQ(line, std::string(keyGroupName(list[index].group)) + "\t" + list[index].keys +
                            "\t" + list[index].what);
    }
    EXPECT_EQ(index, count);
}

TEST(KeyList, TheReadmeShowsTheList) {
    const std::string readme = readmeText();
    const std::string begin = "<!-- keys: begin -->\n";
    const std::string end = "<!-- keys: end -->";
    const std::size_t from = readme.find(begin);
    const std::size_t to = readme.find(end);
    ASSERT_NE(from, std::string::npos) << "README.md has no key section";
    ASSERT_NE(to, std::string::npos);
    ASSERT_LT(from, to);
    const std::string section = readme.substr(from + begin.size(), to - from - begin.size());
    EXPECT_EQ(section, readmeSection()) << "README.md's key section should read:\n"
                                        << readmeSection();
}

namespace {

// The rows the console holds after a frame, one line each: with the help shown, the help is
// what was printed last.
std::string consoleText() {
    const ConsoleState& console = display.console;
    std::string text;
    for (int row = 0; row < console.rows; ++row) {
        const std::uint8_t* line = console.grid + row * console.columns;
        for (int column = 0; column < console.columns && line[column] != 0; ++column) {
            text += static_cast<char>(line[column]);
        }
        text += '\n';
    }
    return text;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// F1 draws the demo's own list and then every other key of the table, in the table's words,
// and says when the static count it shows is not in use.
TEST(KeyList, F1ShowsEveryKeyOfTheTable) {
    ASSERT_EQ(chdir(VORL_SOURCE_DIR), 0);
    char name[] = "vorl";
    char* argv[] = {name, nullptr};
    int exitCode = 0;
    ASSERT_TRUE(startProgram(1, argv, &exitCode)) << exitCode;
    renderOptions.showHelp = true;
    runFrame();
    const std::string help = consoleText();
    int count = 0;
    const KeyEntry* list = keyList(&count);
    int added = 0;
    for (int i = 0; i < count; ++i) {
        if (list[i].demoHelp) continue;
        ++added;
        const std::string line = upper(std::string(list[i].keys) + ": " + list[i].what);
        EXPECT_NE(help.find("\n" + line + "\n"), std::string::npos) << line << "\n" << help;
    }
    EXPECT_GE(added, 14) << "Shift+Up/Down, Home/End, B, F, Z, Enter, files and tools";
    // The demo's own list names the rest of the keys, in its words: each key starts a line.
    for (int i = 0; i < count; ++i) {
        if (!list[i].demoHelp) continue;
        for (const auto& named : namedKeys(list[i].keys)) {
            const std::string& key = named.first;
            const bool arrow = key == "Up" || key == "Down" || key == "Left" || key == "Right";
            const std::string start = arrow ? "ARROW KEYS"
                                            : (key == "+" || key == "-") ? "+/-" : upper(key);
            EXPECT_NE(help.find("\n" + start + ": "), std::string::npos)
                << list[i].keys << ": F1 does not list " << key << "\n" << help;
        }
    }
    EXPECT_NE(help.find("SUBDIVS [6] (UNUSED: DYNAMIC)\n"), std::string::npos) << help;
    renderOptions.dynamicDetail = false;
    runFrame();
    EXPECT_NE(consoleText().find("SUBDIVS [6]\n"), std::string::npos) << "static detail uses it";
    stopProgram();   // the window and its class too, so a later test can start again
}
