// Platform options taken out of the command line, and what a run leaves at its end: the
// last frame as a TGA and the headless status line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct Parsed {
    int result;
    PlatformOptions options;
    std::vector<std::string> rest;
    std::string error;
};

Parsed parse(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Parsed p;
    std::vector<char*> rest;
    p.result = platformParseOptions(static_cast<int>(argv.size()), argv.data(), &p.options, &rest,
                                    &p.error);
    for (char* r : rest) p.rest.push_back(r);
    return p;
}

TEST(PlatformOptions, PlatformOptionsAreTakenOutOthersKeptInOrder) {
    const Parsed p = parse({"vorl", "-res", "800x600", "--headless", "--frames", "12", "-ref",
                            "75", "--input=keys.txt", "--fixed-clock", "20", "--answer",
                            "cancel", "--save-last-frame", "out.tga", "--windowed",
                            "-screencapture", "3", "--record=session.txt"});
    ASSERT_EQ(p.result, PLATFORM_PARSE_OK) << p.error;
    const std::vector<std::string> rest = {"vorl", "-res", "800x600", "-ref", "75",
                                           "-screencapture", "3"};
    EXPECT_EQ(p.rest, rest);
    EXPECT_TRUE(p.options.headless);
    EXPECT_TRUE(p.options.windowed);
    EXPECT_EQ(p.options.frames, 12);
    EXPECT_STREQ(p.options.inputFile, "keys.txt");
    EXPECT_TRUE(p.options.fixedClock);
    EXPECT_EQ(p.options.fixedClockStep, 20u);
    EXPECT_EQ(p.options.answer, PLATFORM_ANSWER_CANCEL);
    EXPECT_TRUE(p.options.answerGiven);
    EXPECT_STREQ(p.options.saveLastFrameFile, "out.tga");
    EXPECT_STREQ(p.options.recordFile, "session.txt");
}

TEST(PlatformOptions, DefaultsWhenNothingIsGiven) {
    const Parsed p = parse({"vorl"});
    ASSERT_EQ(p.result, PLATFORM_PARSE_OK);
    EXPECT_EQ(p.rest, std::vector<std::string>{"vorl"});
    EXPECT_FALSE(p.options.headless);
    EXPECT_EQ(p.options.frames, PLATFORM_FRAMES_DEFAULT);
    EXPECT_FALSE(p.options.fixedClock);
    EXPECT_EQ(p.options.answer, PLATFORM_ANSWER_OK);
    EXPECT_FALSE(p.options.answerGiven);
    EXPECT_EQ(p.options.inputFile[0], '\0');
    EXPECT_EQ(p.options.recordFile[0], '\0');
}

TEST(PlatformOptions, HelpIsReportedAndNamesBothSidesOptions) {
    EXPECT_EQ(parse({"vorl", "-res", "640x480", "--help"}).result, PLATFORM_PARSE_HELP);
    const std::string help = platformHelpText(nullptr);
    for (const char* word : {"--headless", "--windowed", "--frames", "--input", "--fixed-clock",
                             "--answer", "--save-last-frame", "--record", "FRAME clock MS",
                             "FRAME cursor X Y", "FRAME answer ok|cancel", "F1-F12", "-res",
                             "-ref", "-screencapture", "--png", "--audit-cracks"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(help.find("Keys"), std::string::npos) << "no key list, no key section";
    EXPECT_EQ(platformHelpText(""), help);
}

TEST(PlatformOptions, HelpListsTheProgramsKeysUnderTheirGroups) {
    const std::string help = platformHelpText(
        "Moving\tUp, Down\tmove forward, back\n"
        "Moving\tShift+Up, Shift+Down\tclimb, descend\n"
        "Detail\t+, -\tmore, fewer steps\n"
        "a line without its fields\n"
        "Files\tS\tsave");   // the last line may lack its line end
    const std::size_t keys = help.find("\nKeys");
    ASSERT_NE(keys, std::string::npos);
    EXPECT_GT(keys, help.find("Program options:")) << "the keys come after the options";
    const std::string section = help.substr(keys + 1);
    EXPECT_EQ(section.substr(section.find('\n') + 1),
              " Moving\n"
              "  Up, Down                move forward, back\n"
              "  Shift+Up, Shift+Down    climb, descend\n"
              " Detail\n"
              "  +, -                    more, fewer steps\n"
              " Files\n"
              "  S                       save\n");
}

TEST(PlatformOptions, MalformedValuesAreErrors) {
    EXPECT_EQ(parse({"vorl", "--frames"}).error, "--frames: missing value");
    EXPECT_EQ(parse({"vorl", "--frames", "-3"}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--frames", "12x"}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--frames", "99999999999"}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--fixed-clock", "fast"}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--answer", "yes"}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--input", ""}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--record"}).error, "--record: missing value");
    EXPECT_EQ(parse({"vorl", "--record="}).result, PLATFORM_PARSE_ERROR);
    EXPECT_EQ(parse({"vorl", "--headless=1"}).result, PLATFORM_PARSE_ERROR);
    const Parsed p = parse({"vorl", "--answer", "maybe"});
    EXPECT_NE(p.error.find("--answer"), std::string::npos);
}

TEST(PlatformOptions, UnknownOptionsAreRefusedByName) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"vorl", "--bogus"}, "--bogus: unknown option"},
        {{"vorl", "-v"}, "-v: unknown option"},
        {{"vorl", "--bogus=3", "--headless"}, "--bogus: unknown option"},
        {{"vorl", "-res", "800x600", "-x"}, "-x: unknown option"},
        {{"vorl", "--Headless"}, "--Headless: unknown option"},
        {{"vorl", "-"}, "-: unknown option"},
        // A refusal wins over --help and --version: the person learns what was wrong.
        {{"vorl", "--help", "--nope"}, "--nope: unknown option"},
        {{"vorl", "--version", "-q"}, "-q: unknown option"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.result, PLATFORM_PARSE_ERROR) << c.args.back();
        EXPECT_EQ(p.error, c.error);
    }
}

TEST(PlatformOptions, ProgramOptionsAndTheirValuesStillReachTheProgram) {
    // The program's options in any case, with whatever value follows them (the program
    // judges a resolution or rate it does not know, and says what it does instead).
    const Parsed p = parse({"vorl", "-RES", "--bogus", "-screencapture", "0", "-Ref", "-1",
                            "--frames", "4", "-res"});
    ASSERT_EQ(p.result, PLATFORM_PARSE_OK) << p.error;
    const std::vector<std::string> rest = {"vorl", "-RES", "--bogus", "-screencapture", "0",
                                           "-Ref", "-1", "-res"};
    EXPECT_EQ(p.rest, rest);
    EXPECT_EQ(p.options.frames, 4);
    // A platform option after a program option is still the platform's: -res is left without
    // a value, as before, and the program asks for it.
    const Parsed q = parse({"vorl", "-res", "--headless"});
    ASSERT_EQ(q.result, PLATFORM_PARSE_OK) << q.error;
    EXPECT_EQ(q.rest, (std::vector<std::string>{"vorl", "-res"}));
    EXPECT_TRUE(q.options.headless);
}

TEST(PlatformOptions, CaptureCountsAndSecondSurfaceFilesAreRefusedByName) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"vorl", "-screencapture", "abc"},
         "-screencapture: expected a whole number of frames, not 'abc'"},
        {{"vorl", "-SCREENCAPTURE", "-3"},
         "-SCREENCAPTURE: expected a whole number of frames, not '-3'"},
        {{"vorl", "-screencapture", "5x", "--headless"},
         "-screencapture: expected a whole number of frames, not '5x'"},
        {{"vorl", "-screencapture", ""}, "-screencapture: expected a whole number of frames, not ''"},
        {{"vorl", "one.txt", "two.txt"},
         "'two.txt': a second surface file ('one.txt' is named already)"},
        {{"vorl", "-res", "800x600", "800x600", "x.txt"},
         "'x.txt': a second surface file ('800x600' is named already)"},
        {{"vorl", "--headless", "mine.txt", "--surface", "yours.txt", "--help"},
         "'mine.txt': a second surface file ('yours.txt' is named already)"},
        {{"vorl", "--surface=a.txt", "--surface", "b.txt"},
         "'b.txt': a second surface file ('a.txt' is named already)"},
        {{"vorl", "--surface="}, "--surface: the file name is empty or too long"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.result, PLATFORM_PARSE_ERROR) << c.args[1];
        EXPECT_EQ(p.error, c.error);
    }
    // A count that is a whole number passes; a lone -screencapture is still asked about.
    EXPECT_EQ(parse({"vorl", "-screencapture", "12"}).result, PLATFORM_PARSE_OK);
    EXPECT_EQ(parse({"vorl", "-screencapture"}).result, PLATFORM_PARSE_OK);
}

// A lone word that is no option's value names the surface file, as --surface does; it is
// taken out of what the program reads, wherever it stands.
TEST(PlatformOptions, ALoneWordOrSurfaceNamesTheSurfaceFile) {
    const Parsed word = parse({"vorl", "-res", "800x600", "hills.txt", "--headless"});
    ASSERT_EQ(word.result, PLATFORM_PARSE_OK) << word.error;
    EXPECT_STREQ(word.options.surfaceFile, "hills.txt");
    EXPECT_EQ(word.rest, (std::vector<std::string>{"vorl", "-res", "800x600"}));
    const Parsed option = parse({"vorl", "--surface", "-odd name.txt", "-ref", "75"});
    ASSERT_EQ(option.result, PLATFORM_PARSE_OK) << option.error;
    EXPECT_STREQ(option.options.surfaceFile, "-odd name.txt");
    EXPECT_EQ(option.rest, (std::vector<std::string>{"vorl", "-ref", "75"}));
    const Parsed none = parse({"vorl", "-screencapture", "3"});
    EXPECT_STREQ(none.options.surfaceFile, "") << "without a name the shipped file is read";
    // A program option's value is never the surface file, even when it looks like one.
    const Parsed value = parse({"vorl", "-res", "a.txt"});
    ASSERT_EQ(value.result, PLATFORM_PARSE_OK) << value.error;
    EXPECT_STREQ(value.options.surfaceFile, "");
}

TEST(PlatformOptions, HelpListsTheValuesOfResAndRef) {
    const std::string help = platformHelpText(nullptr);
    const std::size_t res = help.find("-res WxH");
    const std::size_t ref = help.find("-ref HZ");
    const std::size_t capture = help.find("-screencapture N");
    ASSERT_NE(res, std::string::npos);
    ASSERT_NE(ref, std::string::npos);
    ASSERT_NE(capture, std::string::npos);
    const std::string resText = help.substr(res, ref - res);
    for (const char* value : {"1600x1200", "1280x1024", "1024x768", "800x600", "640x480",
                              "512x384"}) {
        EXPECT_NE(resText.find(value), std::string::npos) << value;
    }
    const std::string refText = help.substr(ref, capture - ref);
    for (const char* value : {"60,", "70", "72", "75", "80", "85", "90", "100", "120"}) {
        EXPECT_NE(refText.find(value), std::string::npos) << value;
    }
}

TEST(PlatformOptions, VersionIsReportedAfterHelp) {
    EXPECT_EQ(parse({"vorl", "--version"}).result, PLATFORM_PARSE_VERSION);
    EXPECT_EQ(parse({"vorl", "-res", "640x480", "--version"}).result, PLATFORM_PARSE_VERSION);
    EXPECT_EQ(parse({"vorl", "--version", "--help"}).result, PLATFORM_PARSE_HELP);
    EXPECT_EQ(parse({"vorl", "--version=1"}).error, "--version: takes no value");
    EXPECT_NE(platformHelpText(nullptr).find("--version"), std::string::npos);
}

class RunEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        platformReset();
        // One file per test: ctest runs the tests of this suite side by side in one folder.
        name = std::string("run_end_") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".tga";
        path = name.c_str();
    }
    void TearDown() override {
        platformReset();
        std::remove(path);
    }
    std::string name;
    const char* path = nullptr;
};

std::vector<unsigned char> readFile(const char* path) {
    std::vector<unsigned char> bytes;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return bytes;
}

TEST_F(RunEndTest, LastFrameIsWrittenAsBottomUpBgrTga) {
    // 3x2 frame: top-left pure red, bottom-left pure blue, bottom-right white, rest black.
    const std::uint16_t first[6] = {0x1234, 0x1234, 0x1234, 0x1234, 0x1234, 0x1234};
    const std::uint16_t pixels[6] = {0xF800, 0x0000, 0x0000, 0x001F, 0x0000, 0xFFFF};
    std::snprintf(platformOptions.saveLastFrameFile, PLATFORM_PATH_MAX, "%s", path);
    framePresent(nullptr, nullptr, first, 3, 2, 1);
    framePresent(nullptr, nullptr, pixels, 3, 2, 1);
    ASSERT_TRUE(platformFinish());
    const std::vector<unsigned char> tga = readFile(path);
    ASSERT_EQ(tga.size(), 18u + 3 * 2 * 3);
    const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 0};
    for (int i = 0; i < 18; ++i) EXPECT_EQ(tga[i], header[i]) << "header byte " << i;
    // First stored row is the bottom one: blue, black, white.
    const unsigned char* bottom = &tga[18];
    EXPECT_EQ(bottom[0], 248);   // B
    EXPECT_EQ(bottom[1], 0);
    EXPECT_EQ(bottom[2], 0);
    EXPECT_EQ(bottom[6], 248);
    EXPECT_EQ(bottom[7], 252);
    EXPECT_EQ(bottom[8], 248);
    const unsigned char* top = &tga[18 + 9];
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[1], 0);
    EXPECT_EQ(top[2], 248);   // R
}

TEST_F(RunEndTest, NoFrameMeansNoFileAndAFailure) {
    std::snprintf(platformOptions.saveLastFrameFile, PLATFORM_PATH_MAX, "%s", path);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(platformFinish());
    EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
    EXPECT_TRUE(readFile(path).empty());
}

TEST_F(RunEndTest, HeadlessRunPrintsTheLastStatusLineOnce) {
    platformSetStatusLine("frame 1 12.0 fps\n");
    platformSetStatusLine("frame 2 15.5 fps\n");
    testing::internal::CaptureStdout();
    platformFinish();
    platformFinish();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "frame 2 15.5 fps\n");
}

TEST_F(RunEndTest, FrameCopyReusesItsBufferWhileTheSizeStays) {
    std::vector<std::uint16_t> a(64 * 48, 1), b(64 * 48, 2);
    std::snprintf(platformOptions.saveLastFrameFile, PLATFORM_PATH_MAX, "%s", path);
    framePresent(nullptr, nullptr, a.data(), 64, 48, 0);
    const std::uint16_t* buffer = platformFrame.pixels.data();
    framePresent(nullptr, nullptr, b.data(), 64, 48, 0);
    EXPECT_EQ(platformFrame.pixels.data(), buffer);
    EXPECT_EQ(platformFrame.pixels[100], 2);
    EXPECT_EQ(platformFrame.presented, 2);
}

// A back end that copies each frame as it shows it is handed the rasterizer's frame, with no
// copy kept; a window's back end is handed the kept copy, as is any with a last frame to save.
TEST_F(RunEndTest, OnlyABackEndThatKeepsNothingIsHandedTheFrameItself) {
    static const std::uint16_t* handed = nullptr;
    std::vector<std::uint16_t> a(64 * 48, 1), b(64 * 48, 2);
    platformBackend.showFrame = [](const std::uint16_t* pixels, int, int, int) {
        handed = pixels;
    };
    platformBackend.showFrameCopies = true;
    framePresent(nullptr, nullptr, a.data(), 64, 48, 0);
    EXPECT_EQ(handed, a.data());
    EXPECT_TRUE(platformFrame.pixels.empty());
    EXPECT_EQ(platformFrame.presented, 1);

    std::snprintf(platformOptions.saveLastFrameFile, PLATFORM_PATH_MAX, "%s", path);
    framePresent(nullptr, nullptr, b.data(), 64, 48, 0);
    EXPECT_EQ(handed, platformFrame.pixels.data());
    EXPECT_EQ(platformFrame.pixels[100], 2);

    platformBackend.showFrameCopies = false;
    platformOptions.saveLastFrameFile[0] = '\0';
    framePresent(nullptr, nullptr, a.data(), 64, 48, 0);
    EXPECT_EQ(handed, platformFrame.pixels.data()) << "a window repaints from the kept copy";
    EXPECT_EQ(platformFrame.pixels[100], 1);
    platformBackend = PlatformBackend{};
}

// Without a window or a last frame to save, presenting counts the frame and copies
// nothing; saving then (an option set too late) fails with a reason, not a stale picture.
TEST_F(RunEndTest, HeadlessRunWithoutAReaderKeepsNoCopy) {
    std::vector<std::uint16_t> a(64 * 48, 1);
    framePresent(nullptr, nullptr, a.data(), 64, 48, 0);
    EXPECT_EQ(platformFrame.presented, 1);
    EXPECT_EQ(platformFrame.width, 64);
    EXPECT_TRUE(platformFrame.pixels.empty());
    std::snprintf(platformOptions.saveLastFrameFile, PLATFORM_PATH_MAX, "%s", path);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(platformFinish());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not kept"), std::string::npos);
    EXPECT_TRUE(readFile(path).empty());
}

}  // namespace
