// Saving a file atomically: the bytes go to a temporary file beside the target, which is renamed
// onto it only once every byte is on disk, so that a failed save leaves an existing file as it
// was and nothing half-written behind. Pictures, maps and stack files are all saved this way.
#pragma once

#include <cstddef>
#include <string>

// Writes size bytes at data to fileName, a regular file or none yet. Raises an Exception
// "Cannot save FILE: reason. What to do." for a folder, a device or pipe (which a rename would
// turn into a plain file), a file that cannot be created, a write the disk takes only part of
// and a file that cannot be completed.
void SaveAtomically(const std::string &fileName, const char *data, std::size_t size);
