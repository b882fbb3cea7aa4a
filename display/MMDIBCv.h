// The 8-bit (or 24-bit) off-screen drawing surface of the waveform views and its primitives.
// A frame is drawn between BeginDraw and EndDraw into plain pixel memory, rows bottom-up, and
// copied to the screen image in one transfer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <QImage>
#include <QRect>
#include <QVector>

#include "common/MMColors.h"

class QPainter;

class EMMDIBError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
