// The 8-bit (or 24-bit) off-screen drawing surface of the waveform views and its primitives.
// A frame is drawn between BeginDraw and EndDraw into plain pixel memory, rows bottom-up, and
// copied to the screen image in one transfer.
#pragma once

#include "common/MMErrors.h"
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <QImage>
#include <QRect>
#include <QVector>

#include "common/MMColors.h"

class QPainter;

class EMMDIBError : public EMMError {
public:
    using EMMError::EMMError;
};

extern const char* const SDIBBitlengthNotSupported;  // "Bitlength not supported yet"
extern const char* const SDIBCreateWhileDrawing;     // ": Attempt to create new DIB while initialized for drawing"
extern const char* const SDIBNoDeviceContext;        // "Unable to access DIB device context"


class TMMDIBCanvas {
public:
    // ownerClassName names the owning control in the rebuild-while-drawing message.
    explicit TMMDIBCanvas(std::string ownerClassName);
    ~TMMDIBCanvas();
    TMMDIBCanvas(const TMMDIBCanvas&) = delete;
    TMMDIBCanvas& operator=(const TMMDIBCanvas&) = delete;

    int BitsPerPixel() const { return bitsPerPixel_; }
    // 8 or 24; anything else raises EMMDIBError and keeps the old depth.
    void SetBitsPerPixel(int bits);
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Stores a new size and marks the bitmap for a rebuild at the next BeginDraw.
    void SetBounds(int left, int top, int width, int height);

    bool PaletteRealize() const { return paletteRealize_; }
    void SetPaletteRealize(bool v) { paletteRealize_ = v; }
    bool PaletteMapped() const { return paletteMapped_; }
    void SetPaletteMapped(bool v) { paletteMapped_ = v; }

    // Takes the process-wide drawing lock (held until EndDraw), rebuilds the bitmap when
    // flagged and makes this surface the current one.
    void BeginDraw();
    void EndDraw();
    bool Idle() const { return idle_; }

    // The pixel value of a colour: the nearest palette index at 8 bits, 0x00BBGGRR at 24.
    uint32_t SurfaceColor(TColor color) const;
    uint32_t SetPenColor(TColor color);
    void SetPenValue(uint32_t value);

    // Primitives on the current surface; valid only between BeginDraw and EndDraw.
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void HLine(int x1, int x2, int y);
    void DashHLine(int x1, int x2, int y);
    void VLine(int x, int y1, int y2);
    void ClearSurface();

    // Copies a rectangle of the bitmap to the painter's device at (dx, dy) through one
    // indexed image; does nothing when dc is null.
    void CopyToDevice(QPainter* dc, int dx, int dy, int w, int h, int sx, int sy);

    // Read access for tests and the views: the raw pixel memory (bottom-up rows) and a
    // picture row's pixel at 8 bits.
    const uint8_t* Bits() const { return bits_.data(); }
    int Stride() const { return stride_; }
    uint8_t PixelIndex(int x, int y) const;
    uint32_t Pixel(int x, int y) const;
    const QVector<QRgb>& Palette() const { return palette_; }
    // The whole surface as a top-down image (indexed at 8 bits, RGB32 at 24).
    QImage ToImage() const;

private:
    void Rebuild();

    std::string ownerClassName_;
    int bitsPerPixel_ = 8;
    int width_ = 1;
    int height_ = 1;
    int bmWidth_ = 1;   // size of the built bitmap (at least 1 x 1)
    int bmHeight_ = 1;
    int stride_ = 4;
    QRect clip_{0, 0, 1, 1};
    std::vector<uint8_t> bits_;
    QVector<QRgb> palette_;
    bool paletteRealize_ = false;
    bool paletteMapped_ = false;
    bool needsRebuild_ = false;
    bool idle_ = true;
};

// The 20 static palette entries as (index, r, g, b).
struct TMMStaticColor {
    int index;
    uint8_t r, g, b;
};
extern const TMMStaticColor MMStaticColors[20];

// Base of the views that draw through their own surface. A frame goes surface -> screen
// image -> widget: DrawNow binds Canvas() to the screen image (origin at the control's
// top-left), runs the drawing routine, and repaints synchronously; paintEvent only copies
// the screen image. Whatever an owner draws on Canvas() stays until the next frame.
#include "common/MMControls.h"

#include <functional>

class TMMDIBGraphicControl : public TMMGraphicControl {
public:
    explicit TMMDIBGraphicControl(QWidget* parent, const std::string& className);
    ~TMMDIBGraphicControl() override;

    TMMDIBCanvas* DIBCanvas() const { return dib_.get(); }
    // Changes the surface's depth, then invalidates.
    virtual void SetBitsPerPixel(int bits);
    int32_t Tag2() const { return tag2_; }
    void SetTag2(int32_t v) { tag2_ = v; }

    // The painter bound to the screen image while a frame is drawn (and inside ScreenPaint);
    // nullptr otherwise.
    QPainter* Canvas() const { return canvas_; }
    // Runs routine(flag) with Canvas() bound, then shows the screen image at once. Does
    // nothing while the control is hidden or has no parent.
    void DrawNow(const std::function<void(bool)>& routine, bool flag);
    // Runs paint with Canvas() bound to the screen image outside a frame (for lines drawn
    // between frames, such as a drag), then shows the result at once.
    void ScreenPaint(const std::function<void(QPainter&)>& paint);
    // The picture as last shown (view size), for tests and screenshots.
    const QImage& ScreenImage() const { return screen_; }

protected:
    // Fills the whole surface with Color; call between BeginDraw and EndDraw.
    virtual void DrawBackground();
    // Draws one complete frame onto Canvas() (bevel, surface, post-paint); the base draws the
    // bevel and the background.
    virtual void PaintFrame(bool flag);
    void Paint(QPainter& canvas) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void EnsureScreen();
    void ShowScreen();

    std::unique_ptr<TMMDIBCanvas> dib_;
    QImage screen_;
    QPainter* canvas_ = nullptr;
    bool screenValid_ = false;  // true only while ShowScreen repaints
    bool inPaintEvent_ = false;
    int32_t tag2_ = 0;
};
