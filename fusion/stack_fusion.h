// The fusion of one focus stack from its files, the one every front end runs (the command-line
// tool, Form1's Fuse and the stack window), so that the same files give the same picture
// everywhere: every shot's header is checked first, then each shot is read (decoded ahead on
// other threads), registered onto the first when asked and folded in, and last the seams are
// feathered. Memory does not grow with the number of shots.
#pragma once

#include "alignment.h"
#include "exception.h"
#include "picture.h"

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

struct StackOptions {
    bool align = false;            // register each shot onto the first before folding it in
    bool fuse = true;              // make the all-in-focus picture; off, shots are only read (and aligned)
    bool sourceMap = false;        // also make the source map
    bool leaveOutBadShots = false; // a shot that cannot be read, is smaller than the first or cannot be
                                   // registered is left out and reported, instead of stopping the fusion
};

enum class ShotState { Waiting, Fused, LeftOut };

// What became of one shot.
struct ShotReport {
    std::string file;
    ShotState state = ShotState::Waiting;
    PictureHeader header;              // once its header was read; 0 x 0 before, or when it could not be
    std::optional<ShotTransform> move; // what put it onto the first shot, when aligned
    std::string reason;                // why it was left out, in a user's words, without the file's name
};

enum class StackStage {
    Reading,    // waiting for a shot to be decoded
    Aligning,   // registering it onto the first
    Folding,    // folding it into the stack
    Feathering, // blending the seams, once every shot is in
};

// What a front end hears while a stack is fused; every call comes on the thread that runs
// FuseStack.
class StackObserver {
public:
    virtual ~StackObserver() = default;

    // Shot index (from 0) of count enters stage; for Feathering, index is count and file empty.
    virtual void Stage(StackStage, int /*index*/, int /*count*/, const std::string & /*file*/) {}
    // A shot was fused (with its move when aligned) or left out (with the reason).
    virtual void ShotReported(int /*index*/, const ShotReport &) {}
    // A shot as it was folded in: in the fused picture's format, moved into the first shot's frame
    // when aligned, with its coverage (nullptr when it covers every pixel). The observer may take
    // the picture; FuseStack does not use it afterwards.
    virtual void ShotFolded(int /*index*/, TPicture & /*shot*/, const TBitmap * /*coverage*/) {}
};

struct StackResult {
    // The all-in-focus picture, the size of the first shot (of the first one fused when earlier
    // ones were left out), with its colour profile: pf8bit when every shot is grey, pf48bit when
    // every shot has 16 bits a channel, else pf24bit. Empty when not fused.
    TPicture fused;
    // pf8bit, the fused picture's size: at each pixel the number (1 for the first file given) of
    // the shot its colour comes from; of two blended across a seam, the one with the larger share.
    // Empty unless asked for.
    TBitmap sourceMap;
    std::vector<ShotReport> shots; // one per file, in the order given
    int reference = 0;             // the index of the shot whose frame the others were moved into
};

// Raised by FuseStack when its stop token asks it to stop; nothing of the run is kept.
class FusionCancelled : public Exception {
public:
    FusionCancelled() : Exception("The fusion was cancelled.") {}
};

// Fuses the shot files (1 to MaxShots; 2 or more unless bad ones may be left out) as options say.
// Raises the reading's Exception for a file that cannot be read, an Exception naming both files
// for a shot smaller than the first or one that cannot be registered (unless such shots may be
// left out; then when none is left), and FusionCancelled once stop is requested.
StackResult FuseStack(const std::vector<std::string> &files, const StackOptions &options, StackObserver &observer,
                      std::stop_token stop = {});
