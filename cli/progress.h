// What edgedom-cli tells the user while it works: one line on a terminal that updates as each
// picture is read ("fusing 7 of 20: IMG_0007.jpg"), when asked for, a line for each
// transform that alignment finds, and always a line for each warning. The updating line is
// left out when standard error is not a terminal, so scripts and logs see only results,
// warnings and errors.
#pragma once

#include <cstdio>
#include <string>

class ProgressReport {
public:
    // stream: where the lines go; showLine: whether the updating line is wanted (the stream
    // is a terminal and --quiet was not given); verbose: whether notes are printed.
    ProgressReport(std::FILE *stream, bool showLine, bool verbose) noexcept
        : stream_(stream), showLine_(showLine), verbose_(verbose)
    {
    }
    ~ProgressReport() { Clear(); }
    ProgressReport(const ProgressReport &) = delete;
    ProgressReport &operator=(const ProgressReport &) = delete;

    // Shows "<verb> <index> of <count>: <file's name>" in place of the line shown before.
    void Picture(const std::string &verb, int index, int count, const std::string &file);

    // Prints a line of its own when verbose, above the updating line.
    void Note(const std::string &text);

    // Prints "edgedom-cli: warning: <text>" on a line of its own, above the updating line.
    void Warn(const std::string &text);

    // Erases the updating line.
    void Clear();

private:
    std::FILE *stream_;
    bool showLine_;
    bool verbose_;
    std::string line_;
};
