// Files dropped on the window, in the order of their names, so that numbered shots dropped
// together load as Picture1, Picture2 and Picture3 in the order they were taken.
#pragma once

#include <string>
#include <vector>

class QMimeData;

// The files of data in natural name order: runs of digits in the file names compare by their
// numbers (1.png, 2.png, 10.png), other characters one by one ignoring case; names that compare
// equal keep the order they were dropped in. Empty when something dropped is not a file on
// this computer.
std::vector<std::string> DroppedFiles(const QMimeData &data);
