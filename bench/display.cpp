// Display bench: the overview pass over a wave file against a plain sequential read of it,
// one detail refresh at several zooms, and one frame of each view kind the editor uses.
//   bench_display FILE.wav [REPEATS]
// Prints "name value" lines (milliseconds, median of the repeats).
// Links: tessivo_app
#include "app/WaveViewData.h"
#include "audio/MMWave.h"
#include "audio/MMWaveIO.h"
#include "display/MMOscope.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

double MedianMs(int repeats, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void PlainRead(const char* path) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return;
    std::vector<char> buf(65532);
    while (read(fd, buf.data(), buf.size()) > 0) {
    }
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_display FILE.wav [REPEATS]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const char* path = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    TMMWave wave;
    wave.SetFileName(path);
    wave.OpenFile();
    const WaveIORecord* io = wave.WaveIO();
    const int32_t total = int32_t(io->DataSamples);
    const int32_t frameSize = wave.PWaveFormat()->nBlockAlign;
    const bool stereo = wave.Mode() == mStereo;
    const bool eightBit = wave.BitLength() == 8;
    const int32_t width = 537;
    const int32_t detailBlock = width * frameSize;
    std::vector<uint8_t> buffer(size_t(detailBlock), 0);

    PlainRead(path);  // warm the page cache
    std::printf("plain_read_ms %.3f\n", MedianMs(repeats, [&] { PlainRead(path); }));
    std::printf("wave_read_ms %.3f\n", MedianMs(repeats, [&] {
                    std::vector<uint8_t> chunk(65532);
                    wave.SetPosition(0);
                    while (wave.ReadDataBytes(chunk.data(), int32_t(chunk.size())) > 0) {
                    }
                }));
    const int32_t step = FitZoom(total, width);
    std::printf("overview_ms %.3f\n", MedianMs(repeats, [&] {
                    BuildOverviewBlock(wave, step, frameSize, stereo, eightBit, buffer.data(), detailBlock, {});
                }));
    const int32_t maxZoom = FitZoom(total, width);
    for (int32_t zoom : {1, 15, 16, 1000, maxZoom}) {
        const int32_t offset = std::max(0, total / 3);
        std::printf("detail_zoom_%d_ms %.3f\n", zoom, MedianMs(repeats * 4, [&] {
                        ReadDetailBlock(wave, offset, zoom, frameSize, total, eightBit, buffer.data(), detailBlock, {});
                    }));
    }

    QWidget parent;
    parent.resize(600, 400);
    auto* con = new TMMOscope(&parent);
    con->Bevel()->SetBevelOuter(bvNone);
    con->SetBounds(0, 0, 537, 237);
    con->SetKind(okConLines);
    con->SetMode(stereo ? mStereo : mMono);
    con->SetBitLength(eightBit ? b8Bit : b16Bit);
    auto* mir = new TMMOscope(&parent);
    mir->Bevel()->SetBevelOuter(bvNone);
    mir->SetBounds(0, 240, 537, 58);
    mir->SetKind(okMirLines);
    mir->SetMode(stereo ? mStereo : mMono);
    mir->SetBitLength(eightBit ? b8Bit : b16Bit);
    parent.show();
    QApplication::processEvents();
    ReadDetailBlock(wave, total / 3, 1, frameSize, total, eightBit, buffer.data(), detailBlock, {});
    std::printf("frame_conlines_537x237_ms %.3f\n", MedianMs(repeats * 20, [&] { con->DrawPCMBlock(buffer.data()); }));
    std::printf("frame_mirlines_537x58_ms %.3f\n", MedianMs(repeats * 20, [&] { mir->DrawPCMBlock(buffer.data()); }));
    return 0;
}
