#include "batch_run.h"

#include "batch_list.h"
#include "batch_plan.h"
#include "batch_progress.h"
#include "exception.h"
#include "memory_budget.h"
#include "output_files.h"
#include "pipeline.h"
#include "stack_queue.h"

#include <algorithm>
#include <limits>
#include <malloc.h>
#include <new>
#include <thread>
#include <unistd.h>

namespace {

struct Outcome {
    enum { Stopped, Fused, Failed } state = Stopped;
    std::string reason; // why it failed
};

// The peak memory of a stack's fusion, from its first shot's header; 0 when the header cannot be
// read, since the fusion then stops at once, saying why.
std::uint64_t PeakOf(const CliOptions &options, const PlannedStack &stack)
{
    try {
        const PictureHeader first = TPicture::Probe(stack.found.shots[0]);
        return StackPeakBytes(static_cast<long long>(first.width) * first.height, first.sixteenBits, options.align);
    } catch (const Exception &) {
        return 0;
    }
}

Outcome Fuse(const CliOptions &options, const PlannedStack &stack, StackProgress &progress, std::stop_token stop)
{
    try {
        for (const std::string &output : stack.outputs)
            RemoveLeftoversOf(output); // of a run that was killed
        std::ostream unused(nullptr);  // for the region step's lines: it does not run in a batch
        RunOnStack(StackCommand(options, stack), {stack.found.shots, options.align, {}}, unused, progress,
                   std::move(stop));
        return {Outcome::Fused, {}};
    } catch (const FusionCancelled &) {
        return {Outcome::Stopped, {}};
    } catch (const Exception &failure) {
        return {Outcome::Failed, failure.Message()};
    } catch (const std::bad_alloc &) {
        return {Outcome::Failed, "out of memory: the pictures are too large for the memory available."};
    } catch (const std::exception &failure) {
        return {Outcome::Failed, failure.what()};
    }
}

unsigned Jobs(const CliOptions &options, std::size_t stacks)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned asked = options.jobs > 0 ? static_cast<unsigned>(options.jobs) : cores;
    return static_cast<unsigned>(std::min<std::size_t>(asked, std::max<std::size_t>(stacks, 1)));
}

// Fuses the stacks on Jobs() threads, each taking the next stack once its memory fits.
std::vector<Outcome> FuseAll(const CliOptions &options, const std::vector<const PlannedStack *> &stacks,
                             BatchProgress &progress, std::stop_token stop)
{
    std::vector<std::uint64_t> needs;
    for (const PlannedStack *stack : stacks)
        needs.push_back(PeakOf(options, *stack));
    StackQueue queue(std::move(needs), AvailableMemory().value_or(std::numeric_limits<std::uint64_t>::max()));
    std::vector<Outcome> outcomes(stacks.size());
    std::vector<std::jthread> workers;
    for (unsigned j = 0; j < Jobs(options, stacks.size()); ++j)
        workers.emplace_back([&] {
            while (const std::optional<std::size_t> next = queue.Take(stop)) {
                const PlannedStack &stack = *stacks[*next];
                const int number = static_cast<int>(*next);
                progress.Started(number, stack.found.name);
                BatchStackProgress stackProgress(progress, number, stack.found.name);
                outcomes[*next] = Fuse(options, stack, stackProgress, stop);
                progress.Finished(number);
                queue.Done(*next);
            }
        });
    workers.clear(); // joins them
    return outcomes;
}

void Tell(std::FILE *errors, const char *what, const PlannedStack &stack, const std::string &reason)
{
    std::string line = "edgedom-cli: " + std::string(what) + " " + stack.found.name + " (" + stack.found.origin
                       + "): " + reason;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(errors, "%s\n", line.c_str());
}

// The failures, one line each, and the counts; returns the exit status.
int Summarize(const std::vector<PlannedStack> &plan, const std::vector<const PlannedStack *> &fused,
              const std::vector<Outcome> &outcomes, std::FILE *errors, bool stopped)
{
    int counts[3] = {}, upToDate = 0, tooFew = 0, planFailed = 0;
    for (const Outcome &outcome : outcomes)
        ++counts[outcome.state];
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (outcomes[i].state == Outcome::Failed)
            Tell(errors, "failed", *fused[i], outcomes[i].reason);
    for (const PlannedStack &stack : plan) {
        upToDate += stack.state == StackState::UpToDate;
        tooFew += stack.state == StackState::TooFewShots;
        if (stack.state == StackState::Failed) {
            ++planFailed;
            Tell(errors, "failed", stack, stack.reason);
        }
    }
    const int failed = counts[Outcome::Failed] + planFailed;
    std::string summary = std::to_string(counts[Outcome::Fused]) + " fused, " + std::to_string(upToDate + tooFew)
                          + " skipped (" + std::to_string(upToDate) + " up to date), " + std::to_string(failed)
                          + " failed";
    if (stopped)
        summary = "stopped: " + summary + ", " + std::to_string(counts[Outcome::Stopped])
                  + " not fused; run the same command again to fuse the rest";
    std::fprintf(errors, "edgedom-cli: %s.\n", summary.c_str());
    std::fflush(errors);
    return failed > 0 ? 1 : 0;
}

} // namespace

int RunBatch(const CliOptions &options, std::ostream &out, std::FILE *errors, std::stop_token stop)
{
    const std::vector<PlannedStack> plan = PlanBatch(options);
    if (options.list)
        return ListBatch(options, plan, out, errors);
    std::vector<const PlannedStack *> toFuse;
    std::vector<int> shotCounts;
    for (const PlannedStack &stack : plan) {
        if (stack.state == StackState::TooFewShots)
            Tell(errors, "skipped", stack, stack.reason);
        if (stack.state == StackState::ToFuse) {
            toFuse.push_back(&stack);
            shotCounts.push_back(static_cast<int>(stack.found.shots.size()));
        }
    }
    // Pictures and the fusion's buffers (megabytes each) are mapped for themselves and given back
    // to the system when freed. glibc's default raises that threshold to the largest block freed,
    // after which the stacks' buffers stay in the heap between stacks, fragmented over the
    // threads' arenas, and the batch would take more memory than the stacks it runs at once.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    std::vector<Outcome> outcomes;
    {
        BatchProgress progress(errors, !options.quiet && isatty(fileno(errors)), options.verbose, shotCounts);
        outcomes = FuseAll(options, toFuse, progress, stop);
    }
    return Summarize(plan, toFuse, outcomes, errors, stop.stop_requested());
}
