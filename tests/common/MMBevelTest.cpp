#include "common/MMControls.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <limits>
#include <string>
#include <vector>

namespace {

constexpr QRgb kUntouched = 0xFF123456;

QRgb Rgb(TColor c) { return MMColor(c).rgb(); }

// One ring outline as the drawing rule states it, independent of the code under test.
struct Ring {
    QRgb top, bottom;
};

// The picture a stack of one-pixel outlines (from the outside in) must give inside w x h,
// starting at offset `first` (rings before it draw nothing).
QImage Expected(int w, int h, int first, const std::vector<Ring>& rings) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kUntouched);
    for (size_t i = 0; i < rings.size(); ++i) {
        const int l = first + int(i), t = l, r = w - 1 - l, b = h - 1 - l;
        for (int y = t; y <= b; ++y)
            for (int x = l; x <= r; ++x) {
                if (x != l && x != r && y != t && y != b) continue;
                img.setPixel(x, y, (x == r || y == b) ? rings[i].bottom : rings[i].top);
            }
    }
    return img;
}

QImage Paint(const TMMBevel& bevel, int w, int h, bool fill, QRect* inner) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kUntouched);
    QPainter p(&img);
    *inner = bevel.PaintBevel(p, QRect(0, 0, w, h), fill);
    return img;
}

void ExpectSame(const QImage& got, const QImage& want) {
    ASSERT_EQ(got.size(), want.size());
    int bad = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x)
            if (got.pixel(x, y) != want.pixel(x, y) && ++bad <= 5)
                ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << std::hex << got.pixel(x, y)
                              << ", expected " << want.pixel(x, y);
    EXPECT_EQ(bad, 0);
}

}  // namespace

TEST(MMBevelTest, EveryRingInItsColoursWithTheCornersOfTheRule) {
    TMMBevel b;
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuter(bvRaised);
    b.SetBevelOuterWidth(2);
    b.SetOuterLightColor(clRed);
    b.SetOuterShadowColor(clGreen);
    b.SetBorderWidth(1);
    b.SetBorderColor(clBlue);
    b.SetBevelInner(bvLowered);
    b.SetInnerShadowColor(clYellow);
    b.SetInnerLightColor(clAqua);
    b.SetBorderSpace(2);
    b.SetBorderSpaceColor(clFuchsia);
    EXPECT_EQ(b.TotalWidth(), 7);

    QRect inner;
    const QImage got = Paint(b, 21, 17, true, &inner);
    const QRgb black = qRgb(0, 0, 0);
    ExpectSame(got, Expected(21, 17, 0,
                             {{black, black},
                              {Rgb(clRed), Rgb(clGreen)},  // raised: light on top
                              {Rgb(clRed), Rgb(clGreen)},
                              {Rgb(clBlue), Rgb(clBlue)},
                              {Rgb(clYellow), Rgb(clAqua)},  // lowered: shadow on top
                              {Rgb(clFuchsia), Rgb(clFuchsia)},
                              {Rgb(clFuchsia), Rgb(clFuchsia)}}));
    EXPECT_EQ(inner, QRect(7, 7, 7, 3));
}

TEST(MMBevelTest, DefaultsDrawALoweredClassicFrame) {
    TMMBevel b;
    EXPECT_EQ(b.TotalWidth(), 1);
    QRect inner;
    const QImage got = Paint(b, 6, 5, true, &inner);
    EXPECT_EQ(Rgb(clBtnShadow), qRgb(128, 128, 128));
    EXPECT_EQ(Rgb(clBtnHighlight), qRgb(255, 255, 255));
    ExpectSame(got, Expected(6, 5, 0, {{Rgb(clBtnShadow), Rgb(clBtnHighlight)}}));
    EXPECT_EQ(inner, QRect(1, 1, 4, 3));

    // The status cells: a band in the face colour, then a lowered inner bevel.
    b.SetBevelOuter(bvNone);
    b.SetBevelInner(bvLowered);
    b.SetBorderWidth(1);
    EXPECT_EQ(b.TotalWidth(), 2);
    const QImage cell = Paint(b, 8, 6, true, &inner);
    ExpectSame(cell, Expected(8, 6, 0, {{Rgb(clBtnFace), Rgb(clBtnFace)}, {Rgb(clBtnShadow), Rgb(clBtnHighlight)}}));
    EXPECT_EQ(inner, QRect(2, 2, 4, 2));
}

TEST(MMBevelTest, SpaceBevelAddsWidthButPaintsAndShrinksNothing) {
    TMMBevel b;
    b.SetBevelOuter(bvSpace);
    b.SetBevelOuterWidth(4);
    b.SetBorderWidth(1);
    b.SetBorderColor(clRed);
    EXPECT_EQ(b.TotalWidth(), 5);
    QRect inner;
    const QImage got = Paint(b, 12, 10, true, &inner);
    // The band is the outermost ring: nothing was drawn or skipped for the space bevel.
    ExpectSame(got, Expected(12, 10, 0, {{Rgb(clRed), Rgb(clRed)}}));
    EXPECT_EQ(inner, QRect(1, 1, 10, 8));

    b.SetBevelOuter(bvNone);
    b.SetBevelInner(bvSpace);
    b.SetBevelInnerWidth(3);
    EXPECT_EQ(b.TotalWidth(), 4);
    Paint(b, 12, 10, true, &inner);
    EXPECT_EQ(inner, QRect(1, 1, 10, 8));
}

TEST(MMBevelTest, UnfilledBorderBandIsSkippedNotPainted) {
    TMMBevel b;
    b.SetBevelOuter(bvRaised);
    b.SetBorderWidth(2);
    b.SetBorderColor(clRed);
    b.SetBevelInner(bvLowered);
    QRect inner;
    const QImage got = Paint(b, 12, 12, false, &inner);
    QImage want = Expected(12, 12, 0, {{Rgb(clBtnHighlight), Rgb(clBtnShadow)}});
    const QImage innerRing = Expected(12, 12, 3, {{Rgb(clBtnShadow), Rgb(clBtnHighlight)}});
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            if (innerRing.pixel(x, y) != kUntouched) want.setPixel(x, y, innerRing.pixel(x, y));
    ExpectSame(got, want);
    EXPECT_EQ(inner, QRect(4, 4, 4, 4));
}

TEST(MMBevelTest, FrameWiderThanTheRectangleStaysInside) {
    TMMBevel b;
    b.SetBevelOuter(bvNone);
    b.SetBorderWidth(1000000000);
    b.SetBorderColor(clRed);
    QRect inner;
    const QImage got = Paint(b, 5, 4, true, &inner);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(got.pixel(x, y), Rgb(clRed)) << x << "," << y;
    EXPECT_LE(inner.width(), 0);
    EXPECT_LE(inner.height(), 0);

    // Every width at its largest: the total saturates instead of wrapping to a negative.
    const int most = std::numeric_limits<int>::max();
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuter(bvRaised);
    b.SetBevelInner(bvLowered);
    for (auto set : {&TMMBevel::SetBevelOuterWidth, &TMMBevel::SetBevelInnerWidth, &TMMBevel::SetBorderWidth,
                     &TMMBevel::SetBorderSpace})
        (b.*set)(most);
    EXPECT_EQ(b.TotalWidth(), most);
    const QImage full = Paint(b, 5, 4, true, &inner);
    EXPECT_EQ(full.pixel(0, 0), qRgb(0, 0, 0));  // the single line is still the outer ring
    EXPECT_LE(inner.width(), 0);
}

TEST(MMBevelTest, SettersClampAndNotifyOnlyOnChange) {
    TMMBevel b;
    int changes = 0;
    b.OnChange = [&](TMMBevel* sender) {
        EXPECT_EQ(sender, &b);
        ++changes;
    };
    b.SetBorderWidth(0);  // the current value
    b.SetBevelOuter(bvLowered);
    b.SetBorderColor(clBtnFace);
    EXPECT_EQ(changes, 0);

    b.SetBorderWidth(-3);
    EXPECT_EQ(b.BorderWidth(), 0);
    EXPECT_EQ(changes, 0);
    b.SetBevelOuterWidth(0);
    b.SetBevelInnerWidth(-1);
    b.SetBorderSpace(-1);
    EXPECT_EQ(b.BevelOuterWidth(), 1);
    EXPECT_EQ(b.BevelInnerWidth(), 1);
    EXPECT_EQ(b.BorderSpace(), 0);
    EXPECT_EQ(changes, 0);

    b.SetBorderWidth(3);
    EXPECT_EQ(changes, 1);

    b.BeginUpdate();
    b.SetBorderWidth(4);
    b.SetBorderStyle(bsSingle);
    EXPECT_EQ(changes, 1);
    b.EndUpdate();
    EXPECT_EQ(changes, 2);
}

TEST(MMBevelTest, AssignCopiesEverythingAndNotifiesOnce) {
    TMMBevel src;
    src.SetBevelOuter(bvRaised);
    src.SetBevelInner(bvLowered);
    src.SetBevelOuterWidth(2);
    src.SetBevelInnerWidth(3);
    src.SetBorderStyle(bsSingle);
    src.SetBorderWidth(4);
    src.SetBorderSpace(5);
    src.SetBorderColor(clRed);
    src.SetBorderSpaceColor(clWhite);
    src.SetInnerLightColor(clLime);
    src.SetOuterLightColor(clYellow);
    src.SetInnerShadowColor(clNavy);
    src.SetOuterShadowColor(clMaroon);

    TMMBevel dst;
    std::string events;
    dst.OnChanging = {[&](void*, TMMObject*) { events += "<"; }, nullptr};
    dst.OnChange = [&](TMMBevel*) { events += "!"; };
    dst.Assign(src);
    EXPECT_EQ(events, "<!");
    EXPECT_EQ(dst.BevelOuter(), bvRaised);
    EXPECT_EQ(dst.BevelInner(), bvLowered);
    EXPECT_EQ(dst.BevelOuterWidth(), 2);
    EXPECT_EQ(dst.BevelInnerWidth(), 3);
    EXPECT_EQ(dst.BorderStyle(), bsSingle);
    EXPECT_EQ(dst.BorderWidth(), 4);
    EXPECT_EQ(dst.BorderSpace(), 5);
    EXPECT_EQ(dst.BorderColor(), clRed);
    EXPECT_EQ(dst.BorderSpaceColor(), clWhite);
    EXPECT_EQ(dst.InnerLightColor(), clLime);
    EXPECT_EQ(dst.OuterLightColor(), clYellow);
    EXPECT_EQ(dst.InnerShadowColor(), clNavy);
    EXPECT_EQ(dst.OuterShadowColor(), clMaroon);
    EXPECT_EQ(dst.TotalWidth(), 2 + 3 + 4 + 5 + 1);
}
