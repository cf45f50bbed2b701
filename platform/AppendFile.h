#pragma once
// A text file opened for appending and kept open, written with the system's
// own calls (no C runtime stream, so a writer thread that blocks in the
// system never holds a runtime lock that the process's exit would need).
// AppendFile_posix.cpp uses open/write, AppendFile_win.cpp CreateFile and
// WriteFile; CMake picks the file.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace qdipc {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();  // Close()
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path for appending, creating it when it does not exist. False
    // when it cannot be opened. May block as long as the system does (a FIFO
    // without a reader, a stalled network mount).
    bool Open(const std::filesystem::path& path);
    bool IsOpen() const;
    // Appends text in text mode: on Windows each "\n" goes out as CR LF.
    // False when not everything could be written.
    bool Write(std::string_view text);
    // The bytes the open file holds now (other writers' included); 0 when
    // not open or unknown (a FIFO, a device).
    std::uint64_t Size() const;
    // The bytes Write adds to the file for text (with the CRs on Windows).
    static std::uint64_t StoredSize(std::string_view text);
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace qdipc
