#include "display/MMPanel.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

namespace {

QRgb Rgb(TColor c) { return MMColor(c).rgb(); }

QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// A status cell of the main window: a face-coloured band and a lowered inner bevel.
void MakeStatusCell(TMMPanel& p, int w, int h) {
    p.resize(w, h);
    p.Bevel()->SetBevelOuter(bvNone);
    p.Bevel()->SetBevelInner(bvLowered);
    p.Bevel()->SetBorderWidth(1);
    p.SetAlignment(taLeftJustify);
}

// Bounding box of the pixels inside `area` that differ from `background`.
QRect Ink(const QImage& img, const QRect& area, QRgb background) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

TEST(MMPanelTest, StatusCellFrameAndLeftCaption) {
    TMMPanel cell;
    MakeStatusCell(cell, 69, 24);
    EXPECT_EQ(cell.BevelExtent(), 2);
    EXPECT_EQ(Ink(Grab(cell), QRect(2, 2, 65, 20), Rgb(clBtnFace)), QRect());  // no caption, no ink

    cell.SetCaption("0:00.000");
    const QImage img = Grab(cell);
    EXPECT_EQ(img.pixel(0, 0), Rgb(clBtnFace));  // the band
    EXPECT_EQ(img.pixel(68, 23), Rgb(clBtnFace));
    EXPECT_EQ(img.pixel(1, 1), Rgb(clBtnShadow));  // lowered: shadow on top and left
    EXPECT_EQ(img.pixel(1, 22), Rgb(clBtnHighlight));
    EXPECT_EQ(img.pixel(67, 1), Rgb(clBtnHighlight));
    EXPECT_EQ(img.pixel(67, 22), Rgb(clBtnHighlight));

    const QRect ink = Ink(img, QRect(2, 2, 65, 20), Rgb(clBtnFace));
    ASSERT_TRUE(ink.isValid());
    EXPECT_GE(ink.left(), 2);
    EXPECT_LE(ink.left(), 4);  // the glyph's own side bearing at most
    // Vertically centred on the height of "W": the line is (2 + 22 - h) div 2 down.
    const int h = QFontMetrics(cell.font()).height();
    const int top = (2 + 22 - h) / 2;
    EXPECT_GE(ink.top(), top);
    EXPECT_LE(ink.bottom(), top + h - 1);
}

TEST(MMPanelTest, CaptionAlignmentsAndColour) {
    TMMPanel p;
    p.resize(120, 30);
    p.SetCaption("Kb");
    p.SetFontColor(clRed);
    const QRect inner(1, 1, 118, 28);

    const QRect centred = Ink(Grab(p), inner, Rgb(clBtnFace));
    ASSERT_TRUE(centred.isValid());
    EXPECT_NEAR((centred.left() + centred.right()) / 2.0, 59.5, 2.0);

    p.SetAlignment(taRightJustify);
    const QImage img = Grab(p);
    const QRect right = Ink(img, inner, Rgb(clBtnFace));
    EXPECT_LE(right.right(), 118);
    EXPECT_GE(right.right(), 115);
    bool red = false;
    for (int y = right.top(); y <= right.bottom(); ++y)
        for (int x = right.left(); x <= right.right(); ++x)  // smoothed text: the darkest is red
            red |= qRed(img.pixel(x, y)) > 180 && qGreen(img.pixel(x, y)) < 100;
    EXPECT_TRUE(red);

    // A second line is clipped away: the caption keeps to the one line of text.
    p.SetCaption("Kb\nKb\nKb");
    const QRect clipped = Ink(Grab(p), inner, Rgb(clBtnFace));
    EXPECT_EQ(clipped.height(), right.height());
}

TEST(MMPanelTest, ColourFillsEverythingInsideThePaintedRings) {
    TMMPanel p;
    p.resize(20, 16);
    p.SetColor(clBlack);
    p.Bevel()->SetBevelOuter(bvSpace);
    p.Bevel()->SetBevelOuterWidth(3);
    const QImage img = Grab(p);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(img.pixel(x, y), qRgb(0, 0, 0)) << x << "," << y;
}
