// A hidden message window: a queue of private messages delivered to a window procedure in
// the user-interface (Qt main) thread, plus the blocking queued call by which a worker thread
// has a procedure run in the main thread while it waits.
//
// Any thread may post; the procedure always runs in the main thread, from its event loop, in
// the order the messages were posted. A waiting main thread (joining a worker, polling an
// event) keeps queued calls moving by calling CheckSynchronize, so a worker blocked in
// Synchronize can never deadlock against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

// Private messages (the platform's application message range starts at 0x8000).
constexpr uint32_t WM_APP = 0x8000;
// A driver's end of stream, handled in the main thread by stopping the driver.
constexpr uint32_t MM_STOPMESSAGE = 0x8001;

class MessageWindowObject;

class MessageWindow {
public:
    using WindowProc = std::function<void(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

    // Where an exception that escapes a window procedure goes. By default its text is written
    // to the standard error; the application hands it to its error box.
    using ExceptionHandler = std::function<void(std::exception_ptr)>;
    static void SetExceptionHandler(ExceptionHandler handler);

    // Creates the window for the main thread (whatever thread constructs it). An exception
    // that escapes the procedure goes to the exception handler; the next message is delivered
    // as usual.
    explicit MessageWindow(WindowProc proc);
    // Messages not yet delivered are discarded. Call it after every thread that posts to this
    // window has ended.
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Queues a message for the procedure; thread-safe. False when there is no application
    // event loop to deliver it (the message is not queued then).
    bool Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Drops queued messages with number msg that were not delivered yet; returns how many.
    size_t RemovePending(uint32_t msg);
    // Queued messages with number msg.
    size_t PendingCount(uint32_t msg) const;
    // Main thread only: delivers every queued message now. Returns the number delivered.
    size_t ProcessPending();

    // True in the application's main thread (the thread of the Qt application object; the
    // process's first thread when no application object exists).
    static bool IsMainThread();
    // Runs fn in the main thread and waits until it has run; an exception it throws is
    // rethrown in the caller. Called in the main thread, or when there is no application
    // object, fn runs directly.
    static void Synchronize(const std::function<void()>& fn);
    // Main thread: runs the queued Synchronize calls. With timeoutMs > 0 it first waits up to
    // that long for a call to arrive. Returns true when at least one call ran.
    static bool CheckSynchronize(int32_t timeoutMs = 0);

private:
    struct Message {
        uint32_t msg;
        uintptr_t wParam;
        intptr_t lParam;
    };
    friend class MessageWindowObject;
    // Delivers the oldest queued message, if any. Main thread.
    bool DeliverOne();

    WindowProc proc_;
    mutable std::mutex mutex_;
    std::deque<Message> queue_;
    std::unique_ptr<MessageWindowObject> object_;
};
