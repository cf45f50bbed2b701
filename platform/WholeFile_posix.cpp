// POSIX: open/write/fsync/rename to write; open with O_NONBLOCK and poll
// with a deadline to read.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/WholeFile.h"

namespace qdipc {
namespace {

std::string SystemReason(int error) {
    return std::strerror(error);
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
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

}  // namespace

bool WriteFileWhole(const std::filesystem::path& path, std::string_view text, std::string& error) {
    const std::filesystem::path temporary =
        path.parent_path() /
        ("." + path.filename().string() + ".part-" + std::to_string(::getpid()));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = SystemReason(errno);
        return false;
    }
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    int reason = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    // link() refuses an existing target, so a plan written by another run in
    // the same second is never replaced.
    if (ok && ::link(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        reason = errno;
    }
    ::unlink(temporary.c_str());
    if (!ok) {
        error = SystemReason(reason);
        return false;
    }
    // The new name itself survives a power cut once the folder is flushed.
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

BoundedRead ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes,
                            std::chrono::milliseconds limit, std::string& text,
                            std::string& error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    text.clear();
    // Non-blocking: opening a FIFO without a writer does not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = SystemReason(errno);
        return BoundedRead::Failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        ::close(fd);
        return BoundedRead::TooLarge;
    }
    const bool regular = S_ISREG(status.st_mode);
    std::array<char, 64 * 1024> chunk{};
    BoundedRead outcome = BoundedRead::Ok;
    while (true) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got > 0) {
            text.append(chunk.data(), static_cast<std::size_t>(got));
            if (text.size() > maxBytes) {
                outcome = BoundedRead::TooLarge;
                break;
            }
            if (!regular && Clock::now() >= deadline) {
                outcome = BoundedRead::TooSlow;  // a device that never ends
                break;
            }
            continue;
        }
        if (got == 0) {
            // A FIFO that no writer opened yet reads as ended too; that is
            // an empty plan, refused by its reader.
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = SystemReason(errno);
            outcome = BoundedRead::Failed;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            outcome = BoundedRead::TooSlow;
            break;
        }
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, static_cast<int>(left.count()));
    }
    ::close(fd);
    if (outcome != BoundedRead::Ok) {
        text.clear();
    }
    return outcome;
}

}  // namespace qdipc
