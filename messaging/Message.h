// Message: one exchange with a system — the request asked to be sent, the
// answer that comes back, an id callers refer to it by, a status and two time
// stamps. Held by shared ownership between the send queue, the manager's
// message list and lookups; never copied.
//
// Message has no lock of its own: once a message is in a manager's message
// list, every field is read and written only under that manager's list mutex.
// The one exception is the sender thread, which sets status and sent time of
// the message it is writing before it enters the list.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string_view>

#include "messaging/IEventHandler.h"
#include "messaging/IOReport.h"

namespace Qel {

enum class MessageStatus : int {
    UNSENT = 0,
    SENT = 1,
    SEND_ERROR = 2,
    TIMEOUT_ON_SEND = 3,
    RX_PARTIAL = 4,
    RX_OK = 5,
    CANCELLED = 6,  // defined so the numbering holds; never assigned
    TIMEOUT_ON_RXCV = 7,
    RX_ERROR_VALID = 8,
    RX_ERROR_INVALID = 9,
    INTERRUPT = 10,
    PROCESSED_INTERRUPT = 11,
};

// "UNSENT" .. "PROCESSED_INTERRUPT"; "UNKNOWN" for values outside the table.
std::string_view StatusName(MessageStatus status);

// True for the statuses that never change again (2, 3, 5, 7, 8, 9, 11).
bool IsFinal(MessageStatus status);

// Event ids of a connection manager's MessageEventTrigger. The enumerators
// convert to int, so they can be passed to Subscribe and compared with the
// event parameter of IEventHandler::OnEvent.
struct MessageEvent {
    enum Id : int {
        TransferSetupFailed = 0,  // param -1
        SendTimedOut = 1,         // param message id
        SendFailed = 2,           // param message id
        ResponseOk = 3,           // param message id
        ResponseTimedOut = 4,     // param message id
        ResponseError = 5,        // param message id
        // 6 is never raised
        ResponseCrcError = 7,     // param message id
        Interlock = 8,            // param message id
        UnexpectedChar = 9,       // param the byte as a signed 8-bit value
        InterruptReceived = 10,   // p0 (ADDR << 16 | first word), then p1 or data
        NotSupported = 11,        // param -1
        TransferBusy = 12,        // param -1
        TransferDone = 13,        // param bytes moved
        TransferFailed = 14,      // param -1
    };
    static constexpr int Count = 15;
};

class MessageEventTrigger : public IEventTrigger {
public:
    MessageEventTrigger() { SetEventCount(MessageEvent::Count); }
    ~MessageEventTrigger() override;
};

class Message {
public:
    // Copies the request, takes the next process-wide id (from 1), status UNSENT.
    explicit Message(const HostReport& request);
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    int Id() const { return id_; }
    MessageStatus Status() const { return status_; }
    void SetStatus(MessageStatus status) { status_ = status; }
    std::string_view StatusName() const { return Qel::StatusName(status_); }

    HostReport& Request() { return request_; }
    const HostReport& Request() const { return request_; }
    DeviceReport& Response() { return response_; }
    const DeviceReport& Response() const { return response_; }

    // Monotonic clock readings in nanoseconds; zero until marked.
    void MarkSent();
    void MarkReceived();
    std::int64_t SentTimeNs() const { return sent_ns_; }
    std::int64_t ReceivedTimeNs() const { return received_ns_; }
    // (received - sent) and (now - sent), whole milliseconds, truncated.
    std::int64_t ResponseTimeMs() const;
    std::int64_t MsSinceSent() const;

    // Bytes a transport hands to this message directly, waiting to be decoded.
    void AppendReceived(std::span<const std::uint8_t> bytes);
    bool HasReceived() const { return !received_.empty(); }
    void DecodeByte(std::uint8_t byte) { response_.Decode(byte); }
    // Decodes the whole receive buffer; returns the last byte decoded, or
    // 0x20 (space) when the buffer was empty.
    std::uint8_t DecodeReceived();

    // Current reading of the monotonic clock in nanoseconds.
    static std::int64_t NowNs();

private:
    HostReport request_;
    DeviceReport response_;
    int id_;
    MessageStatus status_ = MessageStatus::UNSENT;
    std::int64_t sent_ns_ = 0;
    std::int64_t received_ns_ = 0;
    std::deque<std::uint8_t> received_;
};

}  // namespace Qel
