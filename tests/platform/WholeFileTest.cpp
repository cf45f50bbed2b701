// Files written and read whole: no partial rollback plan on a full or
// read-only disk (a tiny tmpfs in a mount namespace of a child process), and
// a FIFO whose writer never closes or a device that never ends cut off.

#include "platform/WholeFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace qdipc {
namespace {

using namespace std::chrono_literals;

std::filesystem::path TestFolder(const char* name) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        (std::string("qdipc-") + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::size_t Entries(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

TEST(WholeFileTest, WritesWholeOrLeavesNothing) {
    const std::filesystem::path folder = TestFolder("whole");
    std::string error;
    ASSERT_TRUE(WriteFileWhole(folder / "plan.csv", "a,b\r\n", error)) << error;
    std::ifstream written(folder / "plan.csv", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "a,b\r\n");
    // An existing plan is never replaced, and no temporary file stays.
    EXPECT_FALSE(WriteFileWhole(folder / "plan.csv", "other", error));
    EXPECT_EQ(error, "File exists");
    std::ifstream again(folder / "plan.csv", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "a,b\r\n");
    EXPECT_EQ(Entries(folder), 1u);
    // A file where the folder should be.
    EXPECT_FALSE(WriteFileWhole(folder / "plan.csv" / "x.csv", "a", error));
    EXPECT_EQ(error, "Not a directory");
    std::filesystem::remove_all(folder);
}

// In a child with its own mount namespace: a 16 KiB tmpfs, then the same
// remounted read-only. The child reports each outcome on a pipe.
TEST(WholeFileTest, AFullOrReadOnlyDiskLeavesNoPartialFile) {
    const std::filesystem::path folder = TestFolder("tmpfs");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string report;
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") != 0) {
            report = "skip";
        } else {
            std::string error;
            const bool full =
                WriteFileWhole(folder / "big.csv", std::string(256 * 1024, 'x'), error);
            report += (full ? "written" : error) + "|" + std::to_string(Entries(folder)) + "|";
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
            error.clear();
            const bool readOnly = WriteFileWhole(folder / "small.csv", "a", error);
            report += (readOnly ? "written" : error) + "|" + std::to_string(Entries(folder));
        }
        [[maybe_unused]] const auto sent = ::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::remove_all(folder);
    if (report == "skip") {
        GTEST_SKIP() << "no mount namespace here (needs root)";
    }
    EXPECT_EQ(report, "No space left on device|0|Read-only file system|0");
}

TEST(WholeFileTest, APipeOrDeviceThatDoesNotEndIsCutOff) {
    const std::filesystem::path folder = TestFolder("bounded");
    std::string text;
    std::string error;
    { std::ofstream(folder / "plan.csv") << "dev_id\n"; }
    EXPECT_EQ(ReadFileBounded(folder / "plan.csv", 7, 1s, text, error), BoundedRead::Ok);
    EXPECT_EQ(text, "dev_id\n");
    // One byte over the size: refused by its size.
    EXPECT_EQ(ReadFileBounded(folder / "plan.csv", 6, 1s, text, error), BoundedRead::TooLarge);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(ReadFileBounded("/dev/zero", 1024 * 1024, 10s, text, error), BoundedRead::TooLarge);
    EXPECT_EQ(ReadFileBounded(folder / "missing.csv", 10, 1s, text, error), BoundedRead::Failed);
    EXPECT_EQ(error, "No such file or directory");

    // A FIFO whose writer wrote a little and never closes.
    const std::filesystem::path fifo = folder / "plan.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "dev_id\n", 7), 7);
    EXPECT_EQ(ReadFileBounded(fifo, 1024, 200ms, text, error), BoundedRead::TooSlow);
    EXPECT_TRUE(text.empty());
    ::close(writer);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qdipc
