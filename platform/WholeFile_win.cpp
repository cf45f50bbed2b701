// Windows: CreateFile/WriteFile/FlushFileBuffers/MoveFileEx to write; a
// plain read with the size cap to read (a named pipe is not a path a plan is
// given by).

#include <windows.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/WholeFile.h"

namespace qdipc {
namespace {

std::string SystemReason(DWORD error) {
    return std::system_category().message(static_cast<int>(error));
}

}  // namespace

bool WriteFileWhole(const std::filesystem::path& path, std::string_view text, std::string& error) {
    const std::filesystem::path temporary =
        path.parent_path() /
        (L"." + path.filename().wstring() + L".part-" + std::to_wstring(::GetCurrentProcessId()));
    HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemReason(::GetLastError());
        return false;
    }
    bool ok = true;
    DWORD reason = 0;
    while (ok && !text.empty()) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(handle, text.data(), part, &written, nullptr) || written == 0) {
            ok = false;
            reason = ::GetLastError();
            break;
        }
        text.remove_prefix(written);
    }
    if (ok && !::FlushFileBuffers(handle)) {
        ok = false;
        reason = ::GetLastError();
    }
    ::CloseHandle(handle);
    // Without MOVEFILE_REPLACE_EXISTING an existing plan is never replaced.
    if (ok && !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        reason = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        error = SystemReason(reason);
    }
    return ok;
}

BoundedRead ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                            std::chrono::milliseconds limit, std::string& text,
                            std::string& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    text.clear();
    std::error_code sizeError;
    if (std::filesystem::is_regular_file(path, sizeError) &&
        std::filesystem::file_size(path, sizeError) > maxBytes && !sizeError) {
        return BoundedRead::TooLarge;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot be opened";
        return BoundedRead::Failed;
    }
    std::array<char, 64 * 1024> chunk{};
    while (file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        text.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
        if (text.size() > maxBytes) {
            text.clear();
            return BoundedRead::TooLarge;
        }
        if (Clock::now() >= deadline) {
            text.clear();
            return BoundedRead::TooSlow;
        }
    }
    if (file.bad()) {
        text.clear();
        error = "cannot be read";
        return BoundedRead::Failed;
    }
    return BoundedRead::Ok;
}

}  // namespace qdipc
