// The key table as the built program tells it: `vorl --help`.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/keys.h"
#include "tests/app/run_program.h"

// `vorl --help` lists every row of the table under its group's name, and no key that the
// table does not hold.
TEST(KeyTable, HelpListsEveryRowAndNothingElse) {
    ScratchDir dir;
    const ProgramRun run = dir.run("--help");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t keysAt = run.out.find("\nKeys (");
    ASSERT_NE(keysAt, std::string::npos) << run.out;
    std::istringstream lines(run.out.substr(run.out.find('\n', keysAt + 1) + 1));
    int count = 0;
    const KeyEntry* list = keyList(&count);
    int index = 0;
    int group = -1;
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        ASSERT_LT(index, count) << "a key the table does not hold: " << line;
        const KeyEntry& row = list[index];
        if (row.group != group) {
            group = row.group;
            EXPECT_EQ(line, std::string(" ") + keyGroupName(group));
            continue;
        }
        EXPECT_EQ(line.rfind(std::string("  ") + row.keys + " ", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - std::string(row.what).size()), row.what) << line;
        ++index;
    }
    EXPECT_EQ(index, count) << "rows missing from --help";
}
