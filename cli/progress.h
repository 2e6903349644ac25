// What edgedom-cli tells the user while it works: one line on a terminal that updates as each
// picture is read, aligned and fused ("fusing 7 of 20: IMG_0007.jpg"), when asked for, a line
// for each transform that alignment finds, and always a line for each warning. The updating line
// is left out when standard error is not a terminal, so scripts and logs see only results,
// warnings and errors.
#pragma once

#include "stack_fusion.h"

#include <cstdio>
#include <string>

// What the work on one stack tells as it goes: one command shows it on a line of its own
// (ProgressReport), a batch on the line of all its stacks.
class StackProgress {
public:
    virtual ~StackProgress() = default;

    // Shot index (from 0) of count enters stage; file is the shot's name, empty for Feathering.
    virtual void Shot(StackStage stage, int index, int count, const std::string &file) = 0;

    // Prints a line of its own when verbose, above the updating line.
    virtual void Note(const std::string &text) = 0;

    // Prints "edgedom-cli: warning: <text>" on a line of its own, above the updating line.
    virtual void Warn(const std::string &text) = 0;

    // Erases the updating line.
    virtual void Clear() = 0;
};

class ProgressReport : public StackProgress {
public:
    // stream: where the lines go; showLine: whether the updating line is wanted (the stream
    // is a terminal and --quiet was not given); verbose: whether notes are printed.
    ProgressReport(std::FILE *stream, bool showLine, bool verbose) noexcept
        : stream_(stream), showLine_(showLine), verbose_(verbose)
    {
    }
    ~ProgressReport() override { Clear(); }
    ProgressReport(const ProgressReport &) = delete;
    ProgressReport &operator=(const ProgressReport &) = delete;

    // Shows "reading", "aligning" or "fusing <index + 1> of <count>: <file>", or "feathering the
    // seams", in place of the line shown before.
    void Shot(StackStage stage, int index, int count, const std::string &file) override;
    void Note(const std::string &text) override;
    void Warn(const std::string &text) override;
    void Clear() override;

private:
    std::FILE *stream_;
    bool showLine_;
    bool verbose_;
    std::string line_;
};

// What a stage does, as the progress lines say it: "reading", "aligning", "fusing", "feathering".
const char *StageVerb(StackStage stage);
