// The waveform side of the main window: loading Temp.wav into the four views, the frame/column
// geometry with zoom and scrolling, and the mouse selection drawn over the views.
#include "app/UTessivo.h"

#include "app/Messages.h"
#include "app/PNGButton.h"
#include "app/WaveViewData.h"
#include "audio/MMUtils.h"
#include "audio/MMWave.h"
#include "db/FBDatabase.h"
#include "display/MMGauge.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"
#include "import/U_Mp3ToWav.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/U_Funcoes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const SFormatoInvalido = "Formato de arquivo inválido.";

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
    explicit TProgressReset(TMMGauge* gauge) : gauge_(gauge) {}
    ~TProgressReset() { gauge_->SetProgress(0); }
    TProgressReset(const TProgressReset&) = delete;
    TProgressReset& operator=(const TProgressReset&) = delete;

private:
    TMMGauge* gauge_;
};

// A number as the status panel shows it: the locale's decimal separator, no grouping.
QString LocaleFixed(double value, int decimals) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals);
}

// The inverting pen: each pixel becomes not (pen xor screen), which is screen xor (not pen).
QColor InvertingColor(TColor pen) {
    return QColor(255 - int(pen & 0xFF), 255 - int((pen >> 8) & 0xFF), 255 - int((pen >> 16) & 0xFF));
}

constexpr TColor kBoundaryPen = 0x000080;
constexpr TColor kPlayCursorPen = 0x800000;
constexpr TColor kBandPen = 0x000000;  // black bitmap, NOTSRCERASE: the plain inversion

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
// Loading
// ---------------------------------------------------------------------------------------

void TFrmTessivo::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (formShown_ || terminated_) return;
    formShown_ = true;
    try {
        FormShow();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()), this);
    }
}

void TFrmTessivo::FormShow() { LoadAudio(); }

QString TFrmTessivo::SampleToTimeText(int32_t sample) const {
    const WAVEFORMATEX* format = MMWaveFile1->Wave()->PWaveFormat();
    const int64_t ms = format ? SamplesToMs(format, sample) : 0;
    return QString::fromStdString(FormatTimeMs(ms));
}

bool TFrmTessivo::ImportAudio() {
    AudioPath = ArgumentPath;
    // The import writes Temp.wav from its start. The shown (and played) Temp.wav is moved
    // aside first: its open handles keep reading the old data while the new file is written
    // under the name, and it goes away with the last handle. Should the import leave no new
    // file, the old one is put back.
    const QString temp = TempWavFileName(programFolder_);
    const QString previous = temp + ".prev";
    bool movedAside = false;
    if (QFileInfo::exists(temp) && (MMWaveFile1->Wave()->WaveIO() || TempFile->Wave()->WaveIO())) {
        QFile::remove(previous);
        movedAside = QFile::rename(temp, previous);
    }
    struct Restore {
        bool moved;
        QString temp, previous;
        ~Restore() {
            if (!moved) return;
            if (QFileInfo::exists(temp))
                QFile::remove(previous);
            else
                QFile::rename(previous, temp);
        }
    } restore{movedAside, temp, previous};

    auto dialog = std::make_unique<TFrmMp3ToWav>(this);
    dialog->SetProgramFolder(programFolder_);
    dialog->ReportError = [](QWidget* parent, const QString& text) { ShowErrorBox(text, parent); };
    dialog->StartImport(AudioPath);
    dialog->exec();
    return !dialog->Failed();
}

void TFrmTessivo::LoadAudio() {
    if (!QFileInfo(ArgumentPath).isFile()) {
        ShowMessage(QString::fromUtf8(SArquivoNaoEncontrado), this);
        terminated_ = true;
        if (ExitProcess) {
            ExitProcess(0);
        } else {
            std::fflush(nullptr);
            std::_Exit(0);
        }
        return;
    }
    // A failed import was reported by the dialog and left no Temp.wav to show: the shown file
    // (if any) stays, and only the markers are read.
    if (ImportAudio()) {
        try {
            TMMWave* wave = MMWaveFile1->Wave();
            if (Loaded) {
                MMWaveOut1->Stop();
                wave->CloseFile();
            }
            Loaded = false;
            wave->Clear();  // the new Temp.wav may have the old one's size
            wave->SetFileName(TempWavFileName(programFolder_).toStdString());
            if (wave->FormatTag() != 1) throw EMMWaveError(SFormatoInvalido);
            wave->OpenFile();
            for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->ResetDisplay();
            const TMMMode mode = wave->Mode();
            for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetMode(mode);
            if (mode == mStereo) {
                Oscope2->show();
                Oscope4->show();
                Oscope1->SetChannel(chLeft);
                Oscope3->SetChannel(chLeft);
                Oscope2->SetChannel(chRight);
                Oscope4->SetChannel(chRight);
            } else {
                Oscope2->hide();
                Oscope4->hide();
                for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetChannel(chBoth);
            }
            const uint16_t bits = wave->BitLength();
            if (bits == 8 || bits == 16) {
                SilenceLevel = bits == 8 ? 128 : 0;
                for (TMMOscope* v : {Oscope1, Oscope2, Oscope3, Oscope4}) v->SetBitLength(bits == 8 ? b8Bit : b16Bit);
            }
            const WAVEFORMATEX* format = wave->PWaveFormat();
            FrameSize = uint8_t(SampleSize(format));
            TotalSamples = int32_t(wave->WaveIO()->DataSamples);

            StatusTime->SetCaption(LocaleFixed(SamplesToMs(format, TotalSamples) / 1000.0, 2) + " Sec");
            StatusSize->SetCaption(LocaleFixed(QFileInfo(QString::fromStdString(wave->FileName())).size() / 1024.0, 1) +
                                   " Kb");
            StatusSample->SetCaption(SampleToTimeText(0));

            ScrollDivisor = ScrollDivisorFor(TotalSamples);
            ViewsReady = false;
            LiveStart = 0;
            LiveEnd = TotalSamples;
            ViewOffset = 0;
            SelStart = LiveStart;
            SelEnd = LiveEnd;
            const int32_t maxZoom = FitZoom(TotalSamples, ViewSampleCount(Oscope1));
            ZoomSpin->setMaximum(maxZoom);
            ZoomSpin->setValue(maxZoom);
            ScrollBar1->setValue(0);
            Loaded = true;
            LayoutViews();
            ShowSelection(true);
            if (MMWaveOut1->NumDevs() > 0) {
                PlayBtn->setEnabled(true);
                BInicio->setEnabled(true);
                BFim->setEnabled(true);
            }
            for (QWidget* c : std::initializer_list<QWidget*>{btnZoomMenos, btnZoomMais, FullViewBtn, ZoomSpin})
                c->setEnabled(true);
            Oscope3->setCursor(ScreenCursor(2));
            Oscope4->setCursor(ScreenCursor(2));
        } catch (const std::exception& e) {
            ShowMessage(QString::fromUtf8(e.what()), this);
        }
    }

    PBotoes->setEnabled(true);
    try {
        OpenAudioInfo("MP3");
        ReadAudioInfo(AudioPath.toStdString());
        FillMarkersFromTag();
    } catch (const std::exception& e) {
        // The catalogue could not be read: the default error box, the rest is skipped.
        ShowErrorBox(QString::fromUtf8(e.what()), this);
        return;
    }
    PVinhetas->hide();
    PComentario->hide();
    Panel6->raise();
}

void TFrmTessivo::FillMarkersFromTag() {
    EdCarimbo->clear();
    const TID3v2* tag = MpegInfo ? &MpegInfo->Id3v2Tag() : nullptr;
    auto text = [tag](const std::string& (TID3v2::*get)() const) {
        return tag ? QString::fromStdString((tag->*get)()) : QString();
    };
    EdIntroducao->setText(text(&TID3v2::IntroMark));
    EdInicio->setText(text(&TID3v2::StartMark));
    EdFim->setText(text(&TID3v2::EndMark));
    EdInicioRefrao->setText(text(&TID3v2::ChorusStartMark));
    EdFinalRefrao->setText(text(&TID3v2::ChorusEndMark));
    EdMixagem->setText(text(&TID3v2::MixMark));
    MemoComentario->setPlainText(text(&TID3v2::Comment));
    IntroText = EdIntroducao->text();
    StartText = EdInicio->text();
    EndText = EdFim->text();
    ChorusStartText = EdInicioRefrao->text();
    ChorusEndText = EdFinalRefrao->text();
    MixText = EdMixagem->text();
    StampFileText = text(&TID3v2::StampFile);
    StampTimeText = text(&TID3v2::StampMark);

    if (!StampFileText.isEmpty()) {
        Q_Vinhetas->Close();
        Q_Vinhetas->Open();
        const int slash = StampFileText.indexOf('\\');
        const QString key = (slash >= 0 ? StampFileText.mid(slash + 1) : StampFileText).trimmed();
        if (Q_Vinhetas->Locate("VIN_ARQUIVO", key.toStdString(), loPartialKey))
            EdCarimbo->setText(QString::fromStdString(Q_Vinhetas->FieldByName("VIN_NOME").AsString()));
    }
    CommentText = MemoComentario->toPlainText();
}

// ---------------------------------------------------------------------------------------
// Geometry, zoom and scrolling
// ---------------------------------------------------------------------------------------

int32_t TFrmTessivo::Zoom() const { return ZoomSpin->value(); }

int32_t TFrmTessivo::SampleToPixel(int32_t s) const {
    return TDetailGeometry{TotalSamples, ViewOffset, Zoom(), Oscope1->width()}.SampleToPixel(s);
}

int32_t TFrmTessivo::PixelToSample(int32_t x) const {
    return TDetailGeometry{TotalSamples, ViewOffset, Zoom(), Oscope1->width()}.PixelToSample(x);
}

int32_t TFrmTessivo::ViewSampleCount(const TMMOscope* view) const {
    const TMMWave* wave = MMWaveFile1->Wave();
    if (wave->IsEmpty() || !wave->PWaveFormat()) return 0;
    return BytesToSamples(wave->PWaveFormat(), view->PCMBlockSize());
}

void TFrmTessivo::ShowSelection(bool repaint) {
    if (Oscope1->Visible()) Oscope1->SetActiveRange(SampleToPixel(SelStart), SampleToPixel(SelEnd), repaint);
    if (Oscope2->Visible()) Oscope2->SetActiveRange(SampleToPixel(SelStart), SampleToPixel(SelEnd), repaint);
    const int32_t step = std::max(OverviewStep, 1);
    if (Oscope3->Visible()) Oscope3->SetActiveRange(SelStart / step, SelEnd / step, repaint);
    if (Oscope4->Visible()) Oscope4->SetActiveRange(SelStart / step, SelEnd / step, repaint);
}

void TFrmTessivo::UpdateZoomRange() {
    if (!Loaded) return;
    const int32_t maxZoom = FitZoom(TotalSamples, ViewSampleCount(Oscope1));
    {
        const QSignalBlocker quiet(ZoomSpin);
        ZoomSpin->setMaximum(maxZoom);
    }
    OverviewStep = FitZoom(TotalSamples, ViewSampleCount(Oscope3));
    const int32_t z = Zoom();
    const int32_t units = TotalSamples / std::max(ScrollDivisor, 1);
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
        if (position * ScrollDivisor != ViewOffset) {
            ViewOffset = position * ScrollDivisor;
            RefreshDetailView();
        }
        break;
    case QAbstractSlider::SliderMove:
        if (position * ScrollDivisor != ViewOffset) {
            const int32_t step = std::max(ScrollBar1->singleStep(), 1);
            const int32_t snapped = position / step * step;
            ScrollBar1->setSliderPosition(snapped);  // handed back: the thumb snaps
            ViewOffset = snapped * ScrollDivisor;
            RefreshDetailView();
        }
        break;
    default:  // thumb released, top, bottom, end of scroll
        break;
    }
}

void TFrmTessivo::RefreshDetailView() {
    if (Loaded && !DisplayBuffer.empty()) {
        const int32_t block = std::min<int32_t>(Oscope1->PCMBlockSize(), int32_t(DisplayBuffer.size()));
        const bool sparse = DetailReadIsSparse(Zoom(), FrameSize);
        TBusyCursor busy(sparse);
        TProgressReset reset(Gauge1);
        TViewProgress progress;
        if (sparse)
            progress = [this](int percent) {
                if (!Playing) Gauge1->SetProgress(percent);
            };
        ReadDetailBlock(*MMWaveFile1->Wave(), ViewOffset, Zoom(), FrameSize, TotalSamples, SilenceLevel == 128,
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
    if (Loaded && !DisplayBuffer.empty()) {
        TMMWave* wave = MMWaveFile1->Wave();
        const int32_t readSize = OverviewReadSize(wave->WaveIO() ? wave->WaveIO()->DataBytes : 0);
        TBusyCursor busy(stereo ? readSize == 65532 : readSize >= 4095);
        TProgressReset reset(Gauge1);
        const int32_t block = std::min<int32_t>(Oscope3->PCMBlockSize(), int32_t(DisplayBuffer.size()));
        BuildOverviewBlock(*wave, OverviewStep, FrameSize, stereo, SilenceLevel == 128, DisplayBuffer.data(), block,
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
    if (InLayout) {
        InLayout = false;
        return;
    }
    InLayout = true;
    ViewsReady = false;
    // The flag goes down on every way out.
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{InLayout};

    const int detailHeight = Oscope2->Visible() ? (MMPanel1->height() - 2 * MMPanel1->BevelExtent()) / 2 : 1;
    Oscope2->SetBounds(Oscope2->x(), Oscope2->y(), Oscope2->width(), detailHeight);
    const int overviewHeight = Oscope4->Visible() ? (MMPanel3->height() - 2 * MMPanel3->BevelExtent()) / 2 : 1;
    Oscope4->SetBounds(Oscope4->x(), Oscope4->y(), Oscope4->width(), overviewHeight);
    Gauge1->SetProgress(0);
    Gauge1->SetAlign(alClient);

    DisplayBuffer.assign(size_t(std::max({Oscope1->PCMBlockSize(), Oscope3->PCMBlockSize(), 0})), 0);

    if (Loaded) {
        QCoreApplication::processEvents();  // the views take their new sizes
        UpdateZoomRange();
        ViewsReady = true;
        if (MMWaveFile1->Wave()->Mode() == mMono)
            BuildMonoOverview();
        else
            BuildStereoOverview();
        RefreshDetailView();
    }
}

void TFrmTessivo::MMPanel1Resize() { LayoutViews(); }

void TFrmTessivo::btnZoomMenosClick() {
    if (Loaded) ZoomSpin->setValue(int(std::min<int64_t>(int64_t(Zoom()) + 1000, ZoomSpin->maximum())));
}

void TFrmTessivo::btnZoomMaisClick() {
    if (Loaded) ZoomSpin->setValue(std::max(Zoom() - 1000, 1));
}

void TFrmTessivo::FullViewBtnClick() {
    if (!Loaded) return;
    ViewOffset = 0;
    ScrollBar1->setValue(0);
    if (Zoom() != ZoomSpin->maximum())
        ZoomSpin->setValue(ZoomSpin->maximum());
    else
        RefreshDetailView();  // same zoom, but the view may have started elsewhere
}

void TFrmTessivo::ZoomSpinChange() {
    if (Loaded && Zoom() > 0) {
        UpdateZoomRange();
        RefreshDetailView();
    }
}

void TFrmTessivo::AutoScrollTick() {
    const int x = autoScrollX_;
    const int32_t w = Oscope1->width();
    const int64_t z = Zoom();
    const int32_t s = ScrollBar1->singleStep(), l = ScrollBar1->pageStep();
    int64_t low = 0, high = 0;
    if (DragMode == 1) {
        low = 0;
        high = int64_t(LiveEnd) - z * (w - 1) - 1;
    } else {
        low = int64_t(LiveStart) + 1;
        high = int64_t(TotalSamples) - z * (w - 1);
    }
    int64_t offset = ViewOffset;
    if (x < -5)
        offset = std::max<int64_t>(ViewOffset - 4 * int64_t(l), low);
    else if (x < -2)
        offset = std::max<int64_t>(ViewOffset - l, low);
    else if (x < 0)
        offset = std::max<int64_t>(ViewOffset - s, low);
    else if (x < w)
        offset = ViewOffset;
    else if (x <= w + 1)
        offset = std::min<int64_t>(ViewOffset + s, high);
    else if (x <= w + 4)
        offset = std::min<int64_t>(ViewOffset + l, high);
    else
        offset = std::min<int64_t>(ViewOffset + 4 * int64_t(l), high);
    // The view never moves against the pointer: with the other boundary inside the view a
    // limit lies behind the current offset (for the start dragged right even below frame 0),
    // and taking it would jump the view back and put the dragged boundary past the other one.
    if (x < 0)
        offset = std::min<int64_t>(offset, ViewOffset);
    else
        offset = std::max<int64_t>(offset, ViewOffset);
    if (offset == ViewOffset) {
        AutoScrollTimer->stop();
        return;
    }
    ViewOffset = int32_t(offset);
    ScrollBar1->setValue(ViewOffset / std::max(ScrollDivisor, 1));
    if (DragMode == 1) {
        LiveStart = PixelToSample(x);
        StatusSample->SetCaption(SampleToTimeText(LiveStart));
    } else if (DragMode == 2) {
        LiveEnd = PixelToSample(x);
        StatusSample->SetCaption(SampleToTimeText(LiveEnd));
    }
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
    if (!view || !ViewsReady || !view->Visible()) return;
    const bool overview = IsOverviewView(view);
    const int32_t step = std::max(OverviewStep, 1);
    if (which == 0 || which == 1) InvertColumn(view, overview ? SelStart / step : SampleToPixel(LiveStart), kBoundaryPen);
    if (which == 0 || which == 2) InvertColumn(view, overview ? SelEnd / step : SampleToPixel(LiveEnd), kBoundaryPen);
}

void TFrmTessivo::DrawPlayCursor(TMMOscope* view) {
    if (!view || !ViewsReady || !view->Visible()) return;
    const int x = IsOverviewView(view) ? PlayPos / std::max(OverviewStep, 1) : SampleToPixel(PlayPos);
    if (x <= 0) return;
    InvertColumn(view, x, kPlayCursorPen);
}

void TFrmTessivo::Oscope1PostPaint(QObject* sender) {
    if (!Loaded) return;
    auto* view = dynamic_cast<TMMOscope*>(sender);
    if (Playing) DrawPlayCursor(view);
    DrawBoundaryLines(view, 0);
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
    if (!Loaded || Dragging) return;
    if (IsDetailView(sender)) {
        const int32_t startX = SampleToPixel(LiveStart), endX = SampleToPixel(LiveEnd);
        if (button == Qt::LeftButton) {
            if (startX - 5 <= x && x <= startX + 5 && x < endX) {
                Dragging = true;
                DragMode = 1;
                StatusSample->SetCaption(SampleToTimeText(LiveStart));
            } else if (endX - 5 <= x && x <= endX + 5) {
                Dragging = true;
                DragMode = 2;
                StatusSample->SetCaption(SampleToTimeText(LiveEnd));
            } else if (x < endX) {
                LiveStart = SelStart = PixelToSample(x);
                ShowSelection(true);
                StatusSample->SetCaption(SampleToTimeText(LiveStart));
            }
        } else if (button == Qt::RightButton) {
            if (x > startX) {
                LiveEnd = SelEnd = PixelToSample(x);
                ShowSelection(true);
                StatusSample->SetCaption(SampleToTimeText(LiveEnd));
            }
        }
        return;
    }
    if (IsOverviewView(sender) && button == Qt::LeftButton) {
        Dragging = true;
        DragBitmap = QImage(std::max(Oscope3->width(), Oscope4->width()), std::max(Oscope3->height(), Oscope4->height()),
                            QImage::Format_RGB32);
        DragBitmap.fill(Qt::black);
        DragAnchorRect = DragRect = BandRect(x, x + 1, DragBitmap.height());
        InvertOverviewBand(DragRect);
        DragRect.setLeft(DragRect.right());
        StatusSample->SetCaption(SampleToTimeText(int32_t(int64_t(x) * OverviewStep)));
    }
}

void TFrmTessivo::Oscope1MouseMove(QObject* sender, Qt::MouseButtons, Qt::KeyboardModifiers, int x, int) {
    const int32_t w = Oscope1->width();
    if (Dragging && (sender == Oscope1 || (sender == Oscope2 && !AutoScrollTimer->isActive()))) {
        if (DragMode == 0) return;
        autoScrollX_ = x;
        if (x < 0 && ViewOffset > 0) {
            if (LiveStart + 1 >= LiveEnd) return;
            x = 0;
            AutoScrollTimer->start();
        } else if (x >= w) {
            if (LiveEnd - 1 <= LiveStart) return;
            x = w - 1;
            if (int64_t(Zoom()) * w + ViewOffset < TotalSamples) AutoScrollTimer->start();
        }
        if (DragMode == 1) {
            const int32_t endX = SampleToPixel(LiveEnd);
            if (x >= endX) x = endX - 1;
            if (x < 0) x = 0;
            if (x != SampleToPixel(LiveStart)) {
                DrawBoundaryLines(Oscope1, 1);
                DrawBoundaryLines(Oscope2, 1);
                LiveStart = PixelToSample(x);
                DrawBoundaryLines(Oscope1, 1);
                DrawBoundaryLines(Oscope2, 1);
                StatusSample->SetCaption(SampleToTimeText(LiveStart));
            }
        } else if (DragMode == 2) {
            const int32_t startX = SampleToPixel(LiveStart);
            if (x <= startX) x = startX + 1;
            if (x > SampleToPixel(TotalSamples)) x = SampleToPixel(TotalSamples);
            if (x != SampleToPixel(LiveEnd)) {
                DrawBoundaryLines(Oscope1, 2);
                DrawBoundaryLines(Oscope2, 2);
                LiveEnd = PixelToSample(x);
                DrawBoundaryLines(Oscope1, 2);
                DrawBoundaryLines(Oscope2, 2);
                StatusSample->SetCaption(SampleToTimeText(LiveEnd));
            }
        }
        return;
    }
    if (Dragging && IsOverviewView(sender)) {
        DragRect.setRight(x + 1);
        InvertOverviewBand(DragRect);
        DragRect.setLeft(DragRect.right());
        x = std::clamp(x, 0, Oscope3->width() - 1);
        const int anchor = DragAnchorRect.left();
        const int64_t n = x == anchor ? int64_t(x) * OverviewStep : (int64_t(std::abs(anchor - x)) + 1) * OverviewStep;
        StatusSample->SetCaption(SampleToTimeText(int32_t(std::min<int64_t>(n, INT32_MAX))));
        return;
    }
    if (!Dragging && Loaded && !Playing && IsDetailView(sender)) {
        const int32_t startX = SampleToPixel(LiveStart), endX = SampleToPixel(LiveEnd);
        if ((startX - 5 <= x && x <= startX + 5) || (endX - 5 <= x && x <= endX + 5)) {
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
    if (Dragging && IsDetailView(sender)) {
        AutoScrollTimer->stop();
        Dragging = false;
        DragMode = 0;
        SelStart = LiveStart;
        SelEnd = LiveEnd;
        ShowSelection(true);
    } else if (Dragging && IsOverviewView(sender)) {
        DragAnchorRect.setRight(DragRect.right());
        InvertOverviewBand(DragAnchorRect);
        Dragging = false;
        DragBitmap = QImage();

        x = std::clamp(x, 0, Oscope3->width());
        int anchor = DragAnchorRect.left();
        const int32_t newOffset = int32_t(std::min<int64_t>(int64_t(std::min(anchor, x)) * OverviewStep, TotalSamples));
        if (newOffset != ViewOffset) ScrollBar1->setValue(newOffset / std::max(ScrollDivisor, 1));
        int32_t newZoom = 1;
        if (x != anchor) {
            if (anchor > x) ++anchor;
            const double o1 = std::max(ViewSampleCount(Oscope1), 1), o3 = std::max(ViewSampleCount(Oscope3), 1);
            newZoom = std::max(1, RoundHalfEven(double(TotalSamples) / o3 * (std::abs(anchor - x) + 1) / o1 + 0.5));
        }
        // The spin edit keeps the zoom within its range; compare what it will hold.
        newZoom = std::clamp(newZoom, 1, ZoomSpin->maximum());
        if (newZoom != Zoom()) {
            ViewOffset = newOffset;
            ZoomSpin->setValue(newZoom);
        } else if (newOffset != ViewOffset) {
            ViewOffset = newOffset;
            RefreshDetailView();
        }
    }
    // Playback restarting from the new selection belongs to the playback commands; without an
    // output device nothing plays here.
}
