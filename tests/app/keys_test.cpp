// The key list people are shown: well formed, grouped, the same in the text the platform gets
// (--help, a page's key panel) and in the README's key section, so the three cannot drift.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

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
    const KeyHelp* list = keyList(&count);
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
    const KeyHelp* list = keyList(&count);
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

TEST(KeyList, ThePlatformsTextHoldsEveryEntryInOrder) {
    int count = 0;
    const KeyHelp* list = keyList(&count);
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
    const KeyHelp* list = keyList(&count);
    int added = 0;
    for (int i = 0; i < count; ++i) {
        if (list[i].demoHelp) continue;
        ++added;
        const std::string line = upper(std::string(list[i].keys) + ": " + list[i].what);
        EXPECT_NE(help.find("\n" + line + "\n"), std::string::npos) << line << "\n" << help;
    }
    EXPECT_GE(added, 14) << "Shift+Up/Down, Home/End, B, F, Z, Enter, files and tools";
    EXPECT_NE(help.find("SUBDIVS [6] (UNUSED: DYNAMIC)\n"), std::string::npos) << help;
    renderOptions.dynamicDetail = false;
    runFrame();
    EXPECT_NE(consoleText().find("SUBDIVS [6]\n"), std::string::npos) << "static detail uses it";
    stopProgram();   // the window and its class too, so a later test can start again
}
