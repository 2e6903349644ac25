// Writing a command's outputs all or none. Each output is written as soon as it is ready,
// under a temporary name beside its file, so that a command over many pictures need not
// keep every map in memory; the files themselves are replaced only once every output has
// been written, and a failure takes back everything, so the user never finds a mix of new
// and old outputs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

// Removes what a command killed while it wrote file (SIGKILL, a power cut) can have left beside
// it: its new version under a temporary name and its earlier version moved aside. Run only where
// no other command writes file at the same time; a file that cannot be removed is left.
void RemoveLeftoversOf(const std::filesystem::path &file);

struct OutputTarget {
    std::filesystem::path file;
    bool createFolder = false; // create the file's folder when it is missing
};

class OutputSet {
public:
    // Saves a picture to the file name it is given (the temporary one).
    using SaveFn = std::function<void(const std::string &fileName)>;

    // Two targets naming the same file, or a target that cannot be replaced (a read-only
    // file), raise an Exception before anything is written. Missing folders of targets that
    // ask for it are created now.
    explicit OutputSet(std::vector<OutputTarget> targets);

    // A set that was not committed takes back every file and folder it made.
    ~OutputSet();
    OutputSet(const OutputSet &) = delete;
    OutputSet &operator=(const OutputSet &) = delete;

    // Starts saving output index on a thread of its own; save keeps what it writes alive until
    // it has written it, not until its result is taken. At most two saves run at once: a third
    // waits for the oldest.
    void Write(std::size_t index, SaveFn save);

    // Waits for every save. When all succeeded, puts each output in place of its file; else
    // takes back everything and raises the first failure, in the order of the targets, with
    // the target's name in its message. Every target must have been written.
    void Commit();

private:
    void WaitForSave(std::size_t index);
    std::string TakeBack() noexcept;
    std::string PutInPlace();

    std::vector<OutputTarget> targets_;
    std::vector<std::filesystem::path> temporaries_;
    std::vector<std::future<void>> saves_;
    std::vector<bool> written_;
    std::vector<std::exception_ptr> failures_;
    std::vector<std::size_t> running_;
    std::vector<std::filesystem::path> createdFolders_;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> movedAside_; // (file, where it waits)
    std::vector<std::filesystem::path> placed_;
    bool committed_ = false;
};
