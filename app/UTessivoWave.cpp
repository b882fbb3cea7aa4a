// The waveform side of the main window: the four views, the frame/column geometry with zoom
// and scrolling, and the mouse selection drawn over the views (its rules in TEditorState).
#include "app/UTessivo.h"

#include "app/PNGButton.h"
#include "app/WaveViewData.h"
#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "display/MMGauge.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

namespace {

// The hourglass over the whole application while it lives (when asked for).
class TBusyCursor {
public:
    explicit TBusyCursor(bool on) : on_(on) {
        if (on_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TBusyCursor() {
        if (on_) QGuiApplication::restoreOverrideCursor();
    }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool on_;
};

// Puts the progress bar back to 0 when it goes out of scope.
class TProgressReset {
public:
    // Inactive while playing: then only the play timer moves the gauge.
    TProgressReset(TMMGauge* gauge, bool active = true) : gauge_(active ? gauge : nullptr) {}
    ~TProgressReset() {
        if (gauge_) gauge_->SetProgress(0);
    }
    TProgressReset(const TProgressReset&) = delete;
    TProgressReset& operator=(const TProgressReset&) = delete;

private:
    TMMGauge* gauge_;
};

// The inverting pen: each pixel becomes not (pen xor screen), which is screen xor (not pen).
QColor InvertingColor(TColor pen) {
    return QColor(255 - int(pen & 0xFF), 255 - int((pen >> 8) & 0xFF), 255 - int((pen >> 16) & 0xFF));
}

constexpr TColor kBoundaryPen = 0x000080;
constexpr TColor kPlayCursorPen = 0x800000;
constexpr TColor kBandPen = 0x000000;  // black bitmap, NOTSRCERASE: the plain inversion
constexpr TColor kGhostPen = 0x808080;  // grey, dashed: a suggested marker
constexpr int kGhostDash = 3;           // pixels on, then as many off

}  // namespace

// ---------------------------------------------------------------------------------------
// Views and their components
// ---------------------------------------------------------------------------------------

TMMOscope* TFrmTessivo::MakeView(QWidget* parent, const char* name, QRect bounds, TMMOscopeKind kind,
                                 TMMChannel channel, TColor fore, TColor inactive) {
    auto* v = new TMMOscope(parent);
    v->setObjectName(name);
    TMMBevel* bevel = v->Bevel();
    bevel->BeginUpdate();
    bevel->SetBevelOuter(bvNone);
    bevel->SetBevelInner(bvNone);
    bevel->SetBorderStyle(bsNone);
    bevel->SetBevelOuterWidth(0);
    bevel->SetBevelInnerWidth(0);
    bevel->SetBorderWidth(0);
    bevel->EndUpdate();
    v->SetKind(kind);
    v->SetChannel(channel);
    v->SetForegroundColor(fore);
    v->SetInactiveColor(inactive);
    v->SetShowInfo(false);
    v->SetTag2(0);
    v->setCursor(Qt::ArrowCursor);
    v->SetBounds(bounds.x(), bounds.y(), bounds.width(), bounds.height());
    v->OnMouseDown = [this](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers k, int x, int y) {
        Oscope1MouseDown(s, b, k, x, y);
    };
    v->OnMouseMove = [this](QObject* s, Qt::MouseButtons b, Qt::KeyboardModifiers k, int x, int y) {
        Oscope1MouseMove(s, b, k, x, y);
    };
    v->OnMouseUp = [this](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers k, int x, int y) {
        Oscope1MouseUp(s, b, k, x, y);
    };
    v->OnPostPaint = [this](QObject* s) { Oscope1PostPaint(s); };
    return v;
}

void TFrmTessivo::CreateViewComponents() {
    DisplayBuffer.assign(size_t(std::max(Oscope1->PCMBlockSize(), 0)), 0);
    AutoScrollTimer = new QTimer(this);
    AutoScrollTimer->setObjectName("AutoScrollTimer");
    AutoScrollTimer->setInterval(50);
    connect(AutoScrollTimer, &QTimer::timeout, this, &TFrmTessivo::AutoScrollTick);

    MMPanel1->OnResize = [this](QObject*) { MMPanel1Resize(); };
    connect(ScrollBar1, &QAbstractSlider::actionTriggered, this, &TFrmTessivo::ScrollBar1Scroll);
    connect(btnZoomMenos, &QAbstractButton::clicked, this, &TFrmTessivo::btnZoomMenosClick);
    connect(btnZoomMais, &QAbstractButton::clicked, this, &TFrmTessivo::btnZoomMaisClick);
    connect(FullViewBtn, &QAbstractButton::clicked, this, &TFrmTessivo::FullViewBtnClick);
    connect(ZoomSpin, &QSpinBox::valueChanged, this, &TFrmTessivo::ZoomSpinChange);
}

// ---------------------------------------------------------------------------------------
// Geometry, zoom and scrolling
// ---------------------------------------------------------------------------------------

int32_t TFrmTessivo::Zoom() const { return ZoomSpin->value(); }

TDetailGeometry TFrmTessivo::Detail() const { return state_.Detail(Zoom(), Oscope1->width()); }

int32_t TFrmTessivo::SampleToPixel(int32_t s) const { return Detail().SampleToPixel(s); }

int32_t TFrmTessivo::PixelToSample(int32_t x) const { return Detail().PixelToSample(x); }

int32_t TFrmTessivo::ViewSampleCount(const TMMOscope* view) const {
    const TMMWave* wave = MMWaveFile1->Wave();
    if (wave->IsEmpty() || !wave->PWaveFormat()) return 0;
    return BytesToSamples(wave->PWaveFormat(), view->PCMBlockSize());
}

void TFrmTessivo::ShowSelection(bool repaint) {
    const int32_t from = SampleToPixel(state_.SelStart), to = SampleToPixel(state_.SelEnd);
    if (Oscope1->Visible()) Oscope1->SetActiveRange(from, to, repaint);
    if (Oscope2->Visible()) Oscope2->SetActiveRange(from, to, repaint);
    const int32_t step = std::max(state_.OverviewStep, 1);
    if (Oscope3->Visible()) Oscope3->SetActiveRange(state_.SelStart / step, state_.SelEnd / step, repaint);
    if (Oscope4->Visible()) Oscope4->SetActiveRange(state_.SelStart / step, state_.SelEnd / step, repaint);
}

void TFrmTessivo::UpdateZoomRange() {
    if (!state_.Loaded) return;
    const int32_t maxZoom = FitZoom(state_.TotalSamples, ViewSampleCount(Oscope1));
    {
        const QSignalBlocker quiet(ZoomSpin);
        ZoomSpin->setMaximum(maxZoom);
    }
    state_.OverviewStep = FitZoom(state_.TotalSamples, ViewSampleCount(Oscope3));
    const int32_t z = Zoom();
    const int32_t units = state_.TotalSamples / std::max(state_.ScrollDivisor, 1);
    if (ViewSampleCount(Oscope1) < units && z < maxZoom) {
        ScrollBar1->setEnabled(true);
        ScrollBar1->setMaximum(units);
        ScrollBar1->setSingleStep(std::min(z, 32767));
        ScrollBar1->setPageStep(int(std::min<int64_t>(int64_t(z) * 50, 32767)));
    } else {
        ScrollBar1->setEnabled(false);
    }
}

void TFrmTessivo::ScrollBar1Scroll(int action) {
    const int32_t position = ScrollBar1->sliderPosition();
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
    case QAbstractSlider::SliderSingleStepSub:
    case QAbstractSlider::SliderPageStepAdd:
    case QAbstractSlider::SliderPageStepSub:
        if (position * state_.ScrollDivisor != state_.ViewOffset) {
            state_.ViewOffset = position * state_.ScrollDivisor;
            RefreshDetailView();
        }
        break;
    case QAbstractSlider::SliderMove:
        if (position * state_.ScrollDivisor != state_.ViewOffset) {
            const int32_t step = std::max(ScrollBar1->singleStep(), 1);
            const int32_t snapped = position / step * step;
            ScrollBar1->setSliderPosition(snapped);  // handed back: the thumb snaps
            state_.ViewOffset = snapped * state_.ScrollDivisor;
            RefreshDetailView();
        }
        break;
    default:  // thumb released, top, bottom, end of scroll
        break;
    }
}

void TFrmTessivo::RefreshDetailView() {
    if (state_.Loaded && !DisplayBuffer.empty()) {
        const int32_t block = std::min<int32_t>(Oscope1->PCMBlockSize(), int32_t(DisplayBuffer.size()));
        const bool sparse = DetailReadIsSparse(Zoom(), state_.FrameSize);
        TBusyCursor busy(sparse);
        TProgressReset reset(Gauge1, !state_.Playing);
        TViewProgress progress;
        if (sparse)
            progress = [this](int percent) {
                if (!state_.Playing) Gauge1->SetProgress(percent);
            };
        ReadDetailBlock(*MMWaveFile1->Wave(), state_.ViewOffset, Zoom(), state_.FrameSize, state_.TotalSamples,
                        state_.SilenceLevel == 128,
                        DisplayBuffer.data(), block, progress);
    }
    ShowSelection(false);
    if (!DisplayBuffer.empty()) {
        Oscope1->DrawPCMBlock(DisplayBuffer.data());
        Oscope2->DrawPCMBlock(DisplayBuffer.data());
    }
}

void TFrmTessivo::BuildOverview() {
    const bool stereo = MMWaveFile1->Wave()->Mode() == mStereo;
    if (state_.Loaded && !DisplayBuffer.empty()) {
        TMMWave* wave = MMWaveFile1->Wave();
        const int32_t readSize = OverviewReadSize(wave->WaveIO() ? wave->WaveIO()->DataBytes : 0);
        TBusyCursor busy(stereo ? readSize == 65532 : readSize >= 4095);
        TProgressReset reset(Gauge1);
        const int32_t block = std::min<int32_t>(Oscope3->PCMBlockSize(), int32_t(DisplayBuffer.size()));
        BuildOverviewBlock(*wave, state_.OverviewStep, state_.FrameSize, stereo, state_.SilenceLevel == 128,
                           DisplayBuffer.data(), block,
                           [this](int percent) { Gauge1->SetProgress(percent); });
    }
    ShowSelection(false);
    if (DisplayBuffer.empty()) return;
    Oscope3->DrawPCMBlock(DisplayBuffer.data());
    if (stereo) Oscope4->DrawPCMBlock(DisplayBuffer.data());
}

void TFrmTessivo::BuildMonoOverview() { BuildOverview(); }

void TFrmTessivo::BuildStereoOverview() { BuildOverview(); }

void TFrmTessivo::LayoutViews() {
    if (state_.InLayout) {
        state_.InLayout = false;
        return;
    }
    state_.InLayout = true;
    state_.ViewsReady = false;
    // The flag goes down on every way out.
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{state_.InLayout};

    const int detailHeight = Oscope2->Visible() ? (MMPanel1->height() - 2 * MMPanel1->BevelExtent()) / 2 : 1;
    Oscope2->SetBounds(Oscope2->x(), Oscope2->y(), Oscope2->width(), detailHeight);
    const int overviewHeight = Oscope4->Visible() ? (MMPanel3->height() - 2 * MMPanel3->BevelExtent()) / 2 : 1;
    Oscope4->SetBounds(Oscope4->x(), Oscope4->y(), Oscope4->width(), overviewHeight);
    Gauge1->SetProgress(0);
    Gauge1->SetAlign(alClient);

    DisplayBuffer.assign(size_t(std::max({Oscope1->PCMBlockSize(), Oscope3->PCMBlockSize(), 0})), 0);

    if (state_.Loaded) {
        // The views take their new sizes now, not when the event loop next runs.
        MMPanel1->Realign();
        MMPanel3->Realign();
        UpdateZoomRange();
        state_.ViewsReady = true;
        if (MMWaveFile1->Wave()->Mode() == mMono)
            BuildMonoOverview();
        else
            BuildStereoOverview();
        RefreshDetailView();
    }
}

void TFrmTessivo::MMPanel1Resize() { LayoutViews(); }

void TFrmTessivo::btnZoomMenosClick() {
    if (state_.Loaded) ZoomSpin->setValue(int(std::min<int64_t>(int64_t(Zoom()) + 1000, ZoomSpin->maximum())));
}

void TFrmTessivo::btnZoomMaisClick() {
    if (state_.Loaded) ZoomSpin->setValue(std::max(Zoom() - 1000, 1));
}

void TFrmTessivo::FullViewBtnClick() {
    if (!state_.Loaded) return;
    state_.ViewOffset = 0;
    ScrollBar1->setValue(0);
    if (Zoom() != ZoomSpin->maximum())
        ZoomSpin->setValue(ZoomSpin->maximum());
    else
        RefreshDetailView();  // same zoom, but the view may have started elsewhere
}

void TFrmTessivo::ZoomSpinChange() {
    if (state_.Loaded && Zoom() > 0) {
        UpdateZoomRange();
        RefreshDetailView();
    }
}

void TFrmTessivo::AutoScrollTick() {
    if (!state_.AutoScroll(autoScrollX_, Zoom(), Oscope1->width(), ScrollBar1->singleStep(), ScrollBar1->pageStep())) {
        AutoScrollTimer->stop();
        return;
    }
    ScrollBar1->setValue(state_.ViewOffset / std::max(state_.ScrollDivisor, 1));
    if (state_.DragMode != TDragMode::None) StatusSample->SetCaption(SampleToTimeText(state_.Dragged()));
    RefreshDetailView();
}

// ---------------------------------------------------------------------------------------
// Mouse selection
// ---------------------------------------------------------------------------------------

void TFrmTessivo::InvertColumn(TMMOscope* view, int x, TColor pen) {
    const QColor color = InvertingColor(pen);
    auto draw = [&](QPainter& canvas) {
        canvas.save();
        canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        canvas.fillRect(QRect(x, 0, 1, view->height()), color);
        canvas.restore();
    };
    if (view->Canvas())
        draw(*view->Canvas());
    else
        view->ScreenPaint(draw);
}

void TFrmTessivo::DrawBoundaryLines(TMMOscope* view, int which) {
    if (!view || !state_.ViewsReady || !view->Visible()) return;
    const bool overview = IsOverviewView(view);
    const int32_t step = std::max(state_.OverviewStep, 1);
    if (which == 0 || which == 1)
        InvertColumn(view, overview ? state_.SelStart / step : SampleToPixel(state_.LiveStart), kBoundaryPen);
    if (which == 0 || which == 2)
        InvertColumn(view, overview ? state_.SelEnd / step : SampleToPixel(state_.LiveEnd), kBoundaryPen);
}

void TFrmTessivo::DrawPlayCursor(TMMOscope* view) {
    if (!view || !state_.ViewsReady || !view->Visible()) return;
    const int x = IsOverviewView(view) ? state_.PlayPos / std::max(state_.OverviewStep, 1)
                                       : SampleToPixel(state_.PlayPos);
    if (x <= 0) return;
    InvertColumn(view, x, kPlayCursorPen);
}

void TFrmTessivo::DrawGhostLines(TMMOscope* view) {
    if (!view || !state_.ViewsReady || !view->Visible()) return;
    const QColor color = InvertingColor(kGhostPen);
    const bool overview = IsOverviewView(view);
    const int32_t step = std::max(state_.OverviewStep, 1);
    auto draw = [&](QPainter& canvas) {
        canvas.save();
        canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        for (int row = 0; row < 6; ++row) {
            if (!ShowsGhost(row)) continue;
            const int32_t frame = SuggestedFrame(row);
            const int x = overview ? frame / step : SampleToPixel(frame);
            for (int y = 0; y < view->height(); y += 2 * kGhostDash) canvas.fillRect(QRect(x, y, 1, kGhostDash), color);
        }
        canvas.restore();
    };
    if (view->Canvas())
        draw(*view->Canvas());
    else
        view->ScreenPaint(draw);
}

void TFrmTessivo::Oscope1PostPaint(QObject* sender) {
    if (!state_.Loaded) return;
    auto* view = dynamic_cast<TMMOscope*>(sender);
    if (state_.Playing) DrawPlayCursor(view);
    DrawBoundaryLines(view, 0);
    DrawGhostLines(view);
}

void TFrmTessivo::InvertOverviewBand(const QRect& rect) {
    // rect holds (left, top) and (right, bottom) as set, right possibly left of left.
    const int a = rect.left(), b = rect.right();
    const int from = std::min(a, b), to = std::max(a, b);
    if (from == to) return;
    const int height = DragBitmap.height();
    for (TMMOscope* view : {Oscope3, Oscope4}) {
        if (view == Oscope4 && !Oscope4->Visible()) continue;
        view->ScreenPaint([&](QPainter& canvas) {
            canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            canvas.fillRect(QRect(from, 0, to - from, height), InvertingColor(kBandPen));
        });
    }
}

namespace {
// Rectangles of the band keep the right edge as given (exclusive), not Qt's inclusive one.
QRect BandRect(int left, int right, int height) {
    QRect r;
    r.setLeft(left);
    r.setRight(right);
    r.setTop(0);
    r.setBottom(height);
    return r;
}
}  // namespace

void TFrmTessivo::Oscope1MouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int) {
    if (!state_.Loaded || state_.Dragging) return;
    if (IsDetailView(sender)) {
        if (button != Qt::LeftButton && button != Qt::RightButton) return;
        switch (state_.PressDetail(button == Qt::LeftButton, x, Detail())) {
        case TDetailPress::DragStart:
        case TDetailPress::DragEnd: StatusSample->SetCaption(SampleToTimeText(state_.Dragged())); break;
        case TDetailPress::SetStart:
            ShowSelection(true);
            StatusSample->SetCaption(SampleToTimeText(state_.LiveStart));
            break;
        case TDetailPress::SetEnd:
            ShowSelection(true);
            StatusSample->SetCaption(SampleToTimeText(state_.LiveEnd));
            break;
        case TDetailPress::Nothing: break;
        }
        return;
    }
    if (IsOverviewView(sender) && button == Qt::LeftButton) {
        state_.Dragging = true;
        DragBitmap = QImage(std::max(Oscope3->width(), Oscope4->width()),
                            std::max(Oscope3->height(), Oscope4->height()),
                            QImage::Format_RGB32);
        DragBitmap.fill(Qt::black);
        DragAnchorRect = DragRect = BandRect(x, x + 1, DragBitmap.height());
        InvertOverviewBand(DragRect);
        DragRect.setLeft(DragRect.right());
        StatusSample->SetCaption(SampleToTimeText(int32_t(int64_t(x) * state_.OverviewStep)));
    }
}

void TFrmTessivo::Oscope1MouseMove(QObject* sender, Qt::MouseButtons, Qt::KeyboardModifiers, int x, int) {
    if (state_.Dragging && (sender == Oscope1 || (sender == Oscope2 && !AutoScrollTimer->isActive()))) {
        if (state_.DragMode == TDragMode::None) return;
        autoScrollX_ = x;
        const TDetailGeometry g = Detail();
        switch (state_.DragEdge(x, g)) {
        case TEditorState::TDragEdge::Ignore: return;
        case TEditorState::TDragEdge::Scroll: AutoScrollTimer->start(); break;
        case TEditorState::TDragEdge::Inside: break;
        }
        int32_t frame = 0;
        if (state_.DragTarget(x, g, frame)) {
            const int which = state_.DragMode == TDragMode::Start ? 1 : 2;
            DrawBoundaryLines(Oscope1, which);  // the inverting pen erases the old line
            DrawBoundaryLines(Oscope2, which);
            state_.SetDragged(frame);
            DrawBoundaryLines(Oscope1, which);
            DrawBoundaryLines(Oscope2, which);
            StatusSample->SetCaption(SampleToTimeText(frame));
        }
        return;
    }
    if (state_.Dragging && IsOverviewView(sender)) {
        DragRect.setRight(x + 1);
        InvertOverviewBand(DragRect);
        DragRect.setLeft(DragRect.right());
        x = std::clamp(x, 0, Oscope3->width() - 1);
        const int anchor = DragAnchorRect.left();
        const int64_t columns = x == anchor ? x : int64_t(std::abs(anchor - x)) + 1;
        const int64_t n = columns * state_.OverviewStep;
        StatusSample->SetCaption(SampleToTimeText(int32_t(std::min<int64_t>(n, INT32_MAX))));
        return;
    }
    if (!state_.Dragging && state_.Loaded && !state_.Playing && IsDetailView(sender)) {
        if (state_.NearBoundary(x, Detail())) {
            Oscope1->setCursor(ScreenCursor(1));
            Oscope2->setCursor(ScreenCursor(1));
        } else if (Oscope1->cursor().shape() != Qt::ArrowCursor) {
            Oscope1->setCursor(Qt::ArrowCursor);
            Oscope2->setCursor(Qt::ArrowCursor);
        }
    }
}

void TFrmTessivo::Oscope1MouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int) {
    if (button != Qt::LeftButton) return;
    if (state_.Dragging && IsDetailView(sender)) {
        AutoScrollTimer->stop();
        state_.EndDrag();
        ShowSelection(true);
    } else if (state_.Dragging && IsOverviewView(sender)) {
        DragAnchorRect.setRight(DragRect.right());
        InvertOverviewBand(DragAnchorRect);
        state_.Dragging = false;
        DragBitmap = QImage();

        x = std::clamp(x, 0, Oscope3->width());
        const TOverviewZoom to = OverviewDragZoom(DragAnchorRect.left(), x, state_.OverviewStep, state_.TotalSamples,
                                                  ViewSampleCount(Oscope1), ViewSampleCount(Oscope3));
        const int32_t newOffset = to.offset;
        if (newOffset != state_.ViewOffset) ScrollBar1->setValue(newOffset / std::max(state_.ScrollDivisor, 1));
        // The spin edit keeps the zoom within its range; compare what it will hold.
        const int32_t newZoom = std::clamp(to.zoom, 1, ZoomSpin->maximum());
        if (newZoom != Zoom()) {
            state_.ViewOffset = newOffset;
            ZoomSpin->setValue(newZoom);
        } else if (newOffset != state_.ViewOffset) {
            state_.ViewOffset = newOffset;
            RefreshDetailView();
        }
    }
    // While playing, any left release plays the new selection from its start.
    if (TempFile->IsStarted()) {
        StopBtn->click();
        PlayBtn->click();
    }
}
