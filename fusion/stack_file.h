// The stack file (.edgedom): the shots of a focus stack in their order, whether they are aligned,
// and the retouching strokes painted over their fusion, so that a retouched stack opens again as
// it was saved and the command line renders the very picture the window saved. JSON, read and
// written through QtCore behind this header, which shows no Qt:
//   { "edgedom-stack": 1, "shots": ["IMG_0001.jpg", "IMG_0002.jpg"], "align": false,
//     "retouch": [ { "shot": 2, "radius": 40, "points": [[812.5, 300], [900, 310]] } ] }
#pragma once

#include "brush_stroke.h"

#include <string>
#include <vector>

struct StackFile {
    std::vector<std::string> shots;   // the shot files, in the stack's order
    bool align = false;               // the shots are registered onto the first before they are fused
    std::vector<BrushStroke> retouch; // applied in order over the fusion; a stroke's shot counts from 0
                                      // here and from 1 in the file
};

// The extension of stack files, without the dot, and the version this program reads and writes.
constexpr const char *StackFileExtension = "edgedom";
constexpr int StackFileVersion = 1;

// Reads a stack file, its shots' paths resolved against the file's folder (and made absolute).
// A file that cannot be used raises one Exception naming it and saying what is wrong and where:
// unreadable or larger than 64 MB, not JSON, not an object, a missing or unknown version, no
// shots, more than MaxShots, a shot that is not a file name, "align" not true or false,
// "retouch" not a list, and of stroke N: not an object, a shot number that is not a whole number
// from 1 to the shots' count, no radius, no points, a point that is not two numbers, or what
// StrokeFault refuses; last, a shot file that is missing or is a folder. Keys it does not know
// are ignored, so that files of later versions that add some are read.
StackFile ReadStackFile(const std::string &fileName);

// The same for the bytes of a file, read as though they were fileName's.
StackFile ParseStackFile(const std::string &bytes, const std::string &fileName);

// The bytes WriteStackFile writes for a stack file named fileName: UTF-8 JSON, the shots' paths
// relative to the file's folder (those that cannot be made relative stay absolute), the strokes'
// coordinates and radii written so that they read back exactly. Raises an Exception for a stack
// that would not read back: 1 to MaxShots shots, none of them an empty name, every stroke's shot
// one of them, every stroke one StrokeFault accepts.
std::string StackFileBytes(const StackFile &stack, const std::string &fileName);

// Saves the stack as fileName atomically (see SaveAtomically): a failed save leaves an earlier
// file as it was. Raises StackFileBytes' Exception and the save's.
void WriteStackFile(const std::string &fileName, const StackFile &stack);
