#include "batch_plan.h"

#include "exception.h"
#include "stack_limits.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>
#include <system_error>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> OutputsOf(const CliOptions &options, const std::string &name)
{
    const fs::path folder = options.batchDir;
    std::vector<std::string> outputs = {(folder / (name + "." + options.format)).string()};
    if (options.sourceMaps)
        outputs.push_back((folder / (name + "-source.png")).string());
    return outputs;
}

std::string Described(const FoundStack &stack) { return stack.name + " (" + stack.origin + ")"; }

// Two stacks that would write one file would leave only the later one's picture.
void RequireDistinctOutputs(const std::vector<PlannedStack> &plan)
{
    std::map<std::string, const FoundStack *> writers;
    for (const PlannedStack &stack : plan) {
        if (stack.state == StackState::TooFewShots)
            continue;
        for (const std::string &output : stack.outputs) {
            const auto [at, added] = writers.emplace(fs::path(output).lexically_normal().string(), &stack.found);
            if (!added)
                throw Exception("Cannot fuse both " + Described(*at->second) + " and " + Described(stack.found)
                                + " into " + output + ": give the stacks different names (rename a folder).");
        }
    }
}

// Outputs written among the shots would be taken for shots of the stack next time.
void RequireOutputsApartFromShots(const CliOptions &options, const std::vector<PlannedStack> &plan)
{
    std::error_code error;
    for (const std::string &input : options.pictures)
        if (fs::equivalent(input, options.batchDir, error))
            throw Exception("Cannot write the fused pictures into " + options.batchDir + ": it is the folder "
                            "of the stacks, whose next run would take them for shots. Choose another folder.");
    for (const PlannedStack &stack : plan)
        if (fs::equivalent(stack.found.folder, options.batchDir, error))
            throw Exception("Cannot write the fused pictures into " + options.batchDir + ": it holds the shots of "
                            + Described(stack.found) + ", and would hold them among them. Choose another folder.");
}

void PrepareOutputFolder(const std::string &folder)
{
    const std::string head = "Cannot write the fused pictures into " + folder + ": ";
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_directory(folder, error))
        throw Exception(head + "it is not a folder. Choose a folder.");
    fs::create_directories(folder, error);
    if (error)
        throw Exception(head + error.message() + ".");
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw Exception(head + std::strerror(errno) + ". Choose another folder, or make it writable.");
}

// What to do with a stack, and why.
std::pair<StackState, std::string> Verdict(const CliOptions &options, const PlannedStack &stack)
{
    const std::size_t count = stack.found.shots.size();
    if (!stack.found.problem.empty())
        return {StackState::Failed, stack.found.problem};
    if (count == 0)
        return {StackState::TooFewShots, "it holds no pictures."};
    if (count == 1)
        return {StackState::TooFewShots, "it holds one picture, and a stack needs two or more."};
    if (count > static_cast<std::size_t>(MaxShots))
        return {StackState::Failed, "it holds " + std::to_string(count) + " pictures, and a stack holds at most "
                                        + std::to_string(MaxShots) + ": cut it (--split-gap, or a folder for each)."};
    if (!options.force && UpToDate(stack.outputs, stack.found.shots))
        return {StackState::UpToDate, "its outputs are newer than its shots."};
    return {StackState::ToFuse, {}};
}

} // namespace

bool UpToDate(const std::vector<std::string> &outputs, const std::vector<std::string> &shots)
{
    std::error_code error;
    fs::file_time_type newestShot = fs::file_time_type::min();
    for (const std::string &shot : shots) {
        const fs::file_time_type changed = fs::last_write_time(shot, error);
        if (error)
            return false; // the fusion tells what is wrong with it
        newestShot = std::max(newestShot, changed);
    }
    return std::all_of(outputs.begin(), outputs.end(), [&](const std::string &output) {
        const fs::file_time_type written = fs::last_write_time(output, error);
        return !error && written > newestShot;
    });
}

std::vector<PlannedStack> PlanBatch(const CliOptions &options)
{
    std::vector<PlannedStack> plan;
    for (FoundStack &found : FindStacks(options.pictures, options.splitGap, options.batchDir)) {
        PlannedStack stack{std::move(found), {}, StackState::ToFuse, {}};
        stack.outputs = OutputsOf(options, stack.found.name);
        stack.state = stack.found.shots.size() < 2 ? StackState::TooFewShots : StackState::ToFuse;
        plan.push_back(std::move(stack));
    }
    RequireDistinctOutputs(plan);
    RequireOutputsApartFromShots(options, plan);
    PrepareOutputFolder(options.batchDir);
    for (PlannedStack &stack : plan)
        std::tie(stack.state, stack.reason) = Verdict(options, stack);
    return plan;
}

CliOptions StackCommand(const CliOptions &batch, const PlannedStack &stack)
{
    CliOptions single;
    single.program = batch.program;
    single.pictures = stack.found.shots;
    single.fusedFile = stack.outputs[0];
    if (batch.sourceMaps)
        single.sourceMapFile = stack.outputs[1];
    single.jpegQuality = batch.jpegQuality;
    single.noMetadata = batch.noMetadata;
    single.align = batch.align;
    single.quiet = batch.quiet;
    single.verbose = batch.verbose;
    return single;
}
