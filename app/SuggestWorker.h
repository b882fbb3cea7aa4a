// The suggested markers of the loaded song, found on a thread of its own after the import so
// that the waveform shows as soon as before; the result reaches the UI thread as a posted
// message. A new Start, Cancel or the destructor ends a running analysis first and drops a
// result not yet delivered.
#pragma once

#include "analysis/MarkerSuggest.h"
#include "platform/MessageWindow.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TSuggestWorker {
public:
    using Done = std::function<void(const TMarkerSuggestions&)>;
    // done runs in the UI thread, once for each analysis that ended neither cancelled nor failed.
    explicit TSuggestWorker(Done done);
    // Cancels and waits for a running analysis.
    ~TSuggestWorker();
    TSuggestWorker(const TSuggestWorker&) = delete;
    TSuggestWorker& operator=(const TSuggestWorker&) = delete;

    // UI thread: analyses the wave file at path (its name as bytes), after cancelling any
    // analysis still running.
    void Start(const std::string& path);
    // UI thread: stops a running analysis (it sees the flag within one read) and waits for it;
    // a result it posted but that was not delivered is dropped.
    void Cancel();
    // UI thread: an analysis was started and its result not delivered yet.
    bool Busy() const { return busy_; }

private:
    static constexpr uint32_t WM_SUGGESTED = WM_APP + 0x15;

    // A file that cannot be analysed (ok false) suggests nothing; it is no error of the load.
    void Deliver(uintptr_t generation, bool ok);

    Done done_;
    MessageWindow window_;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::mutex mutex_;              // guards result_
    TMarkerSuggestions result_;
    uintptr_t generation_ = 0;      // UI thread: the analysis whose result is awaited
    bool busy_ = false;
};
