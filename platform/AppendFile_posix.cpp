// POSIX: open(2) with O_APPEND and write(2); text mode is the identity.

#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qdipc {

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::filesystem::path& path) {
    Close();
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    return fd_ >= 0;
}

bool AppendFile::IsOpen() const {
    return fd_ >= 0;
}

bool AppendFile::Write(std::string_view text) {
    if (fd_ < 0) {
        return false;
    }
    while (!text.empty()) {
        const ssize_t written = ::write(fd_, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::uint64_t AppendFile::Size() const {
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

std::uint64_t AppendFile::StoredSize(std::string_view text) {
    return text.size();
}

void AppendFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace qdipc
