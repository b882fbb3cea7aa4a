#include "display/MMOscope.h"
#include "common/ScopeExit.h"

#include <QCursor>
#include <QPainter>

#include <algorithm>
#include <cstring>

int32_t OscopeFrameBytes(TMMMode mode, TMMBits bits) {
    return (int32_t(bits) + 1) * (int32_t(mode) + 1);
}

int32_t OscopePCMBlockSize(TMMMode mode, TMMBits bits, int32_t columns, int32_t zoom) {
    const int32_t frame = OscopeFrameBytes(mode, bits);
    if (zoom > 0) return frame * columns * zoom;
    return ((frame * columns) / (-zoom + 1) + 5) / 4 * 4;
}

namespace {

inline int16_t Sample16(const uint8_t* p) { return int16_t(uint16_t(p[0]) | (uint16_t(p[1]) << 8)); }

int32_t FrameLevel(const uint8_t* frame, TMMMode mode, TMMBits bits, TMMChannel channel) {
    if (mode == mMono) return bits == b8Bit ? (int32_t(frame[0]) - 128) * 256 : Sample16(frame);
    if (bits == b8Bit) {
        switch (channel) {
        case chLeft: return (int32_t(frame[0]) - 128) * 256;
        case chRight: return (int32_t(frame[1]) - 128) * 256;
        case chBoth: return ((int32_t(frame[0]) + frame[1]) / 2 - 128) * 256;
        }
    }
    switch (channel) {
    case chLeft: return Sample16(frame);
    case chRight: return Sample16(frame + 2);
    case chBoth: return (int32_t(Sample16(frame)) + Sample16(frame + 2)) / 2;
    }
    return 0;
}

}  // namespace

void OscopeLevels(const uint8_t* block, int32_t columns, TMMMode mode, TMMBits bits,
                  TMMChannel channel, int32_t zoom, bool lowPass, int16_t* levels) {
    const int32_t frameBytes = OscopeFrameBytes(mode, bits);
    int32_t previous = 0;
    for (int32_t i = 0; i < columns; ++i) {
        const int32_t f = zoom > 0 ? i * zoom : i / (-zoom + 1);
        int32_t v = FrameLevel(block + size_t(f) * size_t(frameBytes), mode, bits, channel);
        if (lowPass) {
            const int32_t input = v;
            v = (previous + 3 * v) / 4;
            previous = input;
        }
        levels[i] = int16_t(std::clamp(v, -32768, 32767));
    }
}

TMMOscope::TMMOscope(QWidget* parent) : TMMDIBGraphicControl(parent, "TMMOscope") {
    SetColor(clBlack);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);  // moves without a button reach the owner too
    resize(194, 90);
    Layout();
}

TMMOscope::~TMMOscope() = default;

void TMMOscope::Invalidate() { update(); }

void TMMOscope::SetKind(TMMOscopeKind v) {
    if (v == kind_) return;
    kind_ = v;
    levelOffset_ = v == okSpikes ? 0 : 32767;
    levelRange_ = v == okSpikes ? 32767 : 65535;
    Invalidate();
}

void TMMOscope::SetChannel(TMMChannel v) {
    if (v == channel_) return;
    channel_ = v;
    RecalcBlockSize();
    Invalidate();
}

void TMMOscope::SetBitLength(TMMBits v) {
    if (v == bitLength_) return;
    bitLength_ = v;
    RecalcBlockSize();
    Invalidate();
}

void TMMOscope::SetMode(TMMMode v) {
    if (v == mode_) return;
    mode_ = v;
    RecalcBlockSize();
    Invalidate();
}

void TMMOscope::SetForegroundColor(TColor v) {
    if (v == foregroundColor_) return;
    foregroundColor_ = v;
    Invalidate();
}

void TMMOscope::SetInactiveColor(TColor v) {
    if (v == inactiveColor_) return;
    inactiveColor_ = v;
    Invalidate();
}

void TMMOscope::SetDisabledColor(TColor v) {
    if (v == disabledColor_) return;
    disabledColor_ = v;
    Invalidate();
}

void TMMOscope::SetDrawMidLine(bool v) {
    if (v == drawMidLine_) return;
    drawMidLine_ = v;
    Invalidate();
}

void TMMOscope::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Invalidate();
}

void TMMOscope::SetZoom(int32_t v) {
    if (v == 0 || v == zoom_) return;
    zoom_ = std::clamp(v, -9, 9);
    RecalcBlockSize();
    Invalidate();
}

void TMMOscope::SetSteps(int32_t v) {
    v = std::max(v, 1);
    if (v == steps_) return;
    steps_ = v;
    Invalidate();
}

void TMMOscope::SetGain(int32_t v) {
    if (v < -8 || v > 32 || v == gain_) return;
    gain_ = v;
    Invalidate();
}

void TMMOscope::SetLowPass(bool v) {
    if (v == lowPass_) return;
    lowPass_ = v;
    Invalidate();
}

void TMMOscope::SetSampleRate(int32_t v) { sampleRate_ = std::clamp(v, 8000, 88200); }

void TMMOscope::RecalcBlockSize() {
    pcmBlockSize_ = OscopePCMBlockSize(mode_, bitLength_, columnCount_, zoom_);
}

void TMMOscope::SetBounds(int left, int top, int width, int height) {
    const int minimum = 2 * BevelExtent() + 2;
    TMMDIBGraphicControl::SetBounds(left, top, std::max(width, minimum), std::max(height, minimum));
}

void TMMOscope::resizeEvent(QResizeEvent* e) {
    TMMDIBGraphicControl::resizeEvent(e);
    Layout();
}

void TMMOscope::Changed() { Layout(); }

void TMMOscope::Layout() {
    const int extent = BevelExtent();
    area_ = QRect(extent, extent, width() - 2 * extent, height() - 2 * extent);
    columnCount_ = std::max(area_.width(), 4);
    areaHeight_ = std::max(area_.height(), 4);
    levels_.assign(size_t(columnCount_) + 40, 0);
    DIBCanvas()->SetBounds(0, 0, columnCount_, areaHeight_);
    RecalcBlockSize();
    activeStart_ = 0;
    activeEnd_ = columnCount_;
    Invalidate();
}

void TMMOscope::ResetDisplay() {
    std::fill(levels_.begin(), levels_.end(), int16_t(0));
    activeStart_ = 0;
    activeEnd_ = columnCount_;
    DrawNow([this](bool f) { PaintFrame(f); }, false);
}

void TMMOscope::DrawPCMBlock(const void* block) {
    if (!enabled_ || isHidden() || !block) return;
    OscopeLevels(static_cast<const uint8_t*>(block), columnCount_, mode_, bitLength_, channel_, zoom_,
                 lowPass_, levels_.data());
    DrawNow([this](bool f) { PaintFrame(f); }, false);
}

void TMMOscope::SetActiveRange(int32_t start, int32_t end, bool repaint) {
    auto clampColumn = [this](int32_t v) { return v < 0 ? -1 : std::min(v, columnCount_); };
    if (start != activeStart_) activeStart_ = clampColumn(start);
    if (end != activeEnd_) activeEnd_ = clampColumn(end);
    if (repaint) DrawNow([this](bool f) { PaintFrame(f); }, false);
}

int32_t TMMOscope::LevelRow(int32_t level) {
    if (level >= 32767) DoPcmOverflow();
    const int32_t y = ((level * (gain_ + 8)) / 8 + levelOffset_) * areaHeight_ / levelRange_;
    if (y > areaHeight_) DoGainOverflow();
    return areaHeight_ - y - 1;
}

void TMMOscope::DoGainOverflow() {
    if (OnGainOverflow) OnGainOverflow(this);
}

void TMMOscope::DoPcmOverflow() {
    if (OnPcmOverflow) OnPcmOverflow(this);
}

void TMMOscope::PaintFrame(bool) {
    QPainter* canvas = Canvas();
    if (!canvas) return;
    Bevel()->PaintBevel(*canvas, rect(), true);
    TMMDIBCanvas* dib = DIBCanvas();
    dib->BeginDraw();
    {
        const auto end = ScopeExit([dib] { dib->EndDraw(); });
        DrawBackground();
        const int32_t mid = MidRow();
        if (enabled_) {
            if (drawMidLine_) {
                dib->SetPenColor(disabledColor_);
                dib->DashHLine(0, columnCount_, mid);
            }
            DrawWave();
        } else {
            dib->SetPenColor(disabledColor_);
            dib->HLine(5, columnCount_ - 5, mid);
        }
        dib->CopyToDevice(canvas, area_.left(), area_.top(), columnCount_, areaHeight_, 0, 0);
    }
    if (OnPostPaint) OnPostPaint(this);
}

void TMMOscope::DrawWave() {
    if (kind_ == okConLines) DrawConLines();
    else DrawColumns();
}

void TMMOscope::DrawConLines() {
    TMMDIBCanvas* dib = DIBCanvas();
    dib->SetPenColor(inactiveColor_);
    // The starting point is mapped without the overflow checks.
    const int32_t startY = ((levels_[0] * (gain_ + 8)) / 8 + levelOffset_) * areaHeight_ / levelRange_;
    int32_t row = areaHeight_ - startY - 1;
    dib->MoveTo(0, row);
    int32_t x = steps_;
    for (; x < columnCount_; x += steps_) {
        row = LevelRow(levels_[size_t(x)]);
        if (x > activeEnd_) dib->SetPenColor(inactiveColor_);
        else if (x > activeStart_) dib->SetPenColor(foregroundColor_);
        dib->LineTo(x, row);
    }
    // Closing line: the last level's own pixel is the excluded end of the previous segment.
    dib->LineTo(x, row);
}

void TMMOscope::DrawColumns() {
    TMMDIBCanvas* dib = DIBCanvas();
    const int32_t mid = MidRow();
    if (kind_ == okMirLines || kind_ == okVertLines) {
        for (int32_t r : {mid, mid - 1}) {
            dib->SetPenColor(inactiveColor_);
            dib->HLine(0, activeStart_, r);
            dib->SetPenColor(foregroundColor_);
            dib->HLine(activeStart_, activeEnd_ + 1, r);
            dib->SetPenColor(inactiveColor_);
            dib->HLine(activeEnd_ + 1, columnCount_, r);
        }
    }
    dib->SetPenColor(inactiveColor_);
    for (int32_t x = 0; x < columnCount_; x += steps_) {
        int32_t level = levels_[size_t(x)];
        if (kind_ == okSpikes) level = std::abs(level);
        const int32_t row = LevelRow(level);
        if (x > activeEnd_) dib->SetPenColor(inactiveColor_);
        else if (x >= activeStart_) dib->SetPenColor(foregroundColor_);
        switch (kind_) {
        case okDots: dib->HLine(x, x + 1, row); break;
        case okMirLines: dib->VLine(x, row, areaHeight_ - row - 1); break;
        case okVertLines: dib->VLine(x, row, mid); break;
        case okSpikes: dib->VLine(x, row, areaHeight_); break;
        case okConLines: break;
        }
    }
}

