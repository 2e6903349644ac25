// Retouching a fused stack: the brush strokes a user painted where the automatic fusion chose
// wrongly, each taking a place from one shot, applied in order over the fused picture and its
// source map. The stack window paints the same strokes live with PaintStroke on shots read with
// ShotFrames; applied here, from a saved stack, they give the same bytes.
#pragma once

#include "brush_stroke.h"
#include "stack_fusion.h"

#include <vector>

// Applies the strokes, in order, to result's fused picture and, when result holds one, its source
// map: at each pixel the last stroke that covers it and whose shot shows it decides (a later
// stroke over an earlier one); the pixel takes that shot's colour exactly as ShotFrames gives it,
// and the shot's number (index + 1, as in the source map) in the source map. A shot moved into
// the first one's frame does not show the pixels outside its coverage, which keep what they had.
// Each shot painted from is read once, so memory does not grow with the number of strokes or
// shots. Raises an Exception, before anything is read, for a stroke StrokeFault refuses and for
// one whose shot is out of range or was not fused (naming the stroke and the shot), and for a
// result without a fused picture; the reading's Exception when a shot cannot be read again. On
// any Exception result is left as it was.
void ApplyRetouch(StackResult &result, const std::vector<BrushStroke> &strokes);
