#include "messaging/Message.h"

#include <array>
#include <atomic>
#include <chrono>

namespace Qel {

namespace {
// Ids are never reused within a run; -1 never names a message.
std::atomic<int> next_message_id{1};

constexpr std::array<std::string_view, 12> kStatusNames = {
    "UNSENT",         "SENT",           "SEND_ERROR",       "TIMEOUT_ON_SEND",
    "RX_PARTIAL",     "RX_OK",          "CANCELLED",        "TIMEOUT_ON_RXCV",
    "RX_ERROR_VALID", "RX_ERROR_INVALID", "INTERRUPT",      "PROCESSED_INTERRUPT",
};
}  // namespace

std::string_view StatusName(MessageStatus status) {
    const auto index = static_cast<std::size_t>(status);
    return index < kStatusNames.size() ? kStatusNames[index] : std::string_view{"UNKNOWN"};
}

bool IsFinal(MessageStatus status) {
    switch (status) {
    case MessageStatus::SEND_ERROR:
    case MessageStatus::TIMEOUT_ON_SEND:
    case MessageStatus::RX_OK:
    case MessageStatus::TIMEOUT_ON_RXCV:
    case MessageStatus::RX_ERROR_VALID:
    case MessageStatus::RX_ERROR_INVALID:
    case MessageStatus::PROCESSED_INTERRUPT:
        return true;
    default:
        return false;
    }
}

MessageEventTrigger::~MessageEventTrigger() = default;

Message::Message(const HostReport& request) : request_(request), id_(next_message_id.fetch_add(1)) {}

std::int64_t Message::NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Message::MarkSent() { sent_ns_ = NowNs(); }

void Message::MarkReceived() { received_ns_ = NowNs(); }

std::int64_t Message::ResponseTimeMs() const { return (received_ns_ - sent_ns_) / 1'000'000; }

std::int64_t Message::MsSinceSent() const { return (NowNs() - sent_ns_) / 1'000'000; }

void Message::AppendReceived(std::span<const std::uint8_t> bytes) {
    received_.insert(received_.end(), bytes.begin(), bytes.end());
}

std::uint8_t Message::DecodeReceived() {
    std::uint8_t last = 0x20;
    while (!received_.empty()) {
        last = received_.front();
        received_.pop_front();
        response_.Decode(last);
    }
    return last;
}

}  // namespace Qel
