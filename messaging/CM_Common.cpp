#include "messaging/CM_Common.h"

#include <algorithm>

#include <boost/log/attributes/constant.hpp>
#include <boost/log/sources/record_ostream.hpp>

#include <exception>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>

namespace Qel {

namespace {

using boost::log::trivial::severity_level;
using Clock = std::chrono::steady_clock;

constexpr auto kWorkerSlice = std::chrono::milliseconds(100);  // open flag tested at least this often
constexpr auto kSendAndWaitPoll = std::chrono::milliseconds(5);

bool AwaitingResponse(MessageStatus s) { return s == MessageStatus::SENT || s == MessageStatus::RX_PARTIAL; }

// Statuses after which SendAndWait gives up on a response that is not complete.
bool EndsWait(MessageStatus s) {
    switch (s) {
    case MessageStatus::SEND_ERROR:
    case MessageStatus::TIMEOUT_ON_SEND:
    case MessageStatus::CANCELLED:
    case MessageStatus::TIMEOUT_ON_RXCV:
    case MessageStatus::RX_ERROR_INVALID:
    case MessageStatus::INTERRUPT:
    case MessageStatus::PROCESSED_INTERRUPT:
        return true;
    default:
        return false;
    }
}

std::string StatusText(const Message& m) { return std::string(m.StatusName()); }

}  // namespace

CM_Common::CM_Common(std::int64_t send_timeout_ms, std::int64_t response_timeout_ms, std::int64_t retention_ms)
    : send_timeout_ms_(send_timeout_ms), response_timeout_ms_(response_timeout_ms), retention_ms_(retention_ms) {
    traffic_logger_.add_attribute("Channel", boost::log::attributes::constant<std::string>("Traffic"));
}

CM_Common::~CM_Common() {
    if (sender_.joinable() || receiver_.joinable() || parser_.joinable()) {
        StopThreads();
    }
}

// --- Public operations ------------------------------------------------------

int CM_Common::Send(const HostReport& report) {
    if (!open_) {
        return -1;
    }
    auto message = std::make_shared<Message>(report);
    const int id = message->Id();
    ++unlisted_;
    {
        std::lock_guard lock(send_mutex_);
        send_queue_.push_back(std::move(message));
    }
    send_cv_.notify_all();
    return id;
}

// Ids are unique within the process, so the newest-first search finds the
// same message as a search in list order; the message asked for is nearly
// always among the newest, while the list holds everything of the retention
// time (tens of thousands of messages during an upgrade).
std::list<CM_Common::MessagePtr>::const_reverse_iterator CM_Common::FindListed(int id) const {
    return std::find_if(messages_.crbegin(), messages_.crend(), [id](const MessagePtr& m) { return m->Id() == id; });
}

DeviceReport CM_Common::SendAndWait(const HostReport& report) {
    const std::uint64_t session = session_.load();
    const int id = Send(report);
    if (id < 0) {
        return DeviceReport{};
    }
    std::unique_lock lock(list_mutex_);
    for (;;) {
        const auto it = FindListed(id);
        if (it != messages_.crend()) {
            const Message& m = **it;
            // Once closed nothing will move the message on any more.
            if (m.Response().IsComplete() || EndsWait(m.Status()) || !open_) {
                return m.Response();
            }
        } else if (!open_ || session_.load() != session) {
            // Closed, or reopened, while the message was still queued: it will
            // never be listed.
            return DeviceReport{};
        }
        list_cv_.wait_for(lock, kSendAndWaitPoll);
    }
}

DeviceReport CM_Common::Response(int id) {
    std::lock_guard lock(list_mutex_);
    const auto it = FindListed(id);
    return it != messages_.crend() ? (*it)->Response() : DeviceReport{};
}

bool CM_Common::TransferToDevice(TransferData&, std::uint32_t, int, const std::uint8_t*) {
    RaiseEvent(MessageEvent::NotSupported, -1);
    return false;
}

bool CM_Common::TransferFromDevice(TransferData&, int, int, int, const std::uint8_t*) {
    RaiseEvent(MessageEvent::NotSupported, -1);
    return false;
}

int CM_Common::TransferSupport() {
    RaiseEvent(MessageEvent::NotSupported, -1);
    return -1;
}

bool CM_Common::Subscribe(int event, IEventHandler* handler) {
    std::lock_guard lock(handlers_mutex_);
    return events_.Subscribe(event, handler);
}

void CM_Common::Unsubscribe(int event, IEventHandler* handler) {
    std::unique_lock lock(handlers_mutex_);
    events_.Unsubscribe(event, handler);
    // A delivery on another thread may still hold the handler in its
    // snapshot; the caller is free to destroy it once we return. A handler
    // that unsubscribes during its own delivery does not wait for itself.
    const auto self = std::this_thread::get_id();
    const bool ended = handlers_cv_.wait_for(lock, std::chrono::seconds(5), [&] {
        return std::all_of(delivering_.begin(), delivering_.end(), [&](std::thread::id t) { return t == self; });
    });
    if (!ended) {
        BOOST_LOG_SEV(logger_, severity_level::error) << "Unsubscribe: an event handler is still running";
    }
}

std::optional<MessageStatus> CM_Common::StatusOf(int id) {
    std::lock_guard lock(list_mutex_);
    const auto it = FindListed(id);
    return it != messages_.crend() ? std::optional<MessageStatus>((*it)->Status()) : std::nullopt;
}

std::size_t CM_Common::MessageCount() {
    std::lock_guard lock(list_mutex_);
    return messages_.size();
}

HostReport CM_Common::ClosingReport() {
    HostReport report(0x19, HostReport::Write, 0);
    report.SetPayloadDwords({0U});
    return report;
}

// --- Sending ----------------------------------------------------------------

void CM_Common::RunSenderLoop(const WriteFunction& write) { RunSenderLoop(write, SenderPolicy{}); }

void CM_Common::RunSenderLoop(const WriteFunction& write, SenderPolicy policy) {
    std::unique_lock lock(send_mutex_);
    while (open_) {
        send_cv_.wait_for(lock, kWorkerSlice, [this] { return !send_queue_.empty() || !open_; });
        if (!open_) {
            break;
        }
        while (!send_queue_.empty()) {
            const MessagePtr message = send_queue_.front();
            const auto& bytes = message->Request().Serialize();
            const auto deadline = Clock::now() + std::chrono::milliseconds(send_timeout_ms_);
            std::vector<PendingEvent> events;
            switch (write(bytes, deadline)) {
            case WriteOutcome::Written:
                break;
            case WriteOutcome::Failed:
                message->SetStatus(MessageStatus::SEND_ERROR);
                if (policy.raise_send_failed) {
                    events.push_back({MessageEvent::SendFailed, message->Id(), 0, PendingEvent::Form::One, {}});
                }
                break;
            case WriteOutcome::TimedOut:
                message->SetStatus(MessageStatus::TIMEOUT_ON_SEND);
                events.push_back({MessageEvent::SendTimedOut, message->Id(), 0, PendingEvent::Form::One, {}});
                break;
            case WriteOutcome::FailedAfterTimeout:
                message->SetStatus(MessageStatus::SEND_ERROR);
                events.push_back({MessageEvent::SendTimedOut, message->Id(), 0, PendingEvent::Form::One, {}});
                break;
            }
            FinishSending(message);
            send_queue_.pop_front();
            if (send_queue_.empty()) {
                send_cv_.notify_all();  // DrainForDisconnect waits for this
            }
            if (!events.empty()) {
                // Handlers may call Send, which takes the send mutex.
                lock.unlock();
                Deliver(events);
                lock.lock();
            }
        }
    }
}

void CM_Common::ListMessage(MessagePtr message) {
    messages_.push_back(std::move(message));
    if (first_open_ == messages_.end()) {
        first_open_ = std::prev(messages_.end());
    }
}

void CM_Common::SkipFinished() {
    while (first_open_ != messages_.end() && IsFinal((*first_open_)->Status())) {
        ++first_open_;
    }
}

void CM_Common::FinishSending(const MessagePtr& message) {
    if (message->Status() == MessageStatus::UNSENT) {
        message->SetStatus(MessageStatus::SENT);
    }
    message->MarkSent();
    {
        std::lock_guard lock(list_mutex_);
        ListMessage(message);
    }
    list_cv_.notify_all();
    // Decrement first, then look: paired with the parser, which raises the
    // flag before it reads the count, one of the two always sees the other.
    --unlisted_;
    if (parser_holding_) {
        WakeParser();
    }
}

// --- Receiving --------------------------------------------------------------

void CM_Common::AppendReceivedBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    {
        std::lock_guard lock(receive_mutex_);
        received_bytes_.insert(received_bytes_.end(), bytes.begin(), bytes.end());
    }
    receive_cv_.notify_all();
}

void CM_Common::AddInterruptMessage(std::span<const std::uint8_t> bytes) {
    auto message = std::make_shared<Message>(HostReport{});
    message->SetStatus(MessageStatus::INTERRUPT);
    message->MarkSent();
    message->AppendReceived(bytes);
    {
        std::lock_guard lock(list_mutex_);
        ListMessage(std::move(message));
    }
    WakeParser();
}

bool CM_Common::DeliverToMessage(int id, std::span<const std::uint8_t> bytes) {
    bool found = false;
    {
        std::lock_guard lock(list_mutex_);
        const auto it = FindListed(id);
        if (it != messages_.crend()) {
            (*it)->AppendReceived(bytes);
            found = true;
        }
    }
    if (found) {
        WakeParser();
    }
    return found;
}

void CM_Common::WakeParser() {
    {
        std::lock_guard lock(receive_mutex_);
        parse_wake_ = true;
    }
    receive_cv_.notify_all();
}

// --- Lifecycle --------------------------------------------------------------

void CM_Common::StartThreads() {
    {
        std::lock_guard lock(list_mutex_);
        messages_.clear();
        first_open_ = messages_.end();
    }
    {
        std::lock_guard lock(send_mutex_);
        send_queue_.clear();
    }
    {
        std::lock_guard lock(receive_mutex_);
        received_bytes_.clear();
        parse_wake_ = false;
    }
    unlisted_ = 0;
    parser_holding_ = false;
    ++session_;
    open_ = true;
    // A thread body that throws would end the process; report it instead.
    auto guarded = [this](void (CM_Common::*body)(), const char* name) {
        return std::thread([this, body, name] {
            try {
                (this->*body)();
            } catch (const std::exception& e) {
                BOOST_LOG_SEV(logger_, severity_level::error) << name << " stopped: " << e.what();
            } catch (...) {
                BOOST_LOG_SEV(logger_, severity_level::error) << name << " stopped";
            }
        });
    };
    sender_ = guarded(&CM_Common::SenderThread, "SenderThread");
    receiver_ = guarded(&CM_Common::ReceiverThread, "ReceiverThread");
    parser_ = guarded(&CM_Common::ParserThread, "ParserThread");
}

void CM_Common::DrainForDisconnect(std::chrono::milliseconds poll) {
    Send(ClosingReport());
    {
        // The queue shrinks by one message per send timeout at worst; a
        // sender that stopped making progress must not hang the disconnect.
        const auto stall = std::chrono::milliseconds(send_timeout_ms_) + std::chrono::seconds(1);
        std::unique_lock lock(send_mutex_);
        std::size_t last_size = send_queue_.size();
        auto deadline = Clock::now() + stall;
        while (!send_queue_.empty() && Clock::now() < deadline) {
            send_cv_.wait_for(lock, kWorkerSlice);
            if (send_queue_.size() < last_size) {
                last_size = send_queue_.size();
                deadline = Clock::now() + stall;
            }
        }
    }
    {
        // Every awaited answer ends by the response timeout (plus a parser pass).
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(response_timeout_ms_) + std::chrono::seconds(1);
        std::unique_lock lock(list_mutex_);
        auto awaiting = [this] {
            return std::any_of(messages_.begin(), messages_.end(),
                               [](const MessagePtr& m) { return AwaitingResponse(m->Status()); });
        };
        while (awaiting() && Clock::now() < deadline) {
            list_cv_.wait_for(lock, poll);
        }
    }
}

void CM_Common::StopThreads() {
    open_ = false;
    // Take each mutex once so that no waiter can miss the cleared flag
    // between testing it and starting to wait.
    { std::lock_guard lock(send_mutex_); }
    send_cv_.notify_all();
    { std::lock_guard lock(receive_mutex_); }
    receive_cv_.notify_all();
    { std::lock_guard lock(list_mutex_); }
    list_cv_.notify_all();
    const auto self = std::this_thread::get_id();
    for (std::thread* t : {&sender_, &receiver_, &parser_}) {
        if (t->joinable() && t->get_id() != self) {
            t->join();
        }
    }
}

// --- Parser -----------------------------------------------------------------

void CM_Common::ParserThread() {
    std::deque<std::uint8_t> pass;
    std::vector<PendingEvent> events;
    while (open_) {
        {
            std::unique_lock lock(receive_mutex_);
            receive_cv_.wait_for(lock, kWorkerSlice,
                                 [this] { return !received_bytes_.empty() || parse_wake_ || !open_; });
            if (!open_) {
                break;
            }
            pass.insert(pass.end(), received_bytes_.begin(), received_bytes_.end());
            received_bytes_.clear();
            parse_wake_ = false;
        }
        // Read after the bytes were taken: the request of every answer in
        // them was handed to Send before this point.
        parser_holding_ = true;
        const bool unlisted = unlisted_ > 0;
        TimeoutSweep(events);
        Deliver(events);
        DecodeSweep(pass, events);
        if (pass.empty() || !unlisted) {
            // Bytes no awaiting message took belong to nothing we asked for.
            pass.clear();
            parser_holding_ = false;
        }
        Deliver(events);
    }
}

void CM_Common::TimeoutSweep(std::vector<PendingEvent>& events) {
    bool changed = false;
    {
        std::lock_guard lock(list_mutex_);
        SkipFinished();
        for (auto it = first_open_; it != messages_.end(); ++it) {
            Message& m = **it;
            if (AwaitingResponse(m.Status()) && m.MsSinceSent() > response_timeout_ms_) {
                m.SetStatus(MessageStatus::TIMEOUT_ON_RXCV);
                events.push_back({MessageEvent::ResponseTimedOut, m.Id(), 0, PendingEvent::Form::One, {}});
                BOOST_LOG_SEV(logger_, severity_level::warning)
                    << "Msg RX Timeout (" << m.Id() << "): [" << m.StatusName() << "] ";
                WriteTrafficLog(m);
                changed = true;
            }
        }
        // The list is in send order, so the messages past their retention
        // time are at its front: stop at the first one that is not.
        for (auto it = messages_.begin(); it != messages_.end();) {
            Message& m = **it;
            if (m.MsSinceSent() <= retention_ms_) {
                break;
            }
            if (AwaitingResponse(m.Status())) {
                ++it;
                continue;
            }
            if (it == first_open_) {
                ++first_open_;
            }
            it = messages_.erase(it);
        }
    }
    if (changed) {
        list_cv_.notify_all();
    }
}

void CM_Common::DecodeSweep(std::deque<std::uint8_t>& pass, std::vector<PendingEvent>& events) {
    bool changed = false;
    {
        std::lock_guard lock(list_mutex_);
        SkipFinished();
        for (auto it = first_open_; it != messages_.end(); ++it) {
            const MessagePtr message = *it;  // held while we work on it
            Message& m = *message;
            const MessageStatus status = m.Status();
            const bool interrupt = status == MessageStatus::INTERRUPT;
            if (!AwaitingResponse(status) && !interrupt) {
                continue;
            }
            for (;;) {
                // An unsolicited report decodes only its own bytes: stream
                // bytes in this pass answer requests, never an interrupt.
                const bool from_stream = !interrupt && !pass.empty();
                if (!from_stream && !m.HasReceived()) {
                    break;
                }
                std::uint8_t c;
                if (from_stream) {
                    c = pass.front();
                    pass.pop_front();
                    m.DecodeByte(c);
                } else {
                    c = m.DecodeReceived();
                }
                changed = true;
                if (m.Status() == MessageStatus::SENT) {
                    m.SetStatus(MessageStatus::RX_PARTIAL);
                }
                if (m.Response().HasUnexpectedChar()) {
                    events.push_back({MessageEvent::UnexpectedChar, static_cast<int>(static_cast<std::int8_t>(c)), 0,
                                      PendingEvent::Form::One, {}});
                    std::ostringstream text;
                    text << "Unexpected Char (" << m.Id() << "): [" << m.StatusName() << "] 0x" << std::hex
                         << unsigned{c};
                    BOOST_LOG_SEV(logger_, severity_level::warning) << text.str();
                    WriteTrafficLog(m);
                    // Keep decoding for this message: the decoder waits for
                    // the next start byte, so an answer behind line noise is
                    // still taken by the request it belongs to instead of
                    // being lost or handed to the next request.
                    continue;
                }
                if (m.Response().IsComplete()) {
                    FinishMessage(m, events);
                    break;
                }
            }
        }
    }
    if (changed) {
        list_cv_.notify_all();
    }
}

void CM_Common::FinishMessage(Message& m, std::vector<PendingEvent>& events) {
    m.MarkReceived();
    const std::int64_t t = m.ResponseTimeMs();
    const DeviceReport& r = m.Response();
    if (r.InterlockAlarm()) {
        events.push_back({MessageEvent::Interlock, m.Id(), 0, PendingEvent::Form::One, {}});
        BOOST_LOG_SEV(logger_, severity_level::error)
            << "Msg (" << m.Id() << "): >>> INTERLOCK ALARM <<< " << t << "ms";
        WriteTrafficLog(m);
    }
    if (!r.Accepted()) {
        m.SetStatus(MessageStatus::RX_ERROR_VALID);
        events.push_back({MessageEvent::ResponseError, m.Id(), 0, PendingEvent::Form::One, {}});
        BOOST_LOG_SEV(logger_, severity_level::warning)
            << "Msg (" << m.Id() << "): [" << StatusText(m) << "] " << t << "ms";
    } else if (r.HasCrcError()) {
        m.SetStatus(MessageStatus::RX_ERROR_INVALID);
        events.push_back({MessageEvent::ResponseCrcError, m.Id(), 0, PendingEvent::Form::One, {}});
        BOOST_LOG_SEV(logger_, severity_level::error)
            << "Msg (" << m.Id() << "): [" << StatusText(m) << "] " << t << "ms";
    } else if (m.Status() == MessageStatus::INTERRUPT) {
        m.SetStatus(MessageStatus::PROCESSED_INTERRUPT);
        std::uint32_t p0 = static_cast<std::uint32_t>(r.ADDR) << 16;
        std::uint32_t p1 = 0;
        PendingEvent event{MessageEvent::InterruptReceived, 0, 0, PendingEvent::Form::One, {}};
        if (r.LEN > 4) {
            event.form = PendingEvent::Form::Data;
            event.data = r.DATA;
        } else {
            const std::vector<std::uint16_t> words = r.PayloadWords();
            if (r.LEN >= 2 && !words.empty()) {
                p0 |= words[0];
            }
            if (r.LEN >= 4 && words.size() >= 2) {
                p1 = words[1];
                event.form = PendingEvent::Form::Two;
            }
        }
        event.param1 = static_cast<int>(p0);
        event.param2 = static_cast<int>(p1);
        events.push_back(std::move(event));
        BOOST_LOG_SEV(logger_, severity_level::info) << "Processed Interrupt (" << m.Id() << "): [" << StatusText(m)
                                                     << "] p0:" << p0 << " p1:" << p1;
    } else {
        m.SetStatus(MessageStatus::RX_OK);
        events.push_back({MessageEvent::ResponseOk, m.Id(), 0, PendingEvent::Form::One, {}});
        BOOST_LOG_SEV(logger_, severity_level::info)
            << "Msg (" << m.Id() << "): [" << StatusText(m) << "] " << t << "ms";
    }
    WriteTrafficLog(m);
}

// --- Events and logs --------------------------------------------------------

void CM_Common::RaiseEvent(int event, int param) {
    std::vector<PendingEvent> events{{event, param, 0, PendingEvent::Form::One, {}}};
    Deliver(events);
}

void CM_Common::EnterDelivery() {
    std::lock_guard lock(handlers_mutex_);
    delivering_.push_back(std::this_thread::get_id());
}

void CM_Common::LeaveDelivery() {
    {
        std::lock_guard lock(handlers_mutex_);
        const auto it = std::find(delivering_.begin(), delivering_.end(), std::this_thread::get_id());
        if (it != delivering_.end()) {
            delivering_.erase(it);
        }
    }
    handlers_cv_.notify_all();
}

std::vector<IEventHandler*> CM_Common::HandlersOf(int event) {
    std::lock_guard lock(handlers_mutex_);
    return events_.Handlers(event);
}

void CM_Common::Deliver(std::vector<PendingEvent>& events) {
    if (events.empty()) {
        return;
    }
    void* sender = static_cast<IConnectionManager*>(this);
    EnterDelivery();
    struct Leave {
        CM_Common* self;
        ~Leave() { self->LeaveDelivery(); }
    } leave{this};  // also when a handler throws
    // Each event is delivered to the handlers subscribed when it is raised,
    // in subscription order, as the trigger's Notify forms do.
    for (const PendingEvent& e : events) {
        for (IEventHandler* handler : HandlersOf(e.event)) {
            switch (e.form) {
            case PendingEvent::Form::One:
                handler->OnEvent(sender, e.event, e.param1);
                break;
            case PendingEvent::Form::Two:
                handler->OnEventWithParams(sender, e.event, e.param1, e.param2);
                break;
            case PendingEvent::Form::Data:
                handler->OnEventWithData(sender, e.event, e.param1, e.data);
                break;
            }
        }
    }
    events.clear();
}

void CM_Common::WriteTrafficLog(const Message& message) {
    // Formatting every frame costs more than the exchange itself, so do it
    // only when some sink wants trace records.
    namespace keywords = boost::log::keywords;
    if (auto record = traffic_logger_.open_record(keywords::severity = severity_level::trace)) {
        boost::log::record_ostream stream(record);
        stream << "H->D: " << std::hex << std::setfill('0');
        for (std::uint8_t b : message.Request().Serialize()) {
            stream << std::setw(2) << unsigned{b} << ' ';
        }
        stream.flush();
        traffic_logger_.push_record(std::move(record));
    }
    if (auto record = traffic_logger_.open_record(keywords::severity = severity_level::trace)) {
        boost::log::record_ostream stream(record);
        stream << "D->H: " << message.Response().DumpText();
        stream.flush();
        traffic_logger_.push_record(std::move(record));
    }
}

}  // namespace Qel
