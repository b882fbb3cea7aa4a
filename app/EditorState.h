// The main window's state record and the selection rules that change it, without a window:
// the frames shown and selected, the boundary being dragged and the auto-scroll step. The
// window turns mouse events into these calls and draws what they decide.
#pragma once

#include "app/WaveViewData.h"

#include <QString>

#include <cstdint>

// The boundary a mouse drag in the detail views moves.
enum class TDragMode : uint8_t { None, Start, End };

// What a press in a detail view did.
enum class TDetailPress : uint8_t {
    Nothing,
    DragStart,  // a drag of the start boundary began
    DragEnd,    // a drag of the end boundary began
    SetStart,   // SelStart (and LiveStart) moved to the pressed column
    SetEnd,     // SelEnd (and LiveEnd) moved to the pressed column
};

// Half-width in columns of the band around a boundary line that grabs it.
constexpr int32_t kBoundaryGrab = 5;

struct TEditorState {
    // All positions are frames of the loaded Temp.wav, counted from 0.
    int32_t TotalSamples = 0;
    int32_t ViewOffset = 0;          // first frame of the detail views
    int32_t SelStart = 0, SelEnd = 0;    // committed selection: play range, marker source
    int32_t LiveStart = 0, LiveEnd = 0;  // as drawn; differ from Sel* only during a drag
    int32_t PlayPos = -1;            // frame of the play cursor as last drawn
    int32_t ScrollDivisor = 1;       // frames per scroll-bar unit
    int32_t OverviewStep = 1;        // frames per overview column
    int16_t SilenceLevel = 0;        // 128 for 8-bit audio, 0 for 16-bit
    uint8_t FrameSize = 0;           // bytes per frame
    bool Loaded = false;             // audio is loaded and shown
    bool Dragging = false;           // a mouse drag runs in one of the views
    bool ViewsReady = false;         // the views are laid out; lines may be drawn
    bool InLayout = false;           // re-entry guard of the layout
    bool Playing = false;            // playback runs
    TDragMode DragMode = TDragMode::None;
    QString ArgumentPath;            // the first command-line argument (FileNameToQString: its bytes
    QString AudioPath;               // are FileNameBytes) and the file imported and tagged
    // The marker values that will be written.
    QString IntroText, StartText, EndText, ChorusStartText, ChorusEndText, MixText;
    QString StampTimeText, StampFileText, CommentText;

    // The detail geometry at this zoom for a view width columns wide.
    TDetailGeometry Detail(int32_t zoom, int32_t width) const {
        return TDetailGeometry{TotalSamples, ViewOffset, zoom, width};
    }

    // A new file of total frames: everything selected, shown from frame 0.
    void ResetSelection(int32_t total);

    // A left (left = true) or right press at column x of a detail view: near the start line
    // (and left of the end line) a left press starts dragging the start, near the end line the
    // end; elsewhere left of the end line it moves the start, and a right press right of the
    // start line moves the end.
    TDetailPress PressDetail(bool left, int32_t x, const TDetailGeometry& g);

    // Whether column x lies in the grab band of either boundary line.
    bool NearBoundary(int32_t x, const TDetailGeometry& g) const;

    // A boundary drag moved to column x: past the left edge (with frames before the view) or
    // the right edge x is pulled into the view and Scroll asks for auto-scrolling (on the right
    // only when frames follow the view); Ignore when the boundaries touch and the move is dropped.
    enum class TDragEdge : uint8_t { Inside, Scroll, Ignore };
    TDragEdge DragEdge(int32_t& x, const TDetailGeometry& g) const;

    // The dragged boundary's new frame for a move to column x: the start stays left of the end
    // line and inside the view, the end right of the start line and not past the last frame's
    // column. Returns false when the boundary stays in its column.
    bool DragTarget(int32_t x, const TDetailGeometry& g, int32_t& frame) const;

    // Sets the dragged boundary (LiveStart or LiveEnd) to frame.
    void SetDragged(int32_t frame);
    // The frame of the dragged boundary as drawn.
    int32_t Dragged() const { return DragMode == TDragMode::Start ? LiveStart : LiveEnd; }

    // One auto-scroll step for a pointer at column x during a boundary drag, with the scroll
    // bar's small and large steps: one small step just past an edge, one large step up to four
    // columns further, four large steps beyond; never past the other boundary or the end of the
    // file, and never against the pointer. When the view moves, the dragged boundary follows
    // the pointer's column and true is returned; false: the view stays (auto-scroll ends).
    bool AutoScroll(int32_t x, int32_t zoom, int32_t width, int32_t smallStep, int32_t largeStep);

    // Mouse released after a boundary drag: the drawn boundaries become the selection.
    void EndDrag();

    // Moves the selection's start (or end) by frames, committed at once: the start stays below
    // the end and the end above the start, both inside the file; a boundary already past the
    // other (a marker shown there) may only move back. False when it cannot move.
    bool Nudge(bool end, int32_t frames);
};

// The detail view an overview drag from column anchor to column x selects: the first frame
// and the zoom (before the spin box clamps it). o1/o3: frames on one screen of the detail and
// overview views.
struct TOverviewZoom {
    int32_t offset;
    int32_t zoom;
};
TOverviewZoom OverviewDragZoom(int32_t anchor, int32_t x, int32_t overviewStep, int32_t totalSamples,
                               int32_t detailFrames, int32_t overviewFrames);
