// Reads the shots of a stack in order, each decoded on a thread of its own a few shots ahead of
// the one being used: decoding takes most of a fusion's time, and with two ahead both cores
// decode while the fold runs.
#pragma once

#include "picture.h"

#include <cstddef>
#include <deque>
#include <future>
#include <string>
#include <vector>

class ShotReader {
public:
    // Shots decoded ahead of the one taken; each waits in memory at its full size.
    static constexpr std::size_t ReadAhead = 2;

    // Reads files[i] for each i of order, in that order, at depth.
    ShotReader(const std::vector<std::string> &files, std::vector<int> order, PictureDepth depth);

    // The next shot of the order: its picture, or the Exception its loading raised. A failure
    // comes out when its shot is taken, so the first shot in order that cannot be read is the one
    // reported.
    TPicture TakeNext();

private:
    const std::vector<std::string> &files_;
    std::vector<int> order_;
    PictureDepth depth_;
    std::size_t started_ = 0;
    std::deque<std::future<TPicture>> loads_;
};
