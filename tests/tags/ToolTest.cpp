// tessivo-tool, run as the station's staff run it.
#include "Id3TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

using namespace id3test;
using testutil::shellQuote;
using testutil::TempDir;

namespace {

struct Result {
    int code;
    std::string out, err;
};

// Runs the tool with the arguments (already quoted) in a fixed locale; captures both streams.
Result tool(const std::string& args, const std::string& lang = "pt_BR.UTF-8") {
    TempDir dir;
    const std::string errFile = dir.file("err");
    Result r;
    const int status = testutil::run("LC_ALL=" + lang + " LANG=" + lang + " " +
                                         shellQuote((testutil::binDir() / "tessivo-tool").string()) + " " + args +
                                         " 2>" + shellQuote(errFile),
                                     &r.out);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    r.err = testutil::readFile(errFile);
    return r;
}

QJsonObject json(const std::string& text) {
    QJsonParseError e{};
    const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << text;
    return doc.object();
}

int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

}  // namespace

TEST(ToolTest, InfoOfALameVbrFile) {
    TempDir dir;
    const std::string path = dir.file("vbr.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 8.0, "-V 2"));
    const Result r = tool("info --json " + shellQuote(path));
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject o = json(r.out);
    EXPECT_EQ(o.size(), 47);
    for (const QString& key : o.keys()) EXPECT_TRUE(o[key].isString()) << key.toStdString();
    EXPECT_EQ(o["MpegValid"].toString(), "Sim");
    EXPECT_EQ(o["EncoderText"].toString(), "LAME 3.10");
    EXPECT_EQ(o["SampleRateText"].toString(), "44100 hz");
    const QString rate = o["BitRateText"].toString();
    ASSERT_TRUE(rate.startsWith("VBR ") && rate.endsWith(" kbit/s")) << rate.toStdString();
    const int kbps = rate.mid(4, rate.size() - 4 - 7).toInt();

    // The average bit rate and the duration agree with ffprobe.
    std::string probe;
    ASSERT_EQ(testutil::run("ffprobe -v error -show_entries format=bit_rate,duration -of default=nw=1:nk=1 " +
                                shellQuote(path),
                            &probe),
              0);
    const double probeRate = std::stod(probe.substr(probe.find('\n') + 1)) / 1000.0;
    const double probeDuration = std::stod(probe);
    EXPECT_NEAR(kbps, probeRate, 0.05 * probeRate + 1) << probe;
    const QString duration = o["DurationText"].toString();
    ASSERT_TRUE(duration.endsWith(" seg."));
    EXPECT_NEAR(duration.chopped(5).replace(',', '.').toDouble(), probeDuration, 0.1) << duration.toStdString();

    // The plain form: one "Name: value" line per field; the decimal separator of the locale.
    const Result plain = tool("info " + shellQuote(path));
    ASSERT_EQ(plain.code, 0);
    EXPECT_EQ(lines(plain.out), 47);
    EXPECT_EQ(plain.out.rfind("MpegValid: Sim\nFileSizeText: ", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find("\nDurationText: 8,"), std::string::npos);
    EXPECT_NE(tool("info " + shellQuote(path), "C").out.find("\nDurationText: 8."), std::string::npos);
}

TEST(ToolTest, WriteAsTheEditorSavesAndTagShowsIt) {
    TempDir dir;
    const std::string path = dir.file("m.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 2.0, "-b 128"));
    ASSERT_TRUE(mutagenRun(path, "t = ID3()\n"
                                 "t.add(TIT2(encoding=3, text='Título'))\n"
                                 "t.add(TMXF(encoding=0, text='1:50.000'))\n"
                                 "t.add(TCAR(encoding=0, text='0:10.000'))\n"
                                 "t.add(TVIN(encoding=0, text='V\\\\j.mp3'))\n"
                                 "t.save(path, v2_version=4, padding=lambda info: 0)\n"));
    Result r = tool("write " + shellQuote(path) + " --intro 0:12.345 --comment " + shellQuote("Olá, mundo") +
                    " --chorus-start=0:40.000 --mix 1:55.000");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    auto dump = mutagenTag(path);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3);
    EXPECT_EQ(dump["size"].toInt(), 4096);
    EXPECT_EQ(textOf(dump, "TINT"), "0:12.345");
    EXPECT_EQ(textOf(dump, "COMM::eng"), "Ol\xC3\xA1, mundo");
    EXPECT_EQ(textOf(dump, "TRFI"), "0:40.000");
    EXPECT_EQ(textOf(dump, "TPMI"), "1:55.000");
    EXPECT_EQ(textOf(dump, "TMXF"), "1:50.000");  // not given: kept
    EXPECT_EQ(textOf(dump, "TCAD"), "S");
    EXPECT_EQ(textOf(dump, "TIT2"), "T\xC3\xADtulo");

    // Clearing the stamp removes both of its frames; clearing the end removes TMXF.
    r = tool("write " + shellQuote(path) + " --clear stamp --clear end");
    ASSERT_EQ(r.code, 0) << r.err;
    dump = mutagenTag(path);
    EXPECT_TRUE(frameOf(dump, "TCAR").isEmpty());
    EXPECT_TRUE(frameOf(dump, "TVIN").isEmpty());
    EXPECT_TRUE(frameOf(dump, "TMXF").isEmpty());
    EXPECT_EQ(textOf(dump, "TINT"), "0:12.345");

    r = tool("tag --json " + shellQuote(path));
    ASSERT_EQ(r.code, 0) << r.err;
    const QJsonObject o = json(r.out);
    EXPECT_TRUE(o["TagFound"].toBool());
    EXPECT_EQ(o["TagVersion"].toInt(), 3);
    EXPECT_EQ(o["TagTotalSize"].toInt(), 4096);
    EXPECT_EQ(o["IntroMark"].toString(), "0:12.345");
    EXPECT_EQ(o["Comment"].toString().toStdString(), "Ol\xC3\xA1, mundo");
    EXPECT_EQ(o["StampFile"].toString(), "");
    EXPECT_EQ(o["Rating"].toInt(), 0);
    r = tool("tag " + shellQuote(path));
    EXPECT_NE(r.out.find("\nIntroMark: 0:12.345\n"), std::string::npos);
    EXPECT_EQ(lines(r.out), 35);
}

// --check lists what the save would write out of order and leaves the file alone (exit 3); with
// nothing wrong it writes as without it.
TEST(ToolTest, WriteCheckListsMarkersOutOfOrderAndWritesNothing) {
    TempDir dir;
    const std::string path = dir.file("m.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 2.0, "-b 128"));
    ASSERT_TRUE(mutagenRun(path, "t = ID3()\n"
                                 "t.add(TMXI(encoding=0, text='0:01.500'))\n"
                                 "t.add(TPMI(encoding=0, text='zz'))\n"
                                 "t.save(path, v2_version=3)\n"));
    const std::string before = testutil::readFile(path);
    Result r = tool("write " + shellQuote(path) + " --check --end 0:01.000 --intro 0:01.800");
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(r.out, "Mixagem: \"zz\" não é um tempo\nFim antes da Introdução\n");
    r = tool("write " + shellQuote(path) + " --check --end 0:09.000 --clear mix");
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(r.out.rfind("Fim além do fim do áudio (0:02.", 0), 0u) << r.out;
    EXPECT_EQ(testutil::readFile(path), before);

    r = tool("write " + shellQuote(path) + " --check --end 0:01.900 --intro 0:01.600 --clear mix");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TMXF"), "0:01.900");
    EXPECT_EQ(textOf(dump, "TMXI"), "0:01.500");
    EXPECT_TRUE(frameOf(dump, "TPMI").isEmpty());
}

TEST(ToolTest, WriteNamesTheFramesAnOlderTagHadThatVersion3CannotHold) {
    TempDir dir;
    const std::string path = dir.file("v22.mp3");
    // A 2.2 tag with a composer, a picture, an encrypted meta frame and a private frame.
    const std::string body = frame2("TCM", latin1("Compositor")) +
                             frame2("PIC", latin1("JPG") + bytes("\x03\0", 2) + "\xFF\xD8\xFF\xE0") +
                             frame2("CRM", latin1("x") + bytes("\0", 1) + "secret") + frame2("XYZ", latin1("own"));
    testutil::writeFile(path, tag(2, body) + audio(3000));
    const Result r = tool("write " + shellQuote(path) + " --intro 0:01.000");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "tessivo-tool: " + path + ": frames without a version 2.3 form were dropped: CRM, XYZ\n");
    const auto dump = mutagenTag(path);
    EXPECT_EQ(textOf(dump, "TCOM"), "Compositor");
    EXPECT_EQ(frameOf(dump, "APIC:")["mime"].toString(), "image/jpeg");
    EXPECT_EQ(frameOf(dump, "APIC:")["data"].toString(), "ffd8ffe0");
    // Nothing left to drop the next time.
    EXPECT_EQ(tool("write " + shellQuote(path) + " --intro 0:02.000").err, "");
}

TEST(ToolTest, UsageErrorsAndFailures) {
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    testutil::writeFile(path, audio(5000));

    Result r = tool("--help");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("tessivo-tool write FILE [--comment TEXT]"), std::string::npos);
    EXPECT_NE(r.out.find("tessivo-tool info [--json] FILE"), std::string::npos);
    EXPECT_EQ(tool("write --help").code, 0);

    for (const std::string& args : {std::string(""), std::string("frob"), std::string("--frob"),
                                    "info --xml " + path, "write " + path + " --intro", "write " + path + " --clear chorus",
                                    std::string("info"), "info " + path + " " + path}) {
        r = tool(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_EQ(lines(r.err), 1) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tessivo-tool: ", 0), 0u) << r.err;
    }
    // What is not a file is called by its name, by every command.
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path, err;
    } inputs[] = {
        {dir.file("missing.mp3"), "no such file: " + dir.file("missing.mp3")},
        {dir.path().string(), dir.path().string() + ": is a folder, not an audio file"},
        {fifo, fifo + ": is a named pipe (FIFO), not an audio file"},
        {"/dev/null", "/dev/null: is a device, not an audio file"},
    };
    for (const auto& in : inputs) {
        for (const std::string cmd : {"info", "tag", "write", "import"}) {
            r = tool(cmd + " " + shellQuote(in.path) + (cmd == "import" ? " " + shellQuote(dir.file("o.wav")) : ""));
            EXPECT_EQ(r.code, 1) << cmd;
            EXPECT_EQ(r.err, "tessivo-tool: " + in.err + "\n") << cmd;
        }
    }
    ::unlink(fifo.c_str());

    // A wave file keeps its RIFF header first: the save is refused and the file unchanged.
    const std::string wav = dir.file("w.wav");
    ASSERT_TRUE(testutil::makeToneWav(wav, 0.5));
    const std::string wavBefore = testutil::readFile(wav);
    r = tool("write " + shellQuote(wav) + " --intro 0:00.100");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(lines(r.err), 1);
    EXPECT_EQ(testutil::sha256(testutil::readFile(wav)), testutil::sha256(wavBefore));
    r = tool("info --json " + shellQuote(wav));
    EXPECT_EQ(json(r.out)["ChannelModeText"].toString(), "Stereo");

    // A file that cannot be rewritten (its folder is read-only): the editor's message, exit 1,
    // the file unchanged.
    const std::string before = testutil::readFile(path);
    ::chmod(dir.path().c_str(), 0555);
    if (::access(dir.path().c_str(), W_OK) != 0) {
        r = tool("write " + shellQuote(path) + " --intro 0:01.000");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "N\xC3\xA3o poss\xC3\xADvel efetuar as marca\xC3\xA7\xC3\xB5" "es. O \xC3\xA1udio pode estar sendo "
                         "utilizado por outro processo.\n");
        EXPECT_EQ(testutil::readFile(path), before);
    }
    ::chmod(dir.path().c_str(), 0755);
}

TEST(ToolTest, ALatin1FileNameIsReadWrittenAndImportedAsGiven) {
    TempDir dir;
    const std::string path = dir.file("can\xE7\xE3o.mp3");
    ASSERT_TRUE(testutil::makeMp3(path, 0.5));
    Result r = tool("write " + shellQuote(path) + " --intro 0:00.250");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(textOf(mutagenTag(path), "TINT"), "0:00.250");
    EXPECT_EQ(json(tool("tag --json " + shellQuote(path)).out)["IntroMark"].toString(), "0:00.250");
    EXPECT_EQ(json(tool("info --json " + shellQuote(path)).out)["MpegValid"].toString(), "Sim");
    r = tool("import --quiet " + shellQuote(path) + " " + shellQuote(dir.file("out.wav")));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_GT(std::filesystem::file_size(dir.file("out.wav")), 0.45 * 44100 * 4);
    // A name in a message is the name as given.
    r = tool("tag " + shellQuote(dir.file("n\xE3o.mp3")));
    EXPECT_EQ(r.err, "tessivo-tool: no such file: " + dir.file("n\xE3o.mp3") + "\n");
}
