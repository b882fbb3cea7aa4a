// The progress gauge: a bar (or pie, needle, plain text) with the percentage written over it
// in the inverse colour of what lies beneath. It repaints only when the whole percentage changes.
#pragma once

#include <cstdint>

#include "common/MMControls.h"

enum TMMGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

class TMMCustomGauge : public TMMGraphicControl {
public:
    // A new gauge is 150 x 18 pixels, a horizontal bar from 0 to 100 at 0.
    explicit TMMCustomGauge(QWidget* parent = nullptr);

    TMMGaugeKind Kind() const { return kind_; }
    void SetKind(TMMGaugeKind v);
    bool ShowText() const { return showText_; }
    void SetShowText(bool v);
    TColor ForeColor() const { return foreColor_; }
    void SetForeColor(TColor v);
    TColor BackColor() const { return backColor_; }
    void SetBackColor(TColor v);
    bool BWText() const { return bwText_; }
    void SetBWText(bool v);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& v);

    int32_t MinValue() const { return minValue_; }
    // Clamped to [-2147483647, MaxValue]; Progress follows into the new range.
    void SetMinValue(int32_t v);
    int32_t MaxValue() const { return maxValue_; }
    // Clamped to [MinValue, 2147483647]; Progress follows into the new range.
    void SetMaxValue(int32_t v);
    int32_t Progress() const { return progress_; }
    // Clamped to [MinValue, MaxValue]; repaints at once, but only when PercentDone changes.
    void SetProgress(int32_t v);

    // trunc((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
    int PercentDone() const;
    // The filled part of a length at percentage p: trunc(length * p / 100).
    static int PartOf(int length, int percent);
    // "42%", or "Label 42%" with a caption.
    QString GaugeText() const;

protected:
    void Paint(QPainter& canvas) override;
    virtual void PaintGaugeFace(QPainter& canvas, const QRect& rect);
    virtual void PaintGaugeText(QPainter& canvas, const QRect& rect);
    virtual void PaintBar(QPainter& canvas, const QRect& rect, bool horizontal);
    virtual void PaintPie(QPainter& canvas, const QRect& rect);
    virtual void PaintNeedle(QPainter& canvas, const QRect& rect);
    virtual void PaintTextOnly(QPainter& canvas, const QRect& rect);

private:
    template <typename T>
    void Set(T& field, const T& value);

    TMMGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TColor foreColor_ = clActiveCaption;
    TColor backColor_ = clWhite;
    bool bwText_ = false;
    QString caption_;
    int32_t minValue_ = 0;
    int32_t maxValue_ = 100;
    int32_t progress_ = 0;
};

class TMMGauge : public TMMCustomGauge {
public:
    using TMMCustomGauge::TMMCustomGauge;
};
