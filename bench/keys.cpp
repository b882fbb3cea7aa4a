// Keys bench, on the real window (offscreen): the time from a nudge key (Right, and Ctrl+Right)
// to the views redrawn, at zooms from 1 frame per column to the full view, against the same
// move made by a left click in the detail view (the way it is done with the mouse). Prints
// "name value" lines; bench/keys.sh runs it and prints the figures against the 16 ms of a frame.
//
// Usage: bench_keys WAV PRESSES
//   WAV      a PCM wave file (the editor imports it as it would an MP3)
//   PRESSES  key presses timed at each zoom and step
// Links: tessivo_app Qt6::Test
#include "app/Application.h"
#include "app/UTessivo.h"
#include "bench/BenchTiming.h"
#include "display/MMOscope.h"

#include <QApplication>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::Ms;
using bench::Percentile;

// The UI thread does all the work of a key.
double CpuMs() { return bench::CpuMs(RUSAGE_THREAD); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_keys WAV PRESSES\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TESSIVO_AUDIO_DEVICE", "virtual", 0);
    QApplication app(argc, argv);
    SetUpApplication();
    const int presses = std::max(1, std::atoi(argv[2]));
    QTemporaryDir folder;
    setenv("TESSIVO_MESSAGE_LOG", folder.filePath("messages.txt").toLocal8Bit().constData(), 1);
    TFrmTessivo w({QString::fromLocal8Bit(argv[1])}, folder.path());
    w.show();
    QApplication::setActiveWindow(&w);
    if (!QTest::qWaitForWindowActive(&w) || !w.State().Loaded) {
        std::fprintf(stderr, "the window did not load the file\n");
        return 1;
    }
    auto* zoom = w.Control<QSpinBox>("ZoomSpin");
    TMMOscope* view = w.Control<TMMOscope>("Oscope1");
    const int32_t total = w.State().TotalSamples, full = zoom->maximum();
    std::printf("frames %d\nfull_zoom %d\n", total, full);

    std::vector<int32_t> zooms = {1, 4, 16, 64, 256, 1024, 4096, full};
    zooms.erase(std::remove_if(zooms.begin(), zooms.end(), [&](int32_t z) { return z > full; }), zooms.end());
    double worst = 0, worstCpu = 0;
    for (const int32_t z : zooms) {
        for (const bool ctrl : {false, true}) {
            // From the middle of the file, the view on the start; the end far away.
            zoom->setValue(z);
            w.State().ViewOffset = total / 4;
            w.State().SelStart = w.State().LiveStart = total / 4 + z * 10;
            w.State().SelEnd = w.State().LiveEnd = total;
            w.RefreshDetailView();
            std::vector<double> times, cpu;
            for (int i = 0; i < presses; ++i) {
                const double c0 = CpuMs();
                const auto t0 = Clock::now();
                QTest::keyClick(&w, Qt::Key_Right, ctrl ? Qt::ControlModifier : Qt::NoModifier);
                times.push_back(Ms(Clock::now() - t0));
                cpu.push_back(CpuMs() - c0);
            }
            const char* step = ctrl ? "100ms" : "10ms";
            std::printf("nudge_%s_zoom_%d_median_ms %.3f\n", step, z, Percentile(times, 0.5));
            std::printf("nudge_%s_zoom_%d_p95_ms %.3f\n", step, z, Percentile(times, 0.95));
            std::printf("nudge_%s_zoom_%d_max_ms %.3f\n", step, z, Percentile(times, 1.0));
            std::printf("nudge_%s_zoom_%d_cpu_max_ms %.3f\n", step, z, Percentile(cpu, 1.0));
            worst = std::max(worst, Percentile(times, 0.95));
            worstCpu = std::max(worstCpu, Percentile(cpu, 1.0));
        }
        // The mouse: a left click that moves the start one column on (press and release).
        std::vector<double> clicks;
        w.State().SelStart = w.State().LiveStart = w.State().ViewOffset;
        for (int i = 0; i < presses; ++i) {
            const QPoint at(20 + i % 400, 10);
            const auto t0 = Clock::now();
            QTest::mouseClick(view, Qt::LeftButton, {}, at);
            clicks.push_back(Ms(Clock::now() - t0));
        }
        std::printf("click_zoom_%d_median_ms %.3f\n", z, Percentile(clicks, 0.5));
    }
    std::printf("nudge_worst_p95_ms %.3f\n", worst);
    std::printf("nudge_worst_cpu_ms %.3f\n", worstCpu);
    return 0;
}
