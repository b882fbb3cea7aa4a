// The editor's detail and overview geometry on loaded wave files with exact frame counts:
// the maximum zoom, the zoom buttons and full view, the scroll bar with its snapping thumb, and
// the frames that reach the detail views.
#include "EditorTestUtil.h"

#include "app/WaveViewData.h"
#include "display/MMPanel.h"

#include <QScrollBar>
#include <QSpinBox>

#include <cstring>

namespace {

using namespace editortest;

class EditorGeometryTest : public EditorTest {};

TEST_F(EditorGeometryTest, MaximumZoomRoundsHalvesToEven) {
    // 537 frames fill one screen of the detail view of 16-bit stereo audio.
    struct Case {
        int32_t frames;
        int32_t maxZoom;
    } cases[] = {{537 * 200, 200}, {537 * 201, 202}, {537 * 200 + 1, 201}, {300, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        const std::string wav = dir_.file("in.wav");
        writeWav(wav, c.frames);
        TFrmTessivo* w = open(wav);
        ASSERT_TRUE(w->State().Loaded) << messages();
        EXPECT_EQ(w->State().TotalSamples, c.frames);
        EXPECT_EQ(w->ViewSampleCount(w->Control<TMMOscope>("Oscope1")), 537);
        EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->maximum(), c.maxZoom);
        EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), c.maxZoom);
        EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());  // full view
    }
}

TEST_F(EditorGeometryTest, ZoomButtonsFullViewAndScrollBar) {
    const std::string wav = dir_.file("in.wav");
    writeWav(wav, 44100 * 60);  // one minute
    TFrmTessivo* w = open(wav);
    ASSERT_TRUE(w->State().Loaded) << messages();
    EXPECT_EQ(w->State().ScrollDivisor, 81);  // 2 646 000 div 80 = 33075, div 81 = 32666
    const int32_t maxZoom = w->Control<QSpinBox>("ZoomSpin")->maximum();
    EXPECT_EQ(maxZoom, FitZoom(44100 * 60, 537));

    w->Control<TPNGButton>("btnZoomMenos")->click();  // out from the maximum stays there
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), maxZoom);
    w->Control<QSpinBox>("ZoomSpin")->setValue(1500);
    w->Control<TPNGButton>("btnZoomMais")->click();
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), 500);
    EXPECT_TRUE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->maximum(), 44100 * 60 / 81);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->singleStep(), 500);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->pageStep(), 25000);
    w->Control<TPNGButton>("btnZoomMais")->click();
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), 1);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->pageStep(), 50);

    // Thumb tracking snaps to the small step; line moves take it as it is.
    w->Control<QSpinBox>("ZoomSpin")->setValue(48);
    w->Control<QScrollBar>("ScrollBar1")->setSliderPosition(100);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->value(), 96);
    EXPECT_EQ(w->State().ViewOffset, 96 * 81);
    w->Control<QScrollBar>("ScrollBar1")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(w->Control<QScrollBar>("ScrollBar1")->value(), 144);
    EXPECT_EQ(w->State().ViewOffset, 144 * 81);
    w->Control<QScrollBar>("ScrollBar1")->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(w->State().ViewOffset, 0);
    w->Control<QScrollBar>("ScrollBar1")->triggerAction(QAbstractSlider::SliderToMaximum);  // ignored
    EXPECT_EQ(w->State().ViewOffset, 0);

    // Column geometry at this zoom and offset.
    w->Control<QScrollBar>("ScrollBar1")->setSliderPosition(960);
    ASSERT_EQ(w->State().ViewOffset, 960 * 81);
    EXPECT_EQ(w->SampleToPixel(w->State().ViewOffset + 48 * 10 + 47), 10);
    EXPECT_EQ(w->SampleToPixel(0), -10);
    EXPECT_EQ(w->SampleToPixel(w->State().TotalSamples), 547);
    EXPECT_EQ(w->PixelToSample(-4), w->State().ViewOffset);
    EXPECT_EQ(w->PixelToSample(600), w->State().ViewOffset + 536 * 48);

    // Full view: back to the start at the maximum zoom, also when the zoom is already there.
    w->Control<TPNGButton>("FullViewBtn")->click();
    EXPECT_EQ(w->State().ViewOffset, 0);
    EXPECT_EQ(w->Control<QSpinBox>("ZoomSpin")->value(), maxZoom);
    EXPECT_FALSE(w->Control<QScrollBar>("ScrollBar1")->isEnabled());
    w->State().ViewOffset = 5000;
    w->Control<TPNGButton>("FullViewBtn")->click();
    EXPECT_EQ(w->State().ViewOffset, 0);
}

// What the detail views get: at zoom 1 the frames themselves, at zoom 15 (dense reading) and
// 16 (one read per column) every z-th frame, past the end silence.
TEST_F(EditorGeometryTest, DetailBlockHoldsEveryZthFrame) {
    const std::string wav = dir_.file("in.wav");
    const int32_t frames = 100000;
    writeWav(wav, frames);
    TFrmTessivo* w = open(wav);
    ASSERT_TRUE(w->State().Loaded) << messages();
    const std::string file = testutil::readFile(w->WaveFile1()->Wave()->FileName());
    const uint32_t dataOffset = w->WaveFile1()->Wave()->WaveIO()->DataOffset;
    auto frameAt = [&](int64_t f) {
        uint32_t v = 0;
        if (f < frames) std::memcpy(&v, file.data() + dataOffset + f * 4, 4);
        return v;
    };
    for (int zoom : {1, 15, 16, 65}) {
        SCOPED_TRACE(zoom);
        w->Control<QSpinBox>("ZoomSpin")->setValue(zoom);
        w->State().ViewOffset = 90000;
        w->RefreshDetailView();
        int mismatches = 0;
        for (int c = 0; c < 537; ++c) {
            uint32_t got = 0;
            std::memcpy(&got, w->DisplayBlock().data() + c * 4, 4);
            if (got != frameAt(90000 + int64_t(c) * zoom)) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(w->Control<TMMGauge>("Gauge1")->Progress(), 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

}  // namespace
