// What a batch tells the user while it works: on a terminal one line for the whole batch, the
// stack shown last, its shot and stage, how many stacks run, the time taken and an estimate of
// the time left ("stack 3 of 20: bee-07, shot 5 of 8, aligning; 2 running; 1:42 so far, about
// 9:10 left"), and above it a line for each warning and, when verbose, each note of a stack. The
// stacks report from the threads that fuse them.
#pragma once

#include "progress.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class BatchProgress {
public:
    // stream: where the lines go; showLine: whether the updating line is wanted; verbose: whether
    // notes are printed; shotCounts: the number of shots of each stack to fuse, in order.
    BatchProgress(std::FILE *stream, bool showLine, bool verbose, std::vector<int> shotCounts);
    ~BatchProgress() { Clear(); }
    BatchProgress(const BatchProgress &) = delete;
    BatchProgress &operator=(const BatchProgress &) = delete;

    // Stack number (from 0, of those to fuse), called name, starts or ends.
    void Started(int stack, const std::string &name);
    void Finished(int stack);

    // Shot index (from 0) of stack enters stage.
    void Shot(int stack, StackStage stage, int index);

    // Prints "edgedom-cli: <text>" on a line of its own above the updating line; a note only when
    // verbose.
    void Print(const std::string &text, bool note = false);

    // Erases the updating line.
    void Clear();

private:
    struct Running {
        std::string name;
        int shot = 0;
        StackStage stage = StackStage::Reading;
    };
    void Draw();
    std::string Line() const;

    std::mutex mutex_;
    std::FILE *stream_;
    bool showLine_, verbose_;
    std::vector<int> shotCounts_;
    long long allShots_ = 0, shotsDone_ = 0; // of the stacks finished
    std::map<int, Running> running_;
    int shown_ = -1; // the stack the line shows
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    bool lineShown_ = false;
};

// The StackProgress of one stack of a batch: its stages go to the batch's line, its warnings
// and notes above it, named after the stack.
class BatchStackProgress : public StackProgress {
public:
    BatchStackProgress(BatchProgress &batch, int stack, std::string name)
        : batch_(batch), stack_(stack), name_(std::move(name))
    {
    }
    void Shot(StackStage stage, int index, int, const std::string &) override { batch_.Shot(stack_, stage, index); }
    void Note(const std::string &text) override { batch_.Print(name_ + ": " + text, true); }
    void Warn(const std::string &text) override { batch_.Print("warning: " + name_ + ": " + text); }
    void Clear() override {}

private:
    BatchProgress &batch_;
    int stack_;
    std::string name_;
};

// A duration of seconds as "0:07", "12:34" or "1:02:03".
std::string ClockText(double seconds);
