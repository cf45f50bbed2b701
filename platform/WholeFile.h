#pragma once
// A file written or read as a whole, with the system's own calls.
// WriteFileWhole never leaves a partial file: the text goes to a temporary
// name beside the target, is flushed to the disk, then renamed into place;
// on any failure the temporary file is removed. ReadFileBounded reads at most
// a given size within a given time, so a FIFO whose writer never closes or a
// device that never ends cannot hold the caller. WholeFile_posix.cpp,
// WholeFile_win.cpp; CMake picks the file.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace qdipc {

// Writes text to path (which must not exist yet) and flushes it (and, where
// the system allows, the folder's entry) to the disk before returning. False
// with the system's reason in error ("No space left on device"); then no file
// is left at path nor at the temporary name.
bool WriteFileWhole(const std::filesystem::path& path, std::string_view text, std::string& error);

enum class BoundedRead {
    Ok,        // text holds the whole content
    TooLarge,  // more than maxBytes: a regular file by its size, else once one byte more came
    TooSlow,   // the content did not end within the time given
    Failed,    // cannot be opened or read (error says why)
};

// Reads path whole: at most maxBytes, and from something that is not a
// regular file (a FIFO, a device) only what arrives within limit.
BoundedRead ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                            std::chrono::milliseconds limit, std::string& text, std::string& error);

}  // namespace qdipc
