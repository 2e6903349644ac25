// The stacks a batch finds in its folders: a folder of pictures is one stack, a folder of folders
// gives one stack per folder in it (one level down), and with a split gap a folder of pictures is
// cut wherever the shots' capture times jump, as a camera's focus bracketing writes stack after
// stack into one numbered sequence. Only what the folders hold: the plan decides what to do.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct FoundStack {
    std::string name;               // its outputs' name: its folder's, or its first shot's without
                                    // extension when cut by time
    std::string origin;             // where it is, for messages: its folder, or its first shot
    std::filesystem::path folder;   // the folder that holds its shots
    std::vector<std::string> shots; // its pictures in natural name order; maybe fewer than two
    std::string problem;            // why it cannot be read (its folder cannot be), else empty
};

// The positions where a run of shots begins after the first: each i whose time differs from
// time i - 1 by more than gap seconds, either way (a clock set back starts a stack too).
std::vector<std::size_t> CutsWhereTimeJumps(const std::vector<double> &times, double gap);

// When a picture was taken, in seconds: its EXIF capture time with sub-seconds
// (PictureMetadata::CaptureTime), else, when it has none or it cannot be read, its file's
// modification time. Raises an Exception naming the file when neither can be read.
double CaptureTime(const std::string &file);

// The stacks of the folders, folder by folder as given; within a folder of folders, in natural
// order of their names, hidden ones and the folder outside (the batch's output folder) left
// out. A folder of neither pictures nor folders is a stack of no shots. splitGap: cut each
// folder of pictures where CutsWhereTimeJumps says. Raises an Exception naming a given folder
// that cannot be read; a folder in it that cannot be read is a stack with a problem.
std::vector<FoundStack> FindStacks(const std::vector<std::string> &folders, std::optional<double> splitGap,
                                   const std::filesystem::path &outside);
