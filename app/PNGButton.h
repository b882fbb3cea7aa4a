// The window's image buttons: a flat button with a PNG glyph (decoded with libpng) and an
// optional caption, which can also stay pressed as one of a group (the play button).
#pragma once

#include <QAbstractButton>
#include <QByteArray>
#include <QImage>
#include <QString>

#include <map>
#include <string>

// Decodes PNG bytes into a 32-bit ARGB image (any bit depth, palette, grey or alpha form).
// Returns false, with the reason in *error, for bytes that are not a complete, valid PNG;
// image is then left null. The tEXt/zTXt/iTXt chunks go to *text when it is given.
bool DecodePNG(const QByteArray& bytes, QImage& image, std::string* error = nullptr,
               std::map<std::string, std::string>* text = nullptr);

// Reads a PNG from a file or a Qt resource (":/...") and decodes it as DecodePNG does.
bool LoadPNGFile(const QString& path, QImage& image, std::string* error = nullptr,
                 std::map<std::string, std::string>* text = nullptr);

// A flat tool button with a glyph left of its caption (or centred when it has none).
// Flat buttons show their frame only under the mouse or while pressed; the disabled state
// draws the glyph in grey. GroupIndex > 0 makes the button stay down when clicked (and with
// AllowAllUp go up again on a second click).
class TPNGButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TPNGButton(QWidget* parent = nullptr);

    // Sets the glyph from PNG bytes drawn for the given device-pixel ratio (1 or 2). Returns
    // false and keeps the previous glyph of that ratio when the bytes do not decode.
    bool LoadPNG(const QByteArray& bytes, int scale = 1);
    // Loads ":/images/<name>.png" and, when present, the 2x drawing "<name>@2x.png".
    bool LoadImage(const QString& name);
    // The glyph drawn at the given ratio (the 1x one when there is no 2x drawing).
    QImage Glyph(int scale = 1) const;
    const std::string& LastError() const { return lastError_; }

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }

    // Left edge of the glyph (or caption); -1 centres glyph and caption together.
    int Margin() const { return margin_; }
    void SetMargin(int margin) { margin_ = margin < -1 ? -1 : margin; update(); }

    bool Flat() const { return flat_; }
    void SetFlat(bool flat);

    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int index);
    bool AllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool value) { allowAllUp_ = value; }
    // The pressed state of a grouped button.
    bool Down() const { return isChecked(); }
    void SetDown(bool down) { setChecked(down); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void nextCheckState() override;

private:
    QImage glyph_;
    QImage glyph2x_;
    std::string lastError_;
    int margin_ = -1;
    bool flat_ = true;
    bool hover_ = false;
    int groupIndex_ = 0;
    bool allowAllUp_ = false;
};
