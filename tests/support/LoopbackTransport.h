// LoopbackTransport: a stream connection manager for tests whose bytes go
// through memory to a device-side peer instead of a wire.
//
// The sender thread hands each serialized host report to IPeer::OnHostBytes
// and queues the peer's replies; the receiver thread delivers them to the
// engine's received-byte queue in order, each after its delay (a later reply
// never overtakes an earlier one). Knobs let a test make writes fail or time
// out, inject raw bytes or interrupt reports, split or join replies, and look
// at the frames the host wrote. All knobs may be set from the test thread at
// any time; they are guarded by the transport's own mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "messaging/CM_Common.h"

namespace QelTest {

struct PeerReply {
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds delay{0};
};

// The device side; called on the transport's sender thread.
class IPeer {
public:
    virtual ~IPeer() = default;
    // The host wrote these bytes (the whole serialization of one report).
    // Return the device's answers, delivered to the host's received-byte queue
    // in order, each after its delay.
    virtual std::vector<PeerReply> OnHostBytes(const std::vector<std::uint8_t>& bytes) = 0;
};

// The engine's three times in milliseconds (tests use short ones).
struct LoopbackTimes {
    std::int64_t send_timeout_ms = 500;
    std::int64_t response_timeout_ms = 2000;
    std::int64_t retention_ms = 30000;
};

class LoopbackTransport : public Qel::CM_Common {
public:
    using Times = LoopbackTimes;

    explicit LoopbackTransport(std::shared_ptr<IPeer> peer, Times times = Times{});
    ~LoopbackTransport() override;

    const std::string& Ident() const override;  // "CM_TEST"
    // Empty, or what the test set with SetDiscoverResult.
    std::vector<Qel::QELSystem> Discover(const Qel::NamedList<std::string>& filter) override;
    // Opens (unless refused); the port text is recorded.
    void Connect(const std::string& port) override;
    // Closing report, drain, wait for outstanding answers (25 ms poll), join.
    void Disconnect() override;

    // --- Knobs ---------------------------------------------------------------
    void SetRefuseConnect(bool refuse);
    void SetDiscoverResult(std::function<std::vector<Qel::QELSystem>()> result);
    // The next `count` writes fail at once (SEND_ERROR, SendFailed).
    void FailNextWrites(int count);
    // The next `count` writes block until the send timeout (TIMEOUT_ON_SEND).
    void TimeOutNextWrites(int count);
    // Raw bytes straight into the received-byte queue, as if read from the wire.
    void InjectReceived(const std::vector<std::uint8_t>& bytes);
    // An unsolicited device report, listed as an INTERRUPT message.
    void InjectInterrupt(const std::vector<std::uint8_t>& bytes);
    // Split every reply into chunks of `chunk_size` bytes (0: whole), each
    // delivered separately, `gap` apart.
    void SetChunking(std::size_t chunk_size, std::chrono::milliseconds gap = std::chrono::milliseconds{0});
    // Replies reach the received-byte queue, and the parser takes them,
    // before the write returns: the answer beats the listing of its request.
    void SetAnswerBeforeWriteCompletes(bool early);
    // The next `count` replies are held back and delivered together, as one
    // delivery, when the last of them is due.
    void JoinNextReplies(int count);

    // --- Observations --------------------------------------------------------
    std::vector<std::vector<std::uint8_t>> HostFrames() const;  // frames written, in order
    std::size_t HostFrameCount() const;
    std::size_t WriteAttempts() const;  // including failed and timed-out writes
    std::string LastPort() const;
    // Waits (bounded) until `count` frames have been written.
    bool WaitForHostFrames(std::size_t count, std::chrono::milliseconds bound);

protected:
    void SenderThread() override;
    void ReceiverThread() override;

private:
    struct Delivery {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };

    WriteOutcome Write(std::span<const std::uint8_t> bytes, std::chrono::steady_clock::time_point deadline);
    void QueueReplies(std::vector<PeerReply> replies);  // mutex_ held

    std::shared_ptr<IPeer> peer_;
    std::string ident_ = "CM_TEST";

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;  // deliveries queued, frames written, closing
    bool refuse_connect_ = false;
    std::function<std::vector<Qel::QELSystem>()> discover_result_;
    int fail_writes_ = 0;
    int timeout_writes_ = 0;
    std::size_t chunk_size_ = 0;
    std::chrono::milliseconds chunk_gap_{0};
    int join_remaining_ = 0;
    bool answer_early_ = false;
    std::vector<std::uint8_t> joined_;
    std::deque<Delivery> deliveries_;
    std::chrono::steady_clock::time_point last_due_{};
    std::vector<std::vector<std::uint8_t>> host_frames_;
    std::size_t write_attempts_ = 0;
    std::string last_port_;
};

// A peer that answers from a queue of canned replies, or from a function.
// Closing reports (type 0x19 writes) are acknowledged automatically unless
// switched off, so that Disconnect does not wait for the response timeout.
class ScriptedPeer : public IPeer {
public:
    using Responder = std::function<std::vector<PeerReply>(const std::vector<std::uint8_t>& bytes)>;

    ScriptedPeer() = default;
    explicit ScriptedPeer(Responder responder);

    // Answers for the next host frames, one entry per frame (an entry may hold
    // several replies, or none for "no answer").
    void Push(std::vector<PeerReply> replies);
    void Push(std::vector<std::uint8_t> bytes, std::chrono::milliseconds delay = std::chrono::milliseconds{0});
    void SetAnswerClosing(bool answer);
    std::vector<std::vector<std::uint8_t>> Received() const;

    std::vector<PeerReply> OnHostBytes(const std::vector<std::uint8_t>& bytes) override;

private:
    mutable std::mutex mutex_;
    Responder responder_;
    std::deque<std::vector<PeerReply>> script_;
    bool answer_closing_ = true;
    std::vector<std::vector<std::uint8_t>> received_;
};

// A well-formed device frame (CRC appended) for tests.
std::vector<std::uint8_t> DeviceFrame(std::uint8_t id, std::uint8_t hdr, std::uint16_t addr,
                                      const std::vector<std::uint8_t>& payload, std::uint8_t context = 0);

}  // namespace QelTest
