// tessivo-tool import, run as a script or an operator at a terminal runs it: the written wave
// against mpg123, the summary line, the progress bar only on a terminal without --quiet, and
// every failure as a one-line reason with a non-zero exit.
#include "ImportChainUtil.h"
#include "ImportTestUtil.h"

#include "import/MMMPEG.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>

using namespace testutil;
using importtest::readWav;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string toolPath() { return (binDir() / "tessivo-tool").string(); }

Result tool(const std::string& args) {
    TempDir dir;
    const std::string errFile = dir.file("err");
    Result r;
    const int status = run(shellQuote(toolPath()) + " " + args + " 2>" + shellQuote(errFile), &r.out);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    r.err = readFile(errFile);
    return r;
}

// The same, with standard output on a pseudo-terminal.
Result toolOnTerminal(const std::string& args) {
    Result r;
    const int status = run("script -qec " + shellQuote(shellQuote(toolPath()) + " " + args) + " /dev/null", &r.out);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    return r;
}

class ImportToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(toolPath())) << toolPath();
        if (!MpegLibrary()) GTEST_SKIP() << "decoder library missing";
    }
    TempDir dir;
};

}  // namespace

TEST_F(ImportToolTest, WritesWhatTheReferencePlayerDecodesAndSummarisesIt) {
    if (!haveTool("lame") || !haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 missing";
    const std::string mp3 = dir.file("in.mp3"), out = dir.file("out.wav");
    ASSERT_TRUE(makeMp3(mp3, 4.3, "-b 64 -m m", 44100, 1));
    const auto ref = importtest::mpg123Decode(mp3, dir.file("ref.wav"));
    writeFile(out, "an older file in the way");

    const Result r = tool("import " + shellQuote(mp3) + " " + shellQuote(out));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto got = readWav(out);
    ASSERT_TRUE(got.ok);
    EXPECT_TRUE(got.data == ref.data || got.data == ref.data + std::string(4, '\0'));
    const int64_t ms = int64_t(got.data.size()) * 1000 / (44100 * 2);
    // Not a terminal: the summary line only.
    EXPECT_EQ(r.out, out + ": PCM 16 bits, 1 channel, 44100 Hz, " + FormatTimeMs(ms) + " (" +
                         std::to_string(got.data.size()) + " bytes of data)\n");
}

TEST_F(ImportToolTest, ShowsAProgressBarOnATerminalUnlessQuiet) {
    if (!haveTool("script")) GTEST_SKIP() << "script missing";
    const std::string wav = dir.file("in.wav");
    ASSERT_TRUE(makeToneWav(wav, 8.0));
    const Result bar = toolOnTerminal("import " + shellQuote(wav) + " " + shellQuote(dir.file("a.wav")));
    EXPECT_EQ(bar.code, 0);
    EXPECT_NE(bar.out.find("100%"), std::string::npos) << bar.out;
    EXPECT_NE(bar.out.find("\r["), std::string::npos);
    const Result quiet = toolOnTerminal("import --quiet " + shellQuote(wav) + " " + shellQuote(dir.file("b.wav")));
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.out.find('%'), std::string::npos) << quiet.out;
    EXPECT_NE(quiet.out.find("b.wav: PCM 16 bits, 2 channels, 44100 Hz, 0:08.000"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("a.wav")), readFile(dir.file("b.wav")));
}

TEST_F(ImportToolTest, FailuresGiveOneLineAndANonZeroExit) {
    const std::string text = dir.file("notes.mp3");
    writeFile(text, "not sound\n");
    struct Case {
        std::string args;
        int code;
        std::string err;
    };
    const std::string out = dir.file("out.wav");
    const Case cases[] = {
        {"import " + shellQuote(text) + " " + shellQuote(out), 1,
         "tessivo-tool: " + text + ": This is not a valid Audiofile\n"},
        {"import " + shellQuote(dir.file("gone.mp3")) + " " + shellQuote(out), 1,
         "tessivo-tool: no such file: " + dir.file("gone.mp3") + "\n"},
        {"import " + shellQuote(text), 2, "tessivo-tool: import needs FILE and OUT.wav (try --help)\n"},
        {"import --fast " + shellQuote(text) + " " + shellQuote(out), 2, "tessivo-tool: unknown option: --fast\n"},
        {"import " + shellQuote(text) + " " + shellQuote(text), 1,
         "tessivo-tool: " + text + ": the output would overwrite the input\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = tool(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(readFile(text), "not sound\n");
}

TEST_F(ImportToolTest, AFullDiskFailsAndRemovesTheCutShortFile) {
    const std::string wav = dir.file("in.wav");
    ASSERT_TRUE(makeToneWav(wav, 20.0));  // 3.5 MB of PCM
    importchain::SmallVolume vol(dir.file("vol"), "1m");
    if (!vol.mounted()) GTEST_SKIP() << "cannot mount a small volume here";
    const std::string out = dir.file("vol/out.wav");
    const Result r = tool("import --quiet " + shellQuote(wav) + " " + shellQuote(out));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tessivo-tool: " + out + ": could not be written completely (disk full or write error)\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));
}
