// Marking on the real window: the six marker rows, saving and cancelling, the catalogue panel
// with the stamp (over a real catalogue through the embedded engine) and the comment panel.
// What a save wrote is read back by mutagen.
#include "EditorTestUtil.h"

#include "app/Messages.h"
#include "db/FBDatabase.h"
#include "tags/ID3v2.h"
#include "tags/Id3TestUtil.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QAbstractItemModel>
#include <QTableView>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace editortest;
using id3test::mutagenRun;
using id3test::mutagenTag;
using id3test::textOf;

// The texts of the tag's comment frames, whatever their language.
std::vector<std::string> comments(const QJsonObject& dump) {
    std::vector<std::string> texts;
    for (const auto& f : dump["frames"].toArray())
        if (f.toObject()["id"].toString() == "COMM") texts.push_back(f.toObject()["text"].toString().toStdString());
    return texts;
}
using Texts = std::vector<std::string>;
namespace fs = std::filesystem;

const char* const kSaveRefused =
    "message: Não possível efetuar as marcações. O áudio pode estar sendo utilizado por outro processo.\n";

// The catalogue rows: a quote, accents in both cases, "_" against a space, a name as long as
// the column allows.
const std::string kCatalogue = R"(
INSERT INTO TB_Vinhetas VALUES (1, 'Vinheta especial de Natal com coral infantil', '00:09', 'V', 'natal.mp3', 9);
INSERT INTO TB_Vinhetas VALUES (2, 'Hora certa 08 horas', '00:04', 'H', '0800.mp3', 4);
INSERT INTO TB_Vinhetas VALUES (3, 'O''Clock Especial', '00:05', 'V', 'oclock.mp3', 5);
INSERT INTO TB_Vinhetas VALUES (4, 'Previsão: ação do tempo', '00:07', 'W', 'tempo.mp3', 7);
INSERT INTO TB_Vinhetas VALUES (5, 'AÇÃO total', '00:03', 'Q', 'acao.mp3', 3);
INSERT INTO TB_Vinhetas VALUES (6, 'Hora_Certa 09', '00:04', 'H', '0900.mp3', 4);
)";

// A 40-second mono song (made once), a catalogue (made once) and a window on a copy of the song.
class MarkingTest : public EditorTest {
protected:
    static void SetUpTestSuite() {
        shared_ = new testutil::TempDir;
        songOk_ = testutil::makeMp3(shared_->file("song.mp3"), 40.0, "-b 64 -m m", 44100, 1);
        catalogueError_ = testutil::makeCatalogue(shared_->file("catalogo.fdb"), kCatalogue);
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_TRUE(songOk_);
        ASSERT_EQ(catalogueError_, "");
        song_ = dir_.file("música.mp3");
        fs::copy_file(shared_->file("song.mp3"), song_);
    }
    // BaseQuelt.ini pointing at the catalogue.
    void useCatalogue() {
        testutil::writeFile(dir_.file("BaseQuelt.ini"), "[BANCO]\nCAMINHO=" + shared_->file("catalogo.fdb") + "\n");
    }
    // A version 2.3 tag written by mutagen with the python lines given (t is the tag).
    void tagSong(const std::string& lines, const std::string& save = "t.save(path, v2_version=3)") {
        ASSERT_TRUE(mutagenRun(song_, "t = ID3()\n" + lines + "\n" + save));
    }

    TPNGButton* button(const char* name) const { return window_->Control<TPNGButton>(name); }
    void click(const char* name) const { button(name)->click(); }
    // Save, answering "Gravar assim mesmo" should the markers be out of order.
    void saveAnyway() const {
        testutil::ScopedEnv answer{{"TESSIVO_MESSAGE_ANSWER", "Gravar assim mesmo"}};
        click("btnGravarMarcacoes");
    }
    QLineEdit* edit(const char* name) const { return window_->Control<QLineEdit>(name); }
    TEditorState& state() const { return window_->State(); }
    QStringList gridNames() const {
        const auto* model = window_->Control<QAbstractItemModel>("DS_Vinhetas");
        QStringList names;
        for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 0).data().toString();
        return names;
    }
    // Types into the search box key by key, as the operator does (a letter without a key of
    // its own is put in as a whole).
    void type(const QString& text) const {
        for (const QChar c : text) {
            if (c.unicode() < 128)
                QTest::keyClick(edit("EdBuscarVinhetas"), char(c.unicode()));
            else
                edit("EdBuscarVinhetas")->insert(c);
        }
    }
    void search(const QString& text) const {
        edit("EdBuscarVinhetas")->clear();
        type(text);
    }

    static testutil::TempDir* shared_;
    static bool songOk_;
    static std::string catalogueError_;
    std::string song_;
};

testutil::TempDir* MarkingTest::shared_ = nullptr;
bool MarkingTest::songOk_ = false;
std::string MarkingTest::catalogueError_;

}  // namespace

// Set takes the committed selection; show converts through whole seconds and thousands of
// frames; a text that is no time moves nothing and says so once.
TEST_F(MarkingTest, RowsSetFromTheSelectionAndShowThroughWholeSeconds) {
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    const int32_t total = state().TotalSamples;
    ASSERT_GT(total, 1764000 - 5000);

    click("SpeedButton1");  // "Introdução" right after loading: the whole file is selected
    EXPECT_EQ(edit("EdIntroducao")->text(), "0:00.000");
    EXPECT_EQ(state().IntroText, "0:00.000");
    state().SelStart = state().LiveStart = 44100;
    state().SelEnd = state().LiveEnd = 1323000;
    const struct {
        const char* set;
        const char* edit;
        QString TEditorState::*text;
        const char* expected;
    } sets[] = {{"SpeedButton9", "EdInicio", &TEditorState::StartText, "0:01.000"},
                {"SpeedButton11", "EdFim", &TEditorState::EndText, "0:30.000"},
                {"SpeedButton10", "EdInicioRefrao", &TEditorState::ChorusStartText, "0:01.000"},
                {"SpeedButton12", "EdFinalRefrao", &TEditorState::ChorusEndText, "0:30.000"},
                {"SpeedButton13", "EdMixagem", &TEditorState::MixText, "0:01.000"}};
    for (const auto& s : sets) {
        click(s.set);
        EXPECT_EQ(edit(s.edit)->text(), s.expected) << s.set;
        EXPECT_EQ(state().*s.text, s.expected) << s.set;
    }

    // Show: 29.5 and 30.5 both round to the even 30 seconds, frame 1 323 000; beyond the file
    // the boundary stops at its end.
    const struct {
        const char* show;
        const char* edit;
        const char* text;
        bool end;
        int32_t frame;
    } shows[] = {{"BFindFim", "EdFim", "0:29.500", true, 1323000},
                 {"BFindRefFim", "EdFinalRefrao", "0:30.500", true, 1323000},
                 {"BFindIntro", "EdIntroducao", "0:01.456", false, 44000},
                 {"BFindMix", "EdMixagem", "0:10,5", false, 441000},
                 {"BFindInicio", "EdInicio", "0:02.000", false, 88000},
                 {"BFindRefInicio", "EdInicioRefrao", "0:03.000", false, 132000},
                 {"BFindFim", "EdFim", "9:00.000", true, total}};
    for (const auto& s : shows) {
        SCOPED_TRACE(s.text);
        edit(s.edit)->setText(s.text);
        click(s.show);
        EXPECT_EQ(s.end ? state().SelEnd : state().SelStart, s.frame);
        EXPECT_EQ(s.end ? state().LiveEnd : state().LiveStart, s.frame);
    }
    EXPECT_EQ(messages(), "");

    // A text that is no time, or one of an hour or more: one error box, nothing moves.
    edit("EdFim")->setText("0:30.000");
    click("BFindFim");
    const TEditorState before = state();
    const QImage picture = w->Control<TMMOscope>("Oscope1")->ScreenImage();
    for (const char* text : {"", "abc", "1:00:00.000", "0:3x.5"}) {
        SCOPED_TRACE(text);
        testutil::writeFile(log_, "");
        edit("EdInicio")->setText(text);
        click("BFindInicio");
        const std::string m = messages();
        EXPECT_EQ(m.rfind("error: ", 0), 0u) << m;
        EXPECT_EQ(std::count(m.begin(), m.end(), '\n'), 1) << m;
        EXPECT_EQ(state().SelStart, before.SelStart);
        EXPECT_EQ(state().LiveStart, before.LiveStart);
        EXPECT_EQ(state().SelEnd, before.SelEnd);
    }
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->ScreenImage(), picture);

    // A start shown after the end: the views show no active range.
    testutil::writeFile(log_, "");
    edit("EdInicio")->setText("0:35.000");
    click("BFindInicio");
    EXPECT_EQ(state().SelStart, 1544000);  // 35 s: 1543.5 thousands, halves up
    EXPECT_GT(state().SelStart, state().SelEnd);
    EXPECT_EQ(countColour(w->Control<TMMOscope>("Oscope1"), kLime), 0);
    EXPECT_EQ(countColour(w->Control<TMMOscope>("Oscope3"), kBlue), 0);
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope1"), kGreen), 1000);
    EXPECT_EQ(messages(), "");
}

// Save: one write of every marker, then the audio is let go; a second save does nothing; with
// no audio set and show do nothing while clear still works; cancel loads what was saved.
TEST_F(MarkingTest, SaveWritesTheMarkersThenCancelShowsThem) {
    tagSong("t.add(TIT2(encoding=1, text='Canção da tarde'))\n"
            "t.add(TINT(encoding=0, text='0:05.000'))\n"
            "t.add(TMXF(encoding=0, text='0:38.000'))\n"
            "t.add(TPMI(encoding=0, text='0:36.500'))\n"
            "t.add(TRFI(encoding=0, text='texto livre'))\n"
            "t.add(COMM(encoding=1, lang='por', desc='', text='do arquivo'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    EXPECT_EQ(edit("EdMixagem")->text(), "0:36.500");

    click("BLimpaIntro");  // the file has TINT: the clear must remove it
    EXPECT_EQ(edit("EdIntroducao")->text(), "");
    EXPECT_EQ(FileInfo.IntroMark, "");
    state().SelStart = state().LiveStart = 0;
    state().SelEnd = state().LiveEnd = 1323000;
    click("SpeedButton11");
    click("SpeedButton9");
    w->Control<QPlainTextEdit>("MemoComentario")->setPlainText("rascunho");
    saveAnyway();
    EXPECT_EQ(messages(), "question: As marcações estão fora de ordem:\\n\\nInício do Refrão: \"texto livre\" não é um "
                          "tempo\\nFim antes da Mixagem [Gravar assim mesmo|Voltar]\n");
    testutil::writeFile(log_, "");

    const QJsonObject dump = mutagenTag(song_);
    EXPECT_EQ(dump["version"].toArray()[1].toInt(), 3);
    EXPECT_EQ(textOf(dump, "TINT"), "");
    EXPECT_FALSE(id3test::frameOf(dump, "TINT").contains("id"));
    EXPECT_EQ(textOf(dump, "TMXF"), "0:30.000");
    EXPECT_EQ(textOf(dump, "TMXI"), "0:00.000");
    EXPECT_EQ(textOf(dump, "TPMI"), "0:36.500");
    EXPECT_EQ(textOf(dump, "TRFI"), "texto livre");  // a text that is no time goes back unchanged
    EXPECT_EQ(textOf(dump, "TIT2"), "Canção da tarde");
    EXPECT_EQ(comments(dump), Texts{"do arquivo"});  // typing alone saves nothing
    EXPECT_EQ(textOf(dump, "TCAD"), "S");

    // The audio is let go: views empty, transport and zoom off, edits empty, the memo kept.
    EXPECT_FALSE(state().Loaded);
    EXPECT_TRUE(w->WaveFile1()->Wave()->IsEmpty());
    EXPECT_EQ(state().AudioPath, "");
    EXPECT_EQ(state().EndText, "");
    EXPECT_EQ(state().MixText, "");
    EXPECT_LE(countColour(w->Control<TMMOscope>("Oscope1"), kLime), w->Control<TMMOscope>("Oscope1")->width());
    EXPECT_EQ(countColour(w->Control<TMMOscope>("Oscope1"), kGreen), 0);  // the mid line alone
    for (const char* b : {"BInicio", "StopBtn", "PlayBtn", "BFim", "FullViewBtn", "btnZoomMenos", "btnZoomMais"})
        EXPECT_FALSE(button(b)->isEnabled()) << b;
    EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    for (const char* e : {"EdIntroducao", "EdInicio", "EdFim", "EdInicioRefrao", "EdFinalRefrao", "EdMixagem", "EdCarimbo"})
        EXPECT_EQ(edit(e)->text(), "") << e;
    EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->toPlainText(), "rascunho");
    EXPECT_TRUE(w->Control<TMMPanel>("PBotoes")->isEnabled());

    // Nothing loaded: a second save, set and show do nothing; clear only empties texts.
    const std::string written = testutil::readFile(song_);
    click("btnGravarMarcacoes");
    click("SpeedButton11");
    click("SpeedButton1");
    edit("EdInicio")->setText("abc");
    click("BFindInicio");
    EXPECT_EQ(edit("EdFim")->text(), "");
    EXPECT_EQ(edit("EdIntroducao")->text(), "");
    click("BLimpaInicio");
    EXPECT_EQ(edit("EdInicio")->text(), "");
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(testutil::readFile(song_), written);

    click("btnCancelarMarcacoes");
    ASSERT_TRUE(state().Loaded) << messages();
    EXPECT_EQ(edit("EdFim")->text(), "0:30.000");
    EXPECT_EQ(edit("EdInicio")->text(), "0:00.000");
    EXPECT_EQ(edit("EdMixagem")->text(), "0:36.500");
    EXPECT_EQ(edit("EdIntroducao")->text(), "");
    EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->toPlainText(), "do arquivo");
    for (const char* b : {"FullViewBtn", "btnZoomMenos", "btnZoomMais"}) EXPECT_TRUE(button(b)->isEnabled()) << b;
    EXPECT_GT(countColour(w->Control<TMMOscope>("Oscope1"), kLime), 1000);
}

// A save with nothing changed writes back every value read, here from a version 2.4 tag.
TEST_F(MarkingTest, SaveWithNothingChangedWritesBackTheValuesRead) {
    tagSong("t.add(TIT2(encoding=3, text='Título'))\n"
            "t.add(TPE1(encoding=3, text='Artista'))\n"
            "t.add(TINT(encoding=3, text='0:01.000'))\n"
            "t.add(TMXI(encoding=3, text='0:02.000'))\n"
            "t.add(TMXF(encoding=3, text='0:39.000'))\n"
            "t.add(TRFI(encoding=3, text='0:10.000'))\n"
            "t.add(TRFF(encoding=3, text='0:20.000'))\n"
            "t.add(TPMI(encoding=3, text='0:37.000'))\n"
            "t.add(TCAR(encoding=3, text='0:03.000'))\n"
            "t.add(TVIN(encoding=3, text='Horas\\\\0800.mp3'))\n"
            "t.add(COMM(encoding=3, lang='por', desc='', text='primeiro'))",
            "t.save(path, v2_version=4)");
    open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    saveAnyway();  // the intro lies before the start
    EXPECT_FALSE(state().Loaded) << messages();
    const QJsonObject dump = mutagenTag(song_);
    const std::pair<const char*, const char*> expected[] = {
        {"TIT2", "Título"},     {"TPE1", "Artista"},     {"TINT", "0:01.000"}, {"TMXI", "0:02.000"},
        {"TMXF", "0:39.000"},   {"TRFI", "0:10.000"},    {"TRFF", "0:20.000"}, {"TPMI", "0:37.000"},
        {"TCAR", "0:03.000"},   {"TVIN", "Horas\\0800.mp3"}, {"TCAD", "S"}};
    for (const auto& [key, text] : expected) EXPECT_EQ(textOf(dump, key), text) << key;
    EXPECT_EQ(comments(dump), Texts{"primeiro"});
}

// A save the writer refuses: the message, and every text, edit, view and value read stays;
// once the file can be written again the same save succeeds with the values read.
TEST_F(MarkingTest, RefusedSaveKeepsTheStateAndARetrySucceeds) {
    // A tag without room: the save must rewrite the whole file.
    tagSong("t.add(TIT2(encoding=1, text='Canção'))\nt.add(TMXF(encoding=0, text='0:38.000'))",
            "t.save(path, v2_version=3, padding=lambda info: 0)");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    state().SelStart = state().LiveStart = 0;
    state().SelEnd = state().LiveEnd = 1323000;
    click("SpeedButton11");

    const bool root = geteuid() == 0;
    if (root)
        Id3v2Info->InjectRewriteFailure(TID3v2::TRewriteStep::rsRename);
    else
        ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
    const std::string original = testutil::readFile(song_);
    const TEditorState before = state();
    const Tag readBefore = FileInfo;
    const QImage picture = w->Control<TMMOscope>("Oscope1")->ScreenImage();
    click("btnGravarMarcacoes");
    if (!root) chmod(dir_.path().c_str(), 0755);

    EXPECT_EQ(messages(), kSaveRefused);
    EXPECT_EQ(testutil::readFile(song_), original);
    EXPECT_TRUE(state().Loaded);
    EXPECT_EQ(state().EndText, before.EndText);
    EXPECT_EQ(state().AudioPath, before.AudioPath);
    EXPECT_EQ(state().SelEnd, before.SelEnd);
    EXPECT_EQ(edit("EdFim")->text(), "0:30.000");
    EXPECT_TRUE(button("FullViewBtn")->isEnabled());
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->ScreenImage(), picture);
    for (const TagField& f : TagFields) EXPECT_EQ(FileInfo.*f.member, readBefore.*f.member) << f.name;

    if (root) Id3v2Info->InjectRewriteFailure(TID3v2::TRewriteStep::rsNone);
    click("btnGravarMarcacoes");
    EXPECT_FALSE(state().Loaded);
    const QJsonObject dump = mutagenTag(song_);
    EXPECT_EQ(textOf(dump, "TMXF"), "0:30.000");
    EXPECT_EQ(textOf(dump, "TIT2"), "Canção");
    EXPECT_EQ(messages(), kSaveRefused);
}

// The catalogue panel: the search on every key, the stamp taken from the current row, shown
// and cleared; the last search kept for the next opening.
TEST_F(MarkingTest, CatalogueSearchStampAndClear) {
    useCatalogue();
    tagSong("t.add(TCAR(encoding=0, text='0:09.000'))\nt.add(TVIN(encoding=0, text='Vinhetas\\\\oclock.mp3'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    EXPECT_EQ(edit("EdCarimbo")->text(), "O'Clock Especial");
    auto* panel = w->Control<TMMPanel>("PVinhetas");
    EXPECT_FALSE(panel->isVisible());

    click("SpeedButton14");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(gridNames(), (QStringList{"Vinheta especial de Natal com coral infantil", "Hora certa 08 horas",
                                        "O'Clock Especial", QString::fromUtf8("Previsão: ação do tempo"),
                                        QString::fromUtf8("AÇÃO total"), "Hora_Certa 09"}));

    type("o'clock");
    EXPECT_EQ(w->CatalogueQuery()->SQL()[4], "WHERE UPPER(Vin.Vin_Nome) LIKE '%O''CLOCK%'");
    EXPECT_EQ(gridNames(), QStringList{"O'Clock Especial"});
    const struct {
        const char* text;
        QStringList names;
    } searches[] = {
        {"ção", {QString::fromUtf8("AÇÃO total"), QString::fromUtf8("Previsão: ação do tempo")}},
        {"ÇÃO", {QString::fromUtf8("AÇÃO total"), QString::fromUtf8("Previsão: ação do tempo")}},
        {"hora_certa", {"Hora certa 08 horas", "Hora_Certa 09"}},
        {"v%natal", {"Vinheta especial de Natal com coral infantil"}},
        {"", {QString::fromUtf8("AÇÃO total"), "Hora certa 08 horas", "Hora_Certa 09", "O'Clock Especial",
              QString::fromUtf8("Previsão: ação do tempo"), "Vinheta especial de Natal com coral infantil"}},
    };
    for (const auto& s : searches) {
        search(QString::fromUtf8(s.text));
        EXPECT_EQ(gridNames(), s.names) << s.text;
    }
    EXPECT_EQ(messages(), "");
    search("hora");
    savePicture(w, "catalogue-search.png", folder());

    auto* grid = w->Control<QTableView>("DBGrid4");
    EXPECT_EQ(grid->columnWidth(0), 443);  // kept through every refill
    EXPECT_EQ(grid->columnWidth(1), 67);

    // Insert the row (H, 0800.mp3) at a selection start of 0.
    search("HORA");
    ASSERT_EQ(gridNames(), (QStringList{"Hora certa 08 horas", "Hora_Certa 09"}));
    EXPECT_EQ(w->CatalogueQuery()->RecNo(), 0);
    state().SelStart = state().LiveStart = 0;
    click("SpeedButton18");
    EXPECT_EQ(state().StampFileText, "Horas\\0800.mp3");
    EXPECT_EQ(state().StampTimeText, "0:00.000");
    EXPECT_EQ(edit("EdCarimbo")->text(), "Hora certa 08 horas");
    EXPECT_EQ(messages(), "message: Vinheta de carimbo adicionada com sucesso\n");
    EXPECT_FALSE(panel->isVisible());

    // Reopened: the last search, in name order; a click on a row makes it the current one.
    click("SpeedButton14");
    EXPECT_EQ(gridNames(), (QStringList{"Hora certa 08 horas", "Hora_Certa 09"}));
    grid->setCurrentIndex(grid->model()->index(1, 0));
    EXPECT_EQ(w->CatalogueQuery()->FieldByName("VIN_ARQUIVO").AsString(), "0900.mp3");

    // A long name shows its start, the whole of it in the hint; a type outside the table gives
    // no folder.
    search("natal");
    state().SelStart = state().LiveStart = 441000;
    click("SpeedButton18");
    EXPECT_EQ(edit("EdCarimbo")->cursorPosition(), 0);
    EXPECT_EQ(edit("EdCarimbo")->toolTip(), "Vinheta especial de Natal com coral infantil");
    EXPECT_EQ(state().StampTimeText, "0:10.000");
    click("SpeedButton14");
    search("total");
    click("SpeedButton18");
    EXPECT_EQ(state().StampFileText, "acao.mp3");

    // Show moves the start to the stamp; clear then save leaves neither frame.
    state().SelStart = state().LiveStart = 882000;
    click("BFindCarimbo");
    EXPECT_EQ(state().SelStart, 441000);
    click("BLimpaCarimbo");
    EXPECT_EQ(edit("EdCarimbo")->text(), "");
    EXPECT_EQ(state().StampFileText, "");
    click("btnGravarMarcacoes");
    ASSERT_FALSE(state().Loaded) << messages();
    const QJsonObject dump = mutagenTag(song_);
    EXPECT_FALSE(id3test::frameOf(dump, "TCAR").contains("id"));
    EXPECT_FALSE(id3test::frameOf(dump, "TVIN").contains("id"));
    EXPECT_EQ(textOf(dump, "TCAD"), "S");

    // With the audio let go there is no selection to place a stamp at: insert does nothing.
    testutil::writeFile(log_, "");
    click("SpeedButton14");
    click("SpeedButton18");
    EXPECT_EQ(state().StampTimeText, "");
    EXPECT_EQ(edit("EdCarimbo")->text(), "");
    EXPECT_EQ(messages(), "");
}

// A catalogue that stops answering: one box for the failure however many keys follow, the
// rows shown stay, nothing can be inserted from them, the stamp is unchanged; the next
// search that works brings everything back. Without any connection the panel does not open.
TEST_F(MarkingTest, FailedSearchShowsOneBoxAndKeepsTheRows) {
    useCatalogue();
    tagSong("t.add(TCAR(encoding=0, text='0:09.000'))\nt.add(TVIN(encoding=0, text='Vinhetas\\\\oclock.mp3'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    click("SpeedButton14");
    search("hora");
    ASSERT_EQ(gridNames().size(), 2);

    w->Database()->Close();  // the connection is lost
    type("s c");
    const std::string m = messages();
    EXPECT_EQ(m.rfind("error: ", 0), 0u) << m;
    EXPECT_EQ(std::count(m.begin(), m.end(), '\n'), 1) << m;
    EXPECT_EQ(gridNames().size(), 2);
    EXPECT_FALSE(button("SpeedButton18")->isEnabled());
    click("SpeedButton18");
    EXPECT_EQ(state().StampFileText, "Vinhetas\\oclock.mp3");
    EXPECT_EQ(state().StampTimeText, "0:09.000");
    EXPECT_EQ(edit("EdCarimbo")->text(), "O'Clock Especial");

    w->Database()->Open();
    search("clock");
    EXPECT_EQ(gridNames(), QStringList{"O'Clock Especial"});
    EXPECT_TRUE(button("SpeedButton18")->isEnabled());
    const std::string after = messages();
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 1) << after;

    // No connection at all (no BaseQuelt.ini): the database's error, no panel, stamp as read.
    window_.reset();
    fs::remove(dir_.file("BaseQuelt.ini"));
    testutil::writeFile(log_, "");
    w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    testutil::writeFile(log_, "");
    click("SpeedButton14");
    EXPECT_EQ(messages().rfind("error: ", 0), 0u) << messages();
    EXPECT_FALSE(w->Control<TMMPanel>("PVinhetas")->isVisible());
    EXPECT_EQ(state().StampFileText, "Vinhetas\\oclock.mp3");
    EXPECT_EQ(state().StampTimeText, "0:09.000");
}

// The comment: only "Gravar Comentário" takes the memo; several lines go out with CR LF and
// come back as the same lines from either line end; clear removes the frame.
TEST_F(MarkingTest, CommentPanelLinesAndClear) {
    useCatalogue();
    tagSong("t.add(COMM(encoding=1, lang='por', desc='', text='lido\\nda carga'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    auto* memo = w->Control<QPlainTextEdit>("MemoComentario");
    EXPECT_EQ(memo->toPlainText(), "lido\nda carga");

    // Edited but not taken; the panel closed by inserting a stamp: the comment read is saved.
    click("SpeedButton15");
    EXPECT_TRUE(w->Control<TMMPanel>("PComentario")->isVisible());
    memo->setPlainText("editado");
    click("SpeedButton14");
    click("SpeedButton18");
    EXPECT_FALSE(w->Control<TMMPanel>("PComentario")->isVisible());
    click("btnGravarMarcacoes");
    ASSERT_FALSE(state().Loaded) << messages();
    EXPECT_EQ(comments(mutagenTag(song_)), Texts{"lido\r\nda carga"});

    // Two lines taken: written with CR LF, shown again as two lines.
    click("btnCancelarMarcacoes");
    testutil::writeFile(log_, "");
    click("SpeedButton15");
    memo->setPlainText(QString::fromUtf8("primeira linha\nsegunda, com ção"));
    click("SpeedButton19");
    EXPECT_EQ(messages(), "message: Comentário adicionado com sucesso.\n");
    EXPECT_FALSE(w->Control<TMMPanel>("PComentario")->isVisible());
    click("btnGravarMarcacoes");
    EXPECT_EQ(comments(mutagenTag(song_)), Texts{"primeira linha\r\nsegunda, com ção"});
    click("btnCancelarMarcacoes");
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("primeira linha\nsegunda, com ção"));
    state().SelStart = state().LiveStart = 220500;
    state().SelEnd = state().LiveEnd = 1587600;
    w->ShowSelection(true);
    for (const char* set : {"SpeedButton1", "SpeedButton9", "SpeedButton11", "SpeedButton10", "SpeedButton12",
                            "SpeedButton13"})
        click(set);
    savePicture(w, "markers.png", folder());

    // Clear, then save: no comment frame, whatever the memo held.
    click("BLimpaComentario");
    EXPECT_EQ(memo->toPlainText(), "");
    saveAnyway();  // the mix was set before the chorus end
    EXPECT_FALSE(state().Loaded);
    EXPECT_EQ(comments(mutagenTag(song_)), Texts{});
}

// A save while playing (virtual device): playback stops, the views are emptied, and no report
// of the output arriving afterwards turns playback, the transport or the zoom back on.
TEST_F(MarkingTest, SaveDuringPlaybackStopsItAndEmptiesTheViews) {
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    ASSERT_TRUE(button("PlayBtn")->isEnabled());
    QTest::mouseClick(button("PlayBtn"), Qt::LeftButton);
    ASSERT_TRUE(state().Playing) << messages();
    QTest::qWait(150);

    click("btnGravarMarcacoes");
    EXPECT_FALSE(state().Loaded);
    EXPECT_FALSE(state().Playing);
    QTest::qWait(300);  // whatever the output still had to report
    EXPECT_FALSE(state().Playing);
    EXPECT_FALSE(button("PlayBtn")->Down());
    for (const char* b : {"BInicio", "StopBtn", "PlayBtn", "BFim", "FullViewBtn", "btnZoomMenos", "btnZoomMais"})
        EXPECT_FALSE(button(b)->isEnabled()) << b;
    EXPECT_FALSE(w->Control<QSpinBox>("ZoomSpin")->isEnabled());
    EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    // Only the mid lines are left: one row in the detail view, two in the overview.
    EXPECT_LE(countColour(w->Control<TMMOscope>("Oscope1"), kLime), w->Control<TMMOscope>("Oscope1")->width());
    EXPECT_LE(countColour(w->Control<TMMOscope>("Oscope3"), kBlue), 2 * w->Control<TMMOscope>("Oscope3")->width());
    EXPECT_EQ(messages(), "");
}

// Markers out of order stop the save with their list until the operator saves all the same;
// "Voltar" leaves the file as it was. A text that is no time is listed, never a crash.
TEST_F(MarkingTest, MarkersOutOfOrderAreListedAndSavedOnlyWhenAsked) {
    tagSong("t.add(TMXI(encoding=0, text='0:20.000'))\n"
            "t.add(TMXF(encoding=0, text='0:10.000'))\n"
            "t.add(TPMI(encoding=0, text='depois'))\n"
            "t.add(TCAR(encoding=0, text='0:50.000'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    const std::string audioEnd = w->SampleToTimeText(state().TotalSamples).toStdString();
    const std::string list = "As marcações estão fora de ordem:\\n\\nMixagem: \"depois\" não é um tempo\\n"
                             "Fim antes do Início\\nCarimbo depois do Fim\\nCarimbo além do fim do áudio (" +
                             audioEnd + ")";
    const std::string question = "question: " + list + " [Gravar assim mesmo|Voltar]\n";
    const std::string before = testutil::readFile(song_);
    click("btnGravarMarcacoes");  // the answer is the box's default: Voltar
    EXPECT_EQ(messages(), question);
    EXPECT_TRUE(state().Loaded);
    EXPECT_EQ(testutil::readFile(song_), before);

    // Set right, the end no longer comes before the start.
    state().SelStart = state().LiveStart = 0;
    state().SelEnd = state().LiveEnd = 1323000;
    click("SpeedButton11");  // Fim 0:30.000
    testutil::writeFile(log_, "");
    {
        testutil::ScopedEnv answer{{"TESSIVO_MESSAGE_ANSWER", "Gravar assim mesmo"}};
        click("btnGravarMarcacoes");
    }
    EXPECT_EQ(messages(), "question: As marcações estão fora de ordem:\\n\\nMixagem: \"depois\" não é um tempo\\n"
                          "Carimbo depois do Fim\\nCarimbo além do fim do áudio (" +
                              audioEnd + ") [Gravar assim mesmo|Voltar]\n");
    EXPECT_FALSE(state().Loaded);
    const QJsonObject dump = mutagenTag(song_);
    EXPECT_EQ(textOf(dump, "TMXF"), "0:30.000");
    EXPECT_EQ(textOf(dump, "TMXI"), "0:20.000");
    EXPECT_EQ(textOf(dump, "TPMI"), "depois");
    EXPECT_EQ(textOf(dump, "TCAR"), "0:50.000");
}

// The README's picture of the order check.
TEST_F(MarkingTest, PictureOfTheOrderCheck) {
    tagSong("t.add(TMXI(encoding=0, text='0:20.000'))\n"
            "t.add(TMXF(encoding=0, text='0:10.000'))\n"
            "t.add(TRFI(encoding=0, text='0:15.000'))\n"
            "t.add(TRFF(encoding=0, text='0:12.000'))\n"
            "t.add(TPMI(encoding=0, text='0:3O.000'))");
    TFrmTessivo* w = open(song_);
    ASSERT_TRUE(state().Loaded) << messages();
    const QStringList problems = w->MarkerProblems();
    ASSERT_EQ(problems, (QStringList{QString::fromUtf8("Mixagem: \"0:3O.000\" não é um tempo"),
                                     QString::fromUtf8("Início do Refrão antes do Início"),
                                     QString::fromUtf8("Final do Refrão antes do Início do Refrão"),
                                     QString::fromUtf8("Fim antes do Final do Refrão")}));
    const auto box = MakeQuestionBox(QString::fromUtf8(SOrdemMarcacoes) + "\n\n" + problems.join('\n'),
                                     QString::fromUtf8(SGravarAssimMesmo), QString::fromUtf8(SVoltar), w);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    savePicture(box.get(), "order-check.png", folder());
}
