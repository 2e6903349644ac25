#include "background_jobs.h"

#include <algorithm>

BackgroundJobs::~BackgroundJobs()
{
    for (Job &job : jobs_)
        job.thread.request_stop();
}

std::stop_source BackgroundJobs::Start(std::function<void(std::stop_token)> job)
{
    ForgetFinished();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread([job = std::move(job), finished](std::stop_token stop) {
        job(stop);
        finished->store(true);
    });
    std::stop_source stop = thread.get_stop_source();
    jobs_.push_back({std::move(thread), std::move(finished)});
    return stop;
}

int BackgroundJobs::Running()
{
    ForgetFinished();
    return static_cast<int>(jobs_.size());
}

// Joins the threads that have finished, which takes no time.
void BackgroundJobs::ForgetFinished()
{
    std::erase_if(jobs_, [](const Job &job) { return job.finished->load(); });
}
