#include "progress.h"

namespace {

// Back to the start of the line, and erase it to its end (an ANSI terminal's control).
constexpr const char *EraseLine = "\r\033[K";

} // namespace

const char *StageVerb(StackStage stage)
{
    switch (stage) {
    case StackStage::Reading: return "reading";
    case StackStage::Aligning: return "aligning";
    case StackStage::Folding: return "fusing";
    case StackStage::Feathering: return "feathering";
    }
    return "";
}

void ProgressReport::Shot(StackStage stage, int index, int count, const std::string &file)
{
    if (!showLine_)
        return;
    line_ = stage == StackStage::Feathering ? std::string("feathering the seams")
                                            : std::string(StageVerb(stage)) + " " + std::to_string(index + 1) + " of "
                                                  + std::to_string(count) + ": " + file;
    std::fprintf(stream_, "%s%s", EraseLine, line_.c_str());
    std::fflush(stream_);
}

void ProgressReport::Note(const std::string &text)
{
    if (!verbose_)
        return;
    std::fprintf(stream_, "%s%s\n%s", showLine_ ? EraseLine : "", text.c_str(), line_.c_str());
    std::fflush(stream_);
}

void ProgressReport::Warn(const std::string &text)
{
    std::fprintf(stream_, "%sedgedom-cli: warning: %s\n%s", showLine_ ? EraseLine : "", text.c_str(), line_.c_str());
    std::fflush(stream_);
}

void ProgressReport::Clear()
{
    if (!showLine_ || line_.empty())
        return;
    std::fprintf(stream_, "%s", EraseLine);
    std::fflush(stream_);
    line_.clear();
}
