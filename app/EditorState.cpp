#include "app/EditorState.h"

#include <algorithm>
#include <cstdlib>

void TEditorState::ResetSelection(int32_t total) {
    TotalSamples = total;
    ViewsReady = false;
    LiveStart = 0;
    LiveEnd = total;
    ViewOffset = 0;
    SelStart = LiveStart;
    SelEnd = LiveEnd;
}

bool TEditorState::NearBoundary(int32_t x, const TDetailGeometry& g) const {
    const int32_t startX = g.SampleToPixel(LiveStart), endX = g.SampleToPixel(LiveEnd);
    return (startX - kBoundaryGrab <= x && x <= startX + kBoundaryGrab) ||
           (endX - kBoundaryGrab <= x && x <= endX + kBoundaryGrab);
}

TDetailPress TEditorState::PressDetail(bool left, int32_t x, const TDetailGeometry& g) {
    const int32_t startX = g.SampleToPixel(LiveStart), endX = g.SampleToPixel(LiveEnd);
    if (left) {
        // The start wins where the bands overlap, unless the press is on the end line itself.
        if (startX - kBoundaryGrab <= x && x <= startX + kBoundaryGrab && x < endX) {
            Dragging = true;
            DragMode = TDragMode::Start;
            return TDetailPress::DragStart;
        }
        if (endX - kBoundaryGrab <= x && x <= endX + kBoundaryGrab) {
            Dragging = true;
            DragMode = TDragMode::End;
            return TDetailPress::DragEnd;
        }
        if (x < endX) {
            LiveStart = SelStart = g.PixelToSample(x);
            return TDetailPress::SetStart;
        }
    } else if (x > startX) {
        LiveEnd = SelEnd = g.PixelToSample(x);
        return TDetailPress::SetEnd;
    }
    return TDetailPress::Nothing;
}

TEditorState::TDragEdge TEditorState::DragEdge(int32_t& x, const TDetailGeometry& g) const {
    if (x < 0 && ViewOffset > 0) {
        if (LiveStart + 1 >= LiveEnd) return TDragEdge::Ignore;
        x = 0;
        return TDragEdge::Scroll;
    }
    if (x >= g.width) {
        if (LiveEnd - 1 <= LiveStart) return TDragEdge::Ignore;
        x = g.width - 1;
        if (int64_t(g.zoom) * g.width + ViewOffset < TotalSamples) return TDragEdge::Scroll;
    }
    return TDragEdge::Inside;
}

bool TEditorState::DragTarget(int32_t x, const TDetailGeometry& g, int32_t& frame) const {
    if (DragMode == TDragMode::Start) {
        const int32_t endX = g.SampleToPixel(LiveEnd);
        if (x >= endX) x = endX - 1;
        if (x < 0) x = 0;
        if (x == g.SampleToPixel(LiveStart)) return false;
    } else if (DragMode == TDragMode::End) {
        const int32_t startX = g.SampleToPixel(LiveStart);
        if (x <= startX) x = startX + 1;
        x = std::min(x, g.SampleToPixel(TotalSamples));
        if (x == g.SampleToPixel(LiveEnd)) return false;
    } else {
        return false;
    }
    frame = g.PixelToSample(x);
    return true;
}

void TEditorState::SetDragged(int32_t frame) {
    if (DragMode == TDragMode::Start)
        LiveStart = frame;
    else if (DragMode == TDragMode::End)
        LiveEnd = frame;
}

bool TEditorState::AutoScroll(int32_t x, int32_t zoom, int32_t width, int32_t smallStep, int32_t largeStep) {
    const int64_t z = zoom, s = smallStep, l = largeStep;
    int64_t low = 0, high = 0;
    if (DragMode == TDragMode::Start) {
        low = 0;
        high = int64_t(LiveEnd) - z * (width - 1) - 1;
    } else {
        low = int64_t(LiveStart) + 1;
        high = int64_t(TotalSamples) - z * (width - 1);
    }
    int64_t offset = ViewOffset;
    if (x < -5)
        offset = std::max<int64_t>(ViewOffset - 4 * l, low);
    else if (x < -2)
        offset = std::max<int64_t>(ViewOffset - l, low);
    else if (x < 0)
        offset = std::max<int64_t>(ViewOffset - s, low);
    else if (x < width)
        offset = ViewOffset;
    else if (x <= width + 1)
        offset = std::min<int64_t>(ViewOffset + s, high);
    else if (x <= width + 4)
        offset = std::min<int64_t>(ViewOffset + l, high);
    else
        offset = std::min<int64_t>(ViewOffset + 4 * l, high);
    // The view never moves against the pointer: with the other boundary inside the view a
    // limit lies behind the current offset (for the start dragged right even below frame 0),
    // and taking it would jump the view back and put the dragged boundary past the other one.
    if (x < 0)
        offset = std::min<int64_t>(offset, ViewOffset);
    else
        offset = std::max<int64_t>(offset, ViewOffset);
    if (offset == ViewOffset) return false;
    ViewOffset = int32_t(offset);
    SetDragged(Detail(zoom, width).PixelToSample(x));
    return true;
}

void TEditorState::EndDrag() {
    Dragging = false;
    DragMode = TDragMode::None;
    SelStart = LiveStart;
    SelEnd = LiveEnd;
}

bool TEditorState::Nudge(bool end, int32_t frames) {
    const int64_t b = end ? SelEnd : SelStart;
    const int64_t lo = end ? int64_t(SelStart) + 1 : 0, hi = end ? int64_t(TotalSamples) : int64_t(SelEnd) - 1;
    int64_t v = b + frames;
    if (frames > 0) v = std::min(v, std::max(hi, b));
    if (frames < 0) v = std::max(v, std::min(lo, b));
    v = std::clamp<int64_t>(v, 0, std::max(TotalSamples, 0));
    if (v == b) return false;
    if (end)
        LiveEnd = SelEnd = int32_t(v);
    else
        LiveStart = SelStart = int32_t(v);
    return true;
}

TOverviewZoom OverviewDragZoom(int32_t anchor, int32_t x, int32_t overviewStep, int32_t totalSamples,
                               int32_t detailFrames, int32_t overviewFrames) {
    TOverviewZoom r;
    r.offset = int32_t(std::min<int64_t>(int64_t(std::min(anchor, x)) * overviewStep, totalSamples));
    r.zoom = 1;
    if (x != anchor) {
        // Dragged leftwards the anchor column counts as well.
        if (anchor > x) ++anchor;
        const double o1 = std::max(detailFrames, 1), o3 = std::max(overviewFrames, 1);
        r.zoom = std::max(1, RoundHalfEven(double(totalSamples) / o3 * (std::abs(anchor - x) + 1) / o1 + 0.5));
    }
    return r;
}
