#include "display/MMDIBCv.h"
#include "common/ScopeExit.h"

#include <QPainter>

#include <algorithm>
#include <cstring>
#include <mutex>

const char* const SDIBBitlengthNotSupported = "Bitlength not supported yet";
const char* const SDIBCreateWhileDrawing = ": Attempt to create new DIB while initialized for drawing";
const char* const SDIBNoDeviceContext = "Unable to access DIB device context";

const TMMStaticColor MMStaticColors[20] = {
    {0, 0, 0, 0},        {1, 128, 0, 0},       {2, 0, 128, 0},       {3, 128, 128, 0},
    {4, 0, 0, 128},      {5, 128, 0, 128},     {6, 0, 128, 128},     {7, 192, 192, 192},
    {8, 192, 220, 192},  {9, 166, 202, 240},   {246, 255, 251, 240}, {247, 160, 160, 164},
    {248, 128, 128, 128}, {249, 255, 0, 0},    {250, 0, 255, 0},     {251, 255, 255, 0},
    {252, 0, 0, 255},    {253, 255, 0, 255},   {254, 0, 255, 255},   {255, 255, 255, 255},
};

namespace {

// The one current surface of the process: every primitive works on it.
struct DrawState {
    int bytesPerPixel = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    ptrdiff_t rowStep = 0;       // from one picture row to the next in memory (bottom-up: -stride)
    uint8_t* bits = nullptr;     // picture row 0, column 0
    QRect clip;                  // left, top, right (exclusive), bottom (exclusive) as x/y/w/h
    uint32_t pen = 0;
    int penX = 0;
    int penY = 0;
};

DrawState g_state;
std::mutex g_drawLock;

inline int ClipLeft() { return g_state.clip.left(); }
inline int ClipTop() { return g_state.clip.top(); }
inline int ClipRight() { return g_state.clip.left() + g_state.clip.width(); }
inline int ClipBottom() { return g_state.clip.top() + g_state.clip.height(); }

inline uint8_t* PixelAddr(int x, int y) {
    return g_state.bits + ptrdiff_t(y) * g_state.rowStep + ptrdiff_t(x) * g_state.bytesPerPixel;
}

inline void PutPixel(int x, int y) {
    uint8_t* p = PixelAddr(x, y);
    if (g_state.bytesPerPixel == 1) {
        *p = uint8_t(g_state.pen);
    } else {
        // 0x00BBGGRR stored as blue, green, red.
        p[0] = uint8_t(g_state.pen >> 16);
        p[1] = uint8_t(g_state.pen >> 8);
        p[2] = uint8_t(g_state.pen);
    }
}

// Fills count pixels of one row starting at x.
void FillRun(int x, int y, int count) {
    if (count <= 0) return;
    uint8_t* p = PixelAddr(x, y);
    if (g_state.bytesPerPixel == 1) {
        std::memset(p, int(g_state.pen & 0xFF), size_t(count));
    } else {
        for (int i = 0; i < count; ++i, p += 3) {
            p[0] = uint8_t(g_state.pen >> 16);
            p[1] = uint8_t(g_state.pen >> 8);
            p[2] = uint8_t(g_state.pen);
        }
    }
}

enum : int { OutLeft = 1, OutRight = 2, OutTop = 4, OutBottom = 8 };

int RegionCode(int x, int y) {
    int code = 0;
    if (x < ClipLeft()) code |= OutLeft;
    else if (x >= ClipRight()) code |= OutRight;
    if (y < ClipTop()) code |= OutTop;
    else if (y >= ClipBottom()) code |= OutBottom;
    return code;
}

// Cohen-Sutherland against the clip rectangle; false when nothing is left to draw.
bool ClipLine(int& x1, int& y1, int& x2, int& y2) {
    for (;;) {
        const int c1 = RegionCode(x1, y1);
        const int c2 = RegionCode(x2, y2);
        if ((c1 | c2) == 0) return true;
        if (c1 & c2) return false;
        const bool firstOut = c1 != 0;
        int& px = firstOut ? x1 : x2;
        int& py = firstOut ? y1 : y2;
        const int qx = firstOut ? x2 : x1;
        const int qy = firstOut ? y2 : y1;
        const int code = firstOut ? c1 : c2;
        // 64-bit products: coordinates reach +-32767, so differences reach 65534.
        if (code & OutBottom) {
            const int e = ClipBottom() - 1;
            px = int(px + int64_t(e - py) * (qx - px) / (qy - py));
            py = e;
        } else if (code & OutTop) {
            const int e = ClipTop();
            px = int(px + int64_t(e - py) * (qx - px) / (qy - py));
            py = e;
        } else if (code & OutRight) {
            const int e = ClipRight() - 1;
            py = int(py + int64_t(e - px) * (qy - py) / (qx - px));
            px = e;
        } else {
            const int e = ClipLeft();
            py = int(py + int64_t(e - px) * (qy - py) / (qx - px));
            px = e;
        }
    }
}

QRgb StaticRgb(int i, const QVector<QRgb>& palette) { return palette[i]; }

}  // namespace

TMMDIBCanvas::TMMDIBCanvas(std::string ownerClassName) : ownerClassName_(std::move(ownerClassName)) {
    Rebuild();
}

TMMDIBCanvas::~TMMDIBCanvas() {
    if (!idle_) EndDraw();
}

void TMMDIBCanvas::SetBitsPerPixel(int bits) {
    if (bits != 8 && bits != 24) throw EMMDIBError(SDIBBitlengthNotSupported);
    if (bits == bitsPerPixel_) return;
    if (!idle_) throw EMMDIBError(ownerClassName_ + SDIBCreateWhileDrawing);
    bitsPerPixel_ = bits;
    Rebuild();
}

void TMMDIBCanvas::SetBounds(int, int, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    clip_ = QRect(0, 0, width, height);
    needsRebuild_ = true;
}

void TMMDIBCanvas::Rebuild() {
    if (!idle_) throw EMMDIBError(ownerClassName_ + SDIBCreateWhileDrawing);
    bmWidth_ = std::max(width_, 1);
    bmHeight_ = std::max(height_, 1);
    const int bytesPerPixel = bitsPerPixel_ / 8;
    stride_ = (bmWidth_ * bytesPerPixel + 3) & ~3;
    bits_.assign(size_t(stride_) * size_t(bmHeight_), 0);  // filled with black
    palette_ = QVector<QRgb>(256, qRgb(0, 0, 0));
    for (const TMMStaticColor& c : MMStaticColors) palette_[c.index] = qRgb(c.r, c.g, c.b);
    clip_ = QRect(0, 0, width_, height_);
    needsRebuild_ = false;
}

void TMMDIBCanvas::BeginDraw() {
    // Held from here until EndDraw; a failed rebuild gives it back at once.
    std::unique_lock<std::mutex> lock(g_drawLock);
    if (needsRebuild_) Rebuild();
    lock.release();
    g_state.bytesPerPixel = bitsPerPixel_ / 8;
    g_state.width = bmWidth_;
    g_state.height = bmHeight_;
    g_state.stride = stride_;
    g_state.rowStep = -ptrdiff_t(stride_);
    g_state.bits = bits_.data() + size_t(bmHeight_ - 1) * size_t(stride_);
    g_state.clip = clip_;
    g_state.penX = 0;
    g_state.penY = 0;
    idle_ = false;
}

void TMMDIBCanvas::EndDraw() {
    if (idle_) return;
    g_state = DrawState{};
    idle_ = true;
    g_drawLock.unlock();
}

uint32_t TMMDIBCanvas::SurfaceColor(TColor color) const {
    const TColor rgb = ColorToRGB(color);
    if (bitsPerPixel_ == 24) return rgb;
    const int r = GetRValue(rgb), g = GetGValue(rgb), b = GetBValue(rgb);
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < 256; ++i) {
        const QRgb p = StaticRgb(i, palette_);
        const int dr = qRed(p) - r, dg = qGreen(p) - g, db = qBlue(p) - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return uint32_t(best);
}

uint32_t TMMDIBCanvas::SetPenColor(TColor color) {
    const uint32_t value = SurfaceColor(color);
    SetPenValue(value);
    return value;
}

void TMMDIBCanvas::SetPenValue(uint32_t value) {
    if (bitsPerPixel_ == 8) value = (value & 0xFF) * 0x01010101u;
    g_state.pen = value;
}

void TMMDIBCanvas::MoveTo(int x, int y) {
    g_state.penX = x;
    g_state.penY = y;
}

void TMMDIBCanvas::LineTo(int x, int y) {
    int x1 = g_state.penX, y1 = g_state.penY, x2 = x, y2 = y;
    g_state.penX = x;
    g_state.penY = y;
    if (!g_state.bits) return;
    if (!ClipLine(x1, y1, x2, y2)) return;
    if (x1 == x2) {
        const int top = std::min(y1, y2), bottom = std::max(y1, y2);
        for (int yy = top; yy < bottom; ++yy) PutPixel(x1, yy);
        return;
    }
    if (y1 == y2) {
        FillRun(std::min(x1, x2), y1, std::abs(x2 - x1));
        return;
    }
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    const int dx = x2 - x1;
    const int dy = std::abs(y2 - y1);
    const int ystep = y2 > y1 ? 1 : -1;
    if (dx >= dy) {
        const int d = dx, m = dy;
        int e = 2 * m - d;
        for (int i = 0, xx = x1, yy = y1; i < d; ++i) {
            PutPixel(xx, yy);
            ++xx;
            if (e < 0) {
                e += 2 * m;
            } else {
                e += 2 * m - 2 * d;
                yy += ystep;
            }
        }
    } else {
        const int d = dy, m = dx;
        int e = 2 * m - d;
        for (int i = 0, xx = x1, yy = y1; i < d; ++i) {
            PutPixel(xx, yy);
            yy += ystep;
            if (e < 0) {
                e += 2 * m;
            } else {
                e += 2 * m - 2 * d;
                ++xx;
            }
        }
    }
}

void TMMDIBCanvas::HLine(int x1, int x2, int y) {
    if (!g_state.bits) return;
    if (x1 > x2) std::swap(x1, x2);
    if (y < ClipTop() || y >= ClipBottom()) return;
    x1 = std::max(x1, ClipLeft());
    x2 = std::min(x2, ClipRight());
    FillRun(x1, y, x2 - x1);
}

void TMMDIBCanvas::DashHLine(int x1, int x2, int y) {
    if (!g_state.bits) return;
    if (x1 > x2) std::swap(x1, x2);
    if (y < ClipTop() || y >= ClipBottom()) return;
    x1 = std::max(x1, ClipLeft());
    x2 = std::min(x2, ClipRight());
    if (x2 - x1 < 4) return;
    for (int x = x1; x < x2; x += 8) FillRun(x, y, std::min(4, x2 - x));
}

void TMMDIBCanvas::VLine(int x, int y1, int y2) {
    if (!g_state.bits) return;
    if (y1 > y2) std::swap(y1, y2);
    if (x < ClipLeft() || x >= ClipRight()) return;
    y1 = std::max(y1, ClipTop());
    y2 = std::min(y2, ClipBottom());
    for (int y = y1; y < y2; ++y) PutPixel(x, y);
}

void TMMDIBCanvas::ClearSurface() {
    if (!g_state.bits) return;
    if (g_state.bytesPerPixel == 1) {
        // Padding included: the whole block from the last memory row's start.
        uint8_t* first = g_state.bits - ptrdiff_t(g_state.height - 1) * g_state.stride;
        std::memset(first, int(g_state.pen & 0xFF), size_t(g_state.stride) * size_t(g_state.height));
    } else {
        for (int y = 0; y < g_state.height; ++y) FillRun(0, y, g_state.width);
    }
}

void TMMDIBCanvas::CopyToDevice(QPainter* dc, int dx, int dy, int w, int h, int sx, int sy) {
    if (!dc) return;
    // Clip the source rectangle to the bitmap.
    if (sx < 0) { dx -= sx; w += sx; sx = 0; }
    if (sy < 0) { dy -= sy; h += sy; sy = 0; }
    w = std::min(w, bmWidth_ - sx);
    h = std::min(h, bmHeight_ - sy);
    if (w <= 0 || h <= 0) return;
    const QImage::Format format = bitsPerPixel_ == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888;
    QImage image(w, h, format);
    if (bitsPerPixel_ == 8) image.setColorTable(palette_);
    const int bpp = bitsPerPixel_ / 8;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bits_.data() + size_t(bmHeight_ - 1 - (sy + y)) * size_t(stride_) + size_t(sx) * bpp;
        uchar* dst = image.scanLine(y);
        if (bpp == 1) {
            std::memcpy(dst, src, size_t(w));
        } else {
            for (int x = 0; x < w; ++x) {  // BGR in memory, RGB in the image
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        }
    }
    dc->drawImage(dx, dy, image);
}

uint8_t TMMDIBCanvas::PixelIndex(int x, int y) const {
    return bits_[size_t(bmHeight_ - 1 - y) * size_t(stride_) + size_t(x) * (bitsPerPixel_ / 8)];
}

uint32_t TMMDIBCanvas::Pixel(int x, int y) const {
    const uint8_t* p = bits_.data() + size_t(bmHeight_ - 1 - y) * size_t(stride_) + size_t(x) * (bitsPerPixel_ / 8);
    if (bitsPerPixel_ == 8) return *p;
    return RGBColor(p[2], p[1], p[0]);
}

QImage TMMDIBCanvas::ToImage() const {
    QImage image(bmWidth_, bmHeight_, QImage::Format_RGB32);
    QPainter painter(&image);
    const_cast<TMMDIBCanvas*>(this)->CopyToDevice(&painter, 0, 0, bmWidth_, bmHeight_, 0, 0);
    return image;
}

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget* parent, const std::string& className)
    : TMMGraphicControl(parent), dib_(std::make_unique<TMMDIBCanvas>(className)) {}

TMMDIBGraphicControl::~TMMDIBGraphicControl() = default;

void TMMDIBGraphicControl::SetBitsPerPixel(int bits) {
    dib_->SetBitsPerPixel(bits);
    update();
}

void TMMDIBGraphicControl::DrawBackground() {
    dib_->SetPenColor(Color());
    dib_->ClearSurface();
}

void TMMDIBGraphicControl::PaintFrame(bool) {
    if (!canvas_) return;
    Bevel()->PaintBevel(*canvas_, rect(), true);
    dib_->BeginDraw();
    DrawBackground();
    const QRect inner = ClientRect();
    dib_->CopyToDevice(canvas_, inner.left(), inner.top(), inner.width(), inner.height(), 0, 0);
    dib_->EndDraw();
}

void TMMDIBGraphicControl::EnsureScreen() {
    const QSize size(std::max(width(), 1), std::max(height(), 1));
    if (screen_.size() != size) {
        screen_ = QImage(size, QImage::Format_RGB32);
        screen_.fill(Qt::black);
    }
}

void TMMDIBGraphicControl::DrawNow(const std::function<void(bool)>& routine, bool flag) {
    if (isHidden() || !parentWidget()) return;
    EnsureScreen();
    {
        QPainter painter(&screen_);
        QPainter* outer = canvas_;
        canvas_ = &painter;
        const auto restore = ScopeExit([this, outer] { canvas_ = outer; });
        routine(flag);
    }
    ShowScreen();
}

void TMMDIBGraphicControl::ScreenPaint(const std::function<void(QPainter&)>& paint) {
    EnsureScreen();
    {
        QPainter painter(&screen_);
        QPainter* outer = canvas_;
        canvas_ = &painter;
        paint(painter);
        canvas_ = outer;
    }
    ShowScreen();
}

void TMMDIBGraphicControl::ShowScreen() {
    // Inside paintEvent the copy follows anyway; a nested repaint would be refused.
    if (inPaintEvent_ || !isVisible()) return;
    screenValid_ = true;
    repaint();
    screenValid_ = false;
}

void TMMDIBGraphicControl::Paint(QPainter&) {
    DrawNow([this](bool f) { PaintFrame(f); }, false);
}

void TMMDIBGraphicControl::paintEvent(QPaintEvent*) {
    // Our own repaint only copies the fresh screen image; any other paint (an invalidation,
    // an expose) draws a new frame from the view's data first, as the toolkit would.
    inPaintEvent_ = true;
    {
        const auto leave = ScopeExit([this] { inPaintEvent_ = false; });
        EnsureScreen();
        if (!screenValid_) DrawNow([this](bool f) { PaintFrame(f); }, false);
    }
    QPainter widgetPainter(this);
    widgetPainter.drawImage(0, 0, screen_);
}

void TMMDIBGraphicControl::resizeEvent(QResizeEvent* e) {
    TMMGraphicControl::resizeEvent(e);
    EnsureScreen();
}
