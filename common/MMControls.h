// The widget bases of the library's controls: docking, the bevel frame, the graphic control
// and the custom panel.
#pragma once

#include "common/MMColors.h"
#include "common/MMObj.h"

#include <QFont>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class QPainter;
class TMMAligner;

// The font itself when every line of text fits width pixels in it; otherwise the widest
// narrower face of it (less stretch, then a smaller size) in which the text fits, so that a
// fixed text or a shown value is never cut by its box.
QFont FitFont(const QFont& font, const QString& text, int width);

using TNotifyEvent = std::function<void(QObject* sender)>;
using TMouseEvent = std::function<void(QObject* sender, Qt::MouseButton button,
                                       Qt::KeyboardModifiers shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(QObject* sender, Qt::MouseButtons buttons,
                                           Qt::KeyboardModifiers shift, int x, int y)>;

// Docking of a child in its parent. Aligned children are placed in the order top, bottom,
// left, right, client; within one kind by their current position (topmost first for alTop,
// lowest first for alBottom, leftmost first for alLeft, rightmost first for alRight; on a tie
// the earlier child for alTop/alLeft, the later one for alBottom/alRight), each taking its
// place at the outer edge of what is left. alTop/alBottom keep the height, alLeft/alRight the
// width, alClient takes the rest. Hidden children take no space.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Stores the docking of a child widget and realigns its parent, giving the parent an
// aligner when it has none (the parent's whole contents rectangle is then the space).
// Set it after the widget has its parent; TMMControl descendants also follow a parent change.
void SetControlAlign(QWidget* control, TAlign align);
TAlign ControlAlign(const QWidget* control);
// Places the aligned, not hidden children of parent inside rect (one pass, no watching).
void AlignControls(QWidget* parent, const QRect& rect);

// Keeps the aligned children of one container laid out: realigns when the container is
// resized, a child is added, removed, shown or hidden, or an aligned child changes its bounds.
// It is a child object of the container and dies with it. Qt tells a widget that is not
// shown of its new size only when it is shown; call Realign to lay out before that.
class TMMAligner : public QObject {
public:
    // margin, when given, returns the width of the frame left free on every side.
    explicit TMMAligner(QWidget* container, std::function<int()> margin = {});
    // The aligner of a container, or nullptr.
    static TMMAligner* Of(const QWidget* container);
    // The aligner of a container, made when missing.
    static TMMAligner* Attach(QWidget* container);

    void SetMargin(std::function<int()> margin) { margin_ = std::move(margin); }
    // The rectangle the children share: the contents rectangle shrunk by the margin.
    QRect AlignRect() const;
    void Realign();
    // Bracket the building of a container: docking several children one by one places each
    // at once (the first docked right ends up rightmost); inside the bracket nothing moves
    // until EnableAlign, which places them all in one pass by their designed positions.
    void DisableAlign() { ++disabled_; }
    void EnableAlign();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Watch(QObject* child);

    QWidget* container_;
    std::function<int()> margin_;
    int disabled_ = 0;
    bool aligning_ = false;
};

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBorderStyle { bsNone, bsSingle };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A system colour or plain colour as a Qt colour; the window-frame colour is black.
QColor MMColor(TColor color);

// Draws a ring of `width` one-pixel outlines inside rect, top and left edges in top, bottom
// and right edges (with the top-right and bottom-left corners) in bottom, and shrinks rect by
// width on every side. Outlines of an empty or inverted rectangle are not drawn.
void Frame3D(QPainter& canvas, QRect& rect, const QColor& top, const QColor& bottom, int width);

// The frame of the library's controls: from the outside in a single line, an outer bevel, a
// border band, an inner bevel and a spacing band.
class TMMBevel : public TMMObject {
public:
    TMMBevel() = default;

    // Copies every property inside one update, so OnChange fires once at the end.
    void Assign(const TMMBevel& source);

    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut v);
    TBevelCut BevelInner() const { return bevelInner_; }
    void SetBevelInner(TBevelCut v);
    int BevelOuterWidth() const { return bevelOuterWidth_; }
    void SetBevelOuterWidth(int v);  // at least 1
    int BevelInnerWidth() const { return bevelInnerWidth_; }
    void SetBevelInnerWidth(int v);  // at least 1
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle v);
    int BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(int v);  // at least 0
    int BorderSpace() const { return borderSpace_; }
    void SetBorderSpace(int v);  // at least 0
    TColor BorderColor() const { return borderColor_; }
    void SetBorderColor(TColor v);
    TColor BorderSpaceColor() const { return borderSpaceColor_; }
    void SetBorderSpaceColor(TColor v);
    TColor InnerLightColor() const { return innerLightColor_; }
    void SetInnerLightColor(TColor v);
    TColor OuterLightColor() const { return outerLightColor_; }
    void SetOuterLightColor(TColor v);
    TColor InnerShadowColor() const { return innerShadowColor_; }
    void SetInnerShadowColor(TColor v);
    TColor OuterShadowColor() const { return outerShadowColor_; }
    void SetOuterShadowColor(TColor v);

    // Width of the whole frame on one side; a bvSpace bevel counts with its width.
    int TotalWidth() const;
    // Draws the rings into rect and returns the rectangle inside them. Without fillBorder the
    // border band is skipped, not painted; a bvSpace bevel neither paints nor shrinks.
    QRect PaintBevel(QPainter& canvas, const QRect& rect, bool fillBorder) const;

    // Raised after every change made outside an update and once when the last update ends.
    std::function<void(TMMBevel* sender)> OnChange;

protected:
    void Changed() override;

private:
    template <typename T>
    void Set(T& field, T value);

    TBevelCut bevelOuter_ = bvLowered;
    TBevelCut bevelInner_ = bvNone;
    int bevelOuterWidth_ = 1;
    int bevelInnerWidth_ = 1;
    TBorderStyle borderStyle_ = bsNone;
    int borderWidth_ = 0;
    int borderSpace_ = 0;
    TColor borderColor_ = clBtnFace;
    TColor borderSpaceColor_ = clBlack;
    TColor innerLightColor_ = clBtnHighlight;
    TColor outerLightColor_ = clBtnHighlight;
    TColor innerShadowColor_ = clBtnShadow;
    TColor outerShadowColor_ = clBtnShadow;
};

// What every library control carries: docking, colour (own or the parent's), font and font
// colour, the mouse events, and one bevel whose changes reach BevelChanged.
class TMMControl : public QWidget {
public:
    explicit TMMControl(QWidget* parent = nullptr);
    ~TMMControl() override;

    TAlign Align() const { return ControlAlign(this); }
    void SetAlign(TAlign v) { SetControlAlign(this, v); }

    // The parent's colour while ParentColor is set (a library control's Color, otherwise the
    // parent's window colour); setting Color clears ParentColor.
    TColor Color() const;
    void SetColor(TColor v);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool v);

    QFont Font() const { return font(); }
    void SetFont(const QFont& f) { setFont(f); }
    // True while no font of its own was set (the parent's font is used).
    bool ParentFont() const { return !testAttribute(Qt::WA_SetFont); }
    void SetParentFont(bool v);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor v);

    bool Visible() const { return !isHidden(); }
    void SetVisible(bool v) { setVisible(v); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool v) { setEnabled(v); }
    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    // Places the control; the aligners go through here, so descendants may adjust the size.
    virtual void SetBounds(int left, int top, int width, int height);

    TMMBevel* Bevel() const { return bevel_.get(); }
    // Assigns the given bevel to the control's own.
    void SetBevel(const TMMBevel& bevel) { bevel_->Assign(bevel); }
    // TotalWidth of the bevel.
    int BevelExtent() const { return bevel_ ? bevel_->TotalWidth() : 0; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnResize;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    // Raise the mouse events; descendants override them (coordinates are the control's).
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void BevelChanged() = 0;
    // Repaints the children that take their colour from this control.
    void ColorChanged();

    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    std::unique_ptr<TMMBevel> bevel_;
    TColor color_ = clBtnFace;
    TColor fontColor_ = clWindowText;
    bool parentColor_ = false;
    bool pressed_ = false;
};

// Windowless base of the views and the gauge: opaque, paints through Paint, reacts to a bevel
// change with Changed.
class TMMGraphicControl : public TMMControl {
public:
    explicit TMMGraphicControl(QWidget* parent = nullptr);

    // (0, 0, Width, Height) shrunk by BevelExtent on every side.
    QRect ClientRect() const;

protected:
    // Base: invalidate.
    virtual void Changed();
    // Base: the bevel with its border filled and the inside in Color.
    virtual void Paint(QPainter& canvas);
    void BevelChanged() override { Changed(); }
    void paintEvent(QPaintEvent* e) override;
};

// Container base of TMMPanel: paints its bevel, its colour and its caption, and docks its
// children inside the frame (the client rectangle shrunk by TotalWidth on every side).
class TMMCustomPanel : public TMMControl {
public:
    explicit TMMCustomPanel(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& v);
    // The face the caption is drawn in: the font, narrowed where the caption would not fit
    // inside the bevel otherwise.
    QFont CaptionFont() const;
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v);

    // Lays the aligned children out again.
    void Realign();
    // See TMMAligner::DisableAlign.
    void DisableAlign() { aligner_->DisableAlign(); }
    void EnableAlign() { aligner_->EnableAlign(); }

protected:
    virtual void Paint(QPainter& canvas);
    void BevelChanged() override;
    void paintEvent(QPaintEvent* e) override;

private:
    TMMAligner* aligner_;
    QString caption_;
    TAlignment alignment_ = taCenter;
};
