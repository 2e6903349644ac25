#include "output_files.h"

#include "exception.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The file's absolute path with links and dot segments resolved as far as it exists.
fs::path ResolvedPath(const fs::path &file)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(file, error), error);
    return error ? file.lexically_normal() : resolved;
}

void RequireDistinctFiles(const std::vector<OutputTarget> &targets)
{
    for (std::size_t i = 0; i < targets.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (ResolvedPath(targets[i].file) == ResolvedPath(targets[j].file))
                throw Exception("Cannot write two outputs to " + targets[i].file.string()
                                + ": give each output its own file.");
}

// A file is replaced by renaming its new version onto it, which would turn a device or pipe
// into a plain file and cannot replace a folder; a read-only file must not be replaced.
void RequireReplaceable(const fs::path &file)
{
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status))
        return;
    const std::string head = "Cannot save " + file.string() + ": ";
    if (fs::is_directory(status))
        throw Exception(head + "it is a folder. Choose a file name inside it.");
    if (!fs::is_regular_file(status))
        throw Exception(head + "it is a device or pipe, not a regular file, so it cannot be replaced.");
    if (::access(file.c_str(), W_OK) != 0)
        throw Exception(head + "the file is read-only (" + std::strerror(errno)
                        + "). Choose another name, or make the file writable first.");
}

// What the names of an output's new and earlier versions add to its file's name, before the
// process's number.
constexpr const char *NewSuffix = ".edgedom-new-", *OldSuffix = ".edgedom-old-";

// Where an output waits until the command has succeeded: beside its file, so that putting it
// in place is a rename, and with the file's extension (BMP for none), which names the format.
fs::path TemporaryName(const fs::path &file)
{
    fs::path name = file;
    name += NewSuffix + std::to_string(::getpid());
    name += file.has_extension() ? file.extension() : fs::path(".bmp");
    return name;
}

// Raises the failure again, with note added to its message when there is one.
[[noreturn]] void RethrowWithNote(const std::exception_ptr &failure, const std::string &note)
{
    if (note.empty())
        std::rethrow_exception(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const Exception &exception) {
        throw Exception(exception.Message() + note);
    }
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

void RemoveLeftoversOf(const fs::path &file)
{
    const std::string name = file.filename().string();
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::vector<fs::path> leftovers;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string other = entry->path().filename().string();
        if (other.rfind(name + NewSuffix, 0) == 0 || other.rfind(name + OldSuffix, 0) == 0)
            leftovers.push_back(entry->path());
    }
    for (const fs::path &leftover : leftovers)
        fs::remove(leftover, error); // one that stays is only a file too many
}

OutputSet::OutputSet(std::vector<OutputTarget> targets)
    : targets_(std::move(targets)), saves_(targets_.size()), written_(targets_.size()), failures_(targets_.size())
{
    RequireDistinctFiles(targets_);
    for (const OutputTarget &target : targets_) {
        RequireReplaceable(target.file);
        temporaries_.push_back(TemporaryName(target.file));
    }
    try {
        for (const OutputTarget &target : targets_) {
            if (!target.createFolder)
                continue;
            std::vector<fs::path> missing;
            for (fs::path p = target.file.parent_path(); !p.empty() && !fs::exists(p); p = p.parent_path())
                missing.insert(missing.begin(), p);
            for (const fs::path &p : missing) {
                std::error_code error;
                if (!fs::create_directory(p, error) && error)
                    throw Exception("Cannot create the folder " + p.string() + ": " + error.message() + ".");
                createdFolders_.push_back(p);
            }
        }
    } catch (...) {
        TakeBack();
        throw;
    }
}

OutputSet::~OutputSet()
{
    if (committed_)
        return;
    for (std::future<void> &save : saves_)
        if (save.valid())
            save.wait();
    TakeBack();
}

void OutputSet::Write(std::size_t index, SaveFn save)
{
    if (running_.size() >= 2)
        WaitForSave(running_.front());
    const std::string temporary = temporaries_.at(index).string(), file = targets_[index].file.string();
    written_.at(index) = true;
    saves_[index] = std::async(std::launch::async, [save = std::move(save), temporary, file]() mutable {
        // What the save keeps alive (a whole picture) goes when the save ends, not when its
        // result is taken, which may be several saves later.
        const SaveFn saving = std::move(save);
        try {
            saving(temporary);
        } catch (const Exception &failure) { // the user knows the file by its own name
            throw Exception(ReplaceAll(failure.Message(), temporary, file));
        }
    });
    running_.push_back(index);
}

void OutputSet::WaitForSave(std::size_t index)
{
    running_.erase(std::find(running_.begin(), running_.end(), index));
    try {
        saves_[index].get();
    } catch (...) {
        failures_[index] = std::current_exception();
    }
}

void OutputSet::Commit()
{
    while (!running_.empty())
        WaitForSave(running_.front());
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        if (failures_[i])
            RethrowWithNote(failures_[i], TakeBack());
        if (!written_[i])
            throw std::logic_error("output " + targets_[i].file.string() + " was never written");
    }
    const std::string failure = PutInPlace();
    if (!failure.empty())
        throw Exception(failure + TakeBack());
    committed_ = true;
    // The replaced files are no longer needed. One that cannot be removed is only a leftover
    // beside a complete set of outputs, so the command still counts as done.
    for (const auto &[file, waiting] : movedAside_) {
        std::error_code error;
        fs::remove(waiting, error);
    }
}

// Moves each existing file aside and renames its new version onto it. Returns what failed,
// empty when every output is in place.
std::string OutputSet::PutInPlace()
{
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        const fs::path &file = targets_[i].file;
        std::error_code error;
        if (fs::is_regular_file(fs::symlink_status(file, error))) {
            fs::path waiting = file;
            waiting += OldSuffix + std::to_string(::getpid());
            fs::rename(file, waiting, error);
            if (error)
                return "Cannot replace " + file.string() + ": moving the existing file aside failed: "
                       + error.message() + ".";
            movedAside_.emplace_back(file, waiting);
        }
        fs::rename(temporaries_[i], file, error);
        if (error)
            return "Cannot save " + file.string() + ": " + error.message() + ".";
        placed_.push_back(file);
    }
    return {};
}

// Removes what the set wrote and created and puts every replaced file back, newest first.
// Returns a note on any earlier file that could not be put back, empty when all went back.
std::string OutputSet::TakeBack() noexcept
{
    std::string note;
    std::error_code error;
    for (const fs::path &temporary : temporaries_)
        fs::remove(temporary, error);
    for (auto it = placed_.rbegin(); it != placed_.rend(); ++it)
        fs::remove(*it, error);
    for (auto it = movedAside_.rbegin(); it != movedAside_.rend(); ++it) {
        fs::rename(it->second, it->first, error);
        if (error)
            note += " The earlier " + it->first.string() + " could not be put back: it is kept as "
                    + it->second.string() + ".";
    }
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
        fs::remove(*it, error);
    placed_.clear();
    movedAside_.clear();
    createdFolders_.clear();
    return note;
}
