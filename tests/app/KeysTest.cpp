// Keyboard-first marking on the real window: the marker keys and their guard, the nudge and
// its limits, the zoom keys and the wheel around the pointer, the key list, and the radio
// previews played through the virtual device with the status of the markers.
#include "EditorTestUtil.h"

#include "app/Messages.h"
#include "audio/MMWavOut.h"

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QWheelEvent>

namespace {

using namespace editortest;

class KeysTest : public EditorTest {
protected:
    // A loaded, active window on 16-bit stereo frames at 44100 Hz (10 ms = 441 frames).
    TFrmTessivo* load(int32_t frames) {
        wav_ = dir_.file("in.wav");
        writeWav(wav_, frames);
        TFrmTessivo* w = open(wav_);
        EXPECT_TRUE(w->State().Loaded) << messages();
        QApplication::setActiveWindow(w);
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        w->setFocus();
        return w;
    }
    void select(int32_t start, int32_t end) {
        TEditorState& s = window_->State();
        s.SelStart = s.LiveStart = start;
        s.SelEnd = s.LiveEnd = end;
        window_->ShowSelection(true);
    }
    void key(Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(window_.get(), k, m); }
    QLineEdit* edit(const char* name) const { return window_->Control<QLineEdit>(name); }
    QSpinBox* zoom() const { return window_->Control<QSpinBox>("ZoomSpin"); }
    QString markerStatus() const { return window_->Control<TMMPanel>("StatusMarcas")->Caption(); }
    void wheel(int x, int delta, Qt::KeyboardModifiers m = {}) {
        TMMOscope* view = window_->Control<TMMOscope>("Oscope1");
        const QPointF at(x, 10);
        QWheelEvent e(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, m, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &e);
    }

    std::string wav_;
};

}  // namespace

// Each marker key sets its row from the selection as its button does, Shift+key shows it;
// neither does anything while a text field has the focus, where the letters are typed.
TEST_F(KeysTest, MarkerKeysSetAndShowButTypeInTextFields) {
    TFrmTessivo* w = load(441000);
    const struct {
        Qt::Key key;
        const char* edit;
        const char* set;
        bool end;
    } rows[] = {{Qt::Key_I, "EdIntroducao", "SpeedButton1", false}, {Qt::Key_S, "EdInicio", "SpeedButton9", false},
                {Qt::Key_F, "EdFim", "SpeedButton11", true},       {Qt::Key_R, "EdInicioRefrao", "SpeedButton10", false},
                {Qt::Key_T, "EdFinalRefrao", "SpeedButton12", true}, {Qt::Key_M, "EdMixagem", "SpeedButton13", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.edit);
        select(44100, 176400);
        key(r.key);
        EXPECT_EQ(edit(r.edit)->text(), r.end ? "0:04.000" : "0:01.000");
        EXPECT_TRUE(w->Control<TPNGButton>(r.set)->toolTip().contains(QKeySequence(r.key).toString()));
        select(0, 441000);
        key(r.key, Qt::ShiftModifier);
        EXPECT_EQ(r.end ? w->State().SelEnd : w->State().SelStart, r.end ? 176000 : 44000);
    }

    // The guard: the search box and the memo take the letters; nothing is set or moved.
    select(88200, 300000);
    w->Control<TMMPanel>("PComentario")->show();
    w->Control<TMMPanel>("PComentario")->raise();
    w->Control<TMMPanel>("PVinhetas")->show();
    for (QWidget* field : std::initializer_list<QWidget*>{w->Control<QLineEdit>("EdBuscarVinhetas"),
                                                          w->Control<QPlainTextEdit>("MemoComentario")}) {
        field->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }));
        QTest::keyClicks(field, "iS1");
        QTest::keyClick(field, Qt::Key_Left);
        QTest::keyClick(field, Qt::Key_Right, Qt::ShiftModifier);
        EXPECT_EQ(edit("EdIntroducao")->text(), "0:01.000");
        EXPECT_EQ(w->State().SelStart, 88200);
        EXPECT_EQ(w->State().SelEnd, 300000);
    }
    EXPECT_EQ(w->Control<QLineEdit>("EdBuscarVinhetas")->text(), "iS1");
    EXPECT_EQ(w->Control<QPlainTextEdit>("MemoComentario")->toPlainText(), "iS1");
    EXPECT_FALSE(w->State().Playing);
}

// Left/Right move the start by 10 ms (Ctrl: 100 ms), with Shift the end; neither crosses the
// other nor leaves the file; a boundary shown past the other only moves back.
TEST_F(KeysTest, NudgeStepsAndLimits) {
    TFrmTessivo* w = load(441000);
    const struct {
        int32_t start, end;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int32_t toStart, toEnd;
    } cases[] = {
        {10000, 20000, Qt::Key_Right, {}, 10441, 20000},
        {10000, 20000, Qt::Key_Left, Qt::ControlModifier, 5590, 20000},
        {10000, 20000, Qt::Key_Right, Qt::ShiftModifier, 10000, 20441},
        {10000, 20000, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier, 10000, 15590},
        {200, 20000, Qt::Key_Left, {}, 0, 20000},                                   // not below the file
        {0, 20000, Qt::Key_Left, Qt::ControlModifier, 0, 20000},
        {19800, 20000, Qt::Key_Right, {}, 19999, 20000},                            // stops before the end
        {10000, 10300, Qt::Key_Left, Qt::ShiftModifier, 10000, 10001},              // and after the start
        {10000, 440900, Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier, 10000, 441000},  // file end
        {30000, 20000, Qt::Key_Right, {}, 30000, 20000},                            // past the end: stays
        {30000, 20000, Qt::Key_Left, {}, 29559, 20000},                             // but moves back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + ".." + std::to_string(c.end));
        select(c.start, c.end);
        key(c.key, c.mods);
        EXPECT_EQ(w->State().SelStart, c.toStart);
        EXPECT_EQ(w->State().LiveStart, c.toStart);
        EXPECT_EQ(w->State().SelEnd, c.toEnd);
        EXPECT_EQ(w->State().LiveEnd, c.toEnd);
    }
    // At zoom 1 the view follows a boundary that leaves it.
    zoom()->setValue(1);
    select(500, 30000);
    key(Qt::Key_Right);
    EXPECT_EQ(w->State().SelStart, 941);
    EXPECT_LE(w->State().ViewOffset, 941);
    EXPECT_GT(w->State().ViewOffset + w->Control<TMMOscope>("Oscope1")->width(), 941);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->Caption(), w->SampleToTimeText(941));
}

// While playing, a nudge plays again from the new start, as a mouse release does.
TEST_F(KeysTest, NudgeWhilePlayingRestartsFromTheNewStart) {
    TFrmTessivo* w = load(441000);
    select(44100, 400000);
    key(Qt::Key_Space);
    ASSERT_TRUE(w->State().Playing) << messages();
    QTest::qWait(200);
    key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_TRUE(w->State().Playing);
    EXPECT_EQ(w->PlaybackFile()->Wave()->StartPosition(), 48510);
    EXPECT_LT(w->WaveOut()->Position(), 4410);
    key(Qt::Key_Space);
    EXPECT_FALSE(w->State().Playing);
}

// The wheel zooms around the pointer (the frame under it stays within one column), Ctrl+wheel
// scrolls; + and - zoom around the middle, 0 is the full view; none of them while playing.
TEST_F(KeysTest, WheelAndZoomKeys) {
    TFrmTessivo* w = load(4410000);
    const int32_t full = zoom()->value();
    ASSERT_GT(full, 4000);
    for (const auto& [x, delta] : {std::pair{300, 120}, std::pair{300, 240}, std::pair{100, 360},
                                   std::pair{500, -120}, std::pair{20, 240}, std::pair{400, -240}}) {
        SCOPED_TRACE(std::to_string(x) + " " + std::to_string(delta));
        const int32_t z = zoom()->value(), frame = w->PixelToSample(x);
        wheel(x, delta);
        EXPECT_NE(zoom()->value(), z);
        EXPECT_LT(std::abs(w->PixelToSample(x) - frame), zoom()->value());
        EXPECT_EQ(w->State().ViewOffset, w->PixelToSample(0));
    }
    const int32_t z = zoom()->value(), offset = w->State().ViewOffset;
    wheel(200, -120, Qt::ControlModifier);
    EXPECT_EQ(zoom()->value(), z);
    EXPECT_EQ(w->State().ViewOffset, offset + z * w->Control<TMMOscope>("Oscope1")->width() / 8);

    key(Qt::Key_Plus);
    EXPECT_EQ(zoom()->value(), (z + 1) / 2);
    key(Qt::Key_Minus);
    EXPECT_EQ(zoom()->value(), (z + 1) / 2 * 2);
    key(Qt::Key_0);
    EXPECT_EQ(zoom()->value(), full);
    EXPECT_EQ(w->State().ViewOffset, 0);

    key(Qt::Key_Space);
    ASSERT_TRUE(w->State().Playing);
    wheel(300, 120);
    key(Qt::Key_Plus);
    wheel(300, -120, Qt::ControlModifier);
    EXPECT_EQ(zoom()->value(), full);
    EXPECT_EQ(w->State().ViewOffset, 0);
    key(Qt::Key_Space);
}

// F1 lists every key in Portuguese; the README's picture of the list.
TEST_F(KeysTest, KeyListAndItsPicture) {
    TFrmTessivo* w = load(44100);
    key(Qt::Key_F1);
    const std::string list = messages();
    for (const char* k : {"I\tmarcar Introdução (Shift+I", "S\tmarcar Início", "F\tmarcar Fim", "R\tmarcar Início do",
                          "T\tmarcar Final", "M\tmarcar Mixagem", "Ctrl: 100 ms", "1\touvir", "2\touvir", "3\touvir",
                          "4\touvir", "Espaço", "Roda do mouse", "F1\t", "Esc\tsair"})
        EXPECT_NE(list.find(k), std::string::npos) << k << "\n" << list;
    const auto box = w->KeyListBox();
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    savePicture(box.get(), "key-list.png", folder());
}

// Each preview sets the selection to its range and plays exactly it (clamped to the file);
// a marker not set plays nothing and is named in the status bar, which otherwise shows the
// intro length and the time from the mix to the end.
TEST_F(KeysTest, PreviewsPlayTheirRangeAndNameAMissingMarker) {
    testutil::ScopedEnv fast{{"TESSIVO_AUDIO_SPEED", "40"}};
    TFrmTessivo* w = load(882000);  // 20 s
    const std::string file = testutil::readFile(wav_);
    const struct {
        const char* edit;
        const char* text;
    } markers[] = {{"EdInicio", "0:01.000"}, {"EdIntroducao", "0:03.500"}, {"EdInicioRefrao", "0:06.000"},
                   {"EdFinalRefrao", "0:08.250"}, {"EdMixagem", "0:18.500"}, {"EdFim", "0:19.000"}};
    TPNGButton* previews[] = {w->Control<TPNGButton>("BOuvirInicio"), w->Control<TPNGButton>("BOuvirRefrao"),
                              w->Control<TPNGButton>("BOuvirMixagem"), w->Control<TPNGButton>("BOuvirFim")};

    // Nothing set: each names its marker and leaves the selection.
    select(1000, 2000);
    const char* missing[] = {"Início", "Início do Refrão", "Mixagem", "Fim"};
    for (int i = 0; i < 4; ++i) {
        key(Qt::Key(Qt::Key_1 + i));
        EXPECT_EQ(markerStatus(), QString::fromUtf8("Falta a marcação ") + QString::fromUtf8(missing[i]));
        EXPECT_EQ(w->State().SelStart, 1000);
        EXPECT_FALSE(w->State().Playing);
    }
    for (const auto& m : markers) edit(m.edit)->setText(m.text);
    EXPECT_EQ(markerStatus(), QString::fromUtf8("Intro 0:02.500 · Mix→Fim 0:00.500"));

    const struct {
        int key;
        int32_t from, to;
    } ranges[] = {{0, 44100, 264600}, {1, 264600, 363825}, {2, 683550, 882000}, {3, 617400, 837900}};
    for (const auto& r : ranges) {
        for (bool byKey : {true, false}) {
            SCOPED_TRACE(std::to_string(r.key) + (byKey ? " key" : " button"));
            std::string played;
            w->WaveOut()->OnBufferFilled = [&](TMMComponent*, PMMWaveHdr h) {
                played.append(h->wh.lpData, h->wh.dwBytesRecorded);
            };
            if (byKey)
                key(Qt::Key(Qt::Key_1 + r.key));
            else
                QTest::mouseClick(previews[r.key], Qt::LeftButton);
            EXPECT_EQ(w->State().SelStart, r.from);
            EXPECT_EQ(w->State().SelEnd, r.to);
            EXPECT_GE(w->SampleToPixel(r.from), 0);
            ASSERT_TRUE(w->State().Playing) << messages();
            ASSERT_TRUE(QTest::qWaitFor([w] { return !w->State().Playing; }, 5000));
            w->WaveOut()->OnBufferFilled = nullptr;
            EXPECT_EQ(played.size(), size_t(r.to - r.from) * 4);
            EXPECT_TRUE(played == file.substr(44 + size_t(r.from) * 4, size_t(r.to - r.from) * 4));
        }
    }
    // A text that is no time is named too.
    edit("EdFim")->setText("fim");
    key(Qt::Key_4);
    EXPECT_EQ(markerStatus(), QString::fromUtf8("Fim não é um tempo"));
    EXPECT_FALSE(w->State().Playing);
    EXPECT_EQ(messages(), "");
}
