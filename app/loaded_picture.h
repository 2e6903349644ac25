// The pictures behind the window's three picture panes. Each is kept as read, in colour at 8
// bits a channel, beside the edge strength map its pane shows, with the file it came from, which
// Fuse fuses again as the command-line tool would. Picture2 and Picture3 may also be kept moved
// into Picture1's frame; the picture as read stays beside, so that a new Picture1, or alignment
// turned off, can redo or undo that.
#pragma once

#include "alignment.h"
#include "picture.h"

#include <array>
#include <string>

struct LoadedPicture {
    std::string file;   // "" before a picture is loaded
    TPicture read;      // as read from the file, with its colour profile
    TBitmap aligned;    // read moved into Picture1's frame; empty when not aligned
    TBitmap coverage;   // pf8bit, 255 where aligned covers Picture1's pixel; empty when not aligned
    ShotTransform move; // that moved read into Picture1's frame

    bool Empty() const noexcept { return file.empty(); }
    bool Aligned() const noexcept { return !aligned.Empty(); }
    // The picture the commands use: the aligned one while there is one, else the one read.
    const TBitmap &Picture() const noexcept { return Aligned() ? aligned : read.Bitmap(); }
    const TBitmap *Coverage() const noexcept { return Aligned() ? &coverage : nullptr; }
    // Goes back to the picture as read.
    void Unalign();
};

using LoadedPictures = std::array<LoadedPicture, 3>;

// Reads file at 8 bits a channel (pf8bit when grey, else pf24bit). A file that cannot be read
// raises the loader's Exception, which names the file and the reason.
LoadedPicture ReadPicture(const std::string &file);

// The map the picture's pane shows: the edge strength map of Picture(), pf8bit, of its size;
// when aligned, 0 within one pixel of a pixel it does not cover.
TBitmap EdgeMapOf(const LoadedPicture &picture);

// Moves picture into reference's frame, registered directly onto reference; of a picture larger
// than reference only the top-left part of reference's size is aligned. A picture smaller than
// reference, or one the registration refuses, raises an Exception naming both files and the
// reason, and picture stays as it was.
void AlignOnto(const LoadedPicture &reference, LoadedPicture &picture);

// The dominance map of the three edge maps when some picture is aligned: as ComputeDominanceMap,
// except that a pixel an aligned picture does not cover never takes its class.
TBitmap DominanceMapOfAligned(const std::array<const TBitmap *, 3> &edgeMaps, const LoadedPictures &pictures);
