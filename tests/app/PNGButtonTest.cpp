// The image button: PNG decoding through libpng (PNGs written byte by byte here), bad data,
// the drawn glyphs of the program, and the button's painting and grouped pressed state.
#include "app/Application.h"
#include "app/PNGButton.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <array>
#include <string>

namespace {

using testutil::be32;

uint32_t crc32(const std::string& bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string chunk(const std::string& type, const std::string& data) {
    return be32(uint32_t(data.size())) + type + data + be32(crc32(type + data));
}

std::string zlibStream(const std::string& raw) {
    const QByteArray packed = qCompress(QByteArray(raw.data(), qsizetype(raw.size())));
    return std::string(packed.constData() + 4, size_t(packed.size() - 4));  // without Qt's length prefix
}

// Signature, IHDR (no interlace), the extra chunks, one IDAT of the filtered rows, IEND.
std::string png(uint32_t width, uint32_t height, int bitDepth, int colorType, const std::string& rows,
                const std::string& extra = {}) {
    const std::string ihdr = be32(width) + be32(height) + char(bitDepth) + char(colorType) + std::string(3, '\0');
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + extra + chunk("IDAT", zlibStream(rows)) +
           chunk("IEND", "");
}

QByteArray bytes(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

// A 3 x 2 RGBA picture: red, green, blue / white, transparent, half-transparent grey.
std::string rgbaPicture() {
    const std::string row0 = std::string("\0", 1) + std::string("\xff\x00\x00\xff\x00\xff\x00\xff\x00\x00\xff\xff", 12);
    const std::string row1 = std::string("\0", 1) + std::string("\xff\xff\xff\xff\x10\x20\x30\x00\x80\x80\x80\x80", 12);
    return png(3, 2, 8, 6, row0 + row1, chunk("tEXt", std::string("hotspot\0" "3,4", 11)));
}

TEST(PNGDecodeTest, RgbaPixelsAndTextChunk) {
    QImage image;
    std::string error;
    std::map<std::string, std::string> text;
    ASSERT_TRUE(DecodePNG(bytes(rgbaPicture()), image, &error, &text)) << error;
    ASSERT_EQ(image.size(), QSize(3, 2));
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(argb.pixel(0, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(argb.pixel(1, 0), qRgba(0, 255, 0, 255));
    EXPECT_EQ(argb.pixel(2, 0), qRgba(0, 0, 255, 255));
    EXPECT_EQ(argb.pixel(0, 1), qRgba(255, 255, 255, 255));
    EXPECT_EQ(qAlpha(argb.pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(argb.pixel(2, 1)), 128);
    EXPECT_NEAR(qRed(argb.pixel(2, 1)), 128, 1);
    EXPECT_EQ(text["hotspot"], "3,4");
}

TEST(PNGDecodeTest, PaletteWithTransparencyAndSixteenBitGrey) {
    // 2-bit palette, 4 pixels in one byte (indices 0 1 2 3), entry 3 fully transparent.
    const std::string plte = chunk("PLTE", std::string("\x00\x00\x00\xff\xff\xff\x11\x22\x33\x44\x55\x66", 12));
    const std::string trns = chunk("tRNS", std::string("\xff\xff\xff\x00", 4));
    QImage image;
    std::string error;
    ASSERT_TRUE(DecodePNG(bytes(png(4, 1, 2, 3, std::string("\x00\x1b", 2), plte + trns)), image, &error)) << error;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(argb.pixel(0, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(argb.pixel(1, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(argb.pixel(2, 0), qRgba(0x11, 0x22, 0x33, 255));
    EXPECT_EQ(qAlpha(argb.pixel(3, 0)), 0);

    // 16-bit grey without alpha: the high byte is kept, the pixel is opaque.
    ASSERT_TRUE(DecodePNG(bytes(png(2, 1, 16, 0, std::string("\x00\x80\xff\x01\x00", 5))), image, &error)) << error;
    const QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(grey.pixel(0, 0), qRgba(0x80, 0x80, 0x80, 255));
    EXPECT_EQ(grey.pixel(1, 0), qRgba(0x01, 0x01, 0x01, 255));
}

TEST(PNGDecodeTest, BadDataIsReportedAndGivesNoImage) {
    const std::string good = rgbaPicture();
    std::string badCrc = good;
    badCrc[29] ^= 0x01;  // last byte of the IHDR checksum
    std::string badZlib = png(3, 2, 8, 6, std::string(26, '\0'));
    const size_t idat = badZlib.find("IDAT");
    badZlib[idat + 4] = '\x12';  // not a zlib header any more
    badZlib.replace(badZlib.size() - 12 - 4, 4, be32(crc32(badZlib.substr(idat, badZlib.size() - 16 - idat))));
    const std::string huge = png(5000, 1, 8, 6, std::string("\0", 1) + std::string(20000, '\0'));
    const std::string shortRows = png(3, 2, 8, 6, std::string(13, '\0'));  // one row of two

    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"not a PNG", "GIF89a........"},
        {"signature only", good.substr(0, 8)},
        {"cut in the image data", good.substr(0, good.size() - 20)},
        {"no end chunk", good.substr(0, good.size() - 12)},
        {"header checksum", badCrc},
        {"image data not zlib", badZlib},
        {"too large", huge},
        {"rows missing", shortRows},
    };
    for (const auto& [what, data] : cases) {
        SCOPED_TRACE(what);
        QImage image(4, 4, QImage::Format_ARGB32);
        std::string error;
        EXPECT_FALSE(DecodePNG(bytes(data), image, &error));
        EXPECT_TRUE(image.isNull());
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    QImage image;
    DecodePNG(QByteArray("GIF89a........"), image, &error);
    EXPECT_EQ(error, "not a PNG image");
}

TEST(PNGButtonTest, FailedLoadKeepsTheGlyph) {
    TPNGButton button;
    ASSERT_TRUE(button.LoadPNG(bytes(rgbaPicture())));
    EXPECT_FALSE(button.LoadPNG(QByteArray("\x89PNG\r\n\x1a\nbroken", 14)));
    EXPECT_FALSE(button.LastError().empty());
    EXPECT_EQ(button.Glyph().size(), QSize(3, 2));
    EXPECT_FALSE(button.LoadImage("no-such-image"));
    EXPECT_EQ(button.Glyph().size(), QSize(3, 2));
}

TEST(PNGButtonTest, ProgramImagesDecodeAtBothScales) {
    InitResources();
    const char* names[] = {"show", "set", "clear", "close", "start", "end", "stop",
                           "play", "zoom-out", "zoom-in", "full-view"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        TPNGButton button;
        ASSERT_TRUE(button.LoadImage(name)) << button.LastError();
        const QImage one = button.Glyph(1), two = button.Glyph(2);
        EXPECT_EQ(two.size(), one.size() * 2);
        EXPECT_EQ(one.deviceIndependentSize(), two.deviceIndependentSize());
        EXPECT_TRUE(one.size() == QSize(16, 16) || one.size() == QSize(20, 20));
        // Something is drawn, and the border pixels stay clear of it.
        int opaque = 0;
        for (int y = 0; y < one.height(); ++y)
            for (int x = 0; x < one.width(); ++x) opaque += qAlpha(one.pixel(x, y)) == 255;
        EXPECT_GT(opaque, 10);
        EXPECT_EQ(qAlpha(one.pixel(0, 0)), 0);
    }
    for (const char* cursor : {"CUR_MARK", "CUR_ZOOM"}) {
        QImage image;
        std::map<std::string, std::string> text;
        ASSERT_TRUE(LoadPNGFile(QString(":/cursors/%1.png").arg(cursor), image, nullptr, &text));
        EXPECT_EQ(image.size(), QSize(32, 32));
        EXPECT_FALSE(text["hotspot"].empty());
    }
}

// A button of 30 x 24 with a solid red 4 x 4 glyph in the middle.
QImage paintRedButton(bool enabled, bool flat) {
    const std::string row = std::string("\0", 1) + std::string("\xff\x00\x00\xff\xff\x00\x00\xff\xff\x00\x00\xff\xff\x00\x00\xff", 16);
    TPNGButton button;
    button.LoadPNG(bytes(png(4, 4, 8, 6, row + row + row + row)));
    button.SetFlat(flat);
    button.setEnabled(enabled);
    button.resize(30, 24);
    const QImage picture = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Back to logical pixels, so the checks hold at any device-pixel ratio.
    return picture.scaled(30, 24, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

TEST(PNGButtonTest, PaintsGlyphFrameAndDisabledLook) {
    SetUpApplication();
    const QImage raised = paintRedButton(true, false);
    EXPECT_EQ(raised.pixel(15, 12), qRgb(255, 0, 0));   // glyph centred
    EXPECT_EQ(raised.pixel(0, 0), qRgb(255, 255, 255));  // highlight edge
    EXPECT_EQ(raised.pixel(29, 23), qRgb(64, 64, 64));   // dark shadow edge
    EXPECT_EQ(raised.pixel(5, 5), qRgb(212, 208, 200));  // face

    const QImage flat = paintRedButton(true, true);
    EXPECT_EQ(flat.pixel(15, 12), qRgb(255, 0, 0));
    EXPECT_EQ(flat.pixel(0, 0), flat.pixel(5, 5));  // no frame without the mouse over it

    const QImage disabled = paintRedButton(false, false);
    const QRgb g = disabled.pixel(15, 12);  // grey, half blended into the face
    EXPECT_NEAR(qRed(g), qGreen(g), 8);
    EXPECT_NEAR(qGreen(g), qBlue(g), 8);
    EXPECT_NE(g, raised.pixel(5, 5));  // still visible on the face
}

TEST(PNGButtonTest, GroupedButtonStaysDown) {
    TPNGButton play;
    play.resize(28, 28);
    play.SetGroupIndex(2);
    QSignalSpy clicks(&play, &QAbstractButton::clicked);
    QTest::mouseClick(&play, Qt::LeftButton);
    EXPECT_TRUE(play.Down());
    QTest::mouseClick(&play, Qt::LeftButton);
    EXPECT_TRUE(play.Down());  // not all up: only the code raises it
    play.SetDown(false);
    play.SetAllowAllUp(true);
    QTest::mouseClick(&play, Qt::LeftButton);
    EXPECT_TRUE(play.Down());
    QTest::mouseClick(&play, Qt::LeftButton);
    EXPECT_FALSE(play.Down());
    EXPECT_EQ(clicks.count(), 4);

    TPNGButton plain;
    plain.resize(28, 28);
    QTest::mouseClick(&plain, Qt::LeftButton);
    EXPECT_FALSE(plain.Down());
    EXPECT_EQ(plain.focusPolicy(), Qt::NoFocus);
}

}  // namespace
