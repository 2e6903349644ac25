// The shots of a fused stack read again and put where the fusion put them: in the fused picture's
// format, cut to its size and moved by the transform the fusion found. The stack window shows a
// shot this way beside the fused picture and paints from it, without keeping every shot in memory.
#pragma once

#include "stack_fusion.h"

class ShotFrames {
public:
    // The shots of a fusion that made a fused picture.
    explicit ShotFrames(const StackResult &result);

    // Shot index (one that was fused) exactly as it was folded in, and, when it was moved, the
    // pixels it covers in *coverage (pf8bit, 255 where covered; else left empty). Raises the
    // reading's Exception when the file cannot be read any more.
    TBitmap Shot(int index, TBitmap *coverage = nullptr);

private:
    TBitmap Read(int index) const;

    std::vector<ShotReport> shots_;
    int reference_;
    TPixelFormat format_;
    int width_, height_;
    TBitmap referencePicture_; // read when a moved shot first needs it
};
