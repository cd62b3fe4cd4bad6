#include "LoopbackTransport.h"

#include <algorithm>

#include "discovery/QELSystem.h"

namespace QelTest {

namespace {
using Clock = std::chrono::steady_clock;
// The delivery thread re-tests the open flag this often, so Disconnect's join is quick.
constexpr auto kDeliverySlice = std::chrono::milliseconds(20);
constexpr auto kDisconnectPoll = std::chrono::milliseconds(25);
}  // namespace

LoopbackTransport::LoopbackTransport(std::shared_ptr<IPeer> peer, Times times)
    : Qel::CM_Common(times.send_timeout_ms, times.response_timeout_ms, times.retention_ms), peer_(std::move(peer)) {}

LoopbackTransport::~LoopbackTransport() { Disconnect(); }

const std::string& LoopbackTransport::Ident() const { return ident_; }

std::vector<Qel::QELSystem> LoopbackTransport::Discover(const Qel::NamedList<std::string>&) {
    std::function<std::vector<Qel::QELSystem>()> result;
    {
        std::lock_guard lock(mutex_);
        result = discover_result_;
    }
    return result ? result() : std::vector<Qel::QELSystem>{};
}

void LoopbackTransport::Connect(const std::string& port) {
    if (open_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        last_port_ = port;
        if (refuse_connect_) {
            return;
        }
        deliveries_.clear();
        joined_.clear();
        join_remaining_ = 0;
        last_due_ = {};
    }
    StartThreads();
}

void LoopbackTransport::Disconnect() {
    if (!open_) {
        return;
    }
    DrainForDisconnect(kDisconnectPoll);
    StopThreads();
    std::lock_guard lock(mutex_);
    deliveries_.clear();
}

// --- Knobs ------------------------------------------------------------------

void LoopbackTransport::SetRefuseConnect(bool refuse) {
    std::lock_guard lock(mutex_);
    refuse_connect_ = refuse;
}

void LoopbackTransport::SetDiscoverResult(std::function<std::vector<Qel::QELSystem>()> result) {
    std::lock_guard lock(mutex_);
    discover_result_ = std::move(result);
}

void LoopbackTransport::FailNextWrites(int count) {
    std::lock_guard lock(mutex_);
    fail_writes_ = count;
}

void LoopbackTransport::TimeOutNextWrites(int count) {
    std::lock_guard lock(mutex_);
    timeout_writes_ = count;
}

void LoopbackTransport::InjectReceived(const std::vector<std::uint8_t>& bytes) { AppendReceivedBytes(bytes); }

void LoopbackTransport::InjectInterrupt(const std::vector<std::uint8_t>& bytes) { AddInterruptMessage(bytes); }

void LoopbackTransport::SetChunking(std::size_t chunk_size, std::chrono::milliseconds gap) {
    std::lock_guard lock(mutex_);
    chunk_size_ = chunk_size;
    chunk_gap_ = gap;
}

void LoopbackTransport::SetAnswerBeforeWriteCompletes(bool early) {
    std::lock_guard lock(mutex_);
    answer_early_ = early;
}

void LoopbackTransport::JoinNextReplies(int count) {
    std::lock_guard lock(mutex_);
    join_remaining_ = count;
    joined_.clear();
}

// --- Observations -----------------------------------------------------------

std::vector<std::vector<std::uint8_t>> LoopbackTransport::HostFrames() const {
    std::lock_guard lock(mutex_);
    return host_frames_;
}

std::size_t LoopbackTransport::HostFrameCount() const {
    std::lock_guard lock(mutex_);
    return host_frames_.size();
}

std::size_t LoopbackTransport::WriteAttempts() const {
    std::lock_guard lock(mutex_);
    return write_attempts_;
}

std::string LoopbackTransport::LastPort() const {
    std::lock_guard lock(mutex_);
    return last_port_;
}

bool LoopbackTransport::WaitForHostFrames(std::size_t count, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, bound, [&] { return host_frames_.size() >= count; });
}

// --- Threads ----------------------------------------------------------------

void LoopbackTransport::SenderThread() {
    RunSenderLoop([this](std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
        return Write(bytes, deadline);
    });
}

Qel::CM_Common::WriteOutcome LoopbackTransport::Write(std::span<const std::uint8_t> bytes,
                                                      Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    ++write_attempts_;
    if (fail_writes_ > 0) {
        --fail_writes_;
        return WriteOutcome::Failed;
    }
    if (timeout_writes_ > 0) {
        --timeout_writes_;
        // A write that never completes: it blocks the sender until the send
        // timeout, and nothing reaches the peer.
        while (Clock::now() < deadline) {
            wake_.wait_until(lock, deadline);
        }
        return WriteOutcome::TimedOut;
    }
    std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
    host_frames_.push_back(frame);
    wake_.notify_all();
    // The peer may be slow or take locks of its own: not under our mutex.
    lock.unlock();
    std::vector<PeerReply> replies = peer_ ? peer_->OnHostBytes(frame) : std::vector<PeerReply>{};
    lock.lock();
    if (answer_early_) {
        lock.unlock();
        for (const PeerReply& reply : replies) {
            AppendReceivedBytes(reply.bytes);
        }
        // Hold the write open until the parser has taken the bytes (bounded).
        const auto bound = Clock::now() + std::chrono::seconds(2);
        std::unique_lock receive(receive_mutex_);
        while (!received_bytes_.empty() && Clock::now() < bound) {
            receive.unlock();
            std::this_thread::yield();
            receive.lock();
        }
        return WriteOutcome::Written;
    }
    QueueReplies(std::move(replies));
    wake_.notify_all();
    return WriteOutcome::Written;
}

void LoopbackTransport::QueueReplies(std::vector<PeerReply> replies) {
    const auto now = Clock::now();
    for (PeerReply& reply : replies) {
        // Due times never go backwards, so a short delay cannot overtake a long one.
        const auto due = std::max(now + reply.delay, last_due_);
        if (join_remaining_ > 0) {
            joined_.insert(joined_.end(), reply.bytes.begin(), reply.bytes.end());
            last_due_ = due;
            if (--join_remaining_ == 0) {
                deliveries_.push_back({due, std::move(joined_)});
                joined_.clear();
            }
            continue;
        }
        if (chunk_size_ == 0 || reply.bytes.size() <= chunk_size_) {
            deliveries_.push_back({due, std::move(reply.bytes)});
            last_due_ = due;
            continue;
        }
        auto chunk_due = due;
        for (std::size_t at = 0; at < reply.bytes.size(); at += chunk_size_) {
            const std::size_t end = std::min(reply.bytes.size(), at + chunk_size_);
            deliveries_.push_back({chunk_due, std::vector<std::uint8_t>(reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                                       reply.bytes.begin() + static_cast<std::ptrdiff_t>(end))});
            last_due_ = chunk_due;
            chunk_due += chunk_gap_;
        }
    }
}

void LoopbackTransport::ReceiverThread() {
    std::unique_lock lock(mutex_);
    while (open_) {
        if (deliveries_.empty()) {
            wake_.wait_for(lock, kDeliverySlice);
            continue;
        }
        const auto now = Clock::now();
        const auto due = deliveries_.front().due;
        if (now < due) {
            wake_.wait_until(lock, std::min(due, now + kDeliverySlice));
            continue;
        }
        std::vector<std::uint8_t> bytes = std::move(deliveries_.front().bytes);
        deliveries_.pop_front();
        // The engine's receive mutex is never taken under ours.
        lock.unlock();
        // The peer answered inside the sender's write, before the sender
        // listed the message; bytes parsed before that would find no awaiting
        // message and be discarded. The sender holds the send mutex from the
        // write until the message is listed, so passing through it waits for that.
        { std::lock_guard listed(send_mutex_); }
        AppendReceivedBytes(bytes);
        lock.lock();
    }
}

// --- ScriptedPeer -----------------------------------------------------------

ScriptedPeer::ScriptedPeer(Responder responder) : responder_(std::move(responder)) {}

void ScriptedPeer::Push(std::vector<PeerReply> replies) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(replies));
}

void ScriptedPeer::Push(std::vector<std::uint8_t> bytes, std::chrono::milliseconds delay) {
    Push(std::vector<PeerReply>{PeerReply{std::move(bytes), delay}});
}

void ScriptedPeer::SetAnswerClosing(bool answer) {
    std::lock_guard lock(mutex_);
    answer_closing_ = answer;
}

std::vector<std::vector<std::uint8_t>> ScriptedPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<PeerReply> ScriptedPeer::OnHostBytes(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    received_.push_back(bytes);
    // Closing report: type 0x19 write (ID 4, HDR 0x09, CONTEXT 0).
    const bool closing = bytes.size() >= 3 && bytes[0] == 0x04 && bytes[1] == 0x09 && bytes[2] == 0x00;
    if (closing && answer_closing_) {
        return {PeerReply{DeviceFrame(0x05, 0x49, 0, {}), std::chrono::milliseconds{0}}};
    }
    if (responder_) {
        return responder_(bytes);
    }
    if (script_.empty()) {
        return {};
    }
    std::vector<PeerReply> replies = std::move(script_.front());
    script_.pop_front();
    return replies;
}

std::vector<std::uint8_t> DeviceFrame(std::uint8_t id, std::uint8_t hdr, std::uint16_t addr,
                                      const std::vector<std::uint8_t>& payload, std::uint8_t context) {
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + 9);
    for (std::uint8_t b : {id, hdr, context, static_cast<std::uint8_t>(payload.size() & 0xFF),
                           static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(addr & 0xFF),
                           static_cast<std::uint8_t>(addr >> 8)}) {
        frame.push_back(b);
    }
    for (std::uint8_t b : payload) {
        frame.push_back(b);
    }
    const std::uint16_t crc = Qel::Crc16::Compute(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

}  // namespace QelTest
