// Hands the stacks of a batch, in order, to the threads that fuse them, each only once the memory
// its fusion needs at its peak fits beside that of the stacks being fused: a stack too large for
// the memory left waits until enough is free. One stack alone always starts, since it can do no
// better later.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

class StackQueue {
public:
    // needs[i]: the bytes stack i takes at its peak; budget: the bytes all may take at once.
    StackQueue(std::vector<std::uint64_t> needs, std::uint64_t budget);

    // The next stack, once it fits; nullopt, at once, when every stack has been taken or stop is
    // requested.
    std::optional<std::size_t> Take(std::stop_token stop);

    // Stack index, taken before, is done: its memory is free again.
    void Done(std::size_t index);

private:
    bool NextFits() const;

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<std::uint64_t> needs_;
    std::uint64_t budget_;
    std::uint64_t inUse_ = 0;
    std::size_t next_ = 0;
    std::size_t running_ = 0;
};
