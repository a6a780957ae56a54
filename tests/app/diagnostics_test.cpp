// reportError and its sinks: file truncation and appending, sink order, cut texts, paths
// that do not fit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/diagnostics.h"
#include "app/program.h"

namespace {

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetDiagnostics();
        path_ = std::filesystem::temp_directory_path() /
                ("vorl-diag-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        std::filesystem::remove(path_);
        ASSERT_TRUE(setErrorFile(path_.string().c_str()));
    }
    void TearDown() override {
        std::filesystem::remove(path_);
        resetDiagnostics();
    }
    std::string contents() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path path_;
};

}  // namespace

TEST_F(DiagnosticsTest, FirstMessageTruncatesLaterOnesAppend) {
    {
        std::ofstream(path_) << "left over from an earlier run\n";
    }
    reportError("first %d\n", 1);
    reportError("second %s\n", "two");
    EXPECT_EQ(contents(), "first 1\nsecond two\n");
    // A new run (setErrorFile again) starts a new file with its first message.
    ASSERT_TRUE(setErrorFile(path_.string().c_str()));
    reportError("third\n");
    EXPECT_EQ(contents(), "third\n");
}

TEST_F(DiagnosticsTest, PercentSignsAreWrittenUnchanged) {
    reportError("%s\n", "100% sure");
    EXPECT_EQ(contents(), "100% sure\n");
}

TEST_F(DiagnosticsTest, NoSinkMeansNoEffect) {
    program.diagnostics.enabledSinks = 0;
    reportError("nothing\n");
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_TRUE(program.diagnostics.truncateNext);
}

TEST_F(DiagnosticsTest, LongTextIsCutTo255Characters) {
    const std::string longText(1000, 'x');
    reportError("%s", longText.c_str());
    EXPECT_EQ(contents(), std::string(255, 'x'));
}

TEST_F(DiagnosticsTest, CutTextKeepsItsLineEndSoTheNextMessageStartsAfresh) {
    const std::string longText(1000, 'x');
    reportError("%s\n", longText.c_str());
    reportError("next\n");
    EXPECT_EQ(contents(), std::string(254, 'x') + "\nnext\n");
}

TEST_F(DiagnosticsTest, FailureIsWrittenAndShownUntilItsTimeIsUp) {
    EXPECT_EQ(currentNotice(0), nullptr);
    reportFailure(1000, "couldn't save surface file (%s)\n", "write failed: No space left");
    EXPECT_EQ(contents(), "couldn't save surface file (write failed: No space left)\n");
    ASSERT_NE(currentNotice(1000), nullptr);
    EXPECT_STREQ(currentNotice(1000 + NOTICE_MILLISECONDS - 1),
                 "couldn't save surface file (write failed: No space left)");
    EXPECT_EQ(currentNotice(1000 + NOTICE_MILLISECONDS), nullptr);
    // Across the clock's wrap the notice still lasts its time.
    reportFailure(0xFFFFFF00u, "late\n");
    EXPECT_STREQ(currentNotice(0x10u), "late");
    EXPECT_EQ(currentNotice(0xFFFFFF00u + NOTICE_MILLISECONDS), nullptr);
}

TEST_F(DiagnosticsTest, PathThatDoesNotFitKeepsThePreviousOne) {
    const std::string tooLong(ERROR_PATH_SIZE, 'p');
    EXPECT_FALSE(setErrorFile(tooLong.c_str()));
    EXPECT_EQ(std::string(program.diagnostics.filePath), path_.string());
    const std::string fits(ERROR_PATH_SIZE - 1, 'p');
    EXPECT_TRUE(setErrorFile(fits.c_str()));
    EXPECT_EQ(std::string(program.diagnostics.filePath), fits);
}

TEST_F(DiagnosticsTest, UnopenableFileKeepsTruncateNext) {
    ASSERT_TRUE(setErrorFile("/nonexistent-dir/vorl/error.txt"));
    reportError("lost\n");
    EXPECT_TRUE(program.diagnostics.truncateNext);
}

TEST_F(DiagnosticsTest, FileSinkBeforeStandardOutput) {
    enableErrorSink(SINK_STDOUT);
    testing::internal::CaptureStdout();
    reportError("both\n");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "both\n");
    EXPECT_EQ(contents(), "both\n");
}

TEST_F(DiagnosticsTest, SinkIndicesWrapAtThirtyTwoAndHighIndicesEnableNothing) {
    program.diagnostics.enabledSinks = 0;
    enableErrorSink(32);  // bit 0: the file sink
    EXPECT_EQ(program.diagnostics.enabledSinks, 1u);
    enableErrorSink(7);
    testing::internal::CaptureStdout();
    reportError("only the file\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(contents(), "only the file\n");
}
