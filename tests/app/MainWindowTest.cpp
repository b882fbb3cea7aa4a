// The main window under the offscreen platform: its controls, the start-up checks of
// FormCreate (argument, INI file, connection), the screen cursors, closing, and a picture.
#include "app/Application.h"
#include "app/PNGButton.h"
#include "app/UTessivo.h"
#include "audio/MMWave.h"
#include "db/FBDatabase.h"
#include "display/MMGauge.h"
#include "display/MMPanel.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
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

namespace {

using testutil::TempDir;

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

    EXPECT_EQ(inWindow(w->StatusPanel), QRect(0, 361, 764, 32));
    EXPECT_EQ(inWindow(w->Panel6), QRect(0, 0, 764, 361));
    EXPECT_EQ(w->PBotoes->width(), 211);
    EXPECT_EQ(inWindow(w->PBotoes).right(), inWindow(w->Panel6).right() - 1);  // docked right inside the frame
    EXPECT_EQ(inWindow(w->Panel7).right() + 1, inWindow(w->PBotoes).left());

    // The waveform area: the detail frame, the scroll bar right under it, then the overview.
    EXPECT_EQ(w->MMPanel1->width(), 549);
    EXPECT_EQ(w->MMPanel1->BevelExtent(), 6);
    EXPECT_EQ(w->MMPanel1->Color(), clBlack);
    EXPECT_EQ(w->Oscope1->geometry().topLeft(), QPoint(6, 6));
    EXPECT_EQ(w->Oscope1->width(), 537);
    EXPECT_EQ(w->Oscope1->height(), w->MMPanel1->height() - 12);
    EXPECT_TRUE(w->Oscope2->isHidden());
    EXPECT_EQ(inWindow(w->ScrollBar1).top(), inWindow(w->MMPanel1).bottom() + 1);
    EXPECT_EQ(inWindow(w->ScrollBar1).bottom() + 1, inWindow(w->MMPanel2).top());
    EXPECT_EQ(inWindow(w->ScrollBar1).width(), 549);
    EXPECT_EQ(inWindow(w->MMPanel2).bottom(), inWindow(w->Panel7).bottom() - 1);
    EXPECT_EQ(w->MMPanel2->height(), 76);
    EXPECT_EQ(w->MMPanel3->height(), 58);
    EXPECT_EQ(w->MMPanel4->height(), 7);
    EXPECT_EQ(w->MMPanel4->geometry().bottom(), w->MMPanel2->height() - 1 - w->MMPanel2->BevelExtent());
    EXPECT_EQ(w->Oscope3->width(), 537);
    EXPECT_EQ(w->Oscope3->height(), 56);
    EXPECT_TRUE(w->Oscope4->isHidden());  // its height is set by the view layout
    EXPECT_EQ(w->Gauge1->geometry(), QRect(1, 1, 537, 5));
    EXPECT_EQ(w->Gauge1->BackColor(), clBlack);
    EXPECT_EQ(w->Gauge1->ForeColor(), clYellow);
    EXPECT_FALSE(w->Gauge1->ShowText());
    EXPECT_EQ(w->Gauge1->MinValue(), 0);
    EXPECT_EQ(w->Gauge1->MaxValue(), 100);

    EXPECT_FALSE(w->ScrollBar1->isEnabled());
    EXPECT_EQ(w->ScrollBar1->orientation(), Qt::Horizontal);
    EXPECT_EQ(w->ScrollBar1->maximum(), 32767);
    EXPECT_EQ(w->ScrollBar1->pageStep(), 50);

    // The two hidden panels over the top-left corner.
    for (TMMPanel* p : {w->PVinhetas, w->PComentario}) {
        EXPECT_TRUE(p->isHidden());
        EXPECT_EQ(p->geometry(), QRect(0, 0, 765, 124));
        EXPECT_EQ(p->parentWidget(), w.get());
    }
    EXPECT_EQ(w->PComentario->BevelExtent(), 0);
    EXPECT_EQ(w->MemoComentario->size(), QSize(553, 89));
    EXPECT_EQ(w->SpeedButton19->Caption(), QString::fromUtf8("Gravar Comentário"));
    EXPECT_EQ(w->SpeedButton18->Caption(), "Inserir Carimbo");
    EXPECT_EQ(w->DBGrid4->columnWidth(0), 443);
    EXPECT_EQ(w->DBGrid4->columnWidth(1), 67);
    EXPECT_EQ(w->DBGrid4->model()->headerData(0, Qt::Horizontal).toString(), "Vinheta");
    EXPECT_EQ(w->DBGrid4->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Duração"));
    EXPECT_EQ(w->DBGrid4->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(w->DBGrid4->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_NE(w->EdBuscarVinhetas, nullptr);
}

TEST_F(MainWindowTest, MarkerColumnRowsCaptionsHintsAndStates) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_FALSE(w->PBotoes->isEnabled());  // enabled by the first load

    struct Row {
        TPNGButton* show;
        TPNGButton* set;
        const char* caption;
        QLineEdit* edit;
        TPNGButton* clear;
    };
    const Row rows[] = {
        {w->BFindIntro, w->SpeedButton1, "Introdução", w->EdIntroducao, w->BLimpaIntro},
        {w->BFindInicio, w->SpeedButton9, "Início", w->EdInicio, w->BLimpaInicio},
        {w->BFindFim, w->SpeedButton11, "Fim", w->EdFim, w->BLimpaFim},
        {w->BFindRefInicio, w->SpeedButton10, "Início do Refrão", w->EdInicioRefrao, w->BLimpaInicioRefrao},
        {w->BFindRefFim, w->SpeedButton12, "Final do Refrão", w->EdFinalRefrao, w->BLimpaFimRefrao},
        {w->BFindMix, w->SpeedButton13, "Mixagem", w->EdMixagem, w->BLimpaMixagem},
        {w->BFindCarimbo, w->SpeedButton14, "Carimbo", w->EdCarimbo, w->BLimpaCarimbo},
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
        EXPECT_LE(r.clear->geometry().right(), w->PBotoes->width() - 1 - w->PBotoes->BevelExtent());
        EXPECT_EQ(r.edit->y(), r.set->y());
        EXPECT_GT(r.set->y(), previousTop);
        previousTop = r.set->y();
        // The caption fits its button beside the glyph.
        const int needed = r.set->Margin() + int(r.set->Glyph().deviceIndependentSize().width()) + 4 +
                           r.set->fontMetrics().horizontalAdvance(r.set->Caption());
        EXPECT_LE(needed, r.set->width());
    }
    EXPECT_GT(w->EdCarimbo->width(), w->EdIntroducao->width());
    EXPECT_EQ(w->SpeedButton15->Caption(), QString::fromUtf8("Inserir Comentário"));
    EXPECT_EQ(w->SpeedButton15->geometry().left(), w->SpeedButton1->geometry().left());
    EXPECT_EQ(w->SpeedButton15->geometry().right(), w->EdIntroducao->geometry().right());
    EXPECT_GT(w->SpeedButton15->y(), previousTop);
    EXPECT_EQ(w->BLimpaComentario->toolTip(), QString::fromUtf8("Limpar marcação"));
    EXPECT_EQ(w->btnCancelarMarcacoes->Caption(), QString::fromUtf8("Cancelar Marcações"));
    EXPECT_EQ(w->btnGravarMarcacoes->Caption(), QString::fromUtf8("Gravar Marcações"));
    EXPECT_EQ(w->btnCancelarMarcacoes->size(), QSize(150, 37));
    EXPECT_EQ(w->btnGravarMarcacoes->size(), QSize(150, 37));
    EXPECT_GT(w->btnCancelarMarcacoes->y(), w->SpeedButton15->y());
    EXPECT_LE(w->btnGravarMarcacoes->geometry().bottom(), w->PBotoes->height() - 2);
}

TEST_F(MainWindowTest, StatusBarButtonsCellsAndZoomSpin) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    const std::vector<TPNGButton*> glyphs = {w->BInicio, w->BFim, w->StopBtn, w->PlayBtn,
                                             w->btnZoomMenos, w->btnZoomMais, w->FullViewBtn};
    int left = -1;
    for (TPNGButton* b : glyphs) {
        SCOPED_TRACE(b->objectName().toStdString());
        EXPECT_EQ(b->parentWidget(), w->StatusPanel);
        EXPECT_EQ(b->size(), QSize(28, 28));
        EXPECT_FALSE(b->isEnabled());
        EXPECT_FALSE(b->Glyph().isNull());
        EXPECT_GT(b->x(), left);
        left = b->x();
    }
    EXPECT_EQ(w->PlayBtn->GroupIndex(), 2);
    EXPECT_TRUE(w->PlayBtn->AllowAllUp());
    EXPECT_FALSE(w->PlayBtn->Down());

    EXPECT_TRUE(w->ZoomSpin->isHidden());
    EXPECT_FALSE(w->ZoomSpin->isEnabled());
    EXPECT_EQ(w->ZoomSpin->minimum(), 1);
    EXPECT_EQ(w->ZoomSpin->singleStep(), 100);
    EXPECT_LE(QString::number(w->ZoomSpin->maximum()).size(), 5);
    EXPECT_GT(w->ZoomSpin->x(), w->FullViewBtn->x());

    // Status4 right of the buttons, its cells left to right: position, duration, size.
    EXPECT_GT(w->Status4->x(), w->FullViewBtn->geometry().right());
    EXPECT_EQ(w->StatusSample->width(), 69);
    EXPECT_EQ(w->StatusTime->width(), 68);
    EXPECT_EQ(w->StatusSize->width(), 75);
    EXPECT_EQ(w->StatusSample->geometry().right() + 1, w->StatusTime->x());
    EXPECT_EQ(w->StatusTime->geometry().right() + 1, w->StatusSize->x());
    for (TMMPanel* cell : {w->StatusSample, w->StatusTime, w->StatusSize}) {
        EXPECT_EQ(cell->BevelExtent(), 2);  // border band 1 + lowered inner bevel 1
        EXPECT_EQ(cell->Alignment(), taLeftJustify);
        EXPECT_TRUE(cell->Caption().isEmpty());
    }
    // "Fechar" at the right end, enabled.
    EXPECT_EQ(w->SpeedButton16->Caption(), "Fechar");
    EXPECT_TRUE(w->SpeedButton16->isEnabled());
    EXPECT_GT(w->SpeedButton16->x(), w->Status4->geometry().right());
    EXPECT_EQ(w->SpeedButton16->geometry().right(), w->StatusPanel->width() - 1 - w->StatusPanel->BevelExtent());
}

TEST_F(MainWindowTest, ComponentsAndInitialState) {
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_EQ(w->ArgumentPath, "/nonexistent/song.mp3");
    EXPECT_FALSE(w->Loaded);
    EXPECT_FALSE(w->Dragging);
    EXPECT_FALSE(w->Playing);
    EXPECT_FALSE(w->TimerTessivo->isActive());
    EXPECT_EQ(w->TimerTessivo->interval(), 50);
    EXPECT_EQ(w->Action1->text(), "Sair");
    EXPECT_EQ(w->Action1->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(w->Action2->shortcut(), QKeySequence(Qt::Key_Space));
    EXPECT_EQ(w->MMWaveFile1->BufferSize(), 100000);
    EXPECT_EQ(w->TempFile->BufferSize(), 100000);
    EXPECT_EQ(w->MMWaveFile1->Name(), "MMWaveFile1");

    EXPECT_EQ(w->DB_Quelt->Params(), (std::vector<std::string>{"user_name=SYSDBA", "password=cobaltfin"}));
    EXPECT_EQ(w->DB_Quelt->SQLDialect(), 1);
    EXPECT_FALSE(w->DB_Quelt->LoginPrompt());
    EXPECT_EQ(w->DB_Quelt->DefaultTransaction(), w->Trans_Quelt.get());
    EXPECT_EQ(w->Trans_Quelt->Params(), (std::vector<std::string>{"read_committed", "rec_version", "nowait"}));
    EXPECT_EQ(w->Q_Vinhetas->Database(), w->DB_Quelt.get());
    EXPECT_EQ(w->Q_Vinhetas->Transaction(), w->Trans_Quelt.get());
    ASSERT_EQ(w->Q_Vinhetas->SQL().size(), 6u);
    EXPECT_EQ(w->Q_Vinhetas->SQL().front(), "SELECT Vin.*, CAST(LIST(Cav_Nome, ', ') AS VARCHAR(1000)) AS Cav_Nome");
    EXPECT_EQ(w->Q_Vinhetas->SQL().back(), "Order by Vin.Vin_Codigo");
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
    EXPECT_EQ(w->DB_Quelt->DatabaseName(), "C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB");
    EXPECT_FALSE(w->DB_Quelt->Connected());
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
        EXPECT_EQ(w->DB_Quelt->DatabaseName(), c.name);
        EXPECT_FALSE(w->DB_Quelt->Connected());
        EXPECT_EQ(messages(), "not a database, and the log"
                              "message: Não foi possível conectar com a base de dados.\n");
    }
}

TEST_F(MainWindowTest, IniKeepsBackslashesOfAWindowsPath) {
    writeIni("[BANCO]\r\nCAMINHO=C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB\r\n");
    std::unique_ptr<TFrmTessivo> w(makeWindow());
    EXPECT_EQ(w->DB_Quelt->DatabaseName(), "C:\\Quelt\\Quelt Play\\Queltdb\\QUELTDB.FDB");
    EXPECT_EQ(messages(), "message: Não foi possível conectar com a base de dados.\n");
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
            w->PComentario->show();
            w->PComentario->raise();
            target = w->MemoComentario;
        } else if (focus == 2) {
            w->PVinhetas->show();
            w->PVinhetas->raise();
            target = w->EdBuscarVinhetas;
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
    QTest::mouseClick(w->SpeedButton16, Qt::LeftButton);
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
    ASSERT_TRUE(w->Loaded) << messages();
    EXPECT_EQ(messages(), "");
    const QImage picture = w->grab().toImage();
    ASSERT_EQ(picture.size() / picture.devicePixelRatio(), QSize(764, 393));

    // Waveform areas on black, the button face around them, the light edge of the frames.
    const qreal ratio = picture.devicePixelRatio();
    auto at = [&](QWidget* control, QPoint p) {
        return picture.pixelColor((QPointF(control->mapTo(w.get(), p)) * ratio).toPoint());
    };
    EXPECT_EQ(at(w->Oscope1, QPoint(10, 1)), QColor(Qt::black));
    EXPECT_EQ(at(w->Oscope3, QPoint(10, 0)), QColor(Qt::black));
    EXPECT_EQ(at(w->PBotoes, QPoint(100, 350)), QColor(212, 208, 200));
    EXPECT_EQ(at(w->PBotoes, QPoint(0, 100)), QColor(255, 255, 255));  // raised outer edge

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
