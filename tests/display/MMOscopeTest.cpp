#include "display/MMOscope.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <memory>
#include <vector>

namespace {

// A shown parent with one empty-bevelled view of the given size, as the main window sets them.
struct ViewFixture {
    QWidget parent;
    TMMOscope* view;
    int postPaints = 0;

    ViewFixture(int width, int height, TMMOscopeKind kind) {
        parent.resize(width + 20, height + 20);
        view = new TMMOscope(&parent);
        view->Bevel()->SetBevelOuter(bvNone);
        view->SetBounds(0, 0, width, height);
        view->SetKind(kind);
        view->SetForegroundColor(clLime);
        view->SetInactiveColor(clGreen);
        view->OnPostPaint = [this](QObject*) { ++postPaints; };
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
    }

    uint8_t Index(TColor c) const { return uint8_t(view->DIBCanvas()->SurfaceColor(c)); }
    uint8_t At(int x, int y) const { return view->DIBCanvas()->PixelIndex(x, y); }
    // Rows of column x that are not background.
    std::vector<int> InkRows(int x) const {
        std::vector<int> rows;
        for (int y = 0; y < view->AreaHeight(); ++y)
            if (At(x, y) != 0) rows.push_back(y);
        return rows;
    }
};

std::vector<uint8_t> Stereo16(int frames, int16_t left, int16_t right) {
    std::vector<uint8_t> b;
    for (int i = 0; i < frames; ++i)
        for (int16_t s : {left, right}) {
            b.push_back(uint8_t(s));
            b.push_back(uint8_t(uint16_t(s) >> 8));
        }
    return b;
}

}  // namespace

TEST(MMOscopeTest, BlockSizeFollowsFrameWidthAndZoom) {
    EXPECT_EQ(OscopePCMBlockSize(mMono, b8Bit, 537, 1), 537);
    EXPECT_EQ(OscopePCMBlockSize(mStereo, b8Bit, 537, 1), 1074);
    EXPECT_EQ(OscopePCMBlockSize(mMono, b16Bit, 537, 1), 1074);
    EXPECT_EQ(OscopePCMBlockSize(mStereo, b16Bit, 537, 2), 4296);
    EXPECT_EQ(OscopePCMBlockSize(mStereo, b16Bit, 537, -2), (2148 / 3 + 5) / 4 * 4);
    ViewFixture f(537, 237, okConLines);
    f.view->SetMode(mStereo);
    f.view->SetBitLength(b16Bit);
    EXPECT_EQ(f.view->PCMBlockSize(), 2148);
    f.view->SetZoom(0);   // ignored
    f.view->SetZoom(40);  // clamped to 9
    EXPECT_EQ(f.view->Zoom(), 9);
}

TEST(MMOscopeTest, LevelsFromEveryLayout) {
    int16_t v[2];
    const uint8_t stereo8[] = {0, 1, 0, 1};
    OscopeLevels(stereo8, 2, mStereo, b8Bit, chLeft, 1, false, v);
    EXPECT_EQ(v[0], -32768);
    const uint8_t both8[] = {255, 0, 255, 0};
    OscopeLevels(both8, 1, mStereo, b8Bit, chBoth, 1, false, v);
    EXPECT_EQ(v[0], (127 - 128) * 256);  // average taken unsigned, rounded down
    auto s16 = Stereo16(2, -3, 0);
    OscopeLevels(s16.data(), 2, mStereo, b16Bit, chBoth, 1, false, v);
    EXPECT_EQ(v[0], -1);  // toward zero
    OscopeLevels(s16.data(), 1, mStereo, b16Bit, chRight, 1, false, v);
    EXPECT_EQ(v[0], 0);
    const uint8_t mono8[] = {128, 200};
    OscopeLevels(mono8, 2, mMono, b8Bit, chRight, 1, false, v);  // channel ignored in mono
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 72 * 256);
    const uint8_t mono16[] = {0x00, 0x80, 0x00, 0x40, 0x00, 0x00};
    OscopeLevels(mono16, 2, mMono, b16Bit, chBoth, 2, false, v);  // zoom 2: frames 0 and 2
    EXPECT_EQ(v[0], -32768);
    EXPECT_EQ(v[1], 0);
    OscopeLevels(mono16, 2, mMono, b16Bit, chBoth, 1, true, v);  // low pass from the raw previous level
    EXPECT_EQ(v[0], (0 + 3 * -32768) / 4);
    EXPECT_EQ(v[1], (-32768 + 3 * 16384) / 4);
}

TEST(MMOscopeTest, SilenceLiesOnTheMidRow) {
    ViewFixture f(537, 237, okConLines);
    f.view->SetMode(mStereo);
    f.view->SetBitLength(b16Bit);
    f.view->SetChannel(chLeft);
    auto block = Stereo16(537, 0, 0);
    f.view->DrawPCMBlock(block.data());
    for (int x : {0, 100, 535}) EXPECT_EQ(f.InkRows(x), std::vector<int>{118}) << x;
    // The closing line to column 537 is clipped onto the last column, its excluded end.
    EXPECT_TRUE(f.InkRows(536).empty());

    ViewFixture m(537, 28, okMirLines);
    m.view->SetMode(mStereo);
    m.view->SetBitLength(b16Bit);
    m.view->DrawPCMBlock(block.data());
    // One pixel per column on row 13, over the two-row axis on rows 13 and 14.
    EXPECT_EQ(m.InkRows(10), (std::vector<int>{13, 14}));
    EXPECT_EQ(m.view->MidRow(), 14);
}

TEST(MMOscopeTest, FullScaleLevelsReachTheEdgesAndWarn) {
    ViewFixture f(20, 100, okMirLines);
    f.view->SetBitLength(b16Bit);
    int pcm = 0;
    f.view->OnPcmOverflow = [&](QObject*) { ++pcm; };
    std::vector<uint8_t> block;
    for (int i = 0; i < 20; ++i) {
        block.push_back(i % 2 ? 0x00 : 0xFF);
        block.push_back(i % 2 ? 0x80 : 0x7F);
    }
    f.view->DrawPCMBlock(block.data());
    EXPECT_EQ(pcm, 10);  // every 32767
    // -32768 maps to y 0, row 99: the mirrored line covers rows 0..98.
    EXPECT_EQ(f.InkRows(1).front(), 0);
    EXPECT_EQ(f.InkRows(1).back(), 98);
}

TEST(MMOscopeTest, ActiveRangeColoursConLines) {
    ViewFixture f(10, 20, okConLines);
    f.view->SetBitLength(b8Bit);
    const std::vector<uint8_t> block(10, 128);
    f.view->SetActiveRange(3, 6, false);
    f.view->DrawPCMBlock(block.data());
    const int row = f.InkRows(0).front();
    // The segment ending at x is active when 3 < x <= 6: pixels 3..5 (x-1 of each segment).
    std::string colours;
    for (int x = 0; x < 10; ++x) colours += f.At(x, row) == f.Index(clLime) ? 'F' : 'i';
    EXPECT_EQ(colours, "iiiFFFiiii");
}

TEST(MMOscopeTest, ActiveRangeClampsAndSortsNothing) {
    ViewFixture f(537, 28, okMirLines);
    const std::vector<uint8_t> block(537, 128);
    f.view->SetActiveRange(-5, 10000, false);
    EXPECT_EQ(f.view->ActiveStart(), -1);
    EXPECT_EQ(f.view->ActiveEnd(), 537);
    f.view->DrawPCMBlock(block.data());
    for (int x : {0, 268, 536}) EXPECT_EQ(f.At(x, 13), f.Index(clLime));

    f.view->SetActiveRange(300, 100, true);  // start after end: all inactive, axis included
    for (int x : {0, 150, 299, 300, 536}) {
        EXPECT_EQ(f.At(x, 13), f.Index(clGreen)) << x;
        EXPECT_EQ(f.At(x, 14), f.Index(clGreen)) << x;
    }
}

TEST(MMOscopeTest, RepaintFlagRepaintsEvenWithoutChange) {
    ViewFixture f(100, 30, okMirLines);
    const int before = f.postPaints;
    f.view->SetActiveRange(f.view->ActiveStart(), f.view->ActiveEnd(), true);
    EXPECT_EQ(f.postPaints, before + 1);
    f.view->SetActiveRange(5, 6, false);
    EXPECT_EQ(f.postPaints, before + 1);
}

TEST(MMOscopeTest, StepsThreeDrawsToEveryThirdColumnAndClipsTheClosingLine) {
    ViewFixture f(10, 40, okConLines);
    f.view->SetSteps(3);
    f.view->SetBitLength(b8Bit);
    // Levels alternate so that each segment's start is visible on its own row.
    std::vector<uint8_t> block = {128, 0, 0, 255, 0, 0, 128, 0, 0, 0};
    f.view->DrawPCMBlock(block.data());
    const int mid = 40 - (32767 * 40 / 65535) - 1;
    const int top = 40 - ((127 * 256 + 32767) * 40 / 65535) - 1;
    const int bottom = 40 - ((-128 * 256 + 32767) * 40 / 65535) - 1;
    EXPECT_EQ(f.At(0, mid), f.Index(clLime));
    EXPECT_EQ(f.At(3, top), f.Index(clLime));
    EXPECT_EQ(f.At(6, mid), f.Index(clLime));
    // The steep last segment 6 -> 9 reaches column 9 but leaves out its end (9, bottom); the
    // closing line to 12 is clipped onto that end and draws nothing either.
    EXPECT_EQ(f.At(9, bottom - 1), f.Index(clLime));
    EXPECT_EQ(f.At(9, bottom), 0);
}

TEST(MMOscopeTest, HiddenViewKeepsItsBufferAndPaintsItWhenShown) {
    ViewFixture f(50, 30, okMirLines);
    f.view->SetBitLength(b16Bit);
    auto loud = std::vector<uint8_t>(100, 0);
    for (int i = 0; i < 50; ++i) loud[size_t(2 * i + 1)] = 0x40;
    f.view->DrawPCMBlock(loud.data());
    const std::vector<int16_t> levels(f.view->Levels().begin(), f.view->Levels().begin() + 50);
    f.view->hide();
    const std::vector<uint8_t> silence(100, 0);
    f.view->DrawPCMBlock(silence.data());
    EXPECT_TRUE(std::equal(levels.begin(), levels.end(), f.view->Levels().begin()));
    f.view->show();
    f.view->repaint();
    EXPECT_GT(f.InkRows(5).size(), 2u);
}

TEST(MMOscopeTest, DisabledViewDrawsOnlyTheDisabledMark) {
    ViewFixture f(30, 20, okConLines);
    f.view->SetDisabledColor(clGray);
    f.view->SetEnabled(false);
    const std::vector<uint8_t> block(30, 0);
    f.view->DrawPCMBlock(block.data());  // dropped
    EXPECT_EQ(f.view->Levels()[0], 0);
    f.view->repaint();
    for (int x = 0; x < 30; ++x)
        EXPECT_EQ(f.At(x, 10), (x >= 5 && x < 25) ? f.Index(clGray) : 0) << x;
}

TEST(MMOscopeTest, PostPaintDrawsOverTheFreshPictureAndTheNextFrameWipesIt) {
    ViewFixture f(40, 20, okMirLines);
    f.view->OnPostPaint = [&](QObject*) {
        QPainter* c = f.view->Canvas();
        ASSERT_NE(c, nullptr);
        c->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        c->setPen(Qt::white);
        c->drawLine(7, 0, 7, 19);
    };
    f.view->ResetDisplay();
    const QImage shown = f.view->ScreenImage();
    EXPECT_EQ(shown.pixel(7, 0), qRgb(255, 255, 255));  // black inverted
    EXPECT_EQ(shown.pixel(8, 0), qRgb(0, 0, 0));
    f.view->OnPostPaint = nullptr;
    f.view->ResetDisplay();
    EXPECT_EQ(f.view->ScreenImage().pixel(7, 0), qRgb(0, 0, 0));
}

// The owner's move handler chooses the pointer: whatever it sets stands after the move.
TEST(MMOscopeTest, MoveLeavesTheCursorTheOwnerChose) {
    ViewFixture f(40, 20, okMirLines);
    QPixmap pix(8, 8);
    pix.fill(Qt::white);
    QCursor chosen;
    f.view->OnMouseMove = [&](QObject*, Qt::MouseButtons, Qt::KeyboardModifiers, int, int) { f.view->setCursor(chosen); };
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    for (const QCursor& c : {QCursor(pix), QCursor(Qt::WaitCursor), QCursor(Qt::ArrowCursor)}) {
        chosen = c;
        QCoreApplication::sendEvent(f.view, &move);
        EXPECT_EQ(f.view->cursor().shape(), c.shape());
    }
}

TEST(MMOscopeTest, LayoutKeepsAtLeastFourColumnsAndZeroesTheBuffer) {
    ViewFixture f(100, 30, okMirLines);
    f.view->SetBitLength(b16Bit);
    const std::vector<uint8_t> loud(200, 0x40);
    f.view->DrawPCMBlock(loud.data());
    f.view->SetBounds(0, 0, 1, 1);
    EXPECT_EQ(f.view->ColumnCount(), 4);
    EXPECT_EQ(f.view->AreaHeight(), 4);
    EXPECT_EQ(f.view->Levels()[0], 0);
    EXPECT_EQ(f.view->ActiveEnd(), 4);
}
