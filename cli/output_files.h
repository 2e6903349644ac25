// Writing a command's maps all or none: a run that fails while saving takes back what it
// has written so far, so the user never finds a mix of new and old maps.
#pragma once

#include "picture.h"

#include <filesystem>
#include <vector>

struct OutputFile {
    std::filesystem::path file;
    const TPicture *picture;
    bool createFolder = false; // create the file's folder when it is missing
};

// Saves every picture to its file with TPicture::SaveToFile, in order. When one save
// fails, the files saved before it are removed, the files they replaced are put back, the
// folders created are removed, and the save's Exception goes on up. Two outputs naming the
// same file raise an Exception before anything is written.
void SaveAllOrNone(const std::vector<OutputFile> &outputs);
