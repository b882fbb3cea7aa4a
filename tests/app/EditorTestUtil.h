// The editor window driven on real audio: a private program folder (Temp.wav, BaseQuelt.ini,
// the message log), input files made with sox/lame or written in code, and reading back what
// the views show.
#pragma once

#include "app/Application.h"
#include "app/PNGButton.h"
#include "app/UTessivo.h"
#include "audio/MMWave.h"
#include "display/MMGauge.h"
#include "display/MMOscope.h"
#include "display/MMPanel.h"
#include "tags/U_Funcoes.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace editortest {

// A 16-bit PCM wave file of exactly `frames` frames: a slow sine per channel (the right one
// at half the level), so every column has a level and the two channels differ.
inline void writeWav(const std::string& path, int32_t frames, int channels = 2, int rate = 44100) {
    std::string data;
    data.reserve(size_t(frames) * size_t(channels) * 2);
    for (int32_t i = 0; i < frames; ++i) {
        const double v = std::sin(double(i) * 2.0 * M_PI / 4410.0) * 20000.0;
        for (int c = 0; c < channels; ++c) data += testutil::le16(uint16_t(int16_t(c == 0 ? v : v / 2)));
    }
    const uint32_t blockAlign = uint32_t(channels) * 2;
    std::string head = "RIFF" + testutil::le32(uint32_t(36 + data.size())) + "WAVEfmt " + testutil::le32(16) +
                       testutil::le16(1) + testutil::le16(uint16_t(channels)) + testutil::le32(uint32_t(rate)) +
                       testutil::le32(uint32_t(rate) * blockAlign) + testutil::le16(uint16_t(blockAlign)) +
                       testutil::le16(16) + "data" + testutil::le32(uint32_t(data.size()));
    testutil::writeFile(path, head + data);
}

// Window tests: every message box goes to a log in the program folder, and the process is
// never ended by the window (ExitProcess records the code instead).
class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        log_ = dir_.file("messages.txt");
        setenv("TESSIVO_MESSAGE_LOG", log_.c_str(), 1);
    }
    void TearDown() override {
        window_.reset();
        FreeAudioInfo("MP3");
        unsetenv("TESSIVO_MESSAGE_LOG");
    }

    QString folder() const { return QString::fromStdString(dir_.path().string()); }
    std::string messages() const { return testutil::readFile(log_); }

    // Makes the window on the audio file and shows it, which loads the file.
    TFrmTessivo* open(const std::string& audio) {
        window_.reset(new TFrmTessivo({QString::fromStdString(audio)}, folder()));
        window_->ExitProcess = [this](int code) { exitCode_ = code; };
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        return window_.get();
    }

    testutil::TempDir dir_;
    std::string log_;
    std::unique_ptr<TFrmTessivo> window_;
    int exitCode_ = -1;
};

// Saves a picture of the window (or a box of it) as docs/screenshots/<name> when
// TESSIVO_SCREENSHOTS names that folder, otherwise into the test's folder.
inline void savePicture(QWidget* w, const QString& name, const QString& fallback) {
    const QImage picture = w->grab().toImage();
    const char* target = std::getenv("TESSIVO_SCREENSHOTS");
    const QString folder = target && *target ? QString::fromLocal8Bit(target) : fallback;
    QDir().mkpath(folder);
    ASSERT_TRUE(picture.save(QDir(folder).filePath(name), "PNG"));
}

// Pixels of a view's picture (as last shown) whose colour is c.
inline int countColour(const TMMOscope* view, QColor c) {
    const QImage& img = view->ScreenImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == c) ++n;
    return n;
}

inline QColor pixel(const TMMOscope* view, int x, int y) { return view->ScreenImage().pixelColor(x, y); }

// The colours of the views and of the inverting pens over black.
const QColor kLime(0, 255, 0), kGreen(0, 128, 0), kBlue(0, 0, 255), kRed(255, 0, 0), kBlack(0, 0, 0);
const QColor kBoundaryOverBlack(127, 255, 255);
const QColor kWhite(255, 255, 255);

}  // namespace editortest
