#include "display/MMGauge.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int32_t kLowestValue = -std::numeric_limits<int32_t>::max();
constexpr int32_t kHighestValue = std::numeric_limits<int32_t>::max();

// The gauge's text is drawn without smoothing, so a pixel is either text or not and the
// inverted text keeps exactly the two colours of what lies beneath.
QFont TextFont(const QFont& font) {
    QFont f = font;
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

// Exclusive-or of the mask into the picture: black leaves a pixel, white inverts it. The mask
// covers rect and has the picture's pixel ratio.
void XorImage(QPainter& canvas, const QRect& rect, const QImage& mask) {
    auto* picture = dynamic_cast<QImage*>(canvas.device());
    if (!picture || picture->format() != QImage::Format_RGB32 || !canvas.transform().isIdentity() ||
        picture->devicePixelRatio() != mask.devicePixelRatio()) {
        canvas.save();
        canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        canvas.drawImage(rect.topLeft(), mask);
        canvas.restore();
        return;
    }
    const int ratio = int(picture->devicePixelRatio());
    const QRect pixels(rect.topLeft() * ratio, mask.size());
    const QRect area = pixels.intersected(picture->rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* dst = reinterpret_cast<QRgb*>(picture->scanLine(y));
        const auto* src = reinterpret_cast<const QRgb*>(mask.constScanLine(y - pixels.y()));
        for (int x = area.left(); x <= area.right(); ++x) dst[x] ^= src[x - pixels.x()] & 0x00FFFFFFu;
    }
}

// Whole-number pixel ratio of a paint device (fractional ratios draw at 1).
int PixelRatio(const QPaintDevice* device) {
    const double r = device ? device->devicePixelRatio() : 1.0;
    return r == double(int(r)) && r >= 1.0 ? int(r) : 1;
}

}  // namespace

TMMCustomGauge::TMMCustomGauge(QWidget* parent) : TMMGraphicControl(parent) { resize(150, 18); }

template <typename T>
void TMMCustomGauge::Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    update();
}

void TMMCustomGauge::SetKind(TMMGaugeKind v) { Set(kind_, v); }
void TMMCustomGauge::SetShowText(bool v) { Set(showText_, v); }
void TMMCustomGauge::SetForeColor(TColor v) { Set(foreColor_, v); }
void TMMCustomGauge::SetBackColor(TColor v) { Set(backColor_, v); }
void TMMCustomGauge::SetBWText(bool v) { Set(bwText_, v); }
void TMMCustomGauge::SetCaption(const QString& v) { Set(caption_, v); }

void TMMCustomGauge::SetMinValue(int32_t v) {
    v = std::clamp(v, kLowestValue, maxValue_);
    if (v == minValue_) return;
    minValue_ = v;
    progress_ = std::max(progress_, minValue_);
    update();
}

void TMMCustomGauge::SetMaxValue(int32_t v) {
    v = std::clamp(v, minValue_, kHighestValue);
    if (v == maxValue_) return;
    maxValue_ = v;
    progress_ = std::min(progress_, maxValue_);
    update();
}

void TMMCustomGauge::SetProgress(int32_t v) {
    v = std::clamp(v, minValue_, maxValue_);
    if (v == progress_) return;
    const int before = PercentDone();
    progress_ = v;
    if (PercentDone() != before) repaint();
}

int TMMCustomGauge::PercentDone() const {
    const int64_t range = int64_t(maxValue_) - minValue_;
    if (range == 0) return 0;
    return int((int64_t(progress_) - minValue_) * 100 / range);
}

int TMMCustomGauge::PartOf(int length, int percent) {
    // In integers: length * (percent * 0.01) in floating point loses a pixel at some
    // percentages (100 * 0.29 is 28.999...).
    return int(int64_t(length) * percent / 100);
}

QString TMMCustomGauge::GaugeText() const {
    if (caption_.isEmpty()) return QStringLiteral("%1%").arg(PercentDone());
    return QStringLiteral("%1 %2%").arg(caption_).arg(PercentDone());
}

void TMMCustomGauge::Paint(QPainter& canvas) {
    const QRect inner = Bevel()->PaintBevel(canvas, rect(), true);
    if (inner.width() <= 0 || inner.height() <= 0) return;
    // Drawn off screen and copied in one step, so the bar never flickers.
    const int ratio = PixelRatio(canvas.device());
    QImage picture(inner.size() * ratio, QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    {
        QPainter pc(&picture);
        pc.setFont(font());
        const QRect r(0, 0, inner.width(), inner.height());
        PaintGaugeFace(pc, r);
        if (showText_) PaintGaugeText(pc, r);
    }
    canvas.drawImage(inner.topLeft(), picture);
}

void TMMCustomGauge::PaintGaugeFace(QPainter& canvas, const QRect& rect) {
    switch (kind_) {
    case gkHorizontalBar: PaintBar(canvas, rect, true); break;
    case gkVerticalBar: PaintBar(canvas, rect, false); break;
    case gkPie: PaintPie(canvas, rect); break;
    case gkNeedle: PaintNeedle(canvas, rect); break;
    case gkText: PaintTextOnly(canvas, rect); break;
    }
}

void TMMCustomGauge::PaintBar(QPainter& canvas, const QRect& rect, bool horizontal) {
    canvas.fillRect(rect, MMColor(backColor_));
    const int p = PercentDone();
    if (horizontal) {
        const int len = PartOf(rect.width(), p);
        if (len > 0) canvas.fillRect(QRect(rect.x(), rect.y(), len, rect.height()), MMColor(foreColor_));
    } else {
        const int len = PartOf(rect.height(), p);
        if (len > 0)
            canvas.fillRect(QRect(rect.x(), rect.y() + rect.height() - len, rect.width(), len),
                            MMColor(foreColor_));
    }
}

void TMMCustomGauge::PaintTextOnly(QPainter& canvas, const QRect& rect) {
    canvas.fillRect(rect, MMColor(backColor_));
}

void TMMCustomGauge::PaintPie(QPainter& canvas, const QRect& rect) {
    canvas.fillRect(rect, MMColor(Color()));
    const QRect oval = rect.adjusted(0, 0, -1, -1);  // the pen adds the last row and column
    canvas.save();
    canvas.setPen(MMColor(foreColor_));
    canvas.setBrush(MMColor(backColor_));
    canvas.drawEllipse(oval);
    const int p = PercentDone();
    if (p > 0) {
        canvas.setBrush(MMColor(foreColor_));
        canvas.drawPie(oval, 90 * 16, -int(std::lround(p * 3.6 * 16)));  // clockwise from the top
    }
    canvas.restore();
}

void TMMCustomGauge::PaintNeedle(QPainter& canvas, const QRect& rect) {
    canvas.fillRect(rect, MMColor(Color()));
    const int rx = (rect.width() - 1) / 2, ry = rect.height() - 1;
    const QPoint centre(rect.x() + rx, rect.y() + ry);
    canvas.save();
    canvas.setPen(MMColor(foreColor_));
    canvas.setBrush(MMColor(backColor_));
    // The upper half of the ellipse, closed by its base line.
    canvas.drawChord(QRect(rect.x(), rect.y(), 2 * rx, 2 * ry), 0, 180 * 16);
    const int p = PercentDone();
    if (p > 0) {
        const double a = (180.0 - p * 1.8) * M_PI / 180.0;
        canvas.drawLine(centre, QPoint(centre.x() + int(std::lround(rx * std::cos(a))),
                                       centre.y() - int(std::lround(ry * std::sin(a)))));
    }
    canvas.restore();
}

void TMMCustomGauge::PaintGaugeText(QPainter& canvas, const QRect& rect) {
    const QString text = GaugeText();
    const QFont f = TextFont(canvas.font());
    const QFontMetrics fm(f);
    const int tx = rect.x() + (rect.width() - fm.horizontalAdvance(text)) / 2;
    const int ty = rect.y() + (rect.height() - fm.height()) / 2;
    const bool bar = kind_ == gkHorizontalBar || kind_ == gkVerticalBar;

    if (!(bar && bwText_)) {
        const int ratio = PixelRatio(canvas.device());
        QImage mask(rect.size() * ratio, QImage::Format_RGB32);
        mask.setDevicePixelRatio(ratio);
        mask.fill(Qt::black);
        {
            QPainter pm(&mask);
            pm.setFont(f);
            pm.setPen(Qt::white);
            pm.drawText(QPoint(tx - rect.x(), ty - rect.y() + fm.ascent()), text);
        }
        XorImage(canvas, rect, mask);
        return;
    }

    // Two colours split at the bar's end: the font colour over the empty part, its inverse
    // over the filled part.
    const int right = rect.x() + rect.width(), bottom = rect.y() + rect.height();
    const int p = PercentDone();
    QRect empty, filled;
    if (kind_ == gkHorizontalBar) {
        const int bx = rect.x() + PartOf(rect.width(), p);
        empty = QRect(QPoint(bx, ty), QPoint(right - 1, bottom - 1));
        filled = QRect(QPoint(tx, ty), QPoint(bx - 1, bottom - 1));
    } else {
        const int by = bottom - PartOf(rect.height(), p);
        empty = QRect(QPoint(tx, ty), QPoint(right - 1, by - 1));
        filled = QRect(QPoint(tx, by), QPoint(right - 1, bottom - 1));
    }
    const TColor color = ColorToRGB(FontColor());
    canvas.save();
    canvas.setFont(f);
    const QPoint origin(tx, ty + fm.ascent());
    if (empty.isValid()) {
        canvas.setClipRect(empty);
        canvas.setPen(MMColor(color));
        canvas.drawText(origin, text);
    }
    if (filled.isValid()) {
        canvas.setClipRect(filled);
        canvas.setPen(MMColor(color ^ 0xFFFFFFu));
        canvas.drawText(origin, text);
    }
    canvas.restore();
}
