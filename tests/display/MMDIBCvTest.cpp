#include "display/MMDIBCv.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

// Columns of one picture row that hold the pen index, as a string of '#' and '.'.
std::string Row(const TMMDIBCanvas& c, int y, int width, uint8_t ink = 255) {
    std::string s;
    for (int x = 0; x < width; ++x) s += c.PixelIndex(x, y) == ink ? '#' : '.';
    return s;
}

// Sets every pixel to index 0 and the pen to white (index 255), inside BeginDraw.
void StartWhiteOnBlack(TMMDIBCanvas& c) {
    c.BeginDraw();
    c.SetPenValue(0);
    c.ClearSurface();
    c.SetPenColor(clWhite);
}

int CountInk(const TMMDIBCanvas& c, uint8_t ink = 255) {
    int n = 0;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) n += c.PixelIndex(x, y) == ink;
    return n;
}

}  // namespace

TEST(MMDIBCvTest, LayoutIsBottomUpWithRowsPaddedToFourBytes) {
    TMMDIBCanvas c("TMMOscope");
    c.SetBounds(0, 0, 537, 3);
    StartWhiteOnBlack(c);
    c.HLine(0, 1, 0);  // picture row 0 is the last row in memory
    c.EndDraw();
    EXPECT_EQ(c.Stride(), 540);
    EXPECT_EQ(c.Bits()[2 * 540], 255);
    EXPECT_EQ(c.Bits()[0], 0);
}

TEST(MMDIBCvTest, DashedRunsDrawFourOfEveryEightAndNothingWhenShort) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 20, 2);
    StartWhiteOnBlack(c);
    c.DashHLine(0, 10, 0);
    c.DashHLine(0, 3, 1);
    c.EndDraw();
    EXPECT_EQ(Row(c, 0, 20), "####....##..........");
    EXPECT_EQ(Row(c, 1, 20), "....................");
}

TEST(MMDIBCvTest, DashedRunCountsFromTheClippedStart) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 12, 1);
    StartWhiteOnBlack(c);
    c.DashHLine(-6, 12, 0);  // clipped to 0..12: the pattern restarts at column 0
    c.EndDraw();
    EXPECT_EQ(Row(c, 0, 12), "####....####");
}

TEST(MMDIBCvTest, LineToDrawsItsStartAndLeavesOutItsEnd) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 8, 8);
    StartWhiteOnBlack(c);
    c.MoveTo(0, 5);
    c.LineTo(4, 5);
    c.MoveTo(3, 0);
    c.LineTo(3, 0);
    c.EndDraw();
    EXPECT_EQ(Row(c, 5, 8), "####....");
    EXPECT_EQ(Row(c, 0, 8), "........");
    EXPECT_EQ(CountInk(c), 4);
}

TEST(MMDIBCvTest, PolylineDrawsEveryJointOnce) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 10, 10);
    StartWhiteOnBlack(c);
    c.MoveTo(0, 0);
    c.LineTo(3, 6);  // steep: 6 pixels
    c.LineTo(9, 2);  // shallow: 6 pixels
    c.EndDraw();
    EXPECT_EQ(CountInk(c), 12);
    EXPECT_EQ(c.PixelIndex(0, 0), 255);
    EXPECT_EQ(c.PixelIndex(3, 6), 255);  // the joint, drawn by the second line
    EXPECT_EQ(c.PixelIndex(9, 2), 0);    // the polyline's end is left out
}

TEST(MMDIBCvTest, BresenhamStepsMatchTheIntegerErrorRule) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 6, 4);
    StartWhiteOnBlack(c);
    c.MoveTo(0, 0);
    c.LineTo(5, 2);  // d = 5, m = 2, e = -1, 3, -1, 3, -1
    c.EndDraw();
    EXPECT_EQ(Row(c, 0, 6), "##....");
    EXPECT_EQ(Row(c, 1, 6), "..##..");
    EXPECT_EQ(Row(c, 2, 6), "....#.");
}

TEST(MMDIBCvTest, LineClippedAtTheBottomEndsAtTheExcludedEdgeRow) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 20, 100);
    StartWhiteOnBlack(c);
    c.MoveTo(2, 10);
    c.LineTo(12, 300);
    c.EndDraw();
    int top = 100, bottom = -1, lastX = -1;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 20; ++x)
            if (c.PixelIndex(x, y) == 255) {
                top = std::min(top, y);
                if (y > bottom) { bottom = y; lastX = x; }
            }
    EXPECT_EQ(top, 10);
    EXPECT_EQ(bottom, 98);  // the clipped end (6, 99) is the excluded end
    EXPECT_LE(lastX, 6);
    EXPECT_EQ(CountInk(c), 89);
}

TEST(MMDIBCvTest, LinesWhollyOutsideOrAcrossTheClipAreHandled) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 10, 10);
    StartWhiteOnBlack(c);
    c.MoveTo(-5, -5);
    c.LineTo(-1, 20);  // both ends left of the surface
    EXPECT_EQ(CountInk(c), 0);
    c.MoveTo(-32767, 5);
    c.LineTo(32767, 5);  // clipped onto the last column, which is then the excluded end
    c.EndDraw();
    EXPECT_EQ(Row(c, 5, 10), "#########.");
}

TEST(MMDIBCvTest, RunsOrderTheirEndsAndClip) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 10, 10);
    StartWhiteOnBlack(c);
    c.HLine(-10, 5, 0);
    c.HLine(5, -10, 1);
    c.HLine(3, 3, 2);     // empty run
    c.HLine(0, 10, 10);   // row outside
    c.VLine(9, 12, 7);    // rows 7..9
    c.VLine(-1, 0, 10);   // column outside
    c.EndDraw();
    EXPECT_EQ(Row(c, 0, 10), "#####.....");
    EXPECT_EQ(Row(c, 1, 10), "#####.....");
    EXPECT_EQ(Row(c, 2, 10), "..........");
    EXPECT_EQ(Row(c, 6, 10), "..........");
    EXPECT_EQ(Row(c, 7, 10), ".........#");
    EXPECT_EQ(Row(c, 9, 10), ".........#");
}

TEST(MMDIBCvTest, PenColoursMapToTheNearestStaticEntry) {
    TMMDIBCanvas c("T");
    EXPECT_EQ(c.SurfaceColor(clGray), 248u);
    EXPECT_EQ(c.SurfaceColor(0x808001), 6u);
    EXPECT_EQ(c.SurfaceColor(clBlack), 0u);
    EXPECT_EQ(c.SurfaceColor(clLime), 250u);
    EXPECT_EQ(c.SurfaceColor(clRed), 249u);
    EXPECT_EQ(c.SurfaceColor(clNavy), 4u);
    EXPECT_EQ(c.SurfaceColor(clMaroon), 1u);
    EXPECT_EQ(c.SurfaceColor(clTeal), 6u);
    EXPECT_EQ(c.Palette()[246], qRgb(255, 251, 240));
    EXPECT_EQ(c.Palette()[100], qRgb(0, 0, 0));
    c.SetBitsPerPixel(24);
    EXPECT_EQ(c.SurfaceColor(0x808001), 0x808001u);
}

TEST(MMDIBCvTest, ZeroSizeBuildsOnePixelAndClipsEverything) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 0, 0);
    StartWhiteOnBlack(c);
    c.HLine(0, 5, 0);
    c.VLine(0, 0, 5);
    c.MoveTo(0, 0);
    c.LineTo(5, 5);
    c.DashHLine(0, 8, 0);
    c.EndDraw();
    EXPECT_EQ(c.Stride(), 4);
    EXPECT_EQ(c.Bits()[0], 0);
}

TEST(MMDIBCvTest, DepthErrorsKeepTheOldDepth) {
    TMMDIBCanvas c("TMMOscope");
    try {
        c.SetBitsPerPixel(16);
        FAIL() << "16 bits accepted";
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "Bitlength not supported yet");
    }
    EXPECT_EQ(c.BitsPerPixel(), 8);
    c.BeginDraw();
    try {
        c.SetBitsPerPixel(24);
        FAIL() << "rebuilt while drawing";
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "TMMOscope: Attempt to create new DIB while initialized for drawing");
    }
    c.EndDraw();
    EXPECT_EQ(c.BitsPerPixel(), 8);
}

TEST(MMDIBCvTest, TwentyFourBitPixelsAreBlueGreenRed) {
    TMMDIBCanvas c("T");
    c.SetBitsPerPixel(24);
    c.SetBounds(0, 0, 3, 1);
    c.BeginDraw();
    c.SetPenColor(RGBColor(10, 20, 30));
    c.ClearSurface();
    c.EndDraw();
    EXPECT_EQ(c.Stride(), 12);
    EXPECT_EQ(c.Bits()[0], 30);
    EXPECT_EQ(c.Bits()[2], 10);
    EXPECT_EQ(c.Pixel(2, 0), RGBColor(10, 20, 30));
}

TEST(MMDIBCvTest, CopyToDeviceShowsThePictureTopDown) {
    TMMDIBCanvas c("T");
    c.SetBounds(0, 0, 4, 3);
    c.BeginDraw();
    c.SetPenColor(clBlack);
    c.ClearSurface();
    c.SetPenColor(clRed);
    c.HLine(0, 4, 0);
    c.SetPenColor(clLime);
    c.VLine(3, 0, 3);
    c.EndDraw();
    QImage screen(6, 5, QImage::Format_RGB32);
    screen.fill(Qt::blue);
    QPainter p(&screen);
    c.CopyToDevice(&p, 1, 1, 4, 3, 0, 0);
    c.CopyToDevice(nullptr, 0, 0, 4, 3, 0, 0);
    p.end();
    EXPECT_EQ(screen.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(screen.pixel(4, 1), qRgb(0, 255, 0));
    EXPECT_EQ(screen.pixel(4, 3), qRgb(0, 255, 0));
    EXPECT_EQ(screen.pixel(1, 3), qRgb(0, 0, 0));
    EXPECT_EQ(screen.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(screen.pixel(5, 4), qRgb(0, 0, 255));
}

TEST(MMDIBCvTest, DrawingIsSerialisedAcrossThreads) {
    TMMDIBCanvas a("T"), b("T");
    a.BeginDraw();
    std::mutex m;
    std::condition_variable cv;
    bool started = false, entered = false;
    std::thread other([&] {
        {
            std::lock_guard<std::mutex> lock(m);
            started = true;
        }
        cv.notify_all();
        b.BeginDraw();
        {
            std::lock_guard<std::mutex> lock(m);
            entered = true;
        }
        cv.notify_all();
        b.EndDraw();
    });
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return started; });
    // The other thread is on its way into BeginDraw: without the lock it would get there at once.
    EXPECT_FALSE(cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return entered; }));
    lock.unlock();
    a.EndDraw();
    lock.lock();
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return entered; }));
    lock.unlock();
    other.join();
}
