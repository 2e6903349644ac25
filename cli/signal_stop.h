// Stopping cleanly when asked to (SIGINT from Ctrl+C, SIGTERM from kill, GNU parallel or a job
// scheduler, SIGHUP when the terminal closes): the signal becomes a stop request the fusion
// checks between its steps, so that every output being written is taken back, no partial file
// and no temporary one left; the program then ends by that signal, as whoever sent it expects.
// A second signal ends the program at once.
#pragma once

#include <atomic>
#include <stop_token>
#include <thread>

class StopOnSignals {
public:
    // Blocks the signals in this thread, and so in every thread it starts later, and waits for
    // them on a thread of its own. Make it before any other thread is started.
    StopOnSignals();

    // Ends the waiting thread and unblocks the signals: one that comes from now on ends the
    // program as it would have without this.
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;

    std::stop_token Token() const noexcept { return source_.get_token(); }

    // The signal that asked to stop; 0 while none has.
    int Received() const noexcept { return received_; }

    // Ends the program by the signal received, with its default action.
    [[noreturn]] void EndBySignal() const;

private:
    void Wait();

    std::stop_source source_;
    std::atomic<int> received_{0};
    std::atomic<bool> ending_{false};
    std::thread waiter_;
};
