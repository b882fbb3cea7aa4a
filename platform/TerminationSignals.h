// SIGTERM and SIGINT turned into a call in the user-interface thread, so that a `kill`, a
// logout or the playout system ends the program cleanly whatever handlers a library (the
// catalogue's client) set up for them before.
//
// The handlers only write the signal number into a pipe; a socket notifier on its other end
// runs the callback from the event loop of the thread that installed them. The pipe is the one
// piece of process-wide state a signal handler needs.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

class TTerminationSignals {
public:
    // Installs the handlers, replacing whatever handled the two signals before; a signal
    // inherited as ignored (a background job's SIGINT) stays ignored. The callback gets the
    // signal number, once per signal received. One instance at a time.
    explicit TTerminationSignals(std::function<void(int signo)> onSignal);
    // Puts back the dispositions found at installation.
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    // Ends the process as the signal itself would have (the shell sees 128 + signo): the
    // signal's default disposition, unblocked, then raised.
    [[noreturn]] static void Reraise(int signo);

private:
    struct Saved;
    std::function<void(int)> onSignal_;
    std::unique_ptr<Saved> saved_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
