#include "display/MMGauge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

namespace {

QRgb Rgb(TColor c) { return MMColor(c).rgb(); }

QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The import dialog's gauge: 206 x 20, button-face background, lowered 1-pixel outer bevel.
void MakeDialogGauge(TMMGauge& g) {
    g.resize(206, 20);
    g.SetBackColor(clBtnFace);
    TMMBevel b;
    b.SetBevelOuter(bvLowered);
    b.SetBevelOuterWidth(1);
    g.SetBevel(b);
}

struct CountingGauge : TMMGauge {
    int paints = 0;
    void Paint(QPainter& canvas) override {
        ++paints;
        TMMGauge::Paint(canvas);
    }
};

}  // namespace

TEST(MMGaugeTest, BarAt49PercentIs99Of204Pixels) {
    TMMGauge g;
    MakeDialogGauge(g);
    g.SetShowText(false);
    g.SetProgress(49);
    const QImage img = Grab(g);
    for (int y = 1; y < 19; ++y)
        for (int x = 1; x < 205; ++x)
            ASSERT_EQ(img.pixel(x, y), x <= 99 ? Rgb(clActiveCaption) : Rgb(clBtnFace)) << x << "," << y;
    EXPECT_EQ(img.pixel(0, 0), Rgb(clBtnShadow));
    EXPECT_EQ(img.pixel(205, 19), Rgb(clBtnHighlight));
}

TEST(MMGaugeTest, TextIsTheInverseOfEachPixelBeneath) {
    TMMGauge plain, text;
    for (TMMGauge* g : {&plain, &text}) {
        MakeDialogGauge(*g);
        g->SetForeColor(RGBColor(10, 200, 30));
        g->SetBackColor(RGBColor(250, 240, 5));
        g->SetProgress(49);
    }
    plain.SetShowText(false);
    const QImage a = Grab(plain), b = Grab(text);
    int overBar = 0, overBack = 0, minX = 1000, maxX = -1, minY = 1000, maxY = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 206; ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            ASSERT_EQ(b.pixel(x, y) & 0xFFFFFF, ~a.pixel(x, y) & 0xFFFFFF) << x << "," << y;
            (x <= 99 ? overBar : overBack)++;
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    EXPECT_GT(overBar, 5);   // "49%" straddles the end of the bar
    EXPECT_GT(overBack, 5);
    EXPECT_NEAR((minX + maxX) / 2.0, 102.5, 3.0);  // centred on the 204-pixel inside
    EXPECT_NEAR((minY + maxY) / 2.0, 9.5, 3.0);
    EXPECT_GE(minX, 1);
    EXPECT_LE(maxX, 204);
}

TEST(MMGaugeTest, BlackAndWhiteTextSplitsAtTheBarsEnd) {
    TMMGauge plain, text;
    for (TMMGauge* g : {&plain, &text}) {
        MakeDialogGauge(*g);
        g->SetBWText(true);
        g->SetProgress(49);
    }
    plain.SetShowText(false);
    const QImage a = Grab(plain), b = Grab(text);
    int left = 0, right = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 206; ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            // The font colour (black) over the empty part, white over the bar.
            ++(x <= 99 ? left : right);
            ASSERT_EQ(b.pixel(x, y), x <= 99 ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) << x << "," << y;
        }
    EXPECT_GT(left, 5);
    EXPECT_GT(right, 5);
}

TEST(MMGaugeTest, RepaintsOnlyWhenThePercentageChanges) {
    CountingGauge g;
    MakeDialogGauge(g);
    g.SetMaxValue(1000);
    g.show();
    QApplication::processEvents();
    g.paints = 0;

    g.SetProgress(2);
    EXPECT_EQ(g.Progress(), 2);
    g.SetProgress(3);
    EXPECT_EQ(g.Progress(), 3);
    EXPECT_EQ(g.PercentDone(), 0);
    EXPECT_EQ(g.paints, 0);

    g.SetProgress(10);  // 1 %: painted at once, without waiting for the event loop
    EXPECT_EQ(g.paints, 1);
    g.SetProgress(19);
    EXPECT_EQ(g.paints, 1);
    g.SetProgress(1000);
    g.SetProgress(5000);  // clamped to the same value
    EXPECT_EQ(g.paints, 2);
    QApplication::processEvents();
}

TEST(MMGaugeTest, RangeAndTextEdges) {
    TMMGauge g;
    EXPECT_EQ(g.width(), 150);
    EXPECT_EQ(g.height(), 18);
    g.SetProgress(150);
    EXPECT_EQ(g.Progress(), 100);
    EXPECT_EQ(g.GaugeText(), "100%");
    g.SetProgress(-5);
    EXPECT_EQ(g.Progress(), 0);

    g.SetProgress(7);
    g.SetCaption("Import");
    EXPECT_EQ(g.GaugeText(), "Import 7%");

    // Range limits: each end is clamped by the other, and Progress stays inside.
    g.SetMinValue(500);
    EXPECT_EQ(g.MinValue(), 100);
    EXPECT_EQ(g.Progress(), 100);
    EXPECT_EQ(g.PercentDone(), 0);  // empty range
    g.SetMaxValue(-2147483647 - 1);
    EXPECT_EQ(g.MaxValue(), 100);
    g.SetMinValue(-2147483647 - 1);
    EXPECT_EQ(g.MinValue(), -2147483647);
    g.SetMaxValue(2147483647);
    g.SetProgress(0);
    EXPECT_EQ(g.PercentDone(), 50);  // the whole 32-bit range without overflow
    g.SetMaxValue(-10);
    EXPECT_EQ(g.Progress(), -10);
    EXPECT_EQ(g.PercentDone(), 100);

    // Min = Max shows 0 % and an empty bar.
    TMMGauge e;
    MakeDialogGauge(e);
    e.SetShowText(false);
    e.SetMaxValue(0);
    e.SetProgress(40);
    EXPECT_EQ(e.PercentDone(), 0);
    const QImage img = Grab(e);
    EXPECT_EQ(img.pixel(1, 10), Rgb(clBtnFace));

    // The filled part is exact at every percentage (no floating-point pixel loss).
    for (int p = 0; p <= 100; ++p) EXPECT_EQ(TMMCustomGauge::PartOf(100, p), p);
    EXPECT_EQ(TMMCustomGauge::PartOf(204, 49), 99);
}

TEST(MMGaugeTest, VerticalBarFillsFromTheBottom) {
    TMMGauge g;
    g.resize(12, 102);  // 100 pixels inside the bevel
    g.SetKind(gkVerticalBar);
    g.SetShowText(false);
    g.SetForeColor(clRed);
    g.SetProgress(30);
    const QImage img = Grab(g);
    for (int y = 1; y <= 100; ++y)
        ASSERT_EQ(img.pixel(5, y), y > 70 ? Rgb(clRed) : Rgb(clWhite)) << y;
}

TEST(MMGaugeTest, PieGrowsClockwiseFromTheTop) {
    TMMGauge g;
    g.resize(102, 102);
    g.SetKind(gkPie);
    g.SetShowText(false);
    g.SetForeColor(clRed);
    g.SetProgress(25);
    const QImage img = Grab(g);
    EXPECT_EQ(img.pixel(70, 30), Rgb(clRed));    // upper right quarter
    EXPECT_EQ(img.pixel(30, 30), Rgb(clWhite));  // upper left
    EXPECT_EQ(img.pixel(70, 70), Rgb(clWhite));  // lower right
    EXPECT_EQ(img.pixel(2, 2), Rgb(clBtnFace));  // outside the ellipse: the control's colour
}

TEST(MMGaugeTest, SharpAtDoublePixelRatio) {
    auto render = [](TMMGauge& g) {
        QImage img(412, 40, QImage::Format_RGB32);
        img.setDevicePixelRatio(2);
        img.fill(Qt::magenta);
        g.render(&img);
        return img;
    };
    TMMGauge plain, text;
    for (TMMGauge* g : {&plain, &text}) {
        MakeDialogGauge(*g);
        g->SetProgress(49);
    }
    plain.SetShowText(false);
    const QImage a = render(plain), b = render(text);
    for (int x = 2; x < 410; ++x)
        ASSERT_EQ(a.pixel(x, 4), x < 200 ? Rgb(clActiveCaption) : Rgb(clBtnFace)) << x;
    int inverted = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 412; ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            ASSERT_EQ(b.pixel(x, y) & 0xFFFFFF, ~a.pixel(x, y) & 0xFFFFFF) << x << "," << y;
            ++inverted;
            ASSERT_TRUE(x >= 2 && x < 410 && y >= 2 && y < 38) << x << "," << y;
        }
    EXPECT_GT(inverted, 40);
}
