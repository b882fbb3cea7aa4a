#include "common/MMControls.h"

#include <algorithm>
#include <limits>

#include <QChildEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStringList>
#include <QVariant>

// ---------------------------------------------------------------------------------------
// Docking
// ---------------------------------------------------------------------------------------

namespace {

const char* const kAlignProperty = "mmAlign";
// The window-frame system colour; the classic scheme draws it black.
constexpr TColor kWindowFrame = 0x80000006;

// Shrinks a rectangle by n on every side. Frames may be wider than any screen; past a few
// million pixels the rectangle is empty anyway, so n is capped there to keep the corners in range.
QRect Shrunk(const QRect& r, int n) {
    n = std::min(n, 1 << 24);
    return r.adjusted(n, n, -n, -n);
}

bool InsertBefore(const QWidget* c1, const QWidget* c2, TAlign align) {
    switch (align) {
    case alTop: return c1->y() < c2->y();
    case alBottom: return c1->y() + c1->height() >= c2->y() + c2->height();
    case alLeft: return c1->x() < c2->x();
    case alRight: return c1->x() + c1->width() >= c2->x() + c2->width();
    default: return false;
    }
}

void SetControlBounds(QWidget* control, int left, int top, int width, int height) {
    if (auto* mm = dynamic_cast<TMMControl*>(control)) mm->SetBounds(left, top, width, height);
    else control->setGeometry(left, top, width, height);
}

}  // namespace

void SetControlAlign(QWidget* control, TAlign align) {
    if (!control || ControlAlign(control) == align) return;
    control->setProperty(kAlignProperty, int(align));
    if (QWidget* parent = control->parentWidget(); parent && !control->isWindow())
        TMMAligner::Attach(parent)->Realign();
}

TAlign ControlAlign(const QWidget* control) {
    const QVariant v = control ? control->property(kAlignProperty) : QVariant();
    return v.isValid() ? TAlign(v.toInt()) : alNone;
}

void AlignControls(QWidget* parent, const QRect& rect) {
    int left = rect.x(), top = rect.y();
    int right = rect.x() + rect.width(), bottom = rect.y() + rect.height();
    // Guarded copies: SetBounds runs resize handlers, which may change the children.
    std::vector<QPointer<QWidget>> children;
    for (QObject* o : parent->children())
        if (o && o->isWidgetType()) children.emplace_back(static_cast<QWidget*>(o));
    for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient}) {
        std::vector<QWidget*> list;
        for (QWidget* w : children) {
            if (!w || w->parentWidget() != parent) continue;
            if (w->isWindow() || w->isHidden() || ControlAlign(w) != align) continue;
            auto pos = list.begin();
            while (pos != list.end() && !InsertBefore(w, *pos, align)) ++pos;
            list.insert(pos, w);
        }
        for (QPointer<QWidget> w : std::vector<QPointer<QWidget>>(list.begin(), list.end())) {
            if (!w) continue;
            int width = right - left;
            if (width < 0 || align == alLeft || align == alRight) width = w->width();
            int height = bottom - top;
            if (height < 0 || align == alTop || align == alBottom) height = w->height();
            int x = left, y = top;
            switch (align) {
            case alTop: top += height; break;
            case alBottom: bottom -= height; y = bottom; break;
            case alLeft: left += width; break;
            case alRight: right -= width; x = right; break;
            default: break;
            }
            SetControlBounds(w, x, y, width, height);
            if (!w) continue;
            // A control that refused the size gives back or takes the difference.
            switch (align) {
            case alTop: top -= height - w->height(); break;
            case alBottom: bottom += height - w->height(); break;
            case alLeft: left -= width - w->width(); break;
            case alRight: right += width - w->width(); break;
            default: break;
            }
        }
    }
}

TMMAligner::TMMAligner(QWidget* container, std::function<int()> margin)
    : QObject(container), container_(container), margin_(std::move(margin)) {
    container_->installEventFilter(this);
    for (QObject* o : container_->children()) Watch(o);
}

TMMAligner* TMMAligner::Of(const QWidget* container) {
    if (!container) return nullptr;
    for (QObject* o : container->children())
        if (auto* a = dynamic_cast<TMMAligner*>(o)) return a;
    return nullptr;
}

TMMAligner* TMMAligner::Attach(QWidget* container) {
    if (TMMAligner* a = Of(container)) return a;
    return new TMMAligner(container);
}

QRect TMMAligner::AlignRect() const {
    const int m = margin_ ? margin_() : 0;
    return Shrunk(container_->contentsRect(), m);
}

void TMMAligner::EnableAlign() {
    if (disabled_ > 0 && --disabled_ == 0) Realign();
}

void TMMAligner::Realign() {
    if (aligning_ || disabled_ > 0) return;
    aligning_ = true;
    AlignControls(container_, AlignRect());
    aligning_ = false;
}

void TMMAligner::Watch(QObject* child) {
    if (child && child->isWidgetType() && child != this) child->installEventFilter(this);
}

bool TMMAligner::eventFilter(QObject* watched, QEvent* event) {
    if (watched == container_) {
        switch (event->type()) {
        case QEvent::Resize: Realign(); break;
        case QEvent::ChildAdded: Watch(static_cast<QChildEvent*>(event)->child()); break;
        case QEvent::ChildRemoved: {
            // The child may be half destroyed already: do not ask it anything.
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child) child->removeEventFilter(this);
            Realign();
            break;
        }
        default: break;
        }
        return false;
    }
    if (!watched->isWidgetType() || ControlAlign(static_cast<QWidget*>(watched)) == alNone) return false;
    switch (event->type()) {
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
    case QEvent::Resize:
    case QEvent::Move: Realign(); break;
    default: break;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Bevel
// ---------------------------------------------------------------------------------------

QColor MMColor(TColor color) {
    if (color == kWindowFrame) return QColor(0, 0, 0);
    return ToQColor(color);
}

void Frame3D(QPainter& canvas, QRect& rect, const QColor& top, const QColor& bottom, int width) {
    for (int i = 0; i < width; ++i) {
        const int l = rect.x(), t = rect.y(), w = rect.width(), h = rect.height();
        if (w <= 0 || h <= 0) {  // nothing more to draw: only the shrinking is left
            const int rest = width - i;
            rect = Shrunk(rect, rest);
            return;
        }
        canvas.fillRect(QRect(l, t, 1, h), top);
        if (w > 1) canvas.fillRect(QRect(l, t, w - 1, 1), top);
        canvas.fillRect(QRect(l + w - 1, t, 1, h), bottom);
        canvas.fillRect(QRect(l, t + h - 1, w, 1), bottom);
        rect.adjust(1, 1, -1, -1);
    }
}

template <typename T>
void TMMBevel::Set(T& field, T value) {
    if (field == value) return;
    field = value;
    Changed();
}

void TMMBevel::SetBevelOuter(TBevelCut v) { Set(bevelOuter_, v); }
void TMMBevel::SetBevelInner(TBevelCut v) { Set(bevelInner_, v); }
void TMMBevel::SetBevelOuterWidth(int v) { Set(bevelOuterWidth_, std::max(v, 1)); }
void TMMBevel::SetBevelInnerWidth(int v) { Set(bevelInnerWidth_, std::max(v, 1)); }
void TMMBevel::SetBorderStyle(TBorderStyle v) { Set(borderStyle_, v); }
void TMMBevel::SetBorderWidth(int v) { Set(borderWidth_, std::max(v, 0)); }
void TMMBevel::SetBorderSpace(int v) { Set(borderSpace_, std::max(v, 0)); }
void TMMBevel::SetBorderColor(TColor v) { Set(borderColor_, v); }
void TMMBevel::SetBorderSpaceColor(TColor v) { Set(borderSpaceColor_, v); }
void TMMBevel::SetInnerLightColor(TColor v) { Set(innerLightColor_, v); }
void TMMBevel::SetOuterLightColor(TColor v) { Set(outerLightColor_, v); }
void TMMBevel::SetInnerShadowColor(TColor v) { Set(innerShadowColor_, v); }
void TMMBevel::SetOuterShadowColor(TColor v) { Set(outerShadowColor_, v); }

void TMMBevel::Assign(const TMMBevel& source) {
    if (&source == this) return;
    BeginUpdate();
    SetBevelOuter(source.bevelOuter_);
    SetBevelInner(source.bevelInner_);
    SetBevelOuterWidth(source.bevelOuterWidth_);
    SetBevelInnerWidth(source.bevelInnerWidth_);
    SetBorderStyle(source.borderStyle_);
    SetBorderWidth(source.borderWidth_);
    SetBorderSpace(source.borderSpace_);
    SetBorderColor(source.borderColor_);
    SetBorderSpaceColor(source.borderSpaceColor_);
    SetInnerLightColor(source.innerLightColor_);
    SetOuterLightColor(source.outerLightColor_);
    SetInnerShadowColor(source.innerShadowColor_);
    SetOuterShadowColor(source.outerShadowColor_);
    EndUpdate();
}

void TMMBevel::Changed() {
    if (UpdateCount() != 0) return;
    TMMObject::Changed();
    if (OnChange) OnChange(this);
}

int TMMBevel::TotalWidth() const {
    int64_t w = int64_t(borderWidth_) + borderSpace_;
    if (bevelOuter_ != bvNone) w += bevelOuterWidth_;
    if (bevelInner_ != bvNone) w += bevelInnerWidth_;
    if (borderStyle_ == bsSingle) w += 1;
    return int(std::min<int64_t>(w, std::numeric_limits<int>::max()));
}

QRect TMMBevel::PaintBevel(QPainter& canvas, const QRect& rect, bool fillBorder) const {
    QRect r = rect;
    auto bevel = [&](TBevelCut cut, int width, TColor shadow, TColor light) {
        if (cut == bvLowered) Frame3D(canvas, r, MMColor(shadow), MMColor(light), width);
        else if (cut == bvRaised) Frame3D(canvas, r, MMColor(light), MMColor(shadow), width);
    };
    if (borderStyle_ == bsSingle) {
        const QColor frame = MMColor(kWindowFrame);
        Frame3D(canvas, r, frame, frame, 1);
    }
    bevel(bevelOuter_, bevelOuterWidth_, outerShadowColor_, outerLightColor_);
    if (fillBorder) {
        const QColor band = MMColor(borderColor_);
        Frame3D(canvas, r, band, band, borderWidth_);
    } else {
        r = Shrunk(r, borderWidth_);
    }
    bevel(bevelInner_, bevelInnerWidth_, innerShadowColor_, innerLightColor_);
    if (borderSpace_ > 0) {
        const QColor space = MMColor(borderSpaceColor_);
        Frame3D(canvas, r, space, space, borderSpace_);
    }
    return r;
}

// ---------------------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------------------

TMMControl::TMMControl(QWidget* parent) : QWidget(parent), bevel_(std::make_unique<TMMBevel>()) {
    bevel_->OnChange = [this](TMMBevel*) { BevelChanged(); };
}

TMMControl::~TMMControl() {
    bevel_->OnChange = nullptr;
    // The aligner asks for the bevel's width; it must not outlive it.
    delete TMMAligner::Of(this);
}

TColor TMMControl::Color() const {
    if (parentColor_) {
        const QWidget* p = parentWidget();
        if (auto* c = dynamic_cast<const TMMControl*>(p)) return c->Color();
        if (p) {
            const QColor q = p->palette().color(QPalette::Window);
            return RGBColor(uint8_t(q.red()), uint8_t(q.green()), uint8_t(q.blue()));
        }
    }
    return color_;
}

void TMMControl::SetColor(TColor v) {
    if (v == color_ && !parentColor_) return;
    color_ = v;
    parentColor_ = false;
    update();
    ColorChanged();
}

void TMMControl::SetParentColor(bool v) {
    if (v == parentColor_) return;
    parentColor_ = v;
    update();
    ColorChanged();
}

void TMMControl::ColorChanged() {
    for (QObject* o : children()) {
        if (auto* c = dynamic_cast<TMMControl*>(o); c && c->parentColor_) {
            c->update();
            c->ColorChanged();
        }
    }
}

void TMMControl::SetParentFont(bool v) {
    if (v == ParentFont()) return;
    if (v) {
        setFont(QFont());
    } else {
        QFont f = font();
        f.setResolveMask(QFont::AllPropertiesResolved);
        setFont(f);
    }
}

void TMMControl::SetFontColor(TColor v) {
    if (v == fontColor_) return;
    fontColor_ = v;
    update();
}

void TMMControl::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
}

void TMMControl::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TMMControl::MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, buttons, shift, x, y);
}

void TMMControl::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

bool TMMControl::event(QEvent* e) {
    if (e->type() == QEvent::ParentChange && Align() != alNone && parentWidget() && !isWindow())
        TMMAligner::Attach(parentWidget())->Realign();
    return QWidget::event(e);
}

void TMMControl::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton) pressed_ = true;
    MouseDown(e->button(), e->modifiers(), p.x(), p.y());
}

void TMMControl::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    MouseMove(e->buttons(), e->modifiers(), p.x(), p.y());
}

void TMMControl::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    const bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(p);
    if (e->button() == Qt::LeftButton) pressed_ = false;
    MouseUp(e->button(), e->modifiers(), p.x(), p.y());
    if (click && OnClick) OnClick(this);
}

void TMMControl::mouseDoubleClickEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton && OnDblClick) OnDblClick(this);
    MouseDown(e->button(), e->modifiers(), p.x(), p.y());
}

void TMMControl::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (OnResize) OnResize(this);
}

TMMGraphicControl::TMMGraphicControl(QWidget* parent) : TMMControl(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect TMMGraphicControl::ClientRect() const {
    return Shrunk(QRect(0, 0, width(), height()), BevelExtent());
}

void TMMGraphicControl::Changed() { update(); }

void TMMGraphicControl::Paint(QPainter& canvas) {
    const QRect inner = Bevel()->PaintBevel(canvas, rect(), true);
    if (inner.width() > 0 && inner.height() > 0) canvas.fillRect(inner, MMColor(Color()));
}

void TMMGraphicControl::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    Paint(canvas);
}

TMMCustomPanel::TMMCustomPanel(QWidget* parent)
    : TMMControl(parent), aligner_(new TMMAligner(this, [this] { return BevelExtent(); })) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TMMCustomPanel::SetCaption(const QString& v) {
    if (v == caption_) return;
    caption_ = v;
    update();
}

void TMMCustomPanel::SetAlignment(TAlignment v) {
    if (v == alignment_) return;
    alignment_ = v;
    update();
}

void TMMCustomPanel::Realign() {
    if (TMMAligner* a = TMMAligner::Of(this)) a->Realign();
    else AlignControls(this, Shrunk(contentsRect(), BevelExtent()));
}

void TMMCustomPanel::BevelChanged() {
    Realign();
    update();
}

QFont FitFont(const QFont& font, const QString& text, int width) {
    const QStringList lines = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split('\n');
    auto fits = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        for (const QString& line : lines)
            if (metrics.horizontalAdvance(line) > width) return false;
        return true;
    };
    if (width <= 0 || fits(font)) return font;
    QFont narrow = font;
    const int stretch = font.stretch() > 0 ? font.stretch() : int(QFont::Unstretched);
    for (int s = stretch - 4; s >= QFont::ExtraCondensed; s -= 4) {
        narrow.setStretch(s);
        if (fits(narrow)) return narrow;
    }
    narrow.setStretch(QFont::ExtraCondensed);
    const bool points = font.pointSizeF() > 0;
    for (qreal size = points ? font.pointSizeF() : font.pixelSize(); size > 4; size -= points ? 0.5 : 1) {
        if (points) narrow.setPointSizeF(size);
        else narrow.setPixelSize(int(size));
        if (fits(narrow)) break;
    }
    return narrow;
}

QFont TMMCustomPanel::CaptionFont() const { return FitFont(font(), caption_, width() - 2 * BevelExtent()); }

void TMMCustomPanel::Paint(QPainter& canvas) {
    QRect r = Bevel()->PaintBevel(canvas, rect(), true);
    if (r.width() <= 0 || r.height() <= 0) return;
    canvas.fillRect(r, MMColor(Color()));
    if (caption_.isEmpty()) return;

    const QFont face = FitFont(font(), caption_, r.width());
    canvas.setFont(face);
    canvas.setPen(MMColor(FontColor()));
    canvas.setBrush(Qt::NoBrush);
    const int h = QFontMetrics(face).height();
    // The line of text sits on the middle of the inner rectangle.
    const int top = (r.y() + (r.y() + r.height()) - h) / 2;
    const QRect line(r.x(), top, r.width(), h);
    int flags = Qt::AlignTop | Qt::TextExpandTabs;
    switch (alignment_) {
    case taLeftJustify: flags |= Qt::AlignLeft; break;
    case taRightJustify: flags |= Qt::AlignRight; break;
    case taCenter: flags |= Qt::AlignHCenter; break;
    }
    QString text = caption_;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    canvas.save();
    canvas.setClipRect(line);
    canvas.drawText(line, flags, text);
    canvas.restore();
}

void TMMCustomPanel::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    Paint(canvas);
}
