// The main window under the offscreen platform: its controls, the start-up checks of
// FormCreate (argument, INI file, connection), the screen cursors, closing, and a picture.
#include "app/Application.h"
#include "app/PNGButton.h"
#include "app/UTessivo.h"
#include "audio/MMWave.h"
#include "db/FBDatabase.h"
#include "display/MMGauge.h"
#include "display/MMPanel.h"
#include "import/U_Mp3ToWav.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QHeaderView>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

namespace {

using testutil::TempDir;
namespace fs = std::filesystem;

// Every message box of the window goes to a file in a private folder, which also serves as
// the program folder (where BaseQuelt.ini is looked for).
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        log_ = dir_.file("messages.txt");
        setenv("TESSIVO_MESSAGE_LOG", log_.c_str(), 1);
    }
    void TearDown() override { unsetenv("TESSIVO_MESSAGE_LOG"); }

    QString folder() const { return QString::fromStdString(dir_.path().string()); }
    std::string messages() const { return testutil::readFile(log_); }
    void writeIni(const std::string& text) { testutil::writeFile(dir_.file("BaseQuelt.ini"), text); }
    // A window on an audio path that need not exist (loading comes later).
    // Showing it reports the missing file, which here does not end the test program.
    TFrmTessivo* makeWindow() {
        auto* w = new TFrmTessivo({"/nonexistent/song.mp3"}, folder());
        w->ExitProcess = [](int) {};
        return w;
    }

    TempDir dir_;
    std::string log_;
};

// Position of a control in the window's client coordinates.
QRect inWindow(const QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }

void deletePending() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

TEST_F(MainWindowTest, WindowFrameAndMainAreas) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    ASSERT_FALSE(w->Terminated());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->objectName(), "FrmTessivo");
    EXPECT_EQ(w->windowTitle(), "Tessivo - Quelt Sistemas");
    EXPECT_EQ(QApplication::applicationName(), "Tessivo - Quelt Sistemas");
    EXPECT_EQ(w->size(), QSize(764, 393));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());  // single fixed border
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);

    EXPECT_EQ(inWindow(w->Control<TMMPanel>("StatusPanel")), QRect(0, 361, 764, 32));
    EXPECT_EQ(inWindow(w->Control<TMMPanel>("Panel6")), QRect(0, 0, 764, 361));
    EXPECT_EQ(w->Control<TMMPanel>("PBotoes")->width(), 211);
    EXPECT_EQ(inWindow(w->Control<TMMPanel>("PBotoes")).right(), inWindow(w->Control<TMMPanel>("Panel6")).right() - 1);  // docked right inside the frame
    EXPECT_EQ(inWindow(w->Control<TMMPanel>("Panel7")).right() + 1, inWindow(w->Control<TMMPanel>("PBotoes")).left());

    // The waveform area: the detail frame, the scroll bar right under it, then the overview.
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel1")->width(), 549);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel1")->BevelExtent(), 6);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel1")->Color(), clBlack);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->geometry().topLeft(), QPoint(6, 6));
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->width(), 537);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->height(), w->Control<TMMPanel>("MMPanel1")->height() - 12);
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope2")->isHidden());
    EXPECT_EQ(inWindow(w->Control<QScrollBar>("ScrollBar1")).top(), inWindow(w->Control<TMMPanel>("MMPanel1")).bottom() + 1);
    EXPECT_EQ(inWindow(w->Control<QScrollBar>("ScrollBar1")).bottom() + 1, inWindow(w->Control<TMMPanel>("MMPanel2")).top());
    EXPECT_EQ(inWindow(w->Control<QScrollBar>("ScrollBar1")).width(), 549);
    EXPECT_EQ(inWindow(w->Control<TMMPanel>("MMPanel2")).bottom(), inWindow(w->Control<TMMPanel>("Panel7")).bottom() - 1);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel2")->height(), 76);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel3")->height(), 58);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel4")->height(), 7);
    EXPECT_EQ(w->Control<TMMPanel>("MMPanel4")->geometry().bottom(), w->Control<TMMPanel>("MMPanel2")->height() - 1 - w->Control<TMMPanel>("MMPanel2")->BevelExtent());
    EXPECT_EQ(w->Control<TMMOscope>("Oscope3")->width(), 537);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope3")->height(), 56);
    EXPECT_TRUE(w->Control<TMMOscope>("Oscope4")->isHidden());  // its height is set by the view layout
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->geometry(), QRect(1, 1, 537, 5));
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->BackColor(), clBlack);
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->ForeColor(), clYellow);
    EXPECT_FALSE(w->Control<TMMGauge>("Gauge1")->ShowText());
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->MinValue(), 0);
    EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->MaxValue(), 100);

    EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->orientation(), Qt::Horizontal);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->maximum(), 32767);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->pageStep(), 50);

    // The two hidden panels over the top-left corner.
    for (TMMPanel* p : {w->Control<TMMPanel>("PVinhetas"), w->Control<TMMPanel>("PComentario")}) {
        EXPECT_TRUE(p->isHidden());
        EXPECT_EQ(p->geometry(), QRect(0, 0, 765, 124));
        EXPECT_EQ(p->parentWidget(), w.get());
    }
    EXPECT_EQ(w->Control<TMMPanel>("PComentario")->BevelExtent(), 0);
    EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->size(), QSize(553, 89));
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton19")->Caption(), QString::fromUtf8("Gravar Comentário"));
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton18")->Caption(), "Inserir Carimbo");
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->columnWidth(0), 443);
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->columnWidth(1), 67);
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->model()->headerData(0, Qt::Horizontal).toString(), "Vinheta");
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Duração"));
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(w->Control<QTableView>("DBGrid4")->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_NE(w->Control<QLineEdit>("EdBuscarVinhetas"), nullptr);
}

TEST_F(MainWindowTest, MarkerColumnRowsCaptionsHintsAndStates) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_FALSE(w->Control<TMMPanel>("PBotoes")->isEnabled());  // enabled by the first load

    struct Row {
        TPNGButton* show;
        TPNGButton* set;
        const char* caption;
        QLineEdit* edit;
        TPNGButton* clear;
    };
    const Row rows[] = {
        {w->Control<TPNGButton>("BFindIntro"), w->Control<TPNGButton>("SpeedButton1"), "Introdução", w->Control<QLineEdit>("EdIntroducao"), w->Control<TPNGButton>("BLimpaIntro")},
        {w->Control<TPNGButton>("BFindInicio"), w->Control<TPNGButton>("SpeedButton9"), "Início", w->Control<QLineEdit>("EdInicio"), w->Control<TPNGButton>("BLimpaInicio")},
        {w->Control<TPNGButton>("BFindFim"), w->Control<TPNGButton>("SpeedButton11"), "Fim", w->Control<QLineEdit>("EdFim"), w->Control<TPNGButton>("BLimpaFim")},
        {w->Control<TPNGButton>("BFindRefInicio"), w->Control<TPNGButton>("SpeedButton10"), "Início do Refrão", w->Control<QLineEdit>("EdInicioRefrao"), w->Control<TPNGButton>("BLimpaInicioRefrao")},
        {w->Control<TPNGButton>("BFindRefFim"), w->Control<TPNGButton>("SpeedButton12"), "Final do Refrão", w->Control<QLineEdit>("EdFinalRefrao"), w->Control<TPNGButton>("BLimpaFimRefrao")},
        {w->Control<TPNGButton>("BFindMix"), w->Control<TPNGButton>("SpeedButton13"), "Mixagem", w->Control<QLineEdit>("EdMixagem"), w->Control<TPNGButton>("BLimpaMixagem")},
        {w->Control<TPNGButton>("BFindCarimbo"), w->Control<TPNGButton>("SpeedButton14"), "Carimbo", w->Control<QLineEdit>("EdCarimbo"), w->Control<TPNGButton>("BLimpaCarimbo")},
    };
    int previousTop = -1;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.caption);
        EXPECT_EQ(r.set->Caption(), QString::fromUtf8(r.caption));
        EXPECT_EQ(r.show->toolTip(), QString::fromUtf8("Exibir marcação definida"));
        EXPECT_EQ(r.clear->toolTip(), QString::fromUtf8("Limpar marcação"));
        EXPECT_TRUE(r.show->Flat());
        EXPECT_TRUE(r.clear->Flat());
        EXPECT_FALSE(r.show->Glyph().isNull());
        EXPECT_FALSE(r.set->Glyph().isNull());
        EXPECT_FALSE(r.clear->Glyph().isNull());
        EXPECT_FALSE(r.edit->isEnabled());
        EXPECT_TRUE(r.edit->isReadOnly());
        EXPECT_TRUE(r.edit->text().isEmpty());
        // Show, set, edit, clear from left to right on one row; rows downwards.
        EXPECT_LT(r.show->geometry().right(), r.set->geometry().left());
        EXPECT_LT(r.set->geometry().right(), r.edit->geometry().left());
        EXPECT_LT(r.edit->geometry().right(), r.clear->geometry().left());
        EXPECT_LE(r.clear->geometry().right(), w->Control<TMMPanel>("PBotoes")->width() - 1 - w->Control<TMMPanel>("PBotoes")->BevelExtent());
        EXPECT_EQ(r.edit->y(), r.set->y());
        EXPECT_GT(r.set->y(), previousTop);
        previousTop = r.set->y();
        // The caption fits its button beside the glyph.
        const int needed = r.set->Margin() + int(r.set->Glyph().deviceIndependentSize().width()) + 4 +
                           r.set->fontMetrics().horizontalAdvance(r.set->Caption());
        EXPECT_LE(needed, r.set->width());
    }
    EXPECT_GT(w->Control<QLineEdit>("EdCarimbo")->width(), w->Control<QLineEdit>("EdIntroducao")->width());
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton15")->Caption(), QString::fromUtf8("Inserir Comentário"));
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton15")->geometry().left(), w->Control<TPNGButton>("SpeedButton1")->geometry().left());
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton15")->geometry().right(), w->Control<QLineEdit>("EdIntroducao")->geometry().right());
    EXPECT_GT(w->Control<TPNGButton>("SpeedButton15")->y(), previousTop);
    EXPECT_EQ(w->Control<TPNGButton>("BLimpaComentario")->toolTip(), QString::fromUtf8("Limpar marcação"));
    EXPECT_EQ(w->Control<TPNGButton>("btnCancelarMarcacoes")->Caption(), QString::fromUtf8("Cancelar Marcações"));
    EXPECT_EQ(w->Control<TPNGButton>("btnGravarMarcacoes")->Caption(), QString::fromUtf8("Gravar Marcações"));
    EXPECT_EQ(w->Control<TPNGButton>("btnCancelarMarcacoes")->size(), QSize(150, 37));
    EXPECT_EQ(w->Control<TPNGButton>("btnGravarMarcacoes")->size(), QSize(150, 37));
    EXPECT_GT(w->Control<TPNGButton>("btnCancelarMarcacoes")->y(), w->Control<TPNGButton>("SpeedButton15")->y());
    EXPECT_LE(w->Control<TPNGButton>("btnGravarMarcacoes")->geometry().bottom(), w->Control<TMMPanel>("PBotoes")->height() - 2);
}

TEST_F(MainWindowTest, StatusBarButtonsCellsAndZoomSpin) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    const std::vector<TPNGButton*> glyphs = {w->Control<TPNGButton>("BInicio"), w->Control<TPNGButton>("BFim"), w->Control<TPNGButton>("StopBtn"), w->Control<TPNGButton>("PlayBtn"),
                                             w->Control<TPNGButton>("btnZoomMenos"), w->Control<TPNGButton>("btnZoomMais"), w->Control<TPNGButton>("FullViewBtn")};
    int left = -1;
    for (TPNGButton* b : glyphs) {
        SCOPED_TRACE(b->objectName().toStdString());
        EXPECT_EQ(b->parentWidget(), w->Control<TMMPanel>("StatusPanel"));
        EXPECT_EQ(b->size(), QSize(28, 28));
        EXPECT_FALSE(b->isEnabled());
        EXPECT_FALSE(b->Glyph().isNull());
        EXPECT_GT(b->x(), left);
        left = b->x();
    }
    EXPECT_EQ(w->Control<TPNGButton>("PlayBtn")->GroupIndex(), 2);
    EXPECT_TRUE(w->Control<TPNGButton>("PlayBtn")->AllowAllUp());
    EXPECT_FALSE(w->Control<TPNGButton>("PlayBtn")->Down());

    EXPECT_TRUE(w->Control<QSpinBox>("ZoomSpin")->isHidden());
    EXPECT_FALSE(w->Control<QSpinBox>("ZoomSpin")->isEnabled());
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->minimum(), 1);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->singleStep(), 100);
    EXPECT_LE(QString::number(w->Control<QSpinBox>("ZoomSpin")->maximum()).size(), 5);
    EXPECT_GT(w->Control<QSpinBox>("ZoomSpin")->x(), w->Control<TPNGButton>("FullViewBtn")->x());

    // Status4 right of the buttons, its cells left to right: position, duration, size.
    EXPECT_GT(w->Control<TMMPanel>("Status4")->x(), w->Control<TPNGButton>("FullViewBtn")->geometry().right());
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->width(), 69);
    EXPECT_EQ(w->Control<TMMPanel>("StatusTime")->width(), 68);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSize")->width(), 75);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->geometry().right() + 1, w->Control<TMMPanel>("StatusTime")->x());
    EXPECT_EQ(w->Control<TMMPanel>("StatusTime")->geometry().right() + 1, w->Control<TMMPanel>("StatusSize")->x());
    for (TMMPanel* cell : {w->Control<TMMPanel>("StatusSample"), w->Control<TMMPanel>("StatusTime"), w->Control<TMMPanel>("StatusSize")}) {
        EXPECT_EQ(cell->BevelExtent(), 2);  // border band 1 + lowered inner bevel 1
        EXPECT_EQ(cell->Alignment(), taLeftJustify);
        EXPECT_TRUE(cell->Caption().isEmpty());
    }
    // "Fechar" at the right end, enabled.
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton16")->Caption(), "Fechar");
    EXPECT_TRUE(w->Control<TPNGButton>("SpeedButton16")->isEnabled());
    EXPECT_GT(w->Control<TPNGButton>("SpeedButton16")->x(), w->Control<TMMPanel>("Status4")->geometry().right());
    EXPECT_EQ(w->Control<TPNGButton>("SpeedButton16")->geometry().right(), w->Control<TMMPanel>("StatusPanel")->width() - 1 - w->Control<TMMPanel>("StatusPanel")->BevelExtent());
}

// Every fixed text, and the status values of a 30-minute song, fit their boxes in the program's
// font, measured in the face each is drawn in; the import dialog's text too.
TEST_F(MainWindowTest, TextsAndStatusValuesFitTheirBoxes) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), "DejaVu Sans");
    auto fits = [](TMMPanel* p) {
        return QFontMetrics(p->CaptionFont()).horizontalAdvance(p->Caption()) <= p->width() - 2 * p->BevelExtent();
    };
    const struct {
        const char* cell;
        const char* value;
    } values[] = {{"StatusTime", "1800,00 Sec"}, {"StatusSize", "310078,2 Kb"}, {"StatusSample", "29:59.999"},
                  {"StatusSample", "1:00:00.000"}, {"StatusMarcas", "Intro -59:59.999 · Mix→Fim -59:59.999"},
                  {"StatusMarcas", "Falta a marcação Início do Refrão"},
                  {"StatusMarcas", "Nada a ouvir: 1:00:00.000"}};
    for (const auto& v : values) {
        TMMPanel* cell = w->Control<TMMPanel>(v.cell);
        cell->SetCaption(QString::fromUtf8(v.value));
        EXPECT_TRUE(fits(cell)) << v.value;
    }
    for (QWidget* c : w->findChildren<QWidget*>()) {
        if (auto* p = dynamic_cast<TMMPanel*>(c); p && !p->Caption().isEmpty()) {
            EXPECT_TRUE(fits(p)) << p->objectName().toStdString();
        }
        if (auto* l = dynamic_cast<QLabel*>(c); l && !l->wordWrap()) {
            EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width()) << l->text().toStdString();
        }
        if (auto* b = dynamic_cast<TPNGButton*>(c)) {
            const int glyph = int(b->Glyph().deviceIndependentSize().width());
            const int text = b->fontMetrics().horizontalAdvance(b->Caption());
            EXPECT_LE(std::max(b->Margin(), 0) + glyph + (glyph > 0 && text > 0 ? 4 : 0) + text, b->width())
                << b->objectName().toStdString();
        }
    }
    TFrmMp3ToWav dialog;
    QLabel* label = dialog.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Aguarde Importando Arquivo");
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
}

TEST_F(MainWindowTest, ComponentsAndInitialState) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_EQ(w->State().ArgumentPath, "/nonexistent/song.mp3");
    EXPECT_FALSE(w->State().Loaded);
    EXPECT_FALSE(w->State().Dragging);
    EXPECT_FALSE(w->State().Playing);
    EXPECT_FALSE(w->Control<QTimer>("TimerTessivo")->isActive());
    EXPECT_EQ(w->Control<QTimer>("TimerTessivo")->interval(), 50);
    EXPECT_EQ(w->Control<QAction>("Action1")->text(), "Sair");
    EXPECT_EQ(w->Control<QAction>("Action1")->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(w->Control<QAction>("Action2")->shortcut(), QKeySequence(Qt::Key_Space));
    EXPECT_EQ(w->WaveFile1()->Wave()->IOBufferSize(), 100000);
    EXPECT_EQ(w->PlaybackFile()->Wave()->IOBufferSize(), 100000);
    EXPECT_EQ(w->WaveFile1()->Name(), "MMWaveFile1");

    EXPECT_EQ(w->Database()->Params(), (std::vector<std::string>{"user_name=SYSDBA", "password=cobaltfin"}));
    EXPECT_EQ(w->Database()->SQLDialect(), 1);
    EXPECT_FALSE(w->Database()->LoginPrompt());
    EXPECT_EQ(w->Database()->DefaultTransaction(), w->Transaction());
    EXPECT_EQ(w->Transaction()->Params(), (std::vector<std::string>{"read_committed", "rec_version", "nowait"}));
    EXPECT_EQ(w->CatalogueQuery()->Database(), w->Database());
    EXPECT_EQ(w->CatalogueQuery()->Transaction(), w->Transaction());
    ASSERT_EQ(w->CatalogueQuery()->SQL().size(), 6u);
    EXPECT_EQ(w->CatalogueQuery()->SQL().front(), "SELECT Vin.*, CAST(LIST(Cav_Nome, ', ') AS VARCHAR(1000)) AS Cav_Nome");
    EXPECT_EQ(w->CatalogueQuery()->SQL().back(), "Order by Vin.Vin_Codigo");
}

TEST_F(MainWindowTest, NoArgumentOrEmptyArgumentEndsBeforeTheWindow) {
    for (const QStringList& args : {QStringList{}, QStringList{""}, QStringList{"", "/song.mp3"}}) {
        testutil::writeFile(log_, "");
        std::unique_ptr<TFrmTessivo> w(new TFrmTessivo(args, folder()));
        EXPECT_TRUE(w->Terminated());
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(messages(), "message: Nenhum áudio foi informado.\n");
        EXPECT_FALSE(w->ConnectionAttempted());
    }
}

TEST_F(MainWindowTest, WithoutIniNoConnectionIsAttempted) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_FALSE(w->ConnectionAttempted());
    EXPECT_EQ(w->Database()->DatabaseName(), "C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB");
    EXPECT_FALSE(w->Database()->Connected());
    EXPECT_EQ(messages(), "");
}

TEST_F(MainWindowTest, IniWithoutUsablePathGivesOneConnectionMessage) {
    const std::string missing = dir_.file("missing.fdb");
    struct Case {
        const char* what;
        std::string ini;
        std::string name;  // the database name read
    };
    const Case cases[] = {
        {"empty CAMINHO", "[BANCO]\r\nCAMINHO=\r\n", ""},
        {"no section", "[OUTRO]\nCAMINHO=" + missing + "\n", ""},
        {"no key", "[BANCO]\nSERVIDOR=x\n", ""},
        {"binary garbage", std::string("\x00\xff\x13[\x01=\n\xfe", 8), ""},
        {"missing file, names in other case, blanks and quotes", "; station\n[banco]\n  caminho = \"" + missing + "\" \n",
         missing},
        {"not a database", "[BANCO]\nCAMINHO=" + dir_.file("messages.txt") + "\n", dir_.file("messages.txt")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeIni(c.ini);
        testutil::writeFile(log_, "not a database, and the log");
        std::unique_ptr<TFrmTessivo> w(makeWindow());
        EXPECT_FALSE(w->Terminated());
        EXPECT_TRUE(w->ConnectionAttempted());
        EXPECT_EQ(w->Database()->DatabaseName(), c.name);
        EXPECT_FALSE(w->Database()->Connected());
        EXPECT_EQ(messages(), "not a database, and the log"
                              "message: Não foi possível conectar com a base de dados.\n");
    }
}

TEST_F(MainWindowTest, IniKeepsBackslashesOfAWindowsPath) {
    writeIni("[BANCO]\r\nCAMINHO=C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB\r\n");
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_EQ(w->Database()->DatabaseName(), "C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB");
    EXPECT_EQ(messages(), "message: Não foi possível conectar com a base de dados.\n");
}

// The INI beside the executable wins over the user's, which wins over /etc/tessivo/ (not
// written here); XDG_CONFIG_HOME unset or relative means ~/.config.
TEST_F(MainWindowTest, IniIsLookedForBesideTheProgramThenInTheUsersFolder) {
    const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    const TempDir user;
    fs::create_directories(user.path() / "config/tessivo");
    fs::create_directories(user.path() / ".config/tessivo");
    testutil::writeFile((user.path() / "config/tessivo/BaseQuelt.ini").string(), "[BANCO]\nCAMINHO=user.fdb\n");
    testutil::writeFile((user.path() / ".config/tessivo/BaseQuelt.ini").string(), "[BANCO]\nCAMINHO=home.fdb\n");
    struct Case {
        const char* what;
        bool beside;
        const char* xdg;  // null: unset
        std::string name;
    };
    const std::string xdg = (user.path() / "config").string();
    const Case cases[] = {
        {"beside the program", true, xdg.c_str(), "beside.fdb"},
        {"XDG_CONFIG_HOME", false, xdg.c_str(), "user.fdb"},
        {"XDG_CONFIG_HOME unset", false, nullptr, "home.fdb"},
        {"XDG_CONFIG_HOME relative", false, "config", "home.fdb"},
    };
    setenv("HOME", user.path().c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(dir_.file("BaseQuelt.ini"));
        if (c.beside) writeIni("[BANCO]\nCAMINHO=beside.fdb\n");
        if (c.xdg)
            setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::unique_ptr<TFrmTessivo> w(makeWindow());
        EXPECT_TRUE(w->ConnectionAttempted());
        EXPECT_EQ(w->Database()->DatabaseName(), c.name);
    }
    setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(MainWindowTest, ScreenCursorsHaveTheirImagesAndHotSpots) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    const QCursor mark = w->ScreenCursor(1);
    const QCursor zoom = w->ScreenCursor(2);
    ASSERT_EQ(mark.shape(), Qt::BitmapCursor);
    ASSERT_EQ(zoom.shape(), Qt::BitmapCursor);
    EXPECT_EQ(mark.hotSpot(), QPoint(16, 16));
    EXPECT_EQ(zoom.hotSpot(), QPoint(11, 11));
    const QImage markImage = mark.pixmap().toImage();
    EXPECT_EQ(markImage.size(), QSize(32, 32));
    // The boundary line of the mark cursor runs through its hot spot, black inside a white rim.
    EXPECT_EQ(qAlpha(markImage.pixel(16, 16)), 255);
    EXPECT_EQ(qGray(markImage.pixel(16, 6)), 0);
    EXPECT_EQ(qAlpha(markImage.pixel(1, 1)), 0);
    EXPECT_EQ(w->ScreenCursor(3).shape(), Qt::ArrowCursor);
    EXPECT_EQ(w->ScreenCursor(0).shape(), Qt::ArrowCursor);
}

TEST_F(MainWindowTest, EscapeClosesFromAnyFocus) {
    // Esc on the window itself, in the comment memo and in the catalogue search box.
    for (int focus = 0; focus < 3; ++focus) {
        SCOPED_TRACE(focus);
        QPointer<TFrmTessivo> w = makeWindow();
        w->show();
        QApplication::setActiveWindow(w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        QWidget* target = w;
        if (focus == 1) {
            w->Control<TMMPanel>("PComentario")->show();
            w->Control<TMMPanel>("PComentario")->raise();
            target = w->Control<QPlainTextEdit>("MemoComentario");
        } else if (focus == 2) {
            w->Control<TMMPanel>("PVinhetas")->show();
            w->Control<TMMPanel>("PVinhetas")->raise();
            target = w->Control<QLineEdit>("EdBuscarVinhetas");
        }
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(w->isVisible());
        deletePending();
        EXPECT_TRUE(w.isNull());  // the close frees the window
        delete w.data();
    }
}

TEST_F(MainWindowTest, FecharClosesTheWindow) {
    QPointer<TFrmTessivo> w = makeWindow();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    QTest::mouseClick(w->Control<TPNGButton>("SpeedButton16"), Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    deletePending();
    EXPECT_TRUE(w.isNull());
    delete w.data();
}

TEST_F(MainWindowTest, UncaughtHandlerErrorGoesToTheErrorBox) {
    EXPECT_TRUE(DeliverGuarded([] { return true; }));
    EXPECT_EQ(messages(), "");
    EXPECT_FALSE(DeliverGuarded([]() -> bool { throw std::runtime_error("Formato de arquivo inválido."); }));
    EXPECT_FALSE(DeliverGuarded([]() -> bool { throw 42; }));
    EXPECT_EQ(messages(), "error: Formato de arquivo inválido.\nerror: Unknown error\n");
}

// Saves a picture of the window as it opens on the demo song (made by scripts/make-demo.sh).
// With TESSIVO_SCREENSHOTS naming a folder (the docs/screenshots folder of the repository) the
// picture goes there, otherwise to a temporary folder.
TEST_F(MainWindowTest, PictureOfTheMainWindow) {
    const std::string song = dir_.file("demo.mp3");
    const std::string maker = (testutil::sourceDir() / "scripts" / "make-demo.sh").string();
    ASSERT_EQ(testutil::run("bash " + testutil::shellQuote(maker) + " " + testutil::shellQuote(song) + " >/dev/null"), 0);
    std::unique_ptr<TFrmTessivo> w(new TFrmTessivo({QString::fromStdString(song)}, folder()));
    w->ExitProcess = [](int) {};
    w->show();  // loads the song
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    ASSERT_TRUE(w->State().Loaded) << messages();
    EXPECT_EQ(messages(), "");
    const QImage picture = w->grab().toImage();
    ASSERT_EQ(picture.size() / picture.devicePixelRatio(), QSize(764, 393));

    // Waveform areas on black, the button face around them, the light edge of the frames.
    const qreal ratio = picture.devicePixelRatio();
    auto at = [&](QWidget* control, QPoint p) {
        return picture.pixelColor((QPointF(control->mapTo(w.get(), p)) * ratio).toPoint());
    };
    EXPECT_EQ(at(w->Control<TMMOscope>("Oscope1"), QPoint(10, 1)), QColor(Qt::black));
    EXPECT_EQ(at(w->Control<TMMOscope>("Oscope3"), QPoint(10, 0)), QColor(Qt::black));
    EXPECT_EQ(at(w->Control<TMMPanel>("PBotoes"), QPoint(100, 350)), QColor(212, 208, 200));
    EXPECT_EQ(at(w->Control<TMMPanel>("PBotoes"), QPoint(0, 100)), QColor(255, 255, 255));  // raised outer edge

    const char* target = std::getenv("TESSIVO_SCREENSHOTS");
    const QString folder = target && *target ? QString::fromLocal8Bit(target) : this->folder();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath("main-window.png");
    ASSERT_TRUE(picture.save(path, "PNG"));
    QImage reread;
    std::string error;
    ASSERT_TRUE(LoadPNGFile(path, reread, &error)) << error;
    EXPECT_EQ(reread.size(), picture.size());
}

}  // namespace
