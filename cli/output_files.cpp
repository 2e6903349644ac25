#include "output_files.h"

#include "exception.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <future>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// What SaveAllOrNone has changed so far, in the order it changed it.
struct OutputChanges {
    std::vector<fs::path> createdFolders;
    std::vector<fs::path> writtenFiles;
    std::vector<std::pair<fs::path, fs::path>> movedAside; // (file, where it waits)
};

// The file's absolute path with links and dot segments resolved as far as it exists.
fs::path ResolvedPath(const fs::path &file)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(file, error), error);
    return error ? file.lexically_normal() : resolved;
}

void RequireDistinctFiles(const std::vector<OutputFile> &outputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (ResolvedPath(outputs[i].file) == ResolvedPath(outputs[j].file))
                throw Exception("Cannot write two maps to " + outputs[i].file.string()
                                + ": give each output its own file.");
}

// Creates folder and its missing parents, recording each one created.
void CreateFolder(const fs::path &folder, OutputChanges &changes)
{
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p); p = p.parent_path())
        missing.insert(missing.begin(), p);
    for (const fs::path &p : missing) {
        std::error_code error;
        if (!fs::create_directory(p, error) && error)
            throw Exception("Cannot create the folder " + p.string() + ": " + error.message() + ".");
        changes.createdFolders.push_back(p);
    }
}

// Moves an existing regular file out of the way of its replacement; it is put back if the
// run fails and removed when it succeeds.
void MoveAside(const fs::path &file, OutputChanges &changes)
{
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return;
    if (::access(file.c_str(), W_OK) != 0)
        throw Exception("Cannot save " + file.string() + ": the file is read-only (" + std::strerror(errno)
                        + "). Choose another name, or make the file writable first.");
    fs::path waiting = file;
    waiting += ".edgedom-old-" + std::to_string(::getpid());
    fs::rename(file, waiting, error);
    if (error)
        throw Exception("Cannot replace " + file.string() + ": moving the existing file aside failed: "
                        + error.message() + ".");
    changes.movedAside.emplace_back(file, waiting);
}

// Takes back every change, newest first. Returns a note on anything that could not be put
// back, empty when all went back.
std::string TakeBack(const OutputChanges &changes)
{
    std::string note;
    std::error_code error;
    for (auto it = changes.writtenFiles.rbegin(); it != changes.writtenFiles.rend(); ++it)
        fs::remove(*it, error);
    for (auto it = changes.movedAside.rbegin(); it != changes.movedAside.rend(); ++it) {
        fs::rename(it->second, it->first, error);
        if (error)
            note += " The earlier " + it->first.string() + " could not be put back: it is kept as "
                    + it->second.string() + ".";
    }
    for (auto it = changes.createdFolders.rbegin(); it != changes.createdFolders.rend(); ++it)
        fs::remove(*it, error);
    return note;
}

// Saves every output, each on a thread of its own since encoding takes most of the time,
// and records the files written. The first failure, in the order of outputs, is raised
// once all saves have ended.
void SaveAtOnce(const std::vector<OutputFile> &outputs, OutputChanges &changes)
{
    std::vector<std::future<void>> saves;
    for (const OutputFile &output : outputs)
        saves.push_back(std::async(std::launch::async, [&output] { output.picture->SaveToFile(output.file.string()); }));
    std::exception_ptr failure;
    for (std::size_t i = 0; i < saves.size(); ++i) {
        try {
            saves[i].get();
            changes.writtenFiles.push_back(outputs[i].file);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

void SaveAllOrNone(const std::vector<OutputFile> &outputs)
{
    RequireDistinctFiles(outputs);
    OutputChanges changes;
    try {
        for (const OutputFile &output : outputs) {
            if (output.createFolder)
                CreateFolder(output.file.parent_path(), changes);
            MoveAside(output.file, changes);
        }
        SaveAtOnce(outputs, changes);
    } catch (const Exception &failure) {
        const std::string note = TakeBack(changes);
        if (note.empty())
            throw;
        throw Exception(failure.Message() + note);
    } catch (...) {
        TakeBack(changes);
        throw;
    }
    // The replaced files are no longer needed. One that cannot be removed is only a
    // leftover beside a complete set of outputs, so the run still counts as done.
    for (const auto &[file, waiting] : changes.movedAside) {
        std::error_code error;
        fs::remove(waiting, error);
    }
}
