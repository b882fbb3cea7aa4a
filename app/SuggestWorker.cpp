#include "app/SuggestWorker.h"

TSuggestWorker::TSuggestWorker(Done done)
    : done_(std::move(done)), window_([this](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
          if (msg == WM_SUGGESTED) Deliver(wParam, lParam != 0);
      }) {}

TSuggestWorker::~TSuggestWorker() { Cancel(); }

void TSuggestWorker::Start(const std::string& path) {
    Cancel();
    cancel_ = false;
    busy_ = true;
    const uintptr_t generation = ++generation_;
    thread_ = std::thread([this, path, generation] {
        TMarkerSuggestions s;
        const TSuggestResult r = SuggestMarkers(path, s, &cancel_);
        if (r == TSuggestResult::Cancelled) return;  // Cancel waits for us and expects nothing
        {
            std::lock_guard<std::mutex> lock(mutex_);
            result_ = s;
        }
        window_.Post(WM_SUGGESTED, generation, r == TSuggestResult::Ok ? 1 : 0);
    });
}

void TSuggestWorker::Cancel() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    window_.RemovePending(WM_SUGGESTED);
    ++generation_;  // whatever is still on its way belongs to no analysis now
    busy_ = false;
}

void TSuggestWorker::Deliver(uintptr_t generation, bool ok) {
    if (generation != generation_) return;
    busy_ = false;
    if (thread_.joinable()) thread_.join();  // it has posted: it ends at once
    TMarkerSuggestions s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        s = result_;
    }
    if (ok && done_) done_(s);
}
