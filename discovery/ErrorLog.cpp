#include "discovery/ErrorLog.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/AppendFile.h"

namespace qdipc {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kUtcPlus8Seconds = 8 * 3600;

struct CivilDate {
    std::int64_t year;
    int month;  // 1..12
    int day;    // 1..31
};

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar, valid
// for any day count (the era arithmetic rounds toward minus infinity).
CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;  // shift the epoch to 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;  // [0, 146096]
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::string FormatErrorLogEntry(std::int64_t utcSeconds, int line, std::string_view text,
                                int code) {
    const std::int64_t local = utcSeconds + kUtcPlus8Seconds;
    const std::int64_t days = FloorDiv(local, kSecondsPerDay);
    const std::int64_t secondOfDay = local - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);

    // "%d-%d-%d %d:%d:%d " then "file:%s,line:%d,[%s][%d]\n"; the text goes in
    // byte for byte, whatever its encoding.
    std::string entry;
    entry.reserve(64 + text.size());
    entry += std::to_string(date.year);
    entry += '-';
    entry += std::to_string(date.month);
    entry += '-';
    entry += std::to_string(date.day);
    entry += ' ';
    entry += std::to_string(secondOfDay / 3600);
    entry += ':';
    entry += std::to_string(secondOfDay / 60 % 60);
    entry += ':';
    entry += std::to_string(secondOfDay % 60);
    entry += ' ';
    entry += "file:";
    entry += kErrorLogSourcePath;
    entry += ",line:";
    entry += std::to_string(line);
    entry += ",[";
    entry += text;
    entry += "][";
    entry += std::to_string(code);
    entry += "]\n";
    return entry;
}

// What the log and its writer thread share. The writer holds its own
// reference, so a writer that outlives the log (stuck in a write) never
// touches freed memory.
struct ErrorLog::Shared {
    std::filesystem::path path;
    ErrorLogLimits limits;

    std::mutex mutex;
    std::condition_variable wake;  // the writer: entries or the end
    std::condition_variable idle;  // WaitIdle and the destructor
    std::deque<std::string> queue;
    // When the latest entriesPerSecond entries were taken, as a ring.
    std::vector<std::chrono::steady_clock::time_point> taken;
    std::size_t takenNext = 0;
    bool writerStarted = false;
    bool writing = false;  // the writer holds entries outside the queue
    bool stop = false;
    bool writerDone = false;

    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> droppedByRate{0};
    std::atomic<std::uint64_t> droppedQueueFull{0};
    std::atomic<std::uint64_t> unwritten{0};
    std::atomic<std::uint64_t> droppedBySize{0};

    // Under the lock: whether one more entry fits in the rate at time now;
    // records it when it does.
    bool TakeRateSlot(std::chrono::steady_clock::time_point now) {
        const int rate = limits.entriesPerSecond;
        if (rate <= 0) {
            return true;
        }
        if (taken.size() < static_cast<std::size_t>(rate)) {
            taken.push_back(now);
            return true;
        }
        // The oldest of the latest `rate` entries must be a second old.
        if (now - taken[takenNext] < std::chrono::seconds(1)) {
            return false;
        }
        taken[takenNext] = now;
        takenNext = (takenNext + 1) % taken.size();
        return true;
    }
};

ErrorLog::ErrorLog(std::filesystem::path directory, SecondsClock clock, ErrorLogLimits limits)
    : directory_(std::move(directory)),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}),
      shared_(std::make_shared<Shared>()) {
    shared_->path = FilePath();
    if (!limits.now) {
        limits.now = [] { return std::chrono::steady_clock::now(); };
    }
    shared_->limits = std::move(limits);
}

ErrorLog::~ErrorLog() {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    // A writer stuck in the file system keeps its own reference to the shared
    // state and goes with the process.
    shared_->idle.wait_for(lock, shared_->limits.closeWait,
                           [this] { return !shared_->writerStarted || shared_->writerDone; });
}

std::filesystem::path ErrorLog::FilePath() const {
    return directory_.empty() ? std::filesystem::path(kErrorLogFileName)
                              : directory_ / kErrorLogFileName;
}

void ErrorLog::AppendErrorLog(int line, std::string_view text, int code) {
    Shared& shared = *shared_;
    const auto now = shared.limits.now();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.queue.size() >= shared.limits.queueCapacity) {
        shared.droppedQueueFull.fetch_add(1);
        return;
    }
    if (!shared.TakeRateSlot(now)) {
        shared.droppedByRate.fetch_add(1);
        return;
    }
    if (!shared.writerStarted) {
        try {
            std::thread(&ErrorLog::WriterLoop, shared_).detach();
        } catch (const std::system_error&) {
            shared.unwritten.fetch_add(1);
            return;  // no writer now; a later entry tries again
        }
        shared.writerStarted = true;
    }
    shared.queue.push_back(FormatErrorLogEntry(clock_(), line, text, code));
    shared.wake.notify_one();
}

bool ErrorLog::WaitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->idle.wait_for(lock, limit, [this] {
        return (shared_->queue.empty() && !shared_->writing) || shared_->writerDone;
    });
}

ErrorLogCounts ErrorLog::Counts() const {
    ErrorLogCounts counts;
    counts.written = shared_->written.load();
    counts.droppedByRate = shared_->droppedByRate.load();
    counts.droppedQueueFull = shared_->droppedQueueFull.load();
    counts.unwritten = shared_->unwritten.load();
    counts.droppedBySize = shared_->droppedBySize.load();
    return counts;
}

void ErrorLog::WriterLoop(std::shared_ptr<Shared> shared) {
    AppendFile file;
    std::deque<std::string> batch;
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        if (shared->queue.empty()) {
            shared->idle.notify_all();
            if (shared->stop) {
                break;
            }
            const auto due = [&] { return !shared->queue.empty() || shared->stop; };
            if (!file.IsOpen()) {
                shared->wake.wait(lock, due);
            } else if (!shared->wake.wait_for(lock, shared->limits.idleClose, due)) {
                lock.unlock();
                file.Close();
                lock.lock();
            }
            continue;
        }
        batch.swap(shared->queue);
        shared->writing = true;
        lock.unlock();
        for (const std::string& entry : batch) {
            // Text mode, appending; a file that cannot be opened now is tried
            // again by the next entry.
            if (!file.IsOpen() && !file.Open(shared->path)) {
                shared->unwritten.fetch_add(1);
                continue;
            }
            // The size is asked for each entry, so that other writers of the
            // same file count too.
            const std::uint64_t cap = shared->limits.maxFileBytes;
            if (cap != 0 && file.Size() + AppendFile::StoredSize(entry) > cap) {
                shared->droppedBySize.fetch_add(1);
                continue;
            }
            if (file.Write(entry)) {
                shared->written.fetch_add(1);
            } else {
                shared->unwritten.fetch_add(1);
                file.Close();
            }
        }
        batch.clear();
        lock.lock();
        shared->writing = false;
    }
    lock.unlock();
    file.Close();
    lock.lock();
    shared->writerDone = true;
    shared->idle.notify_all();
}

}  // namespace qdipc
