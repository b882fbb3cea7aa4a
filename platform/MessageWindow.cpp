#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

// The first thread runs the static initialisers; it is the main thread when no application
// object exists.
const std::thread::id gFirstThread = std::this_thread::get_id();

const QEvent::Type kWakeEvent = QEvent::Type(QEvent::User + 0x301);

// Queued Synchronize calls, shared by every window and worker.
struct SyncCall {
    const std::function<void()>* fn;
    std::exception_ptr error;
    bool done = false;
};

struct SyncQueue {
    std::mutex mutex;
    std::condition_variable cv;  // a call was queued, or a call was done
    std::deque<SyncCall*> calls;
};

SyncQueue& syncQueue() {
    static SyncQueue queue;
    return queue;
}

std::mutex gHandlerMutex;
MessageWindow::ExceptionHandler gHandler;

void reportEscaped(const char* where) {
    try {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unknown exception\n", where);
    }
}

}  // namespace

// The Qt side of a window: lives in the main thread and turns each wake event into one
// delivered message.
class MessageWindowObject : public QObject {
public:
    explicit MessageWindowObject(MessageWindow* owner) : owner_(owner) {}
    bool event(QEvent* e) override {
        if (e->type() != kWakeEvent) return QObject::event(e);
        owner_->DeliverOne();
        return true;
    }

private:
    MessageWindow* owner_;
};

void MessageWindow::SetExceptionHandler(ExceptionHandler handler) {
    std::lock_guard<std::mutex> lock(gHandlerMutex);
    gHandler = std::move(handler);
}

MessageWindow::MessageWindow(WindowProc proc)
    : proc_(std::move(proc)), object_(std::make_unique<MessageWindowObject>(this)) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && object_->thread() != app->thread()) object_->moveToThread(app->thread());
}

MessageWindow::~MessageWindow() {
    // Deleting the object also removes its wake events from Qt's queue.
    object_.reset();
}

bool MessageWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (!QCoreApplication::instance()) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({msg, wParam, lParam});
    }
    // One wake event per message: a procedure that runs a nested event loop still gets the
    // messages that follow. Events whose message was removed find the queue empty.
    QCoreApplication::postEvent(object_.get(), new QEvent(kWakeEvent));
    return true;
}

size_t MessageWindow::RemovePending(uint32_t msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t before = queue_.size();
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [msg](const Message& m) { return m.msg == msg; }),
                 queue_.end());
    return before - queue_.size();
}

size_t MessageWindow::PendingCount(uint32_t msg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_t(std::count_if(queue_.begin(), queue_.end(),
                                [msg](const Message& m) { return m.msg == msg; }));
}

size_t MessageWindow::ProcessPending() {
    size_t n = 0;
    while (DeliverOne()) ++n;
    return n;
}

bool MessageWindow::DeliverOne() {
    Message m;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return false;
        m = queue_.front();
        queue_.pop_front();
    }
    if (proc_) {
        try {
            proc_(m.msg, m.wParam, m.lParam);
        } catch (...) {
            MessageWindow::ExceptionHandler handler;
            {
                std::lock_guard<std::mutex> lock(gHandlerMutex);
                handler = gHandler;
            }
            if (handler) handler(std::current_exception());
            else reportEscaped("MessageWindow");
        }
    }
    return true;
}

bool MessageWindow::IsMainThread() {
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return std::this_thread::get_id() == gFirstThread;
}

void MessageWindow::Synchronize(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || IsMainThread()) {
        fn();
        return;
    }
    SyncQueue& q = syncQueue();
    SyncCall call{&fn, nullptr, false};
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        q.calls.push_back(&call);
    }
    q.cv.notify_all();  // a main thread waiting in CheckSynchronize
    QMetaObject::invokeMethod(app, [] { CheckSynchronize(0); }, Qt::QueuedConnection);
    {
        std::unique_lock<std::mutex> lock(q.mutex);
        q.cv.wait(lock, [&call] { return call.done; });
    }
    if (call.error) std::rethrow_exception(call.error);
}

bool MessageWindow::CheckSynchronize(int32_t timeoutMs) {
    if (!IsMainThread()) return false;
    SyncQueue& q = syncQueue();
    std::unique_lock<std::mutex> lock(q.mutex);
    if (q.calls.empty() && timeoutMs > 0)
        q.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&q] { return !q.calls.empty(); });
    bool ran = false;
    while (!q.calls.empty()) {
        SyncCall* call = q.calls.front();
        q.calls.pop_front();
        lock.unlock();
        try {
            (*call->fn)();
        } catch (...) {
            call->error = std::current_exception();
        }
        lock.lock();
        call->done = true;
        ran = true;
        q.cv.notify_all();
    }
    return ran;
}
