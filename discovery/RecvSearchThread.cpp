#include "discovery/RecvSearchThread.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

namespace qdipc {
namespace {

// Datagrams taken from the socket per wake-up.
constexpr std::size_t kBatchSlots = 64;

// One slot's storage: a reply buffer, zero beyond the datagram.
using SlotBuffer = std::array<std::uint8_t, DeviceInfoReply::kBufferSize>;

}  // namespace

void RejectTally::CountSender(std::uint32_t address, std::uint64_t count) {
    for (Sender& sender : senders) {
        if (sender.address == address) {
            sender.count += count;
            return;
        }
    }
    if (senders.size() < kMaxSenders) {
        senders.push_back({address, count});
    } else {
        otherSenders += count;
    }
}

void RejectTally::Merge(const RejectTally& other) {
    wrongLength += other.wrongLength;
    otherSearch += other.otherSearch;
    noSignature += other.noSignature;
    for (const Sender& sender : other.senders) {
        CountSender(sender.address, sender.count);
    }
    otherSenders += other.otherSenders;
}

RejectTally RecvSearchThread::Rejected() const {
    const std::lock_guard<std::mutex> lock(rejectedMutex_);
    return rejected_;
}

void RecvSearchThread::ClearRejected() {
    const std::lock_guard<std::mutex> lock(rejectedMutex_);
    rejected_ = {};
}

RecvSearchThread::RecvSearchThread(const std::atomic<std::uint32_t>& searchId, ReplyQueue& queue,
                                   ErrorLog& log, ReceiverConfig config)
    : searchId_(searchId), queue_(queue), log_(log), config_(std::move(config)) {}

RecvSearchThread::~RecvSearchThread() {
    Stop();
}

bool RecvSearchThread::Bind() {
    if (stopFlag_.load()) {
        return false;  // stopped for good
    }
    if (IsBound() || state_.load() != State::NotStarted) {
        return IsBound();
    }
    if (!StartSocketLibrary()) {
        std::fputs("Can't initiates windows socket!Program stop.\n", stdout);
        return false;
    }
    // A socket that could not be created fails to bind.
    if (socket_.Open()) {
        effectiveBuffer_.store(socket_.RequestReceiveBuffer(config_.receiveBufferBytes));
        // Where each reply came in tells where its camera is; without it a
        // modify goes out on every interface.
        socket_.ReportArrivalInterface();
    }
    if (!socket_.Bind(config_.bind)) {
        log_.AppendErrorLog(log_entry::kBindFailedLine, log_entry::kBindFailedText,
                            log_entry::kBindFailedCode);
        socket_.Close();
        return false;
    }
    boundPort_.store(socket_.LocalPort());
    return IsBound();
}

bool RecvSearchThread::Start() {
    if (stopFlag_.load()) {
        return false;  // stopped for good; the socket stays interrupted
    }
    if (state_.load() != State::NotStarted) {
        return true;  // one worker serves every search, also after it has ended
    }
    if (!Bind()) {
        return false;
    }
    state_.store(State::Running);
    try {
        thread_ = std::thread(&RecvSearchThread::Run, this);
    } catch (const std::system_error&) {
        state_.store(State::NotStarted);
        return false;
    }
    return true;
}

void RecvSearchThread::Stop() {
    stopFlag_.store(true);
    socket_.Interrupt();
    if (thread_.joinable()) {
        thread_.join();
    } else {
        socket_.Close();  // bound but never started
    }
}

void RecvSearchThread::Run() {
    try {
        std::vector<SlotBuffer> buffers(kBatchSlots);
        std::vector<DatagramSlot> slots(kBatchSlots);
        std::vector<AcceptedReply> accepted;
        accepted.reserve(kBatchSlots);
        // The batch's rejects, merged into the shared tally under one lock.
        RejectTally rejected;

        while (!stopFlag_.load()) {
            for (std::size_t i = 0; i < kBatchSlots; ++i) {
                // The socket may fill the whole reply; nothing more is needed
                // to tell an over-long datagram, whose real length is reported.
                slots[i] = {buffers[i].data(), kDeviceInfoReplySize, 0};
            }
            const int received = socket_.ReceiveBatch(slots);
            if (received == 0) {
                break;  // interrupted by Stop()
            }
            if (received < 0) {
                continue;  // a receive error: nothing is logged, the loop goes on
            }
            for (std::size_t i = 0; i < static_cast<std::size_t>(received); ++i) {
                const std::size_t length = slots[i].length;
                if (length == 0 || length > kDeviceInfoReplySize) {
                    ++rejected.wrongLength;
                    rejected.CountSender(slots[i].sourceAddress, 1);
                    continue;
                }
                std::uint8_t* buffer = buffers[i].data();
                // Missing bytes of a short datagram read as zero.
                std::memset(buffer + length, 0, buffers[i].size() - length);
                const std::uint32_t current = searchId_.load();
                if (ReadReplySearchId(buffer) != current) {
                    ++rejected.otherSearch;
                    rejected.CountSender(slots[i].sourceAddress, 1);
                    continue;
                }
                if (!HasReplySignature(buffer)) {
                    ++rejected.noSignature;
                    rejected.CountSender(slots[i].sourceAddress, 1);
                    log_.AppendErrorLog(log_entry::kNoSignatureLine, log_entry::kNoSignatureText,
                                        log_entry::kNoSignatureCode);
                    continue;
                }
                accepted.push_back(AcceptedReply{DeviceInfoReply(buffer, length), current,
                                                 slots[i].arrivalInterface,
                                                 slots[i].sourceAddress});
            }
            if (!accepted.empty()) {
                queue_.Push(accepted);
                accepted.reserve(kBatchSlots);
            }
            if (rejected.Total() > 0) {
                const std::lock_guard<std::mutex> lock(rejectedMutex_);
                rejected_.Merge(rejected);
                rejected = {};
            }
        }
        socket_.Close();
    } catch (...) {
        // Nothing may leave the thread: a failure to write the entry is
        // swallowed too.
        try {
            log_.AppendErrorLog(log_entry::kExceptionLine, log_entry::kExceptionText,
                                log_entry::kExceptionCode);
        } catch (...) {
        }
        socket_.Close();
    }
    state_.store(State::Ended);
}

}  // namespace qdipc
