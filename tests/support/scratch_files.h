// A scratch folder per test, removed with everything in it at the end, and the file helpers
// the suites share: a file's bytes, writing bytes, the names found under a folder, and a
// file size limit that plays a full disk.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <sys/resource.h>

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline fs::path WriteFile(const fs::path &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

// Every file and folder under folder, by its path relative to it.
inline std::set<std::string> Listing(const fs::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

// A new folder under the system's temporary folder that any user may read, so that a
// program run as user nobody finds its inputs there.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "edgedom-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a scratch folder: " + std::string(std::strerror(errno)));
        path_ = pattern;
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                   | fs::perms::others_read | fs::perms::others_exec);
    }
    ~ScratchFolder()
    {
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const fs::path &Path() const { return path_; }
    fs::path operator/(const std::string &name) const { return path_ / name; }

private:
    fs::path path_;
};

// Lets this process write at most `bytes` into any file while it lives, as a full disk
// would; a write past it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit limit{bytes, saved_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_), std::signal(SIGXFSZ, SIG_DFL); }

private:
    rlimit saved_{};
};
