// Files dropped on a window: what a drag from a file manager carries.
#pragma once

#include <string>
#include <vector>

class QMimeData;

// The files and folders of data in the order they were dropped; empty when something dropped
// is not a file on this computer.
std::vector<std::string> DroppedFiles(const QMimeData &data);
