// Threads for work the window must not wait for. A job may outlive the request it answers (the
// user cancels, or asks for something else): it is asked to stop and left to finish on its own,
// and only the end of the owner waits for the jobs still running.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

class BackgroundJobs {
public:
    BackgroundJobs() = default;
    // Asks every job still running to stop and waits for it.
    ~BackgroundJobs();
    BackgroundJobs(const BackgroundJobs &) = delete;
    BackgroundJobs &operator=(const BackgroundJobs &) = delete;

    // Runs job on a thread of its own; the returned source asks it to stop.
    std::stop_source Start(std::function<void(std::stop_token)> job);

    // How many jobs have not finished yet.
    int Running();

private:
    struct Job {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void ForgetFinished();

    std::vector<Job> jobs_;
};
