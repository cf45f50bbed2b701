// Windows: CreateFile with append-only access and WriteFile; "\n" is written
// as CR LF, as a text-mode runtime stream would.

#include "platform/AppendFile.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace qdipc {

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::filesystem::path& path) {
    Close();
    HANDLE handle = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = handle;
    return true;
}

bool AppendFile::IsOpen() const {
    return handle_ != nullptr;
}

bool AppendFile::Write(std::string_view text) {
    if (handle_ == nullptr) {
        return false;
    }
    std::string crlf;
    crlf.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    std::string_view rest(crlf);
    while (!rest.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 20));
        if (!::WriteFile(static_cast<HANDLE>(handle_), rest.data(), chunk, &written, nullptr) ||
            written == 0) {
            return false;
        }
        rest.remove_prefix(written);
    }
    return true;
}

std::uint64_t AppendFile::Size() const {
    LARGE_INTEGER size{};
    if (handle_ == nullptr || ::GetFileType(static_cast<HANDLE>(handle_)) != FILE_TYPE_DISK ||
        !::GetFileSizeEx(static_cast<HANDLE>(handle_), &size) || size.QuadPart < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::uint64_t AppendFile::StoredSize(std::string_view text) {
    return text.size() + static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

void AppendFile::Close() {
    if (handle_ != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace qdipc
