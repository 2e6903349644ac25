#include "stack_files.h"

#include "exception.h"
#include "picture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The run of digits that starts at position at of text, without its leading zeros; at moves
// past the run.
std::string_view NumberAt(std::string_view text, std::size_t &at)
{
    while (at < text.size() && text[at] == '0')
        ++at;
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    return text.substr(start, at - start);
}

// The extensions pictures are read from, in lower case, with their dot.
const std::set<std::string> &PictureExtensions()
{
    static const std::set<std::string> extensions = [] {
        std::set<std::string> found;
        for (const std::string &pattern : TPicture::ReadablePatterns()) // "*.png"
            found.insert(pattern.substr(1));
        return found;
    }();
    return extensions;
}

bool IsPictureName(const fs::path &file)
{
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), Lower);
    return PictureExtensions().count(extension) != 0;
}

} // namespace

bool NaturalLess(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Without leading zeros, the number with more digits is the larger.
            const std::string_view x = NumberAt(a, i), y = NumberAt(b, j);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            continue;
        }
        if (Lower(a[i]) != Lower(b[j]))
            return Lower(a[i]) < Lower(b[j]);
        ++i, ++j;
    }
    // Equal as far as the shorter goes: the shorter comes first.
    return a.size() - i < b.size() - j;
}

std::vector<std::string> InNaturalOrder(std::vector<std::string> files)
{
    std::stable_sort(files.begin(), files.end(), [](const std::string &a, const std::string &b) {
        return NaturalLess(fs::path(a).filename().string(), fs::path(b).filename().string());
    });
    return files;
}

FolderPictures PicturesInFolder(const std::string &folder)
{
    FolderPictures found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path &file = entry->path();
        std::error_code notAFolder; // a dangling link counts as a file, which reading then refuses
        if (file.filename().string().front() == '.' || entry->is_directory(notAFolder))
            continue;
        (IsPictureName(file) ? found.pictures : found.skipped).push_back(file.string());
    }
    if (error)
        throw Exception("Cannot read the folder " + folder + ": " + error.message() + ".");
    found.pictures = InNaturalOrder(std::move(found.pictures));
    found.skipped = InNaturalOrder(std::move(found.skipped));
    for (std::string &name : found.skipped)
        name = fs::path(name).filename().string();
    return found;
}
