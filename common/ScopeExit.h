// Undo on failure: a guard that runs its function when it goes out of scope, unless dismissed.
//
//     auto restore = ScopeExit([&] { wave->SetPosition(saved); });  // runs on every exit
//     Decode(block);                                                // may throw
//     restore.Dismiss();                                            // success: keep the change
#pragma once

#include <utility>

template <class F>
class TScopeExit {
public:
    explicit TScopeExit(F f) : f_(std::move(f)) {}
    TScopeExit(TScopeExit&& other) noexcept : f_(std::move(other.f_)), active_(other.active_) { other.active_ = false; }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    TScopeExit& operator=(TScopeExit&&) = delete;
    // An undo that fails itself is dropped: the error that caused the undo is the one that counts.
    ~TScopeExit() {
        if (!active_) return;
        try {
            f_();
        } catch (...) {
        }
    }

    void Dismiss() { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <class F>
TScopeExit<F> ScopeExit(F f) {
    return TScopeExit<F>(std::move(f));
}
