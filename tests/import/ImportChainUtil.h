// Helpers of the trigger, reader, dialog and tool tests: running the import chain in the test's
// own event loop, waiting with events, and a small volume for the full-disk cases.
#pragma once

#include "audio/MMWave.h"
#include "import/MMAudio.h"
#include "import/MMTrigg.h"
#include "support/TestUtil.h"

#include <QCoreApplication>
#include <QEventLoop>


#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace importchain {

// Runs the event loop until cond holds; false after limitMs (a guard against a hang, not a
// measurement).
inline bool waitUntil(const std::function<bool()>& cond, int limitMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct ImportRun {
    bool stopped = false;       // OnStop arrived
    bool stopInMainThread = false;
    bool workerFailed = false;
    std::string workerError;
    bool writeFailed = false;
    int buffersReady = 0;       // OnBufferReady events of the trigger
};

// The dialog's chain without the dialog: in -> reader -> trigger -> wave file out.
inline ImportRun importFile(const std::string& in, const std::string& out, int32_t bufferSize = 32768) {
    ImportRun run;
    TMMAudioFile audio;
    TMMTrigger trigger;
    TMMWaveFile wave;
    audio.SetMpegTrailingHeader(0);
    audio.SetFileName(in);
    wave.Wave()->SetFileMustExist(false);
    wave.Wave()->SetFileName(out);
    audio.SetOutput(&trigger);
    trigger.SetOutput(&wave);
    trigger.SetBufferSize(bufferSize);
    std::atomic<int> ready{0};
    trigger.OnBufferReady = [&](TMMComponent*, PMMWaveHdr) { ++ready; };
    const std::thread::id mainId = std::this_thread::get_id();
    trigger.OnStop = [&](TMMComponent*) {
        run.stopped = true;
        run.stopInMainThread = std::this_thread::get_id() == mainId;
    };
    trigger.Start();
    waitUntil([&] { return run.stopped; });
    trigger.Close();
    run.workerFailed = trigger.WorkerFailed();
    run.workerError = trigger.WorkerError();
    run.writeFailed = wave.WriteFailed();
    run.buffersReady = ready;
    return run;
}

using testutil::SmallVolume;

}  // namespace importchain
