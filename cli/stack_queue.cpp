#include "stack_queue.h"

#include <algorithm>
#include <utility>

StackQueue::StackQueue(std::vector<std::uint64_t> needs, std::uint64_t budget) : needs_(std::move(needs)), budget_(budget)
{
}

bool StackQueue::NextFits() const { return running_ == 0 || needs_[next_] <= budget_ - std::min(inUse_, budget_); }

std::optional<std::size_t> StackQueue::Take(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, stop, [this] { return next_ == needs_.size() || NextFits(); });
    if (stop.stop_requested() || next_ == needs_.size())
        return std::nullopt;
    inUse_ += needs_[next_];
    ++running_;
    return next_++;
}

void StackQueue::Done(std::size_t index)
{
    {
        const std::lock_guard lock(mutex_);
        inUse_ -= needs_.at(index);
        --running_;
    }
    changed_.notify_all();
}
