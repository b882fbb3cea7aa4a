// Playback control: Play, Stop, go to start and end, the Space key, the wave output's events
// and the play timer that moves the cursors of all four views and fills the gauge under the
// selection.
#include "app/UTessivo.h"

#include "app/PNGButton.h"
#include "app/WaveViewData.h"
#include "audio/MMWavOut.h"
#include "audio/MMWave.h"
#include "display/MMGauge.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// Reports the keyboard focus entering and leaving the text fields it watches.
class TFocusWatcher : public QObject {
public:
    TFocusWatcher(QObject* parent, std::function<void()> enter, std::function<void()> exit)
        : QObject(parent), enter_(std::move(enter)), exit_(std::move(exit)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) enter_();
        else if (event->type() == QEvent::FocusOut) exit_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> enter_, exit_;
};

}  // namespace

void TFrmTessivo::CreatePlaybackComponents() {
    MMWaveOut1 = std::make_unique<TMMWaveOut>();
    MMWaveOut1->SetName("MMWaveOut1");
    MMWaveOut1->SetInput(TempFile.get());
    MMWaveOut1->SetBufferSize(4096);
    MMWaveOut1->SetNumBuffers(50);
    MMWaveOut1->SetTimeFormat(tfSample);
    MMWaveOut1->OnStart = [this](TMMComponent*) { MMWaveOut1Start(); };
    MMWaveOut1->OnPause = [this](TMMComponent*) { MMWaveOut1Pause(); };
    MMWaveOut1->OnRestart = [this](TMMComponent*) { MMWaveOut1Restart(); };
    MMWaveOut1->OnStop = [this](TMMComponent*) { MMWaveOut1Stop(); };

    connect(TimerTessivo, &QTimer::timeout, this, &TFrmTessivo::TimerTessivoTimer);
    connect(Action2, &QAction::triggered, this, &TFrmTessivo::Action2Execute);
    ConnectGuarded(PlayBtn, &TFrmTessivo::PlayBtnClick);
    ConnectGuarded(StopBtn, &TFrmTessivo::StopBtnClick);
    ConnectGuarded(BInicio, &TFrmTessivo::BInicioClick);
    ConnectGuarded(BFim, &TFrmTessivo::BFimClick);

    auto* watcher = new TFocusWatcher(this, [this] { EdIntroducaoEnter(); }, [this] { EdIntroducaoExit(); });
    watcher->setObjectName("FocusWatcher");  // FormDestroy removes it before the children go
    for (QWidget* edit : std::initializer_list<QWidget*>{MemoComentario, EdBuscarVinhetas, EdIntroducao, EdInicio,
                                                         EdFim, EdInicioRefrao, EdFinalRefrao, EdMixagem, EdCarimbo})
        edit->installEventFilter(watcher);
}

void TFrmTessivo::ClosePlayback() {
    if (!MMWaveOut1) return;
    MMWaveOut1->OnStart = MMWaveOut1->OnPause = MMWaveOut1->OnRestart = MMWaveOut1->OnStop = nullptr;
    TimerTessivo->stop();
    MMWaveOut1->Close();
    state_.Playing = false;
}

// ---------------------------------------------------------------------------------------
// Commands

void TFrmTessivo::Action2Execute() {
    if (MMWaveFile1->Wave()->IsEmpty()) return;
    if (TempFile->IsStarted()) StopBtn->click();
    else PlayBtn->click();
}

void TFrmTessivo::EdIntroducaoEnter() { Action2->setEnabled(false); }

void TFrmTessivo::EdIntroducaoExit() { Action2->setEnabled(true); }

void TFrmTessivo::PlayBtnClick() {
    try {
        const uint32_t st = MMWaveOut1->State();
        if ((st & wsPlaying) && (st & wsPaused)) {
            MMWaveOut1->Restart();
        } else if (!(st & wsPlaying)) {
            // An empty or reversed selection has nothing to play (and no length to divide by).
            if (state_.SelEnd <= state_.SelStart) {
                PlayBtn->SetDown(false);
                return;
            }
            // Opened afresh, as after a stop: a range left by a play that failed to open the
            // device would clamp the new start to its end.
            TMMWave* wave = TempFile->Wave();
            wave->Clear();
            wave->SetFileName(MMWaveFile1->Wave()->FileName());
            wave->SetStartPosition(state_.SelStart);
            wave->SetEndPosition(state_.SelEnd);
            wave->SetPosition(0);
            const int32_t step = std::max(state_.OverviewStep, 1);
            Gauge1->SetAlign(alNone);
            Gauge1->setGeometry(state_.SelStart / step + 1, Gauge1->y(), (state_.SelEnd - state_.SelStart) / step + 1,
                                Gauge1->height());
            MMWaveOut1->Start();
        }
        if (MMWaveOut1->State() & wsPlaying) PlayBtn->SetDown(true);
    } catch (...) {
        PlayBtn->SetDown(false);
        throw;
    }
}

void TFrmTessivo::StopBtnClick() {
    state_.Playing = false;
    MMWaveOut1->Stop();
    StatusSample->SetCaption(SampleToTimeText(state_.SelStart));
}

void TFrmTessivo::BInicioClick() {
    FullViewBtnClick();
    state_.LiveStart = state_.SelStart = PixelToSample(0);
    ShowSelection(true);
    StatusSample->SetCaption(SampleToTimeText(state_.LiveStart));
}

void TFrmTessivo::BFimClick() {
    FullViewBtnClick();
    // The column is clamped to the last one: the end lands on the last column's frame.
    state_.LiveEnd = state_.SelEnd = PixelToSample(state_.TotalSamples);
    ShowSelection(true);
    StatusSample->SetCaption(SampleToTimeText(state_.LiveEnd));
}

// ---------------------------------------------------------------------------------------
// Events of MMWaveOut1

void TFrmTessivo::MMWaveOut1Start() {
    state_.Playing = true;
    StopBtn->setEnabled(true);
    state_.PlayPos = -1;
    TimerTessivo->start();
    Oscope3->setCursor(Qt::ArrowCursor);
    Oscope4->setCursor(Qt::ArrowCursor);
    for (QWidget* c : std::initializer_list<QWidget*>{btnZoomMenos, btnZoomMais, FullViewBtn, ScrollBar1, ZoomSpin})
        c->setEnabled(false);
}

void TFrmTessivo::MMWaveOut1Pause() { PlayBtn->SetDown(false); }

void TFrmTessivo::MMWaveOut1Restart() { PlayBtn->SetDown(true); }

void TFrmTessivo::MMWaveOut1Stop() {
    TimerTessivo->stop();
    MMWaveOut1->Close();
    TempFile->Wave()->Clear();
    if (state_.Playing) {
        state_.Playing = false;
        StatusSample->SetCaption(SampleToTimeText(0));
    }
    PlayBtn->SetDown(false);
    StopBtn->setEnabled(false);
    Oscope3->setCursor(ScreenCursor(2));
    Oscope4->setCursor(ScreenCursor(2));
    for (QWidget* c : std::initializer_list<QWidget*>{btnZoomMenos, btnZoomMais, FullViewBtn, ZoomSpin})
        c->setEnabled(true);
    UpdateZoomRange();
    ScrollBar1->setValue(state_.ViewOffset / std::max(state_.ScrollDivisor, 1));
    Gauge1->SetProgress(0);
    Gauge1->SetAlign(alClient);
    // Erases the last cursor line: no later frame draws it while not playing.
    for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) DrawPlayCursor(v);
}

void TFrmTessivo::TimerTessivoTimer() {
    if (state_.Playing) ShowPlayPosition(MMWaveOut1->Position());
}

void TFrmTessivo::ShowPlayPosition(int64_t p) {
    if (!state_.Playing) return;
    if (p <= 0) {
        StatusSample->SetCaption(SampleToTimeText(0));
        return;
    }
    const int32_t length = state_.SelEnd - state_.SelStart;
    if (length > 0) Gauge1->SetProgress(int32_t(std::lround(100.0 / length * double(p))));
    const int32_t a = int32_t(std::min<int64_t>(int64_t(state_.SelStart) + p, state_.TotalSamples));
    StatusSample->SetCaption(SampleToTimeText(a));

    const int32_t old = state_.PlayPos;
    const int32_t step = std::max(state_.OverviewStep, 1);
    if (old / step != a / step) {
        DrawPlayCursor(Oscope3);  // erases the line at old
        DrawPlayCursor(Oscope4);
        state_.PlayPos = a;
        DrawPlayCursor(Oscope3);
        DrawPlayCursor(Oscope4);
        state_.PlayPos = old;
    }
    if (SampleToPixel(old) != SampleToPixel(a)) {
        if (SampleToPixel(a) >= Oscope1->width() && !DetailReadIsSparse(Zoom(), state_.FrameSize)) {
            // The next page starts at the play position; its frame has no line at old.
            state_.ViewOffset = a;
            RefreshDetailView();
        } else {
            DrawPlayCursor(Oscope1);
            DrawPlayCursor(Oscope2);
        }
        state_.PlayPos = a;
        DrawPlayCursor(Oscope1);
        DrawPlayCursor(Oscope2);
    }
    state_.PlayPos = a;
}
