// CM_Common: the transport-independent engine beneath every connection manager.
//
// It owns the send queue, the message list, the parser that cuts received
// bytes into DeviceReports and matches them to messages in list order, the
// response and retention timeouts, the blocking send, the message events and
// the traffic log. A transport derives from it and supplies Ident, Discover,
// Connect, Disconnect and the bodies of SenderThread and ReceiverThread; the
// building blocks below (RunSenderLoop/FinishSending, AppendReceivedBytes,
// AddInterruptMessage, StartThreads/DrainForDisconnect/StopThreads) keep a
// transport down to moving bytes.
//
// Threads: callers (Send, SendAndWait, Response from any thread; Connect and
// Disconnect from one controlling thread), and while open the sender, the
// receiver and the parser, all owned here and joined by StopThreads.
// Locks: send_mutex_ guards send_queue_ (held by the sender for a whole batch,
// writes included); list_mutex_ guards messages_ and every field of every
// listed Message; receive_mutex_ guards received_bytes_ and parse_wake_.
// Order: send_mutex_ then list_mutex_; receive_mutex_ is never held together
// with list_mutex_. Events are delivered with no lock held, so handlers may
// call Send and Response (but not SendAndWait, nor Disconnect).
// Subscribe and Unsubscribe may be called from any thread, also while the
// manager delivers events: each delivery works on a snapshot of the handler
// list, and Unsubscribe returns only once no other thread is still inside a
// delivery, so the handler may be destroyed right after it.
// Failures show as message statuses, events and log lines; nothing throws.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>

#include "messaging/IConnectionManager.h"
#include "messaging/IEventHandler.h"
#include "messaging/IOReport.h"
#include "messaging/Message.h"

namespace Qel {

class CM_Common : public IConnectionManager {
public:
    using Logger = boost::log::sources::severity_logger_mt<boost::log::trivial::severity_level>;
    using MessagePtr = std::shared_ptr<Message>;

    // The three times in milliseconds: allowed to write one message, allowed
    // from MarkSent to a complete answer, age after which a finished message
    // leaves the list. Transports pass their fixed values; tests short ones.
    CM_Common(std::int64_t send_timeout_ms, std::int64_t response_timeout_ms, std::int64_t retention_ms);
    CM_Common(const CM_Common&) = delete;
    CM_Common& operator=(const CM_Common&) = delete;
    // The owning transport must have joined every thread (its destructor
    // disconnects); as a last resort the three engine threads are stopped here.
    ~CM_Common() override;

    int Send(const HostReport& report) final;
    DeviceReport SendAndWait(const HostReport& report) final;
    DeviceReport Response(int id) final;

    // Not offered by the engine: raise NotSupported (-1), answer false / -1.
    bool TransferToDevice(TransferData& data, std::uint32_t start_address, int arg2,
                          const std::uint8_t* identifier) override;
    bool TransferFromDevice(TransferData& data, int arg1, int arg2, int arg3,
                            const std::uint8_t* identifier) override;
    int TransferSupport() override;

    const std::atomic<bool>& IsOpen() const final { return open_; }
    bool Subscribe(int event, IEventHandler* handler) final;
    void Unsubscribe(int event, IEventHandler* handler) final;

    // Status of message `id` while it is in the list; empty when it is not.
    std::optional<MessageStatus> StatusOf(int id);
    // Number of messages in the list.
    std::size_t MessageCount();

    std::int64_t SendTimeoutMs() const { return send_timeout_ms_; }
    std::int64_t ResponseTimeoutMs() const { return response_timeout_ms_; }
    std::int64_t RetentionMs() const { return retention_ms_; }

    // The report a transport sends first on Disconnect: type 0x19, write,
    // ADDR 0, four zero payload bytes, LEN 4.
    static HostReport ClosingReport();

protected:
    // Thread bodies; each runs while open_ is true and tests it at least
    // every 100 ms (the receiver at its transport's period).
    virtual void SenderThread() = 0;
    virtual void ReceiverThread() = 0;
    virtual void ParserThread();

    // --- Sending -----------------------------------------------------------
    enum class WriteOutcome {
        Written,             // every byte written before the deadline
        Failed,              // a write failed or wrote nothing: SEND_ERROR, SendFailed
        TimedOut,            // deadline passed first: TIMEOUT_ON_SEND, SendTimedOut
        FailedAfterTimeout,  // SendTimedOut raised, but the status ends SEND_ERROR
    };
    // Writes one serialized report; must return by `deadline` (send timeout
    // after the start of this message) or soon after. Runs on the sender
    // thread with send_mutex_ held.
    using WriteFunction =
        std::function<WriteOutcome(std::span<const std::uint8_t> bytes,
                                   std::chrono::steady_clock::time_point deadline)>;
    struct SenderPolicy {
        bool raise_send_failed = true;  // some transports show a failure only in the status
    };
    // A complete SenderThread body: waits for work (100 ms slices), writes each
    // queued message in order with `write`, finishes it, raises its events with
    // no lock held, and leaves when open_ clears.
    void RunSenderLoop(const WriteFunction& write, SenderPolicy policy);
    void RunSenderLoop(const WriteFunction& write);
    // The end of every send attempt: SENT if the status is still UNSENT,
    // MarkSent, append to the message list, wake waiters. Every message a
    // sender takes from the queue must pass through here exactly once. Call with
    // send_mutex_ held (it takes list_mutex_ briefly); the caller then removes
    // the message from the send queue.
    void FinishSending(const MessagePtr& message);

    // --- Receiving ---------------------------------------------------------
    // Stream transports: append bytes in arrival order and wake the parser.
    void AppendReceivedBytes(std::span<const std::uint8_t> bytes);
    // An unsolicited report: an INTERRUPT message holding the bytes is listed
    // and the parser woken.
    void AddInterruptMessage(std::span<const std::uint8_t> bytes);
    // Transports that know which message a block answers; false when `id` is
    // not listed.
    bool DeliverToMessage(int id, std::span<const std::uint8_t> bytes);
    // Makes the parser run a pass soon (used after listing bytes on a message).
    void WakeParser();

    // --- Lifecycle (controlling thread) ------------------------------------
    // Empties the queues and the list, sets open_ and starts the sender,
    // receiver and parser threads. Transports start their own threads after.
    void StartThreads();
    // Disconnect steps before the joins: sends ClosingReport, waits until the
    // send queue is empty, then looks every `poll` until no listed message is
    // SENT or RX_PARTIAL. Bounded: the queue must make progress within
    // send timeout + 1 s, and answers end by the response timeout.
    void DrainForDisconnect(std::chrono::milliseconds poll);
    // Clears open_, wakes every waiter and joins the three engine threads.
    // Never call from one of them (an event handler).
    void StopThreads();

    // --- Events and logs ---------------------------------------------------
    // Delivers one event (one-integer form) to its handlers with this manager
    // as sender, on the calling thread. Call with no lock held.
    void RaiseEvent(int event, int param);
    // Traffic log of one message ("H->D: ..." and "D->H: ..." at trace).
    // Call with list_mutex_ held, or before the message is listed.
    void WriteTrafficLog(const Message& message);
    Logger& Log() { return logger_; }

    // Open flag: read by every thread without a lock, written by the
    // controlling thread (StartThreads/StopThreads).
    std::atomic<bool> open_{false};

    std::mutex send_mutex_;
    std::condition_variable send_cv_;         // wakes the sender; signals a drained queue
    std::deque<MessagePtr> send_queue_;       // guarded by send_mutex_

    std::mutex receive_mutex_;
    std::condition_variable receive_cv_;      // wakes the parser
    std::deque<std::uint8_t> received_bytes_; // guarded by receive_mutex_
    bool parse_wake_ = false;                 // guarded by receive_mutex_

    std::mutex list_mutex_;
    std::condition_variable list_cv_;         // a listed message changed (SendAndWait, Disconnect)
    std::list<MessagePtr> messages_;          // guarded by list_mutex_, in send order
    // The first listed message whose status may still change: every message
    // before it is final (final statuses never change), so the sweeps start
    // here instead of walking everything of the retention time. end() when
    // no listed message is open. Guarded by list_mutex_.
    std::list<MessagePtr>::iterator first_open_ = messages_.end();

    MessageEventTrigger events_;  // lists guarded by handlers_mutex_; use RaiseEvent
    Logger logger_;
    Logger traffic_logger_;

private:
    struct PendingEvent {
        int event;
        int param1;
        int param2;
        enum class Form { One, Two, Data } form;
        std::vector<std::uint8_t> data;
    };

    // The listed message with this id, newest first; rend() when not listed.
    // Call with list_mutex_ held.
    std::list<MessagePtr>::const_reverse_iterator FindListed(int id) const;
    // Appends to the message list. Call with list_mutex_ held.
    void ListMessage(MessagePtr message);
    // Moves first_open_ past the final messages at its front. Call with
    // list_mutex_ held.
    void SkipFinished();
    void Deliver(std::vector<PendingEvent>& events);
    void EnterDelivery();
    void LeaveDelivery();
    std::vector<IEventHandler*> HandlersOf(int event);
    void TimeoutSweep(std::vector<PendingEvent>& events);
    void DecodeSweep(std::deque<std::uint8_t>& pass, std::vector<PendingEvent>& events);
    void FinishMessage(Message& message, std::vector<PendingEvent>& events);

    std::mutex handlers_mutex_;  // guards events_'s lists and delivering_
    std::condition_variable handlers_cv_;
    std::vector<std::thread::id> delivering_;  // one entry per delivery in progress

    const std::int64_t send_timeout_ms_;
    const std::int64_t response_timeout_ms_;
    const std::int64_t retention_ms_;

    // Messages accepted by Send and not yet listed by FinishSending. While
    // there are any, bytes no listed message took are kept for the next
    // parser pass: a quick device can answer before the sender has listed
    // the request it answers.
    std::atomic<std::int64_t> unlisted_{0};
    // The parser may be keeping such bytes; FinishSending then wakes it.
    std::atomic<bool> parser_holding_{false};

    // Incremented by every StartThreads, so SendAndWait notices a reconnect
    // that dropped its message.
    std::atomic<std::uint64_t> session_{0};

    std::thread sender_;
    std::thread receiver_;
    std::thread parser_;
};

}  // namespace Qel
