// Colours as the library states them: 0x00BBGGRR for plain colours, 0x800000nn for the
// system colours, which resolve to one fixed classic scheme so that drawing is exact.
#pragma once

#include <cstdint>

#include <QColor>

using TColor = uint32_t;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
    return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clActiveCaption = 0x80000002;
constexpr TColor clWindow = 0x80000005;
constexpr TColor clWindowFrame = 0x80000006;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnText = 0x80000012;
constexpr TColor clBtnHighlight = 0x80000014;

// A system colour resolved to 0x00BBGGRR; plain colours pass unchanged.
constexpr TColor ColorToRGB(TColor color) {
    if ((color & 0xFF000000u) != 0x80000000u) return color & 0x00FFFFFF;
    switch (color & 0xFF) {
    case 0x02: return RGBColor(10, 36, 106);     // active caption
    case 0x05: return RGBColor(255, 255, 255);   // window
    case 0x06: return RGBColor(0, 0, 0);         // window frame
    case 0x08: return RGBColor(0, 0, 0);         // window text
    case 0x0F: return RGBColor(212, 208, 200);   // button face
    case 0x10: return RGBColor(128, 128, 128);   // button shadow
    case 0x12: return RGBColor(0, 0, 0);         // button text
    case 0x14: return RGBColor(255, 255, 255);   // button highlight
    case 0x15: return RGBColor(64, 64, 64);      // 3D dark shadow
    case 0x16: return RGBColor(212, 208, 200);   // 3D light
    default: return RGBColor(212, 208, 200);
    }
}

inline QColor ToQColor(TColor color) {
    const TColor c = ColorToRGB(color);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
