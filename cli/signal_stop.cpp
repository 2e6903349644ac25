#include "signal_stop.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

// Ends the program by signal, as though it had never been blocked or caught.
[[noreturn]] void DieBy(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal); // not reached: the default action of the three signals ends the program
}

} // namespace

StopOnSignals::StopOnSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    waiter_ = std::thread([this] { Wait(); });
}

StopOnSignals::~StopOnSignals()
{
    ending_ = true;
    pthread_kill(waiter_.native_handle(), SIGHUP); // wakes the waiter, which then only ends
    waiter_.join();
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

void StopOnSignals::EndBySignal() const { DieBy(received_); }

void StopOnSignals::Wait()
{
    const sigset_t signals = StopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        if (ending_)
            return;
        if (received_ != 0)
            DieBy(signal);
        received_ = signal;
        source_.request_stop();
    }
}
