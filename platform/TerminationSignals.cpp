#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};
constexpr int kCount = int(sizeof kSignals / sizeof kSignals[0]);

int g_pipe[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

struct TTerminationSignals::Saved {
    struct sigaction old[kCount] = {};
    bool installed[kCount] = {};
};

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)), saved_(std::make_unique<Saved>()) {
    if (g_pipe[0] >= 0) throw std::logic_error("termination signals installed twice");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for the termination signals");
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            if (onSignal_) onSignal_(byte);
    });
    for (int i = 0; i < kCount; ++i) {
        if (::sigaction(kSignals[i], nullptr, &saved_->old[i]) != 0 || saved_->old[i].sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        saved_->installed[i] = ::sigaction(kSignals[i], &sa, nullptr) == 0;
    }
}

TTerminationSignals::~TTerminationSignals() {
    for (int i = 0; i < kCount; ++i)
        if (saved_->installed[i]) ::sigaction(kSignals[i], &saved_->old[i], nullptr);
    notifier_.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TTerminationSignals::Reraise(int signo) {
    ::signal(signo, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signo);
    std::_Exit(128 + signo);
}
