// The stack window's fusion, as it runs on a worker thread: the shared engine's fusion, the
// strokes of the retouching painted again over it, and the display copy of the picture, made
// there so that the window only swaps pointers.
#pragma once

#include "brush_stroke.h"
#include "display_picture.h"
#include "stack_fusion.h"

#include <QImage>

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

struct FusionOutcome {
    StackResult base;                            // the fusion as the engine gave it, unretouched
    TPicture picture;                            // with the strokes painted
    TBitmap sources;                             // its source map, with the strokes painted
    std::vector<BrushStroke> strokes;            // the strokes painted: those whose shot was fused
    std::vector<std::string> notes;              // what the user should know: warnings, strokes left out
    std::shared_ptr<DisplayPicture> pictureView; // the display copy of picture
};

// Fuses the files as options say and paints the strokes over the result; raises what FuseStack
// raises.
FusionOutcome FuseAndRetouch(const std::vector<std::string> &files, const StackOptions &options,
                             const std::vector<BrushStroke> &strokes, StackObserver &observer, std::stop_token stop);

// A small picture of a shot, its long side side pixels, for the strip.
QImage Thumbnail(const TBitmap &shot, int side);
