// All-in-focus fusion: shots of one scene focused at different depths are folded in one at a
// time, and the result is one picture sharp everywhere. Each pixel is copied from the shot
// whose edges are strongest around it; only along the borders between areas won by different
// shots are the two best shots' colours blended, so that no seam shows and nothing is invented.
#pragma once

#include "bitmap.h"

#include <memory>

class FocusStack {
public:
    // A stack for shots of width x height pixels and for a result in format: pf8bit (grey
    // shots), pf24bit or pf48bit. Raises an Exception for a negative size.
    FocusStack(int width, int height, TPixelFormat format);
    FocusStack(FocusStack &&) noexcept;
    FocusStack &operator=(FocusStack &&) noexcept;
    ~FocusStack();

    // Folds in the top-left width x height part of shot, which must be in the stack's format.
    // coverage, when given, is pf8bit with at least as many pixels: a nonzero byte marks a
    // pixel the shot covers. A pixel the shot does not cover is never taken from it, and the
    // border of the covered area counts as no edge. Raises an Exception, before anything
    // changes, for a shot or coverage of another format or smaller, and for a 256th shot.
    void Add(const TBitmap &shot, const TBitmap *coverage = nullptr);

    int ShotCount() const noexcept;

    // The fused picture: width x height pixels in the stack's format. A pixel takes the colour
    // of the shot that won it, except within 5 pixels of a pixel won by another shot, where
    // the two best shots' colours are blended in proportion to the window's pixels each won.
    // A pixel no shot covers keeps the first shot's colour. sources, when given, becomes the
    // source map: pf8bit, width x height, each pixel the index (0 for the first shot added)
    // of the shot its colour comes from, of the two blended the one with the larger share
    // (the winner on a tie). Raises an Exception before any shot was added.
    TBitmap Result(TBitmap *sources = nullptr) const;

    // What one fusion keeps between shots, behind this class: the state of every pixel.
    class Fusion;

private:
    std::unique_ptr<Fusion> fusion_;
};
