// The oscilloscope-style waveform view: one block of PCM frames in, one level per pixel
// column out, drawn into the view's own 8-bit surface and shown at once.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/MMTypes.h"
#include "display/MMDIBCv.h"

enum TMMOscopeKind { okDots, okConLines, okVertLines, okMirLines, okSpikes };

// Bytes of one frame: 1 for 8-bit mono, 2 for 8-bit stereo or 16-bit mono, 4 for 16-bit stereo.
int32_t OscopeFrameBytes(TMMMode mode, TMMBits bits);
// Bytes of PCM that one block of `columns` columns takes at the given zoom.
int32_t OscopePCMBlockSize(TMMMode mode, TMMBits bits, int32_t columns, int32_t zoom);
// Turns one PCM block into `columns` signed levels (column i takes frame i * zoom, or
// i div (|zoom| + 1) for a negative zoom), with the optional low-pass smoothing.
void OscopeLevels(const uint8_t* block, int32_t columns, TMMMode mode, TMMBits bits,
                  TMMChannel channel, int32_t zoom, bool lowPass, int16_t* levels);

class TMMOscope : public TMMDIBGraphicControl {
public:
    explicit TMMOscope(QWidget* parent = nullptr);
    ~TMMOscope() override;

    TMMOscopeKind Kind() const { return kind_; }
    void SetKind(TMMOscopeKind v);
    TMMChannel Channel() const { return channel_; }
    void SetChannel(TMMChannel v);
    TMMBits BitLength() const { return bitLength_; }
    void SetBitLength(TMMBits v);
    TMMMode Mode() const { return mode_; }
    void SetMode(TMMMode v);
    TColor ForegroundColor() const { return foregroundColor_; }
    void SetForegroundColor(TColor v);
    TColor InactiveColor() const { return inactiveColor_; }
    void SetInactiveColor(TColor v);
    TColor DisabledColor() const { return disabledColor_; }
    void SetDisabledColor(TColor v);
    bool DrawMidLine() const { return drawMidLine_; }
    void SetDrawMidLine(bool v);
    bool ShowInfo() const { return showInfo_; }
    void SetShowInfo(bool v) { showInfo_ = v; }
    // The view's own enabled flag, apart from the widget's enabled state.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    int32_t Zoom() const { return zoom_; }
    void SetZoom(int32_t v);
    int32_t Steps() const { return steps_; }
    void SetSteps(int32_t v);
    int32_t Gain() const { return gain_; }
    void SetGain(int32_t v);
    bool LowPass() const { return lowPass_; }
    void SetLowPass(bool v);
    int32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(int32_t v);

    int32_t ColumnCount() const { return columnCount_; }
    int32_t AreaHeight() const { return areaHeight_; }
    int32_t MidRow() const { return areaHeight_ / 2; }
    int32_t ActiveStart() const { return activeStart_; }
    int32_t ActiveEnd() const { return activeEnd_; }
    int32_t PCMBlockSize() const { return pcmBlockSize_; }
    const std::vector<int16_t>& Levels() const { return levels_; }

    // Zeroes the levels, makes the whole width active and repaints at once.
    void ResetDisplay();
    // Converts one block of PCMBlockSize bytes into the levels and draws a frame at once;
    // dropped while the view is disabled or hidden.
    void DrawPCMBlock(const void* block);
    // Stores each changed bound clamped to -1..ColumnCount (unsorted); repaints at once when
    // repaint is set, changed or not.
    void SetActiveRange(int32_t start, int32_t end, bool repaint);

    void SetBounds(int left, int top, int width, int height) override;

    // Called after every completed frame; Canvas() is then bound to the shown picture.
    TNotifyEvent OnPostPaint;
    TNotifyEvent OnPcmOverflow;
    TNotifyEvent OnGainOverflow;

protected:
    void Changed() override;
    void PaintFrame(bool flag) override;
    void resizeEvent(QResizeEvent* e) override;
    virtual void DoGainOverflow();
    virtual void DoPcmOverflow();

private:
    void Layout();
    void Invalidate();
    void RecalcBlockSize();
    int32_t LevelRow(int32_t level);
    void DrawWave();
    void DrawConLines();
    void DrawColumns();

    TMMOscopeKind kind_ = okDots;
    TMMChannel channel_ = chBoth;
    TMMBits bitLength_ = b8Bit;
    TMMMode mode_ = mMono;
    TColor foregroundColor_ = 0xFFFF00;
    TColor inactiveColor_ = 0x808000;
    TColor disabledColor_ = 0x808080;
    bool drawMidLine_ = false;
    bool showInfo_ = true;
    bool enabled_ = true;
    int32_t zoom_ = 1;
    int32_t steps_ = 1;
    int32_t gain_ = 0;
    bool lowPass_ = false;
    int32_t sampleRate_ = 11025;

    QRect area_;
    int32_t columnCount_ = 4;
    int32_t areaHeight_ = 4;
    std::vector<int16_t> levels_;
    int32_t activeStart_ = 0;
    int32_t activeEnd_ = 4;
    int32_t levelOffset_ = 32767;
    int32_t levelRange_ = 65535;
    int32_t pcmBlockSize_ = 4;
};
