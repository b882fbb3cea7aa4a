#include "app/PNGButton.h"

#include "common/MMColors.h"

#include <QEnterEvent>
#include <QFile>
#include <QPainter>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace {

// Everything the libpng callbacks touch lives here, outside the frame that calls setjmp, so
// that a longjmp out of libpng skips no destructor and leaves no value indeterminate.
struct ReadState {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    std::string error;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<unsigned char> pixels;  // RGBA, 8 bits per channel
    std::vector<png_bytep> rows;
    std::map<std::string, std::string>* text = nullptr;
};

// Larger images are refused before any allocation: the buttons and cursors are tiny.
constexpr uint32_t kMaxSide = 4096;

void readData(png_structp png, png_bytep out, png_size_t length) {
    auto* s = static_cast<ReadState*>(png_get_io_ptr(png));
    if (s->size - s->pos < length) png_error(png, "truncated PNG data");
    std::memcpy(out, s->data + s->pos, length);
    s->pos += length;
}

void onError(png_structp png, png_const_charp message) {
    auto* s = static_cast<ReadState*>(png_get_error_ptr(png));
    s->error = message ? message : "PNG error";
    longjmp(png_jmpbuf(png), 1);
}

void onWarning(png_structp, png_const_charp) {}

void collectText(png_structp png, png_infop info, ReadState* s) {
    png_textp entries = nullptr;
    int count = 0;
    if (!s->text || png_get_text(png, info, &entries, &count) <= 0) return;
    for (int i = 0; i < count; ++i) {
        (*s->text)[entries[i].key ? entries[i].key : ""] =
            std::string(entries[i].text ? entries[i].text : "", entries[i].text_length);
    }
}

// Returns true when the whole image and its end were read. No C++ object is constructed in
// this frame after setjmp.
bool readPNG(ReadState* s) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, onError, onWarning);
    if (!png) {
        s->error = "cannot create the PNG reader";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    png_infop endInfo = info ? png_create_info_struct(png) : nullptr;
    if (!info || !endInfo) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        s->error = "cannot create the PNG reader";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    png_set_read_fn(png, s, readData);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);

    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    s->width = png_get_image_width(png, info);
    s->height = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != size_t(s->width) * 4) png_error(png, "unsupported PNG pixel layout");
    s->pixels.assign(size_t(s->width) * s->height * 4, 0);
    s->rows.resize(s->height);
    for (uint32_t y = 0; y < s->height; ++y) s->rows[y] = s->pixels.data() + size_t(y) * s->width * 4;
    png_read_image(png, s->rows.data());
    png_read_end(png, endInfo);
    collectText(png, info, s);
    collectText(png, endInfo, s);
    png_destroy_read_struct(&png, &info, &endInfo);
    return true;
}

// The disabled look: the glyph's shape in two greys, lighter and fainter than the face text.
QImage greyed(const QImage& source) {
    QImage out = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const int grey = 128 + qGray(p) / 3;
            line[x] = qRgba(grey, grey, grey, qAlpha(p) * 3 / 5);
        }
    }
    out.setDevicePixelRatio(source.devicePixelRatio());
    return out;
}

}  // namespace

bool DecodePNG(const QByteArray& bytes, QImage& image, std::string* error,
               std::map<std::string, std::string>* text) {
    image = QImage();
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.constData()), 0, 8) != 0)
        return fail("not a PNG image");

    ReadState state;
    state.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    state.size = size_t(bytes.size());
    state.text = text;
    if (!readPNG(&state)) return fail(state.error.empty() ? "invalid PNG data" : state.error);

    QImage rgba(state.pixels.data(), int(state.width), int(state.height), int(state.width) * 4,
                QImage::Format_RGBA8888);
    image = rgba.convertToFormat(QImage::Format_ARGB32_Premultiplied);  // deep copy
    if (error) error->clear();
    return true;
}

bool LoadPNGFile(const QString& path, QImage& image, std::string* error,
                 std::map<std::string, std::string>* text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        image = QImage();
        if (error) *error = "cannot open " + path.toStdString();
        return false;
    }
    return DecodePNG(file.readAll(), image, error, text);
}

TPNGButton::TPNGButton(QWidget* parent) : QAbstractButton(parent) {
    // A speed button never takes the keyboard focus.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

bool TPNGButton::LoadPNG(const QByteArray& bytes, int scale) {
    QImage image;
    if (!DecodePNG(bytes, image, &lastError_)) return false;
    image.setDevicePixelRatio(scale >= 2 ? 2.0 : 1.0);
    (scale >= 2 ? glyph2x_ : glyph_) = image;
    updateGeometry();
    update();
    return true;
}

bool TPNGButton::LoadImage(const QString& name) {
    QFile one(":/images/" + name + ".png");
    if (!one.open(QIODevice::ReadOnly)) {
        lastError_ = "no image " + name.toStdString();
        return false;
    }
    if (!LoadPNG(one.readAll(), 1)) return false;
    QFile two(":/images/" + name + "@2x.png");
    if (two.open(QIODevice::ReadOnly)) return LoadPNG(two.readAll(), 2);
    return true;
}

QImage TPNGButton::Glyph(int scale) const {
    return scale >= 2 && !glyph2x_.isNull() ? glyph2x_ : glyph_;
}

void TPNGButton::SetFlat(bool flat) {
    if (flat_ == flat) return;
    flat_ = flat;
    update();
}

void TPNGButton::SetGroupIndex(int index) {
    groupIndex_ = index < 0 ? 0 : index;
    setCheckable(groupIndex_ > 0);
}

void TPNGButton::nextCheckState() {
    // A grouped button goes down on a click and only comes up again by a second click when
    // the group allows all buttons up (otherwise the code raises it).
    if (!isCheckable()) return;
    if (!isChecked()) setChecked(true);
    else if (allowAllUp_) setChecked(false);
}

QSize TPNGButton::sizeHint() const {
    const QSize glyph = glyph_.isNull() ? QSize(0, 0) : glyph_.size();
    const int textWidth = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text());
    const int gap = glyph.width() > 0 && textWidth > 0 ? 4 : 0;
    return QSize(glyph.width() + gap + textWidth + 10, std::max(glyph.height(), fontMetrics().height()) + 8);
}

void TPNGButton::enterEvent(QEnterEvent* event) {
    hover_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TPNGButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TPNGButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    const bool sunken = isDown() || isChecked();
    const bool enabled = isEnabled();
    const QColor face = ToQColor(clBtnFace);
    const QColor light = ToQColor(clBtnHighlight);
    const QColor shadow = ToQColor(clBtnShadow);
    const QColor dark = ToQColor(0x80000015);

    if (isChecked() && !isDown()) p.fillRect(r, QColor(232, 230, 226));
    else if (!flat_ || (hover_ && enabled)) p.fillRect(r, hover_ && enabled ? face.lighter(104) : face);

    // Frame: raised for a plain button (and a flat one under the mouse), sunken when down.
    auto edge = [&](const QRect& box, const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(box.topLeft(), box.topRight() - QPoint(1, 0));
        p.drawLine(box.topLeft(), box.bottomLeft() - QPoint(0, 1));
        p.setPen(bottomRight);
        p.drawLine(box.bottomLeft(), box.bottomRight());
        p.drawLine(box.topRight(), box.bottomRight());
    };
    if (sunken && (enabled || isChecked())) {
        edge(r, shadow, light);
    } else if (!flat_) {
        edge(r, light, dark);
        edge(r.adjusted(1, 1, -1, -1), face, shadow);
    } else if (hover_ && enabled) {
        edge(r, light, shadow);
    }

    const qreal ratio = devicePixelRatioF();
    QImage glyph = Glyph(ratio > 1.5 ? 2 : 1);
    if (!glyph.isNull() && !enabled) glyph = greyed(glyph);
    const QSize glyphSize = glyph.isNull() ? QSize(0, 0) : (glyph.deviceIndependentSize().toSize());
    const QString caption = text();
    const QFontMetrics fm = fontMetrics();
    const int textWidth = caption.isEmpty() ? 0 : fm.horizontalAdvance(caption);
    const int gap = glyphSize.width() > 0 && textWidth > 0 ? 4 : 0;
    const int total = glyphSize.width() + gap + textWidth;
    const int shift = sunken && isDown() ? 1 : 0;
    int x = margin_ >= 0 ? margin_ : (r.width() - total) / 2;
    x += shift;

    if (!glyph.isNull()) {
        const int y = (r.height() - glyphSize.height()) / 2 + shift;
        p.drawImage(QRect(QPoint(x, y), glyphSize), glyph);
        x += glyphSize.width() + gap;
    }
    if (!caption.isEmpty()) {
        const QRect textRect(x, shift, r.width() - x, r.height());
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
        if (enabled) {
            p.setPen(ToQColor(clBtnText));
            p.drawText(textRect, flags, caption);
        } else {
            // The engraved look of a disabled caption.
            p.setPen(light);
            p.drawText(textRect.translated(1, 1), flags, caption);
            p.setPen(shadow);
            p.drawText(textRect, flags, caption);
        }
    }
}
