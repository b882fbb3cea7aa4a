// tessivo-tool suggest, run as the station's staff run it.
#include "support/TestUtil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using testutil::shellQuote;
using testutil::TempDir;

namespace {

// The exit code and standard output of the tool in a locale with a decimal comma.
int tool(const std::string& args, std::string* out) {
    return testutil::run("LC_ALL=pt_BR.UTF-8 " + shellQuote((testutil::binDir() / "tessivo-tool").string()) + " " +
                             args + " 2>/dev/null",
                         out);
}

}  // namespace

TEST(SuggestToolTest, JsonForMp3AndWaveNullsForSilenceFailureForText) {
    TempDir dir;
    const std::string wav = dir.file("song.wav"), mp3 = dir.file("song.mp3"), silence = dir.file("silence.wav"),
                      text = dir.file("notes.txt");
    // 1 s of silence, 8 s of music ending cold, 1 s of silence.
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(wav) +
                            " synth 8 sine 220 sine 331 tremolo 3 50 gain -8 pad 1 1 2>/dev/null"),
              0);
    ASSERT_EQ(testutil::run("lame --quiet -b 128 " + shellQuote(wav) + " " + shellQuote(mp3)), 0);
    ASSERT_EQ(testutil::run("sox -D -n -r 44100 -c 2 -b 16 " + shellQuote(silence) + " trim 0 3"), 0);
    testutil::writeFile(text, "not audio\n");

    for (const std::string& song : {wav, mp3}) {
        SCOPED_TRACE(song);
        std::string out;
        ASSERT_EQ(tool("suggest --json " + shellQuote(song), &out), 0);
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
        EXPECT_EQ(o.keys(), QStringList({"end", "ending", "integrated_lufs", "mix", "start", "true_peak_dbtp"})) << out;
        // The decoder's delay moves the MP3's times by a few tens of milliseconds.
        EXPECT_NEAR(o["start"].toDouble(-1), 1.0, 0.1) << out;
        EXPECT_NEAR(o["end"].toDouble(-1), 9.0, 0.1) << out;
        EXPECT_NEAR(o["mix"].toDouble(-1), o["end"].toDouble() - 0.5, 1e-6) << out;
        EXPECT_EQ(o["ending"].toString(), "cold");
        EXPECT_TRUE(o["integrated_lufs"].isDouble() && o["true_peak_dbtp"].isDouble()) << out;
    }

    std::string out;
    ASSERT_EQ(tool("suggest --json " + shellQuote(silence), &out), 0);
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
    EXPECT_EQ(o.size(), 6) << out;
    for (const QString& key : o.keys()) EXPECT_TRUE(o[key].isNull()) << key.toStdString();

    EXPECT_EQ(tool("suggest " + shellQuote(text), &out), 1);
    EXPECT_EQ(tool("suggest", &out), 2);

    // The companion stays a console program: Qt Core, no Gui or Widgets.
    ASSERT_EQ(testutil::run("ldd " + shellQuote((testutil::binDir() / "tessivo-tool").string()), &out), 0);
    EXPECT_NE(out.find("libQt6Core"), std::string::npos);
    EXPECT_EQ(out.find("libQt6Gui"), std::string::npos) << out;
    EXPECT_EQ(out.find("libQt6Widgets"), std::string::npos) << out;
}
