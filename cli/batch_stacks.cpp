#include "batch_stacks.h"

#include "exception.h"
#include "picture_metadata.h"
#include "stack_files.h"

#include <chrono>
#include <cmath>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The name a user knows a folder by: its last part, also when given as "shots/" or ".".
std::string FolderName(const std::string &folder)
{
    fs::path path = fs::absolute(folder).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path();
    return path.filename().empty() ? "stack" : path.filename().string();
}

bool SameFolder(const fs::path &a, const fs::path &b)
{
    std::error_code error;
    return fs::equivalent(a, b, error);
}

// The folders directly inside folder, in natural name order, but hidden ones and outside.
std::vector<std::string> FoldersIn(const std::string &folder, const fs::path &outside)
{
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code notAFolder;
        const fs::path &path = entry->path();
        if (path.filename().string().front() != '.' && entry->is_directory(notAFolder) && !SameFolder(path, outside))
            found.push_back(path.string());
    }
    if (error)
        throw Exception("Cannot read the folder " + folder + ": " + error.message() + ".");
    return InNaturalOrder(std::move(found));
}

// The stack of a folder of pictures, or its stacks cut by time.
void AddStacksOfFolder(const std::string &folder, const std::string &name, std::vector<std::string> pictures,
                       std::optional<double> splitGap, std::vector<FoundStack> &stacks)
{
    if (!splitGap || pictures.empty()) {
        stacks.push_back({name, folder, folder, std::move(pictures), {}});
        return;
    }
    std::vector<double> times;
    for (const std::string &picture : pictures)
        times.push_back(CaptureTime(picture));
    std::vector<std::size_t> starts = CutsWhereTimeJumps(times, *splitGap);
    starts.insert(starts.begin(), 0);
    starts.push_back(pictures.size());
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        const std::string &first = pictures[starts[k]];
        stacks.push_back({fs::path(first).stem().string(), first, folder,
                          {pictures.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                           pictures.begin() + static_cast<std::ptrdiff_t>(starts[k + 1])},
                          {}});
    }
}

} // namespace

std::vector<std::size_t> CutsWhereTimeJumps(const std::vector<double> &times, double gap)
{
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < times.size(); ++i)
        if (std::fabs(times[i] - times[i - 1]) > gap)
            cuts.push_back(i);
    return cuts;
}

double CaptureTime(const std::string &file)
{
    try {
        if (const std::optional<double> taken = PictureMetadata::ReadFrom(file).CaptureTime())
            return *taken;
    } catch (const Exception &) { // damaged metadata: the file's time still tells
    }
    std::error_code error;
    const fs::file_time_type modified = fs::last_write_time(file, error);
    if (error)
        throw Exception("Cannot read when " + file + " was taken: " + error.message() + ".");
    const auto sinceEpoch = std::chrono::file_clock::to_sys(modified).time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count();
}

std::vector<FoundStack> FindStacks(const std::vector<std::string> &folders, std::optional<double> splitGap,
                                   const fs::path &outside)
{
    std::vector<FoundStack> stacks;
    for (const std::string &folder : folders) {
        FolderPictures pictures = PicturesInFolder(folder);
        if (!pictures.pictures.empty()) {
            AddStacksOfFolder(folder, FolderName(folder), std::move(pictures.pictures), splitGap, stacks);
            continue;
        }
        const std::vector<std::string> inside = FoldersIn(folder, outside);
        if (inside.empty())
            stacks.push_back({FolderName(folder), folder, folder, {}, {}});
        for (const std::string &sub : inside) {
            try {
                AddStacksOfFolder(sub, FolderName(sub), PicturesInFolder(sub).pictures, splitGap, stacks);
            } catch (const Exception &unreadable) {
                stacks.push_back({FolderName(sub), sub, sub, {}, unreadable.Message()});
            }
        }
    }
    return stacks;
}
