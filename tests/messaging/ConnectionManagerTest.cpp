// The connection-manager engine driven through the loopback transport: the
// device side is a scripted peer, and every wait is for a condition with a
// generous bound.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "EventRecorder.h"
#include "LogCapture.h"
#include "LoopbackTransport.h"
#include "messaging/CM_Common.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using Qel::HostReport;
using Qel::MessageEvent;
using Qel::MessageStatus;
using QelTest::DeviceFrame;
using QelTest::EventRecorder;
using QelTest::LoopbackTransport;
using QelTest::PeerReply;
using QelTest::RecordedEvent;
using QelTest::ScriptedPeer;
using Severity = boost::log::trivial::severity_level;

HostReport Request() { return HostReport(0x11, HostReport::Read, 0); }

Bytes Answer(std::uint16_t word, std::uint8_t hdr = 0x41) {
    return DeviceFrame(0x05, hdr, 0, {static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)});
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ManagerTest : public ::testing::Test {
protected:
    void Open(QelTest::LoopbackTimes times = {100, 200, 30000}) {
        cm = std::make_unique<LoopbackTransport>(peer, times);
        for (int e = 0; e < MessageEvent::Count; ++e) {
            ASSERT_TRUE(cm->Subscribe(e, &recorder));
        }
        cm->Connect("LOOP-1");
        ASSERT_TRUE(cm->IsOpen());
    }

    void TearDown() override {
        if (cm) {
            cm->Disconnect();
            cm.reset();
        }
    }

    // Events other than the closing report's, in order, as (event, param) pairs.
    std::vector<std::pair<int, int>> EventsFor(int id) const {
        std::vector<std::pair<int, int>> out;
        for (const RecordedEvent& e : recorder.Events()) {
            if (e.param1 == id) {
                out.emplace_back(e.event, e.param1);
            }
        }
        return out;
    }

    QelTest::LogCapture log;
    EventRecorder recorder;  // outlives the manager
    std::shared_ptr<ScriptedPeer> peer = std::make_shared<ScriptedPeer>();
    std::unique_ptr<LoopbackTransport> cm;
};

// --- Closed manager ----------------------------------------------------------

TEST_F(ManagerTest, ClosedManagerAnswersAtOnce) {
    cm = std::make_unique<LoopbackTransport>(peer);
    EXPECT_FALSE(cm->IsOpen());
    EXPECT_EQ(cm->Send(Request()), -1);
    EXPECT_EQ(cm->Response(-1).ID, 0xFF);
    EXPECT_EQ(cm->Response(-1).Result(), Qel::DECODE_IDLE);

    auto waited = std::async(std::launch::async, [&] { return cm->SendAndWait(Request()); });
    ASSERT_EQ(waited.wait_for(5s), std::future_status::ready) << "SendAndWait on a closed manager must not wait";
    EXPECT_FALSE(waited.get().IsComplete());

    cm->Disconnect();  // nothing to do
    EXPECT_EQ(cm->WriteAttempts(), 0u);
    EXPECT_EQ(cm->Ident(), "CM_TEST");
}

TEST_F(ManagerTest, RefusedConnectStaysClosed) {
    cm = std::make_unique<LoopbackTransport>(peer);
    cm->SetRefuseConnect(true);
    cm->Connect("LOOP-2");
    EXPECT_FALSE(cm->IsOpen());
    EXPECT_EQ(cm->Send(Request()), -1);
    EXPECT_EQ(cm->LastPort(), "LOOP-2");
}

TEST_F(ManagerTest, NotSupportedTransfers) {
    Open();
    Qel::TransferData data{1, 2, 3};
    const std::uint8_t identifier[16] = {};
    EXPECT_FALSE(cm->TransferToDevice(data, 0, 0, identifier));
    EXPECT_FALSE(cm->TransferFromDevice(data, 0, 0, 0, identifier));
    EXPECT_EQ(cm->TransferSupport(), -1);
    EXPECT_EQ(recorder.Count(MessageEvent::NotSupported, -1), 3u);
}

// --- Matching ----------------------------------------------------------------

enum class Delivery { Whole, Chunked, Joined };

// Short parameter texts keep the registered test names readable.
[[maybe_unused]] void PrintTo(Delivery d, std::ostream* os) { *os << static_cast<int>(d); }

class MatchingTest : public ManagerTest, public ::testing::WithParamInterface<Delivery> {};

TEST_P(MatchingTest, AnswersGoToRequestsInListOrder) {
    Open();
    switch (GetParam()) {
    case Delivery::Whole:
        break;
    case Delivery::Chunked:  // split reads, spread over several parser passes
        cm->SetChunking(3, 15ms);
        break;
    case Delivery::Joined:  // both answers arrive in one read
        cm->JoinNextReplies(2);
        break;
    }
    peer->Push(Answer(0x1111), 5ms);
    peer->Push(Answer(0x2222));
    const int first = cm->Send(Request());
    const int second = cm->Send(Request());
    ASSERT_GT(first, 0);
    ASSERT_EQ(second, first + 1);

    ASSERT_TRUE(recorder.WaitForCount(MessageEvent::ResponseOk, 2));
    const auto oks = recorder.Of(MessageEvent::ResponseOk);
    EXPECT_EQ(oks[0].param1, first);
    EXPECT_EQ(oks[1].param1, second);
    EXPECT_EQ(cm->Response(first).PayloadWord(), 0x1111);
    EXPECT_EQ(cm->Response(second).PayloadWord(), 0x2222);
    EXPECT_EQ(cm->StatusOf(first), MessageStatus::RX_OK);
    EXPECT_EQ(cm->StatusOf(second), MessageStatus::RX_OK);
    EXPECT_TRUE(recorder.Of(MessageEvent::UnexpectedChar).empty());
}

INSTANTIATE_TEST_SUITE_P(Deliveries, MatchingTest,
                         ::testing::Values(Delivery::Whole, Delivery::Chunked, Delivery::Joined),
                         [](const auto& info) {
                             switch (info.param) {
                             case Delivery::Whole: return std::string("Whole");
                             case Delivery::Chunked: return std::string("Chunked");
                             default: return std::string("Joined");
                             }
                         });

TEST_F(ManagerTest, SendAndWaitReturnsTheAnswerAndLogsTraffic) {
    Open();
    peer->Push(Answer(50447));
    const Qel::DeviceReport r = cm->SendAndWait(Request());
    ASSERT_TRUE(r.IsComplete());
    EXPECT_EQ(r.PayloadWord(), 50447);
    ASSERT_EQ(cm->HostFrameCount(), 1u);
    EXPECT_EQ(cm->HostFrames()[0], Request().Serialize());

    ASSERT_TRUE(recorder.WaitForCount(MessageEvent::ResponseOk, 1));
    const int id = recorder.Of(MessageEvent::ResponseOk)[0].param1;
    const std::string prefix = "Msg (" + std::to_string(id) + "): [RX_OK] ";
    EXPECT_TRUE(log.ContainsPrefix(Severity::info, prefix));
    EXPECT_TRUE(log.ContainsPrefix(Severity::trace, "H->D: 04 81 00 02 00 00 00 "));
    EXPECT_TRUE(log.Contains(Severity::trace, "D->H: ID: 05   HDR: 41   CONTEXT: 00   ADDR: 00   LEN: 02\nDATA: 0f c5 "));
}

TEST_F(ManagerTest, AnswerArrivingBeforeTheRequestIsListedStillMatches) {
    Open();
    cm->SetAnswerBeforeWriteCompletes(true);
    for (std::uint16_t word : {0x0101, 0x0202, 0x0303}) {
        peer->Push(Answer(word));
        const Qel::DeviceReport r = cm->SendAndWait(Request());
        ASSERT_TRUE(r.IsComplete()) << word;
        EXPECT_EQ(r.PayloadWord(), word);
    }
}

// Line noise in front of an answer is reported byte by byte, and the answer
// behind it still reaches the request it belongs to.
struct GarbageCase {
    const char* name;
    Bytes garbage;
    std::vector<int> params;  // UnexpectedChar parameters, signed bytes
    const char* logged;       // the last "Unexpected Char" text's tail
};

[[maybe_unused]] void PrintTo(const GarbageCase& c, std::ostream* os) { *os << c.name; }

class GarbageTest : public ManagerTest, public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(GarbageTest, ReportedAndAnswerStillMatched) {
    const GarbageCase& c = GetParam();
    Open();
    peer->Push(Concat(c.garbage, Answer(0x0A0B)));
    const int id = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseOk, id));
    std::vector<int> params;
    for (const RecordedEvent& e : recorder.Of(MessageEvent::UnexpectedChar)) {
        params.push_back(e.param1);
    }
    EXPECT_EQ(params, c.params);
    EXPECT_EQ(cm->Response(id).PayloadWord(), 0x0A0B);
    EXPECT_TRUE(log.Contains(Severity::warning, "Unexpected Char (" + std::to_string(id) + "): [RX_PARTIAL] " + c.logged));
}

INSTANTIATE_TEST_SUITE_P(Noise, GarbageTest,
                         ::testing::Values(GarbageCase{"Zero", {0x00}, {0}, "0x0"},
                                           GarbageCase{"HighByte", {0xC3}, {-61}, "0xc3"},
                                           GarbageCase{"TwoBytes", {0x00, 0x41}, {0, 0x41}, "0x41"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ManagerTest, GarbageDoesNotShiftAnswersToTheNextRequest) {
    Open();
    cm->JoinNextReplies(2);
    peer->Push(Concat({0xFF}, Answer(0x1111)));
    peer->Push(Answer(0x2222));
    const int first = cm->Send(Request());
    const int second = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseOk, second));
    EXPECT_EQ(cm->Response(first).PayloadWord(), 0x1111);
    EXPECT_EQ(cm->Response(second).PayloadWord(), 0x2222);
    EXPECT_EQ(recorder.Count(MessageEvent::UnexpectedChar, -1), 1u);
}

// --- Judging the answer's HDR and CRC -------------------------------------------

struct JudgeCase {
    const char* name;
    std::uint8_t hdr;
    bool corrupt_crc;
    MessageStatus status;
    std::vector<int> events;  // in order, all carrying the message id
    Severity severity;        // of the status line
};

[[maybe_unused]] void PrintTo(const JudgeCase& c, std::ostream* os) { *os << c.name; }

class JudgeTest : public ManagerTest, public ::testing::WithParamInterface<JudgeCase> {};

TEST_P(JudgeTest, StatusEventsAndLog) {
    const JudgeCase& c = GetParam();
    Open();
    Bytes answer = Answer(0x1234, c.hdr);
    if (c.corrupt_crc) {
        answer.back() ^= 0x5A;
    }
    peer->Push(answer);
    const int id = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(c.events.back(), id));

    EXPECT_EQ(cm->StatusOf(id), c.status);
    const Qel::DeviceReport r = cm->Response(id);
    EXPECT_TRUE(r.IsComplete());
    EXPECT_EQ(r.HasCrcError(), c.corrupt_crc);

    std::vector<std::pair<int, int>> expected;
    for (int e : c.events) {
        expected.emplace_back(e, id);
    }
    EXPECT_EQ(EventsFor(id), expected);

    const std::string msg = "Msg (" + std::to_string(id) + "): ";
    EXPECT_TRUE(log.ContainsPrefix(c.severity, msg + "[" + std::string(Qel::StatusName(c.status)) + "] "));
    const bool interlock = (c.hdr & 0x80) != 0;
    EXPECT_EQ(log.ContainsPrefix(Severity::error, msg + ">>> INTERLOCK ALARM <<< "), interlock);
}

INSTANTIATE_TEST_SUITE_P(
    Hdr, JudgeTest,
    ::testing::Values(
        JudgeCase{"Accepted49", 0x49, false, MessageStatus::RX_OK, {MessageEvent::ResponseOk}, Severity::info},
        JudgeCase{"Rejected29", 0x29, false, MessageStatus::RX_ERROR_VALID, {MessageEvent::ResponseError},
                  Severity::warning},
        JudgeCase{"NotAcknowledged09", 0x09, false, MessageStatus::RX_ERROR_VALID, {MessageEvent::ResponseError},
                  Severity::warning},
        JudgeCase{"Fault59", 0x59, false, MessageStatus::RX_ERROR_VALID, {MessageEvent::ResponseError},
                  Severity::warning},
        JudgeCase{"InterlockC9", 0xC9, false, MessageStatus::RX_OK,
                  {MessageEvent::Interlock, MessageEvent::ResponseOk}, Severity::info},
        JudgeCase{"InterlockAndFaultD9", 0xD9, false, MessageStatus::RX_ERROR_VALID,
                  {MessageEvent::Interlock, MessageEvent::ResponseError}, Severity::warning},
        JudgeCase{"BadCrc40", 0x40, true, MessageStatus::RX_ERROR_INVALID, {MessageEvent::ResponseCrcError},
                  Severity::error},
        JudgeCase{"BadCrcAndRejected20", 0x20, true, MessageStatus::RX_ERROR_VALID, {MessageEvent::ResponseError},
                  Severity::warning}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Timeouts and retention --------------------------------------------------------

TEST_F(ManagerTest, ResponseTimeoutRaisedOnceWithinAParserPass) {
    Open({100, 200, 30000});
    const auto before = Clock::now();
    const int id = cm->Send(Request());  // no answer scripted
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseTimedOut, id));
    const auto raised = recorder.Of(MessageEvent::ResponseTimedOut)[0].when;
    // Strictly after the response timeout; late by at most one parser pass
    // (100 ms), plus room for a slow (sanitizer) build.
    EXPECT_GT(raised - before, 200ms);
    EXPECT_LT(raised - before, 200ms + 100ms + 250ms);
    EXPECT_EQ(cm->StatusOf(id), MessageStatus::TIMEOUT_ON_RXCV);
    EXPECT_FALSE(cm->Response(id).IsComplete());
    EXPECT_TRUE(log.Contains(Severity::warning, "Msg RX Timeout (" + std::to_string(id) + "): [TIMEOUT_ON_RXCV] "));
    EXPECT_TRUE(log.ContainsPrefix(Severity::trace, "D->H: ID: ff"));

    // Further passes leave the final status alone.
    peer->Push(Answer(1));
    const int next = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseOk, next));
    EXPECT_EQ(recorder.Count(MessageEvent::ResponseTimedOut, id), 1u);
}

TEST_F(ManagerTest, SendAndWaitEndsAtTheResponseTimeout) {
    Open({100, 200, 30000});
    const auto before = Clock::now();
    const Qel::DeviceReport r = cm->SendAndWait(Request());
    EXPECT_FALSE(r.IsComplete());
    EXPECT_GT(Clock::now() - before, 200ms);
}

TEST_F(ManagerTest, FinishedMessagesLeaveAfterRetention) {
    Open({100, 200, 300});
    peer->Push(Answer(7));
    const int id = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseOk, id));
    EXPECT_EQ(cm->Response(id).PayloadWord(), 7);
    const auto deadline = Clock::now() + 5s;
    while (cm->StatusOf(id).has_value() && Clock::now() < deadline) {
        recorder.WaitUntil([](const auto&) { return false; }, 20ms);
    }
    EXPECT_FALSE(cm->StatusOf(id).has_value());
    EXPECT_EQ(cm->Response(id).ID, 0xFF);
}

TEST_F(ManagerTest, AwaitedMessageOutlivesRetentionUntilItTimesOut) {
    Open({100, 300, 50});  // retention shorter than the response timeout
    const int id = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(MessageEvent::ResponseTimedOut, id));
}

// --- Send failures -------------------------------------------------------------------

struct SendFailureCase {
    const char* name;
    bool timeout;
    MessageStatus status;
    int event;
};

[[maybe_unused]] void PrintTo(const SendFailureCase& c, std::ostream* os) { *os << c.name; }

class SendFailureTest : public ManagerTest, public ::testing::WithParamInterface<SendFailureCase> {};

TEST_P(SendFailureTest, StatusEventAndSendAndWait) {
    const SendFailureCase& c = GetParam();
    Open({100, 2000, 30000});
    auto arm = [&] { c.timeout ? cm->TimeOutNextWrites(1) : cm->FailNextWrites(1); };

    arm();
    const int id = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitFor(c.event, id));
    EXPECT_EQ(cm->StatusOf(id), c.status);  // listed, so lookups find the failure
    EXPECT_FALSE(cm->Response(id).IsComplete());
    EXPECT_EQ(cm->HostFrameCount(), 0u);

    // SendAndWait ends soon after the failed write, not at the response timeout.
    arm();
    const auto before = Clock::now();
    const Qel::DeviceReport r = cm->SendAndWait(Request());
    const auto took = Clock::now() - before;
    EXPECT_FALSE(r.IsComplete());
    EXPECT_LT(took, 1500ms);
    if (c.timeout) {
        EXPECT_GE(took, 100ms);
    }
    EXPECT_TRUE(recorder.WaitForCount(c.event, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SendFailureTest,
    ::testing::Values(SendFailureCase{"Failed", false, MessageStatus::SEND_ERROR, MessageEvent::SendFailed},
                      SendFailureCase{"TimedOut", true, MessageStatus::TIMEOUT_ON_SEND, MessageEvent::SendTimedOut}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Interrupts ----------------------------------------------------------------------

struct InterruptCase {
    const char* name;
    Bytes payload;
    RecordedEvent::Form form;
    int p0;
    int p1;
    const char* logged;
};

[[maybe_unused]] void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class InterruptTest : public ManagerTest, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptTest, DeliveredOnceInTheRightForm) {
    const InterruptCase& c = GetParam();
    Open();
    cm->InjectInterrupt(DeviceFrame(0x49, 0x40, 3, c.payload));
    ASSERT_TRUE(recorder.WaitForCount(MessageEvent::InterruptReceived, 1));

    const RecordedEvent e = recorder.Of(MessageEvent::InterruptReceived)[0];
    EXPECT_EQ(e.form, c.form);
    EXPECT_EQ(e.param1, c.p0);
    if (c.form == RecordedEvent::Form::Two) {
        EXPECT_EQ(e.param2, c.p1);
    }
    if (c.form == RecordedEvent::Form::Data) {
        EXPECT_EQ(e.data, c.payload);
    }
    EXPECT_TRUE(log.ContainsText(Severity::info, std::string("[PROCESSED_INTERRUPT] ") + c.logged));

    // A later exchange runs more parser passes: still one delivery.
    peer->Push(Answer(1));
    ASSERT_TRUE(cm->SendAndWait(Request()).IsComplete());
    EXPECT_EQ(recorder.Of(MessageEvent::InterruptReceived).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, InterruptTest,
    ::testing::Values(
        InterruptCase{"Len0", {}, RecordedEvent::Form::One, 3 * 65536, 0, "p0:196608 p1:0"},
        InterruptCase{"Len2", {0x05, 0x00}, RecordedEvent::Form::One, 3 * 65536 + 5, 0, "p0:196613 p1:0"},
        InterruptCase{"Len4", {0x01, 0x00, 0x02, 0x00}, RecordedEvent::Form::Two, 3 * 65536 + 1, 2,
                      "p0:196609 p1:2"},
        InterruptCase{"Len8", {1, 2, 3, 4, 5, 6, 7, 8}, RecordedEvent::Form::Data, 3 * 65536, 0, "p0:196608 p1:0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ManagerTest, PendingInterruptDoesNotTakeStreamBytes) {
    Open();
    // An interrupt report cut short stays INTERRUPT, listed before the request.
    const Bytes frame = DeviceFrame(0x49, 0x40, 3, {1, 0, 2, 0});
    cm->InjectInterrupt(Bytes(frame.begin(), frame.begin() + 5));
    peer->Push(Answer(0x4242));
    const Qel::DeviceReport r = cm->SendAndWait(Request());
    ASSERT_TRUE(r.IsComplete());
    EXPECT_EQ(r.PayloadWord(), 0x4242);
    EXPECT_TRUE(recorder.Of(MessageEvent::InterruptReceived).empty());
}

// --- Handlers ------------------------------------------------------------------------

TEST_F(ManagerTest, HandlersInSubscriptionOrderAndUnsubscribe) {
    Open();
    std::vector<int> order;
    std::mutex order_mutex;
    struct Tagged : Qel::IEventHandler {
        Tagged(std::vector<int>& o, std::mutex& m) : order(o), mutex(m) {}
        void OnEvent(void*, int, int) override {
            std::lock_guard lock(mutex);
            order.push_back(GetId());
        }
        std::vector<int>& order;
        std::mutex& mutex;
    };
    Tagged a(order, order_mutex);
    Tagged b(order, order_mutex);
    EXPECT_EQ(b.GetId(), a.GetId() + 1);
    EXPECT_FALSE(cm->Subscribe(MessageEvent::Count, &a));
    EXPECT_FALSE(cm->Subscribe(-1, &a));
    // `tail` is called last: once it has the event, a and b have run.
    EventRecorder tail;
    ASSERT_TRUE(cm->Subscribe(MessageEvent::ResponseOk, &b));
    ASSERT_TRUE(cm->Subscribe(MessageEvent::ResponseOk, &a));
    ASSERT_TRUE(cm->Subscribe(MessageEvent::ResponseOk, &tail));
    struct Unsubscriber {
        ~Unsubscriber() {
            for (Qel::IEventHandler* h : handlers) {
                manager->Unsubscribe(MessageEvent::ResponseOk, h);
            }
        }
        Qel::IConnectionManager* manager;
        std::vector<Qel::IEventHandler*> handlers;
    } unsubscribe_at_exit{cm.get(), {&a, &b, &tail}};

    peer->Push(Answer(1));
    const int first = cm->Send(Request());
    ASSERT_TRUE(tail.WaitFor(MessageEvent::ResponseOk, first));
    {
        std::lock_guard lock(order_mutex);
        EXPECT_EQ(order, (std::vector<int>{b.GetId(), a.GetId()}));
        order.clear();
    }

    // Subscription changes only between exchanges (the trigger takes no lock).
    cm->Unsubscribe(MessageEvent::ResponseOk, &b);
    peer->Push(Answer(2));
    const int second = cm->Send(Request());
    ASSERT_TRUE(tail.WaitFor(MessageEvent::ResponseOk, second));
    {
        std::lock_guard lock(order_mutex);
        EXPECT_EQ(order, (std::vector<int>{a.GetId()}));
    }
}

TEST_F(ManagerTest, HandlerMaySendFromAnEvent) {
    Open();
    struct Chainer : Qel::IEventHandler {
        void OnEvent(void*, int event, int) override {
            if (event == MessageEvent::ResponseOk && !chained.exchange(true)) {
                second = manager->Send(Request());  // no lock is held while events run
            }
        }
        Qel::IConnectionManager* manager = nullptr;
        std::atomic<bool> chained{false};
        std::atomic<int> second{0};
    } chainer;
    chainer.manager = cm.get();
    cm->Subscribe(MessageEvent::ResponseOk, &chainer);

    peer->Push(Answer(1));
    peer->Push(Answer(2));
    const int first = cm->Send(Request());
    ASSERT_TRUE(recorder.WaitForCount(MessageEvent::ResponseOk, 2));
    ASSERT_GT(chainer.second.load(), first);
    EXPECT_EQ(cm->Response(chainer.second).PayloadWord(), 2);
    cm->Unsubscribe(MessageEvent::ResponseOk, &chainer);
}

// --- Disconnect ----------------------------------------------------------------------

TEST_F(ManagerTest, DisconnectAwaitsOutstandingAnswerAndSendsClosingReport) {
    Open({100, 2000, 30000});
    peer->Push(Answer(9), 150ms);
    const int id = cm->Send(Request());
    ASSERT_TRUE(cm->WaitForHostFrames(1, 5s));
    cm->Disconnect();
    EXPECT_FALSE(cm->IsOpen());
    EXPECT_EQ(cm->StatusOf(id), MessageStatus::RX_OK);  // answered before the threads stopped
    const auto frames = cm->HostFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames.back(), (Bytes{0x04, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA5, 0xF5}));

    cm->Disconnect();  // closed: nothing happens
    EXPECT_EQ(cm->HostFrameCount(), 2u);

    // Reopening starts with an empty list.
    cm->Connect("LOOP-1");
    ASSERT_TRUE(cm->IsOpen());
    EXPECT_EQ(cm->MessageCount(), 0u);
    cm->Connect("LOOP-1");  // open: nothing happens
    EXPECT_TRUE(cm->IsOpen());
}

TEST_F(ManagerTest, DisconnectBoundedByResponseTimeoutWhenTheDeviceIsSilent) {
    peer->SetAnswerClosing(false);
    Open({100, 200, 30000});
    const int id = cm->Send(Request());
    const auto before = Clock::now();
    cm->Disconnect();
    EXPECT_FALSE(cm->IsOpen());
    EXPECT_LT(Clock::now() - before, 5s);
    EXPECT_EQ(cm->StatusOf(id), MessageStatus::TIMEOUT_ON_RXCV);
}

}  // namespace
