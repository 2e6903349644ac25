// Which files make a stack: the shots a user names or drops in natural name order (2.jpg before
// 10.jpg, as cameras number them), and the pictures of a folder, the files that are not pictures
// set aside so that the user can be told of them once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether file name a comes before b in natural order: runs of digits compare by their numbers
// (1.png, 2.png, 10.png), other characters one by one, ignoring the case of ASCII letters.
bool NaturalLess(std::string_view a, std::string_view b);

// The files sorted by their names (not their folders) in natural order; equal names keep their order.
std::vector<std::string> InNaturalOrder(std::vector<std::string> files);

struct FolderPictures {
    std::vector<std::string> pictures; // the picture files, in natural name order
    std::vector<std::string> skipped;  // the names of the other files, in natural order
};

// The files directly inside folder whose extension names a format pictures are read in; hidden
// files and folders are not looked at. Raises an Exception naming the folder when it cannot be
// read.
FolderPictures PicturesInFolder(const std::string &folder);
