#include "batch_progress.h"

#include <cmath>
#include <numeric>

namespace {

// Back to the start of the line, and erase it to its end (an ANSI terminal's control).
constexpr const char *EraseLine = "\r\033[K";

std::string TwoDigits(long long value)
{
    const std::string digits = std::to_string(value);
    return value < 10 ? "0" + digits : digits;
}

} // namespace

std::string ClockText(double seconds)
{
    const auto whole = static_cast<long long>(std::llround(std::max(seconds, 0.0)));
    const long long hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    return hours > 0 ? std::to_string(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(rest)
                     : std::to_string(minutes) + ":" + TwoDigits(rest);
}

BatchProgress::BatchProgress(std::FILE *stream, bool showLine, bool verbose, std::vector<int> shotCounts)
    : stream_(stream), showLine_(showLine), verbose_(verbose), shotCounts_(std::move(shotCounts)),
      allShots_(std::accumulate(shotCounts_.begin(), shotCounts_.end(), 0LL))
{
}

void BatchProgress::Started(int stack, const std::string &name)
{
    const std::lock_guard lock(mutex_);
    running_[stack] = {name};
    shown_ = stack;
    Draw();
}

void BatchProgress::Finished(int stack)
{
    const std::lock_guard lock(mutex_);
    running_.erase(stack);
    shotsDone_ += shotCounts_.at(static_cast<std::size_t>(stack));
    if (shown_ == stack)
        shown_ = running_.empty() ? -1 : running_.begin()->first;
    Draw();
}

void BatchProgress::Shot(int stack, StackStage stage, int index)
{
    const std::lock_guard lock(mutex_);
    Running &running = running_.at(stack);
    running.shot = index;
    running.stage = stage;
    shown_ = stack;
    Draw();
}

void BatchProgress::Print(const std::string &text, bool note)
{
    const std::lock_guard lock(mutex_);
    if (note && !verbose_)
        return;
    std::fprintf(stream_, "%sedgedom-cli: %s\n", lineShown_ ? EraseLine : "", text.c_str());
    lineShown_ = false;
    Draw();
}

void BatchProgress::Clear()
{
    const std::lock_guard lock(mutex_);
    if (lineShown_)
        std::fprintf(stream_, "%s", EraseLine);
    std::fflush(stream_);
    lineShown_ = false;
}

// Called with the mutex held.
void BatchProgress::Draw()
{
    if (showLine_ && shown_ >= 0) {
        std::fprintf(stream_, "%s%s", EraseLine, Line().c_str());
        lineShown_ = true;
    }
    std::fflush(stream_);
}

std::string BatchProgress::Line() const
{
    const Running &stack = running_.at(shown_);
    const int count = shotCounts_[static_cast<std::size_t>(shown_)];
    std::string line = "stack " + std::to_string(shown_ + 1) + " of " + std::to_string(shotCounts_.size()) + ": "
                       + stack.name + ", ";
    line += stack.stage == StackStage::Feathering
                ? std::string("feathering the seams")
                : "shot " + std::to_string(stack.shot + 1) + " of " + std::to_string(count) + ", " + StageVerb(stack.stage);
    if (running_.size() > 1)
        line += "; " + std::to_string(running_.size()) + " running";
    // The shots fused so far, those of the running stacks counted up to the one each is at.
    long long done = shotsDone_;
    for (const auto &[number, running] : running_)
        done += running.stage == StackStage::Feathering ? shotCounts_[static_cast<std::size_t>(number)] : running.shot;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    line += "; " + ClockText(elapsed) + " so far";
    if (done > 0)
        line += ", about " + ClockText(elapsed * static_cast<double>(allShots_ - done) / static_cast<double>(done))
                + " left";
    return line;
}
