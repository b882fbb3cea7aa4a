// Mouse selection on the loaded views, driven with QTest: boundary clicks and drags in the
// detail views, the inverting lines, and the overview band with its zoom.
//
// The file has 537 000 frames of 16-bit stereo: at full view one detail column is 1000 frames
// (the maximum zoom), and so is one overview column (OverviewStep).
#include "EditorTestUtil.h"

#include "app/WaveViewData.h"
#include "display/MMPanel.h"

#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

namespace {

using namespace editortest;

class SelectionTest : public EditorTest {
protected:
    TFrmTessivo* load() {
        const std::string wav = dir_.file("in.wav");
        writeWav(wav, 537000);
        TFrmTessivo* w = open(wav);
        EXPECT_TRUE(w->State().Loaded) << messages();
        EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), 1000);
        EXPECT_EQ(w->State().OverviewStep, 1000);
        return w;
    }
    static void press(QWidget* v, int x, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mousePress(v, b, {}, QPoint(x, 5));
    }
    static void release(QWidget* v, int x, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mouseRelease(v, b, {}, QPoint(x, 5));
    }
    static void move(QWidget* v, int x) { QTest::mouseMove(v, QPoint(x, 5)); }
};

// The boundary cursor over a selection line of the detail views and the zoom cursor over the
// overview are what the pointer shows once the move is done.
TEST_F(SelectionTest, TheWindowsCursorsStandAfterAMove) {
    TFrmTessivo* w = load();
    auto* detail = w->Control<TMMOscope>("Oscope1");
    auto* overview = w->Control<TMMOscope>("Oscope3");
    const QImage mark = w->ScreenCursor(1).pixmap().toImage(), zoom = w->ScreenCursor(2).pixmap().toImage();
    ASSERT_FALSE(mark.isNull() || zoom.isNull() || mark == zoom);
    move(detail, 3);  // within 5 pixels of the start line at column 0
    EXPECT_EQ(detail->cursor().pixmap().toImage(), mark);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope2")->cursor().pixmap().toImage(), mark);
    move(detail, 200);
    EXPECT_EQ(detail->cursor().shape(), Qt::ArrowCursor);
    move(overview, 50);
    EXPECT_EQ(overview->cursor().pixmap().toImage(), zoom);
}

TEST_F(SelectionTest, ClicksSetTheBoundariesAndDrawInvertedLines) {
    TFrmTessivo* w = load();
    EXPECT_EQ(w->State().SelStart, 0);
    EXPECT_EQ(w->State().SelEnd, 537000);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->Caption(), "0:00.000");

    // Between the lines, outside both bands: only the start moves.
    press(w->Control<TMMOscope>("Oscope1"), 100);
    release(w->Control<TMMOscope>("Oscope1"), 100);
    EXPECT_EQ(w->State().SelStart, 100000);
    EXPECT_EQ(w->State().LiveStart, 100000);
    EXPECT_EQ(w->State().SelEnd, 537000);
    EXPECT_FALSE(w->State().Dragging);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->Caption(), "0:02.268");  // 100 000 / 44 100 s
    // The line inverts the picture: over the black top row it is not (0x000080 xor black).
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 100, 0), kBoundaryOverBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope2"), 100, 0), kBoundaryOverBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 99, 0), kBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 101, 0), kBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 100, 0), kBoundaryOverBlack);  // overview column 100 000 div 1000
    // The active range starts at the line.
    EXPECT_EQ(w->Control<TMMOscope>("Oscope1")->ActiveStart(), 100);
    EXPECT_EQ(w->Control<TMMOscope>("Oscope3")->ActiveStart(), 100);

    // The play cursor in its own inverting pen (not 0x800000), drawn with every new frame;
    // at column 0 it is left out.
    w->State().Playing = true;
    w->State().PlayPos = 200000;
    w->ShowSelection(true);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 200, 0), QColor(255, 255, 127));
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope4"), 200, 0), QColor(255, 255, 127));
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 100, 0), kBoundaryOverBlack);
    w->State().PlayPos = 0;
    w->ShowSelection(true);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 0, 0), kBlack);
    w->State().Playing = false;
    w->ShowSelection(true);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 200, 0), kBlack);

    // Right click right of the start sets the end; left of it nothing.
    press(w->Control<TMMOscope>("Oscope2"), 400, Qt::RightButton);
    release(w->Control<TMMOscope>("Oscope2"), 400, Qt::RightButton);
    EXPECT_EQ(w->State().SelEnd, 400000);
    press(w->Control<TMMOscope>("Oscope1"), 50, Qt::RightButton);
    release(w->Control<TMMOscope>("Oscope1"), 50, Qt::RightButton);
    EXPECT_EQ(w->State().SelEnd, 400000);
    // Left click right of the end band changes nothing.
    press(w->Control<TMMOscope>("Oscope1"), 450);
    release(w->Control<TMMOscope>("Oscope1"), 450);
    EXPECT_EQ(w->State().SelStart, 100000);
    EXPECT_FALSE(w->State().Dragging);
}

TEST_F(SelectionTest, DraggingBoundariesStopsAtTheOtherLine) {
    TFrmTessivo* w = load();
    press(w->Control<TMMOscope>("Oscope1"), 100);
    release(w->Control<TMMOscope>("Oscope1"), 100);
    press(w->Control<TMMOscope>("Oscope1"), 300, Qt::RightButton);
    release(w->Control<TMMOscope>("Oscope1"), 300, Qt::RightButton);

    // 3 pixels right of the start line: a drag, not a new start.
    press(w->Control<TMMOscope>("Oscope1"), 103);
    EXPECT_TRUE(w->State().Dragging);
    EXPECT_EQ(w->State().DragMode, TDragMode::Start);
    EXPECT_EQ(w->State().SelStart, 100000);
    move(w->Control<TMMOscope>("Oscope1"), 150);
    EXPECT_EQ(w->State().LiveStart, 150000);
    EXPECT_EQ(w->State().SelStart, 100000);  // committed only on release
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 150, 0), kBoundaryOverBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope1"), 100, 0), kBlack);  // the old line was erased
    move(w->Control<TMMOscope>("Oscope1"), 450);                          // onto and past the end line
    EXPECT_EQ(w->State().LiveStart, 299000);                // one column before it
    release(w->Control<TMMOscope>("Oscope1"), 450);
    EXPECT_FALSE(w->State().Dragging);
    EXPECT_EQ(w->State().DragMode, TDragMode::None);
    EXPECT_EQ(w->State().SelStart, 299000);

    // The end dragged left stops one column after the start line.
    press(w->Control<TMMOscope>("Oscope1"), 302);
    EXPECT_EQ(w->State().DragMode, TDragMode::End);
    move(w->Control<TMMOscope>("Oscope1"), 10);
    EXPECT_EQ(w->State().LiveEnd, 300000);
    // ... and right not beyond the column of the last frame.
    move(w->Control<TMMOscope>("Oscope1"), 536);
    EXPECT_EQ(w->State().LiveEnd, 536000);
    release(w->Control<TMMOscope>("Oscope1"), 536);
    EXPECT_EQ(w->State().SelEnd, 536000);

    // Left of the view with ViewOffset 0: no scrolling, the start goes to frame 0.
    press(w->Control<TMMOscope>("Oscope1"), 299);
    EXPECT_EQ(w->State().DragMode, TDragMode::Start);
    move(w->Control<TMMOscope>("Oscope1"), -20);
    EXPECT_FALSE(w->Control<QTimer>("AutoScrollTimer")->isActive());
    EXPECT_EQ(w->State().LiveStart, 0);
    release(w->Control<TMMOscope>("Oscope1"), -20);
    EXPECT_EQ(w->State().SelStart, 0);

    // Lines 4 pixels apart: a click on the end line drags the end.
    press(w->Control<TMMOscope>("Oscope1"), 200);
    release(w->Control<TMMOscope>("Oscope1"), 200);
    press(w->Control<TMMOscope>("Oscope1"), 204, Qt::RightButton);
    release(w->Control<TMMOscope>("Oscope1"), 204, Qt::RightButton);
    press(w->Control<TMMOscope>("Oscope1"), 204);
    EXPECT_EQ(w->State().DragMode, TDragMode::End);
    release(w->Control<TMMOscope>("Oscope1"), 204);
}

TEST_F(SelectionTest, DraggingPastTheEdgeScrollsTheView) {
    TFrmTessivo* w = load();
    w->Control<QSpinBox>("ZoomSpin")->setValue(10);  // 5370 frames on screen
    ASSERT_TRUE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    w->State().SelEnd = w->State().LiveEnd = 537000;
    press(w->Control<TMMOscope>("Oscope1"), 0);  // on the start line
    ASSERT_EQ(w->State().DragMode, TDragMode::Start);
    move(w->Control<TMMOscope>("Oscope1"), 540);  // 3 pixels right of the view: large steps
    EXPECT_TRUE(w->Control<QTimer>("AutoScrollTimer")->isActive());
    const int32_t before = w->State().ViewOffset;
    w->AutoScrollTick();
    EXPECT_EQ(w->State().ViewOffset, before + w->Control<QScrollBar>("ScrollBar1")->pageStep());
    EXPECT_EQ(w->State().LiveStart, w->PixelToSample(536));
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->value(), w->State().ViewOffset / w->State().ScrollDivisor);
    release(w->Control<TMMOscope>("Oscope1"), 540);
    EXPECT_FALSE(w->Control<QTimer>("AutoScrollTimer")->isActive());
    EXPECT_EQ(w->State().SelStart, w->State().LiveStart);
}

// The start dragged right past the view while the end lies inside it: the view stays (it would
// have to move back, for this end even before frame 0) and the start stops before the end.
TEST_F(SelectionTest, AutoScrollNeverMovesTheViewAgainstThePointer) {
    TFrmTessivo* w = load();
    w->Control<QSpinBox>("ZoomSpin")->setValue(10);
    w->State().ViewOffset = 2000;
    w->RefreshDetailView();
    press(w->Control<TMMOscope>("Oscope1"), 50, Qt::LeftButton);
    release(w->Control<TMMOscope>("Oscope1"), 50, Qt::LeftButton);
    press(w->Control<TMMOscope>("Oscope1"), 200, Qt::RightButton);
    release(w->Control<TMMOscope>("Oscope1"), 200, Qt::RightButton);
    ASSERT_EQ(w->State().SelStart, 2500);
    ASSERT_EQ(w->State().SelEnd, 4000);

    press(w->Control<TMMOscope>("Oscope1"), 50);
    ASSERT_EQ(w->State().DragMode, TDragMode::Start);
    move(w->Control<TMMOscope>("Oscope1"), 545);
    EXPECT_EQ(w->State().LiveStart, 3990);
    EXPECT_TRUE(w->Control<QTimer>("AutoScrollTimer")->isActive());
    w->AutoScrollTick();
    EXPECT_EQ(w->State().ViewOffset, 2000);
    EXPECT_FALSE(w->Control<QTimer>("AutoScrollTimer")->isActive());
    release(w->Control<TMMOscope>("Oscope1"), 545);
    EXPECT_EQ(w->State().SelStart, 3990);
    EXPECT_EQ(w->State().SelEnd, 4000);

    // The end dragged left past the view with the start inside it: the view stays as well.
    press(w->Control<TMMOscope>("Oscope1"), 200);
    ASSERT_EQ(w->State().DragMode, TDragMode::End);
    move(w->Control<TMMOscope>("Oscope1"), -9);
    w->AutoScrollTick();
    EXPECT_EQ(w->State().ViewOffset, 2000);
    release(w->Control<TMMOscope>("Oscope1"), -9);
    EXPECT_LT(w->State().SelStart, w->State().SelEnd);
}

TEST_F(SelectionTest, OverviewClickAndDragsZoomTheDetailView) {
    TFrmTessivo* w = load();
    // A click: zoom 1 from the column's first frame.
    press(w->Control<TMMOscope>("Oscope3"), 100);
    EXPECT_TRUE(w->State().Dragging);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 100, 0), kWhite);  // the pressed column is inverted
    release(w->Control<TMMOscope>("Oscope3"), 100);
    EXPECT_FALSE(w->State().Dragging);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), 1);
    EXPECT_EQ(w->State().ViewOffset, 100000);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->value(), 100000 / w->State().ScrollDivisor);

    // From column 100 to 200: the band is inverted while it is drawn, 101 columns wide.
    press(w->Control<TMMOscope>("Oscope3"), 100);
    move(w->Control<TMMOscope>("Oscope4"), 150);
    move(w->Control<TMMOscope>("Oscope3"), 200);
    for (int x : {100, 150, 200}) EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), x, 0), kWhite) << x;
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope4"), 150, 0), kWhite);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 99, 0), kBlack);
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 201, 0), kBlack);
    EXPECT_EQ(w->Control<TMMPanel>("StatusSample")->Caption(), "0:02.290");  // 101 columns of 1000 frames
    release(w->Control<TMMOscope>("Oscope3"), 200);
    EXPECT_EQ(w->State().ViewOffset, 100000);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), RoundHalfEven(1000.0 * 101 / 537 + 0.5));  // 189
    EXPECT_EQ(pixel(w->Control<TMMOscope>("Oscope3"), 150, 0), kBlack);                              // band gone

    // From 200 back to 100: the anchor moves one column right first, so 102 columns.
    press(w->Control<TMMOscope>("Oscope3"), 200);
    move(w->Control<TMMOscope>("Oscope3"), 120);
    move(w->Control<TMMOscope>("Oscope3"), 100);
    release(w->Control<TMMOscope>("Oscope3"), 100);
    EXPECT_EQ(w->State().ViewOffset, 100000);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), RoundHalfEven(1000.0 * 102 / 537 + 0.5));  // 190
    int inverted = 0;
    for (int x = 0; x < 537; ++x) inverted += pixel(w->Control<TMMOscope>("Oscope3"), x, 0) == kWhite;
    EXPECT_EQ(inverted, 0);
}

}  // namespace
