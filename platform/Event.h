// Auto-reset event: Set wakes exactly one waiter (or the next one to wait) and the event
// falls back to the reset state as that waiter passes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class Event {
public:
    explicit Event(bool initiallySet = false) : set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Signals the event; one waiter passes and resets it.
    void Set();
    // Clears the signal without waking anyone.
    void Reset();
    // True when the event is signalled at the moment (does not consume the signal).
    bool IsSet() const;
    // Waits until signalled and consumes the signal.
    void Wait();
    // Waits at most timeoutMs milliseconds (0 only tests); true when the signal was consumed,
    // false on time-out. A negative timeout waits without limit.
    bool WaitFor(int32_t timeoutMs);

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};
