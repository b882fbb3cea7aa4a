// Loading into the editor from MP3 files made by lame: the import dialog, the four views, the
// status cells, the markers of the tag, the stamp jingle's name from a catalogue, a missing
// file, reloading over the shown Temp.wav, and pictures of the loaded window.
#include "EditorTestUtil.h"

#include "app/WaveViewData.h"
#include "audio/MMWaveIO.h"
#include "import/U_Mp3ToWav.h"
#include "db/FBDatabase.h"
#include "display/MMPanel.h"
#include "platform/MMIO.h"
#include "app/PNGButton.h"
#include "tags/Id3TestUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>

#include <cstring>
#include <filesystem>

namespace {

using namespace editortest;
namespace fs = std::filesystem;

// The songs are made once for the whole suite.
class LoadAudioTest : public EditorTest {
protected:
    static void SetUpTestSuite() {
        songs_ = new testutil::TempDir;
        // Three minutes of stereo noise over a bass with slow swells, so the pictures look like
        // a song: left and right differ.
        const std::string wav = songs_->file("song.wav");
        stereoOk_ = testutil::run("sox -n -r 44100 -c 2 -b 16 " + testutil::shellQuote(wav) +
                                  " synth 180 pinknoise pinknoise sine 110 sine 147 remix 1v0.7,3v0.5 2v0.7,4v0.5"
                                  " compand 0.01,0.3 -70,-70,-40,-12,0,-4 tremolo 0.023 60 tremolo 2 20 fade 1.5 180 6 gain -n -1 2>/dev/null") == 0 &&
                    testutil::run("lame --quiet -b 128 " + testutil::shellQuote(wav) + " " +
                                  testutil::shellQuote(songs_->file("song.mp3"))) == 0;
        std::remove(wav.c_str());
        monoOk_ = testutil::makeMp3(songs_->file("mono.mp3"), 8.0, "-b 64 -m m", 44100, 1);
    }
    static void TearDownTestSuite() {
        delete songs_;
        songs_ = nullptr;
    }
    // A copy of a made song in this test's folder, to tag or to change.
    std::string copySong(const char* name, const std::string& as) {
        const std::string to = dir_.file(as);
        fs::copy_file(songs_->file(name), to, fs::copy_options::overwrite_existing);
        return to;
    }
    static bool tag(const std::string& path, const std::string& comment, const std::string& intro,
                    const std::string& stampTime, const std::string& stampFile, const std::string& start,
                    const std::string& end, const std::string& chorusStart, const std::string& chorusEnd,
                    const std::string& mix) {
        const std::string e;
        return WriteMarkers(path, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, comment, intro, stampTime,
                            stampFile, start, end, chorusStart, chorusEnd, mix);
    }

    static testutil::TempDir* songs_;
    static bool stereoOk_, monoOk_;
};

testutil::TempDir* LoadAudioTest::songs_ = nullptr;
bool LoadAudioTest::stereoOk_ = false;
bool LoadAudioTest::monoOk_ = false;

TEST_F(LoadAudioTest, StereoSongFillsTheFourViewsTheStatusAndTheMarkers) {
    ASSERT_TRUE(stereoOk_);
    const std::string song = copySong("song.mp3", "musica.mp3");
    ASSERT_TRUE(tag(song, "boa para a tarde", "0:12.500", "", "", "0:00.300", "2:58.100", "1:01.000", "1:31.250",
                    "2:55.000"));
    TFrmTessivo* w = open(song);
    ASSERT_TRUE(w->State().Loaded) << messages();
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(w->State().AudioPath, QString::fromStdString(song));

    // Temp.wav in the program folder, 16-bit stereo PCM of three minutes.
    const QString temp = QDir(folder()).filePath("Temp.wav");
    EXPECT_EQ(QString::fromStdString(w->WaveFile1()->Wave()->FileName()), temp);
    MMIOINFO io{};  // read through an I/O buffer of 100000 bytes
    ASSERT_EQ(mmioGetInfo(w->WaveFile1()->Wave()->WaveIO()->Handle, &io), MMSYSERR_NOERROR);
    EXPECT_EQ(io.cchBuffer, 100000);
    EXPECT_EQ(w->State().FrameSize, 4);
    EXPECT_EQ(w->State().SilenceLevel, 0);
    EXPECT_NEAR(w->State().TotalSamples, 180 * 44100, 1200);
    EXPECT_EQ(w->Control<TMMPanel>("StatusTime")->Caption(), "180,00 Sec");
    EXPECT_EQ(w->Control<TMMPanel>("StatusSize")->Caption(), QLocale().toString(QFileInfo(temp).size() / 1024.0, 'f', 1).remove('.') + " Kb");
    EXPECT_TRUE(w->Control<TMMPanel>("StatusSize")->Caption().contains(','));
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->Caption(), "0:00.000");

    // Scales: full view, the selection is the whole file.
    EXPECT_EQ(w->State().ScrollDivisor, ScrollDivisorFor(w->State().TotalSamples));
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), FitZoom(w->State().TotalSamples, 537));
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->maximum(), w->Control<QSpinBox>("ZoomSpin")->value());
    EXPECT_EQ(w->State().OverviewStep, FitZoom(w->State().TotalSamples, 537));
    EXPECT_EQ(w->State().SelStart, 0);
    EXPECT_EQ(w->State().SelEnd, w->State().TotalSamples);
    EXPECT_TRUE(w->State().ViewsReady);

    // Both channels shown, each view in its colours; the lower views take half the height.
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope2")->isVisible());
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope4")->isVisible());
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->Channel(), chLeft);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope2")->Channel(), chRight);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope4")->Channel(), chRight);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope2")->height(), (w->Control<TMMPanel>("MMPanel1")->height() - 2 * w->Control<TMMPanel>("MMPanel1")->BevelExtent()) / 2);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->height() + w->Control<TMMOscope>("Oscope2")->height(), w->Control<TMMPanel>("MMPanel1")->height() - 2 * w->Control<TMMPanel>("MMPanel1")->BevelExtent());
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope1"), kLime), 2000);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope2"), kLime), 1000);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope3"), kBlue), 2000);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope4"), kRed), 1000);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope3")->cursor().shape(), Qt::BitmapCursor);  // the zoom cursor

    // Navigation and playback (the tests' virtual output device) enabled, the marker column filled.
    EXPECT_TRUE(w->Control<TPNGButton>("btnZoomMais")->isEnabled());
    EXPECT_TRUE(w->Control<TPNGButton>("btnZoomMenos")->isEnabled());
    EXPECT_TRUE(w->Control<TPNGButton>("FullViewBtn")->isEnabled());
    EXPECT_TRUE(w->Control<QSpinBox>("ZoomSpin")->isEnabled());
    EXPECT_TRUE(w->Control<TPNGButton>("PlayBtn")->isEnabled());
    EXPECT_FALSE(w->Control<TPNGButton>("StopBtn")->isEnabled());
    EXPECT_TRUE(w->Control<TMMPanel>("PBotoes")->isEnabled());
    EXPECT_EQ(w->Control<QLineEdit>("EdIntroducao")->text(), "0:12.500");
    EXPECT_EQ(w->Control<QLineEdit>("EdInicio")->text(), "0:00.300");
    EXPECT_EQ(w->Control<QLineEdit>("EdFim")->text(), "2:58.100");
    EXPECT_EQ(w->Control<QLineEdit>("EdInicioRefrao")->text(), "1:01.000");
    EXPECT_EQ(w->Control<QLineEdit>("EdFinalRefrao")->text(), "1:31.250");
    EXPECT_EQ(w->Control<QLineEdit>("EdMixagem")->text(), "2:55.000");
    EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->toPlainText(), "boa para a tarde");
    EXPECT_EQ(w->State().IntroText, "0:12.500");
    EXPECT_EQ(w->State().MixText, "2:55.000");
    EXPECT_EQ(w->State().CommentText, "boa para a tarde");
    EXPECT_EQ(w->Control<QLineEdit>("EdCarimbo")->text(), "");
    EXPECT_FALSE(w->Control<TMMPanel>("PVinhetas")->isVisible());

    // Pictures for the README: the whole song, then a stretch picked in the overview with a
    // selection in it.
    savePicture(w, "editor-full.png", folder());
    QTest::mousePress(w->Control<TMMOscope>("Oscope3"), Qt::LeftButton, {}, QPoint(180, 20));
    QTest::mouseMove(w->Control<TMMOscope>("Oscope3"), QPoint(230, 20));
    QTest::mouseRelease(w->Control<TMMOscope>("Oscope3"), Qt::LeftButton, {}, QPoint(230, 20));
    EXPECT_EQ(w->State().ViewOffset, 180 * w->State().OverviewStep);
    EXPECT_LT(w->Control<QSpinBox>("ZoomSpin")->value(), w->Control<QSpinBox>("ZoomSpin")->maximum() / 5);
    EXPECT_TRUE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    QTest::mouseClick(w->Control<TMMOscope>("Oscope1"), Qt::LeftButton, {}, QPoint(140, 40));
    QTest::mouseClick(w->Control<TMMOscope>("Oscope1"), Qt::RightButton, {}, QPoint(390, 40));
    EXPECT_EQ(w->State().SelStart, w->PixelToSample(140));
    EXPECT_EQ(w->State().SelEnd, w->PixelToSample(390));
    savePicture(w, "editor-zoomed.png", folder());
}

TEST_F(LoadAudioTest, MonoSongHidesTheLowerViews) {
    ASSERT_TRUE(monoOk_);
    TFrmTessivo* w = open(copySong("mono.mp3", "mono.mp3"));
    ASSERT_TRUE(w->State().Loaded) << messages();
    EXPECT_EQ(w->State().FrameSize, 2);
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope2")->isHidden());
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope4")->isHidden());
    for (TMMOscope* v : {w->Control<TMMOscope>("Oscope1"), w->Control<TMMOscope>("Oscope2"), w->Control<TMMOscope>("Oscope3"), w->Control<TMMOscope>("Oscope4")}) EXPECT_EQ(v->Channel(), chBoth);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->height(), w->Control<TMMPanel>("MMPanel1")->height() - 2 * w->Control<TMMPanel>("MMPanel1")->BevelExtent());
    EXPECT_EQ(w->Control<TMMOscope>("Oscope3")->height(), w->Control<TMMPanel>("MMPanel3")->height() - 2 * w->Control<TMMPanel>("MMPanel3")->BevelExtent());
    EXPECT_EQ(w->ViewSampleCount(w->Control<TMMOscope>("Oscope1")), 537);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope1"), kLime), 2000);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope3"), kBlue), 2000);
    EXPECT_EQ(w->Control<TMMPanel>("StatusTime")->Caption(), "8,00 Sec");
}

// The stored stamp file is folder + "\" + catalogue file name: the name is found by prefix,
// case-sensitive, first in the catalogue's order.
TEST_F(LoadAudioTest, StampShowsTheJingleNameFromTheCatalogue) {
    ASSERT_TRUE(monoOk_);
    const std::string db = dir_.file("catalogo.fdb");
    const std::string script = dir_.file("create.sql");
    testutil::writeFile(
        script, "SET SQL DIALECT 1;\nCREATE DATABASE '" + db + "' USER 'SYSDBA' DEFAULT CHARACTER SET UTF8;\nINPUT '" +
                    (testutil::sourceDir() / "db" / "schema.sql").string() +
                    "';\n"
                    "INSERT INTO TB_Vinhetas (VIN_CODIGO, VIN_NOME, VIN_TEMPO, VIN_TIPO, VIN_ARQUIVO, VIN_SEGUNDOS) "
                    "VALUES (5, 'Hora Certa', '00:04', 'V', 'ABC.mp3', 4);\n"
                    "INSERT INTO TB_Vinhetas (VIN_CODIGO, VIN_NOME, VIN_TEMPO, VIN_TIPO, VIN_ARQUIVO, VIN_SEGUNDOS) "
                    "VALUES (7, 'Vinheta Longa', '00:05', 'V', 'abc.mp3x', 5);\n"
                    "INSERT INTO TB_Vinhetas (VIN_CODIGO, VIN_NOME, VIN_TEMPO, VIN_TIPO, VIN_ARQUIVO, VIN_SEGUNDOS) "
                    "VALUES (9, 'Vinheta Curta', '00:03', 'V', 'abc.mp3', 3);\nCOMMIT;\n");
    std::string out;
    ASSERT_EQ(testutil::run("isql-fb -q -bail -ch UTF8 -i " + testutil::shellQuote(script) + " 2>&1", &out), 0) << out;
    testutil::writeFile(dir_.file("BaseQuelt.ini"), "[BANCO]\nCAMINHO=" + db + "\n");

    struct Case {
        const char* stampFile;
        const char* name;
    } cases[] = {{"Vinhetas\\abc.mp3", "Vinheta Longa"},
                 {"Vinhetas\\  abc.mp3", "Vinheta Longa"},
                 {"abc.mp3", "Vinheta Longa"},
                 {"Vinhetas\\zzz.mp3", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stampFile);
        const std::string song = copySong("mono.mp3", "carimbo.mp3");
        ASSERT_TRUE(tag(song, "", "", "0:03.000", c.stampFile, "", "", "", "", ""));
        TFrmTessivo* w = open(song);
        ASSERT_TRUE(w->Database()->Connected()) << messages();
        EXPECT_EQ(w->Control<QLineEdit>("EdCarimbo")->text(), QString::fromUtf8(c.name));
        EXPECT_EQ(w->State().StampFileText, QString::fromUtf8(c.stampFile));  // kept as read
        EXPECT_EQ(w->State().StampTimeText, "0:03.000");
        window_.reset();
    }
    EXPECT_EQ(messages(), "");
}

// A stamp whose jingle cannot be looked up (no catalogue configured, a database that cannot
// answer the catalogue query, a jingle missing from the catalogue) leaves the name box empty
// and the load whole: the stored stamp texts kept, at most one Portuguese message per load,
// the comment copied, the panels hidden, on the first load and on a reload alike.
TEST_F(LoadAudioTest, AFailedStampLookupLeavesTheNameEmptyAndFinishesTheLoad) {
    ASSERT_TRUE(monoOk_);
    const std::string catalogue = dir_.file("catalogo.fdb"), other = dir_.file("outro.fdb");
    ASSERT_EQ(testutil::makeCatalogue(catalogue, "INSERT INTO TB_Vinhetas (VIN_CODIGO, VIN_NOME, VIN_TEMPO, VIN_TIPO, "
                                                 "VIN_ARQUIVO, VIN_SEGUNDOS) VALUES (5, 'Hora Certa', '00:04', 'V', "
                                                 "'xyz.mp3', 4);"),
              "");
    testutil::writeFile(other + ".sql", "CREATE DATABASE '" + other + "' USER 'SYSDBA';\n");
    ASSERT_EQ(testutil::run("isql-fb -q -i " + testutil::shellQuote(other + ".sql") + " >/dev/null 2>&1"), 0);
    const std::string noConnection = "message: Não foi possível conectar com a base de dados.\n";
    const struct {
        const char* name;
        std::string ini;
        std::string messagePerLoad;
    } cases[] = {
        {"no catalogue configured", "", noConnection},
        {"no catalogue in the database", "[BANCO]\nCAMINHO=" + other + "\n", noConnection},
        {"jingle missing", "[BANCO]\nCAMINHO=" + catalogue + "\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir_.file("BaseQuelt.ini").c_str());
        if (!c.ini.empty()) testutil::writeFile(dir_.file("BaseQuelt.ini"), c.ini);
        const std::string song = copySong("mono.mp3", "carimbo.mp3");
        ASSERT_TRUE(tag(song, "um comentário", "0:01.000", "0:03.000", "Vinhetas\\abc.mp3", "", "", "", "", ""));
        std::remove(log_.c_str());
        TFrmTessivo* w = open(song);
        w->Control<TMMPanel>("PVinhetas")->show();
        w->Control<TMMPanel>("PComentario")->show();
        w->LoadAudio();
        EXPECT_EQ(messages(), c.messagePerLoad + c.messagePerLoad);
        EXPECT_TRUE(w->State().Loaded);
        EXPECT_EQ(w->Control<QLineEdit>("EdIntroducao")->text(), "0:01.000");
        EXPECT_EQ(w->Control<QLineEdit>("EdCarimbo")->text(), "");
        EXPECT_EQ(w->State().StampFileText, "Vinhetas\\abc.mp3");
        EXPECT_EQ(w->State().StampTimeText, "0:03.000");
        EXPECT_EQ(w->State().CommentText, QString::fromUtf8("um comentário"));
        EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->toPlainText(), w->State().CommentText);
        EXPECT_FALSE(w->Control<TMMPanel>("PVinhetas")->isVisible());
        EXPECT_FALSE(w->Control<TMMPanel>("PComentario")->isVisible());
        // Saved back as read.
        QTest::mouseClick(w->Control<TPNGButton>("btnGravarMarcacoes"), Qt::LeftButton);
        ASSERT_FALSE(w->State().Loaded) << messages();
        const QJsonObject dump = id3test::mutagenTag(song);
        EXPECT_EQ(id3test::textOf(dump, "TVIN"), "Vinhetas\\abc.mp3");
        EXPECT_EQ(id3test::textOf(dump, "TCAR"), "0:03.000");
        EXPECT_EQ(id3test::textOf(dump, "TINT"), "0:01.000");
        window_.reset();
    }
}

TEST_F(LoadAudioTest, MissingFileIsReportedAndEndsWithCodeZero) {
    TFrmTessivo* w = open(dir_.file("sumiu.mp3"));
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(messages(), "message: O arquivo do áudio selecionado não foi encontrado.\n");
    EXPECT_FALSE(w->State().Loaded);
    EXPECT_FALSE(QFileInfo::exists(QDir(folder()).filePath("Temp.wav")));
}

// A file that is no audio: the import refuses it, the error is shown, nothing is loaded and
// the window stays usable.
TEST_F(LoadAudioTest, FileThatIsNoAudioIsReportedAndNothingIsLoaded) {
    const std::string text = dir_.file("notas.mp3");
    testutil::writeFile(text, std::string(5000, 'x'));
    TFrmTessivo* w = open(text);
    EXPECT_EQ(exitCode_, -1);
    EXPECT_NE(messages().find("This is not a valid Audiofile"), std::string::npos) << messages();
    EXPECT_FALSE(w->State().Loaded);
    EXPECT_FALSE(w->Control<TPNGButton>("btnZoomMais")->isEnabled());
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(QFileInfo::exists(QDir(folder()).filePath("Temp.wav")));
}

// Reloading (as "Cancelar Marcações" does) while the old Temp.wav is open: whoever still reads
// the old file keeps its data, and the views show the new one.
TEST_F(LoadAudioTest, ReloadKeepsTheOpenTempWavIntactUntilItIsClosed) {
    ASSERT_TRUE(monoOk_ && stereoOk_);
    const std::string song = copySong("mono.mp3", "a.mp3");
    TFrmTessivo* w = open(song);
    ASSERT_TRUE(w->State().Loaded) << messages();
    const int32_t monoFrames = w->State().TotalSamples;

    // A second reader of the shown file, as playback would be.
    const QString temp = QDir(folder()).filePath("Temp.wav");
    w->PlaybackFile()->Wave()->SetFileName(temp.toStdString());
    w->PlaybackFile()->Wave()->OpenFile();
    std::vector<uint8_t> before(65536), after(65536);
    w->PlaybackFile()->Wave()->SetPosition(100000);
    ASSERT_EQ(w->PlaybackFile()->Wave()->ReadDataBytes(before.data(), 65536), 65536);

    w->State().ArgumentPath = QString::fromStdString(copySong("song.mp3", "b.mp3"));
    w->LoadAudio();
    ASSERT_TRUE(w->State().Loaded) << messages();
    EXPECT_EQ(messages(), "");
    EXPECT_GT(w->State().TotalSamples, 20 * monoFrames);
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope2")->isVisible());
    EXPECT_EQ(w->State().SelEnd, w->State().TotalSamples);
    EXPECT_FALSE(QFileInfo::exists(temp + ".prev"));

    w->PlaybackFile()->Wave()->SetPosition(100000);
    ASSERT_EQ(w->PlaybackFile()->Wave()->ReadDataBytes(after.data(), 65536), 65536);
    EXPECT_EQ(before, after);
    w->PlaybackFile()->Wave()->CloseFile();
}

}  // namespace

// The import cannot write Temp.wav completely (a full disk): the dialog's message is the only
// one, nothing half-written is shown, and the markers are still read from the song's tag.
TEST_F(LoadAudioTest, FailedImportShowsOneMessageAndStillReadsTheMarkers) {
    ASSERT_TRUE(stereoOk_);
    const std::string volume = dir_.file("vol");
    testutil::SmallVolume vol(volume, "1m");
    if (!vol.mounted()) GTEST_SKIP() << "cannot mount a small volume here";
    const std::string song = copySong("song.mp3", "cheio.mp3");
    ASSERT_TRUE(tag(song, "", "0:12.500", "", "", "", "", "", "", ""));

    window_.reset(new TFrmTessivo({QString::fromStdString(song)}, QString::fromStdString(volume)));
    window_->ExitProcess = [this](int code) { exitCode_ = code; };
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    TFrmTessivo* w = window_.get();

    EXPECT_EQ(messages(), "error: " + std::string(SImportWriteFailed) + "\n");
    EXPECT_EQ(exitCode_, -1);
    EXPECT_FALSE(w->State().Loaded);
    EXPECT_FALSE(w->Control<TPNGButton>("btnZoomMais")->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(volume + "/Temp.wav")));
    EXPECT_TRUE(w->Control<TMMPanel>("PBotoes")->isEnabled());
    EXPECT_EQ(w->Control<QLineEdit>("EdIntroducao")->text(), "0:12.500");
}
