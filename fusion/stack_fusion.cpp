#include "stack_fusion.h"

#include "focus_stack.h"
#include "shot_reader.h"
#include "stack_limits.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {

// A shot that cannot be used: raised while a shot is handled, and either passed on or turned
// into a left-out shot, as the options say.
class BadShot : public Exception {
public:
    BadShot(std::string message, std::string reason) : Exception(std::move(message)), reason_(std::move(reason)) {}
    const std::string &Reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

// The reason in a picture file's refusal, which names the file first ("Cannot load FILE: reason").
std::string ReasonOf(const Exception &refusal, const std::string &file)
{
    const std::string head = "Cannot load " + file + ": ";
    const std::string &message = refusal.Message();
    return message.rfind(head, 0) == 0 ? message.substr(head.size()) : message;
}

std::string Name(const std::string &file) { return std::filesystem::path(file).filename().string(); }

bool Smaller(const PictureHeader &shot, const PictureHeader &first)
{
    return shot.width < first.width || shot.height < first.height;
}

// The fused picture's format: grey when every shot is grey, 16 bits a channel when every shot
// has them, else 8-bit colour.
TPixelFormat FusedFormat(const std::vector<const PictureHeader *> &headers)
{
    const auto all = [&](bool PictureHeader::*property) {
        return std::all_of(headers.begin(), headers.end(), [&](const PictureHeader *h) { return h->*property; });
    };
    return all(&PictureHeader::sixteenBits) ? pf48bit : all(&PictureHeader::grey) ? pf8bit : pf24bit;
}

// One run of FuseStack: the shots' reports, the reader, the aligner and the stack.
class StackRun {
public:
    StackRun(const std::vector<std::string> &files, const StackOptions &options, StackObserver &observer,
             std::stop_token stop)
        : files_(files), options_(options), observer_(observer), stop_(std::move(stop))
    {
        result_.shots.resize(files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            result_.shots[i].file = files[i];
    }

    StackResult Run()
    {
        if (files_.empty() || files_.size() > static_cast<std::size_t>(MaxShots))
            throw Exception("A stack holds 1 to " + std::to_string(MaxShots) + " shots, not "
                            + std::to_string(files_.size()) + ".");
        ProbeAll();
        CheckStop();
        const std::vector<int> order = ShotsToRead();
        ShotReader reader(files_, order, format_ == pf48bit ? PictureDepth::KeepSixteenBits : PictureDepth::EightBits);
        for (const int index : order) {
            Stage(StackStage::Reading, index);
            try {
                Handle(index, Read(reader, index));
            } catch (const BadShot &bad) {
                LeaveOutOrRaise(index, bad);
            }
        }
        if (first_ < 0)
            throw Exception("None of the " + std::to_string(files_.size())
                            + " shots could be used: see why for each of them.");
        Finish();
        return std::move(result_);
    }

private:
    // Reads every header before any picture is decoded, so that shots that do not fit together
    // are refused at once; the first shot that can be read sets the size.
    void ProbeAll()
    {
        const PictureHeader *first = nullptr;
        std::vector<const PictureHeader *> headers;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            ShotReport &shot = result_.shots[i];
            try {
                shot.header = TPicture::Probe(shot.file);
                if (first != nullptr && Smaller(shot.header, *first))
                    throw SmallerThanFirst(static_cast<int>(i), shot.header, *first, result_.shots[firstProbed_].file);
            } catch (const BadShot &bad) {
                LeaveOutOrRaise(static_cast<int>(i), bad);
                continue;
            } catch (const Exception &refusal) {
                LeaveOutOrRaise(static_cast<int>(i), BadShot(refusal.Message(), ReasonOf(refusal, shot.file)));
                continue;
            }
            if (first == nullptr)
                first = &shot.header, firstProbed_ = static_cast<int>(i);
            headers.push_back(&shot.header);
        }
        format_ = FusedFormat(headers);
        if (!options_.fuse)
            format_ = pf24bit;
    }

    std::vector<int> ShotsToRead() const
    {
        std::vector<int> order;
        for (std::size_t i = 0; i < files_.size(); ++i)
            if (result_.shots[i].state != ShotState::LeftOut)
                order.push_back(static_cast<int>(i));
        return order;
    }

    BadShot SmallerThanFirst(int index, const PictureHeader &shot, const PictureHeader &first,
                             const std::string &firstFile) const
    {
        const std::string reason = "it is " + SizeText(shot.width, shot.height) + ", smaller than the first picture ("
                                   + SizeText(first.width, first.height) + ")";
        return BadShot("Cannot compare " + files_[index] + " with " + firstFile + ": " + reason
                           + ". The pictures are compared pixel by pixel: give pictures of the same size (of a "
                             "larger one the top-left part is used).",
                       reason);
    }

    TPicture Read(ShotReader &reader, int index)
    {
        const std::string &file = files_[index];
        try {
            TPicture picture = reader.TakeNext();
            CheckStop();
            return picture;
        } catch (const FusionCancelled &) {
            throw;
        } catch (const Exception &refusal) {
            throw BadShot(refusal.Message(), ReasonOf(refusal, file));
        }
    }

    // Aligns a read shot and folds it in; the first shot used sets the frame.
    void Handle(int index, TPicture picture)
    {
        TBitmap &shot = picture.Bitmap();
        if (first_ >= 0 && (shot.Width() < width_ || shot.Height() < height_)) {
            const PictureHeader header{shot.Width(), shot.Height()}, first{width_, height_};
            throw SmallerThanFirst(index, header, first, files_[first_]);
        }
        if (options_.fuse)
            shot.SetPixelFormat(format_);
        TBitmap coverage;
        if (first_ < 0)
            Start(index, picture);
        else if (options_.align)
            Align(index, shot, coverage);
        const TBitmap *covered = coverage.Empty() ? nullptr : &coverage;
        if (stack_) {
            Stage(StackStage::Folding, index);
            stack_->Add(shot, covered);
            foldedShots_.push_back(index);
        }
        ShotReport &report = result_.shots[index];
        report.state = ShotState::Fused;
        observer_.ShotReported(index, report);
        observer_.ShotFolded(index, picture, covered);
        CheckStop();
    }

    void Start(int index, const TPicture &picture)
    {
        first_ = result_.reference = index;
        width_ = picture.Bitmap().Width();
        height_ = picture.Bitmap().Height();
        result_.fused.SetColourProfile(picture.ColourProfile());
        if (options_.fuse)
            stack_.emplace(width_, height_, format_);
        if (options_.align)
            aligner_.emplace(picture.Bitmap());
    }

    // Replaces the shot by its top-left part moved into the first shot's frame.
    void Align(int index, TBitmap &shot, TBitmap &coverage)
    {
        Stage(StackStage::Aligning, index);
        shot.SetSize(width_, height_);
        AlignedShot aligned;
        try {
            aligned = aligner_->Align(shot);
        } catch (const RegistrationError &refusal) {
            throw BadShot("Cannot align " + files_[index] + " with " + files_[first_] + ": " + refusal.Message()
                              + ". Leave it out, or fuse without alignment.",
                          refusal.Message());
        }
        result_.shots[index].move = aligned.transform;
        shot = std::move(aligned.picture);
        coverage = std::move(aligned.coverage);
        CheckStop();
    }

    void Finish()
    {
        if (!stack_)
            return;
        Stage(StackStage::Feathering, static_cast<int>(files_.size()));
        TBitmap sources;
        result_.fused.Bitmap() = stack_->Result(options_.sourceMap ? &sources : nullptr);
        if (options_.sourceMap)
            result_.sourceMap = NumberedSources(sources);
        CheckStop();
    }

    // The fold's indices (0 for the first shot folded) turned into file numbers (1 for the first file).
    TBitmap NumberedSources(TBitmap sources) const
    {
        std::uint8_t number[256] = {};
        for (std::size_t k = 0; k < foldedShots_.size(); ++k)
            number[k] = static_cast<std::uint8_t>(foldedShots_[k] + 1);
        // Each pixel's fold index becomes its shot's number.
        for (int y = 0; y < sources.Height(); ++y) {
            std::uint8_t *row = sources.ScanLine(y);
            for (int x = 0; x < sources.Width(); ++x)
                row[x] = number[row[x]];
        }
        return sources;
    }

    void LeaveOutOrRaise(int index, const BadShot &bad)
    {
        if (!options_.leaveOutBadShots)
            throw Exception(bad.Message());
        ShotReport &report = result_.shots[index];
        report.state = ShotState::LeftOut;
        report.reason = bad.Reason();
        report.move.reset();
        observer_.ShotReported(index, report);
    }

    void Stage(StackStage stage, int index)
    {
        CheckStop();
        const bool feathering = stage == StackStage::Feathering;
        observer_.Stage(stage, index, static_cast<int>(files_.size()), feathering ? std::string() : Name(files_[index]));
    }

    void CheckStop() const
    {
        if (stop_.stop_requested())
            throw FusionCancelled();
    }

    const std::vector<std::string> &files_;
    const StackOptions &options_;
    StackObserver &observer_;
    std::stop_token stop_;
    StackResult result_;
    TPixelFormat format_ = pf24bit;
    int firstProbed_ = -1, first_ = -1, width_ = 0, height_ = 0;
    std::optional<StackAligner> aligner_;
    std::optional<FocusStack> stack_;
    std::vector<int> foldedShots_;
};

} // namespace

StackResult FuseStack(const std::vector<std::string> &files, const StackOptions &options, StackObserver &observer,
                      std::stop_token stop)
{
    return StackRun(files, options, observer, std::move(stop)).Run();
}
