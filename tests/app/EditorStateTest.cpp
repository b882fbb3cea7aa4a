// The selection rules of the editor without a window: presses near and between the boundary
// lines, drags held on their side of the other line, auto-scroll steps and the overview zoom.
#include "app/EditorState.h"

#include <gtest/gtest.h>

namespace {

// 537 000 frames on a 537-column view at zoom 1000: column c is frame c * 1000.
TEditorState selected(int32_t start, int32_t end) {
    TEditorState s;
    s.ResetSelection(537000);
    s.SelStart = s.LiveStart = start;
    s.SelEnd = s.LiveEnd = end;
    return s;
}

TEST(EditorStateTest, PressesNearTheLinesDragElsewhereTheyMove) {
    struct Case {
        bool left;
        int32_t x;
        TDetailPress result;
        int32_t selStart, selEnd;
        TDragMode mode;
    } cases[] = {
        {true, 105, TDetailPress::DragStart, 100000, 300000, TDragMode::Start},  // inside the start band
        {true, 95, TDetailPress::DragStart, 100000, 300000, TDragMode::Start},
        {true, 106, TDetailPress::SetStart, 106000, 300000, TDragMode::None},  // just outside it
        {true, 295, TDetailPress::DragEnd, 100000, 300000, TDragMode::End},
        {true, 306, TDetailPress::Nothing, 100000, 300000, TDragMode::None},  // right of the end band
        {false, 200, TDetailPress::SetEnd, 100000, 200000, TDragMode::None},
        {false, 100, TDetailPress::Nothing, 100000, 300000, TDragMode::None},  // not right of the start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        TEditorState s = selected(100000, 300000);
        EXPECT_EQ(s.PressDetail(c.left, c.x, s.Detail(1000, 537)), c.result);
        EXPECT_EQ(s.SelStart, c.selStart);
        EXPECT_EQ(s.SelEnd, c.selEnd);
        EXPECT_EQ(s.DragMode, c.mode);
        EXPECT_EQ(s.Dragging, c.mode != TDragMode::None);
    }
    // Lines 4 columns apart: a press on the end line drags the end, not the start.
    TEditorState s = selected(200000, 204000);
    EXPECT_EQ(s.PressDetail(true, 204, s.Detail(1000, 537)), TDetailPress::DragEnd);
}

TEST(EditorStateTest, DraggedBoundaryStaysOnItsSideAndCommitsOnRelease) {
    TEditorState s = selected(100000, 300000);
    const TDetailGeometry g = s.Detail(1000, 537);
    ASSERT_EQ(s.PressDetail(true, 100, g), TDetailPress::DragStart);
    int32_t frame = -1;
    EXPECT_FALSE(s.DragTarget(100, g, frame));  // same column: nothing to redraw
    ASSERT_TRUE(s.DragTarget(450, g, frame));
    EXPECT_EQ(frame, 299000);  // one column before the end line
    s.SetDragged(frame);
    EXPECT_EQ(s.SelStart, 100000);  // committed only on release
    s.EndDrag();
    EXPECT_EQ(s.SelStart, 299000);
    EXPECT_EQ(s.DragMode, TDragMode::None);

    s = selected(100000, 300000);
    ASSERT_EQ(s.PressDetail(true, 300, g), TDetailPress::DragEnd);
    ASSERT_TRUE(s.DragTarget(10, g, frame));
    EXPECT_EQ(frame, 101000);  // one column after the start line
    ASSERT_TRUE(s.DragTarget(600, g, frame));
    EXPECT_EQ(frame, 536000);  // the view's last column: not past the last frame
}

TEST(EditorStateTest, DragPastAnEdgeAsksForScrollingOnlyWhereFramesLie) {
    TEditorState s = selected(100000, 300000);
    s.DragMode = TDragMode::Start;
    const TDetailGeometry full = s.Detail(1000, 537);
    int32_t x = -20;
    EXPECT_EQ(s.DragEdge(x, full), TEditorState::TDragEdge::Inside);  // view at frame 0
    EXPECT_EQ(x, -20);
    x = 600;
    EXPECT_EQ(s.DragEdge(x, full), TEditorState::TDragEdge::Inside);  // the whole file is shown
    EXPECT_EQ(x, 536);

    s.ViewOffset = 5000;
    const TDetailGeometry zoomed = s.Detail(10, 537);
    x = -3;
    EXPECT_EQ(s.DragEdge(x, zoomed), TEditorState::TDragEdge::Scroll);
    EXPECT_EQ(x, 0);
    x = 540;
    EXPECT_EQ(s.DragEdge(x, zoomed), TEditorState::TDragEdge::Scroll);
    EXPECT_EQ(x, 536);
    s.LiveEnd = s.LiveStart + 1;  // touching boundaries: the move is dropped
    x = 540;
    EXPECT_EQ(s.DragEdge(x, zoomed), TEditorState::TDragEdge::Ignore);
}

TEST(EditorStateTest, AutoScrollStepsByDistanceAndNeverAgainstThePointer) {
    // Zoom 10: 5370 frames on screen; small step 10, large step 500.
    struct Case {
        int32_t x;
        int32_t offset;
    } cases[] = {{537, 20010}, {539, 20500}, {541, 20500}, {542, 22000}, {-1, 19990}, {-3, 19500}, {-6, 18000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        TEditorState s = selected(c.x < 0 ? 100000 : 0, c.x < 0 ? 537000 : 100000);
        s.ViewOffset = 20000;
        s.DragMode = c.x < 0 ? TDragMode::Start : TDragMode::End;
        ASSERT_TRUE(s.AutoScroll(c.x, 10, 537, 10, 500));
        EXPECT_EQ(s.ViewOffset, c.offset);
        EXPECT_EQ(s.Dragged(), s.Detail(10, 537).PixelToSample(c.x));
    }
    // The start dragged right with the end inside the view: the limit lies behind the offset.
    TEditorState s = selected(2500, 4000);
    s.ViewOffset = 2000;
    s.DragMode = TDragMode::Start;
    EXPECT_FALSE(s.AutoScroll(545, 10, 537, 10, 500));
    EXPECT_EQ(s.ViewOffset, 2000);
    // The end dragged left with the start inside the view.
    s.DragMode = TDragMode::End;
    EXPECT_FALSE(s.AutoScroll(-9, 10, 537, 10, 500));
    EXPECT_EQ(s.ViewOffset, 2000);
}

TEST(EditorStateTest, OverviewDragZoomCountsBothEndColumns) {
    // 537 000 frames, 537 frames on one screen of either view, 1000 frames per column.
    EXPECT_EQ(OverviewDragZoom(100, 100, 1000, 537000, 537, 537).zoom, 1);
    EXPECT_EQ(OverviewDragZoom(100, 100, 1000, 537000, 537, 537).offset, 100000);
    EXPECT_EQ(OverviewDragZoom(100, 200, 1000, 537000, 537, 537).zoom, 189);  // 101 columns
    const TOverviewZoom back = OverviewDragZoom(200, 100, 1000, 537000, 537, 537);
    EXPECT_EQ(back.zoom, 190);  // 102 columns: the anchor counts as well
    EXPECT_EQ(back.offset, 100000);
    EXPECT_EQ(OverviewDragZoom(600, 537, 1000, 537000, 537, 537).offset, 537000);  // clamped to the end
}

}  // namespace
