// EEPROM access driven through a recording connection manager: the requests
// it queues, how replies and failures end an operation, the supervisor, and
// what the synthesiser EEPROM table code does when nothing can be queued or
// no event ever comes. Events are raised by the test on its own thread.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <utility>
#include <vector>

#include "LoopbackTransport.h"
#include "discovery/EEPROM.h"
#include "discovery/QELSystem.h"
#include "discovery/SynthEEPROM.h"
#include "messaging/IConnectionManager.h"
#include "messaging/Message.h"

namespace {

using namespace Qel;
using Bytes = std::vector<std::uint8_t>;

// Records what is sent and subscribed; answers Response from a map; raises
// message events only when the test says so.
class RecordingManager : public IConnectionManager {
public:
    const std::string& Ident() const override { return ident_; }
    std::vector<QELSystem> Discover(const NamedList<std::string>&) override { return {}; }
    void Connect(const std::string&) override {}
    void Disconnect() override {}

    int Send(const HostReport& report) override {
        if (refuse_after >= 0 && static_cast<int>(sent.size()) >= refuse_after) {
            return -1;
        }
        sent.push_back(report);
        return next_id++;
    }
    DeviceReport SendAndWait(const HostReport& report) override {
        sent_and_waited.push_back(report);
        return wait_reply;
    }
    DeviceReport Response(int id) override {
        const auto it = replies.find(id);
        return it == replies.end() ? DeviceReport{} : it->second;
    }
    bool TransferToDevice(TransferData&, std::uint32_t, int, const std::uint8_t*) override { return false; }
    bool TransferFromDevice(TransferData&, int, int, int, const std::uint8_t*) override { return false; }
    int TransferSupport() override { return -1; }
    const std::atomic<bool>& IsOpen() const override { return open_; }
    bool Subscribe(int event, IEventHandler* handler) override {
        subscriptions.push_back(event);
        return trigger.Subscribe(event, handler);
    }
    void Unsubscribe(int event, IEventHandler* handler) override {
        unsubscriptions.push_back(event);
        trigger.Unsubscribe(event, handler);
    }

    void Raise(int event, int id) { trigger.Notify(static_cast<IConnectionManager*>(this), event, id); }
    void Reply(int id, const Bytes& payload) {
        DeviceReport report;
        for (std::uint8_t b : QelTest::DeviceFrame(0x05, 0x42, 0x200, payload)) {
            report.Decode(b);
        }
        replies[id] = report;
        Raise(MessageEvent::ResponseOk, id);
    }

    std::vector<HostReport> sent;
    std::vector<HostReport> sent_and_waited;
    std::vector<int> subscriptions;
    std::vector<int> unsubscriptions;
    std::map<int, DeviceReport> replies;
    DeviceReport wait_reply;
    int next_id = 1;
    int refuse_after = -1;  // Send answers -1 once this many were sent
    MessageEventTrigger trigger;

private:
    std::string ident_ = "CM_RECORDING";
    std::atomic<bool> open_{true};
};

// Counts the EEPROM's own events.
class EventLog : public IEventHandler {
public:
    void OnEvent(void*, int event, int param) override { events.emplace_back(event, param); }
    std::vector<std::pair<int, int>> events;
};

struct Bench {
    Bench() : system(&manager, "port") {
        system.Synthesiser() =
            QELSynthesiser("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
        eeprom = std::make_unique<EEPROM>(system);
        for (int e = 0; e < EEPROMEvent::Count; ++e) {
            eeprom->Subscribe(e, &log);
        }
    }
    ~Bench() {
        for (int e = 0; e < EEPROMEvent::Count; ++e) {
            eeprom->Unsubscribe(e, &log);
        }
    }

    RecordingManager manager;
    QELSystem system;
    EventLog log;
    std::unique_ptr<EEPROM> eeprom;
};

Bytes Filled(std::size_t n, std::uint8_t first) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(first + i);
    }
    return b;
}

TEST(EEPROM, SubscribesAndUnsubscribesInOrder) {
    RecordingManager manager;
    QELSystem system(&manager, "port");
    {
        EEPROM eeprom(system);
        EXPECT_EQ(manager.subscriptions, (std::vector<int>{2, 1, 3, 5, 4, 7, 6}));
        for (int e : {1, 2, 3, 4, 5, 6, 7}) {
            EXPECT_EQ(manager.trigger.SubscriberCount(e), 1U) << e;
        }
    }
    EXPECT_EQ(manager.unsubscriptions, (std::vector<int>{2, 1, 3, 5, 4, 7, 6}));
    for (int e = 0; e < MessageEvent::Count; ++e) {
        EXPECT_EQ(manager.trigger.SubscriberCount(e), 0U) << e;
    }
}

TEST(EEPROM, ReadQueuesEightRequestsAndGathersRepliesInOrder) {
    Bench b;
    const int last = b.eeprom->ReadEEPROM();
    ASSERT_EQ(b.manager.sent.size(), 8U);
    EXPECT_EQ(last, 8);
    for (std::size_t i = 0; i < 8; ++i) {
        const HostReport& r = b.manager.sent[i];
        EXPECT_EQ(r.ID, 1);
        EXPECT_EQ(r.HDR, 0x82);
        EXPECT_EQ(r.CONTEXT, 0);
        EXPECT_EQ(r.ADDR, 0x200 + 0x40 * i);
        EXPECT_EQ(r.LEN, 64);
    }
    Bytes expected;
    for (int id = 1; id <= 8; ++id) {
        EXPECT_TRUE(b.log.events.empty());
        const Bytes payload = Filled(64, static_cast<std::uint8_t>(id * 16));
        expected.insert(expected.end(), payload.begin(), payload.end());
        b.manager.Reply(id, payload);
    }
    EXPECT_EQ(b.log.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::ReadDone, 8}}));
    EXPECT_EQ(b.eeprom->EEPROMData(), expected);
}

TEST(EEPROM, OnlyTheOldestPendingRequestTakesAReply) {
    Bench b;
    b.eeprom->ReadEEPROM();
    b.manager.Reply(2, Filled(64, 0));  // not the oldest: ignored
    b.manager.Reply(42, Filled(64, 0)); // not ours at all
    EXPECT_TRUE(b.eeprom->EEPROMData().empty());
    for (int id = 1; id <= 8; ++id) {
        b.manager.Reply(id, Bytes(64, static_cast<std::uint8_t>(id)));
    }
    ASSERT_EQ(b.log.events.size(), 1U);
    EXPECT_EQ(b.log.events[0].first, EEPROMEvent::ReadDone);
    const Bytes data = b.eeprom->EEPROMData();
    ASSERT_EQ(data.size(), 512U);
    EXPECT_EQ(data[64], 2);
}

TEST(EEPROM, AnyFailedRequestEndsTheOperationWithOneTransferError) {
    struct Case {
        const char* what;
        int event;
        int failing_id;
    };
    const std::vector<Case> cases = {
        {"third request times out", MessageEvent::ResponseTimedOut, 3},
        {"first request fails to send", MessageEvent::SendFailed, 1},
        {"send timeout", MessageEvent::SendTimedOut, 5},
        {"CRC error", MessageEvent::ResponseCrcError, 2},
        {"event 6", 6, 4},
        {"rejected reply", MessageEvent::ResponseError, 3},
        {"last request times out", MessageEvent::ResponseTimedOut, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        ASSERT_EQ(b.eeprom->ReadEEPROM(), 8);
        for (int id = 1; id <= 8; ++id) {
            if (id == c.failing_id) {
                b.manager.Raise(c.event, id);
            } else {
                b.manager.Reply(id, Bytes(64, 0xAA));
            }
            if (id < 8) {
                EXPECT_TRUE(b.log.events.empty());
            }
        }
        EXPECT_EQ(b.log.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::TransferError, 8}}));
    }
}

// The sender thread raises a send failure while the parser may still be
// delivering the reply of an older request: the failure must still count.
TEST(EEPROM, SendFailureMayOvertakeAnOlderReply) {
    Bench b;
    b.eeprom->ReadEEPROM();
    b.manager.Raise(MessageEvent::SendFailed, 2);
    b.manager.Raise(MessageEvent::SendFailed, 8);
    b.manager.Reply(1, Bytes(64, 1));
    for (int id = 3; id <= 7; ++id) {
        b.manager.Reply(id, Bytes(64, 1));
    }
    EXPECT_EQ(b.log.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::TransferError, 8}}));
}

TEST(EEPROM, WriteSplitsIntoRequestsOfAtMost64Bytes) {
    Bench b;
    const Bytes data = Filled(100, 0);
    b.eeprom->SetEEPROMData(data);
    ASSERT_TRUE(b.eeprom->WriteEEPROM());
    ASSERT_EQ(b.manager.sent.size(), 2U);
    const HostReport& first = b.manager.sent[0];
    const HostReport& second = b.manager.sent[1];
    EXPECT_EQ(first.HDR, 0x02);
    EXPECT_EQ(first.ADDR, 0x200);
    EXPECT_EQ(first.LEN, 64);
    EXPECT_EQ(first.Payload(), Bytes(data.begin(), data.begin() + 64));
    EXPECT_EQ(second.ADDR, 0x240);
    EXPECT_EQ(second.LEN, 36);
    EXPECT_EQ(second.Payload(), Bytes(data.begin() + 64, data.end()));
    b.manager.Reply(1, {});
    EXPECT_TRUE(b.log.events.empty());
    b.manager.Reply(2, {});
    EXPECT_EQ(b.log.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::WriteDone, 2}}));
    EXPECT_EQ(b.eeprom->EEPROMData(), data);  // a write keeps the buffer
}

TEST(EEPROM, NothingQueuedMeansNoEventAndAFailedResult) {
    {
        SCOPED_TRACE("empty write");
        Bench b;
        b.eeprom->SetEEPROMData({});
        EXPECT_FALSE(b.eeprom->WriteEEPROM());
        EXPECT_TRUE(b.manager.sent.empty());
    }
    {
        SCOPED_TRACE("write past the area");
        Bench b;
        b.eeprom->SetEEPROMData(Bytes(513, 0));
        EXPECT_FALSE(b.eeprom->WriteEEPROM());
        EXPECT_TRUE(b.manager.sent.empty());
    }
    {
        SCOPED_TRACE("synthesiser not identified");
        Bench b;
        b.system.Synthesiser() = QELSynthesiser();
        EXPECT_EQ(b.eeprom->ReadEEPROM(), 0);
        b.eeprom->SetEEPROMData(Bytes(10, 0));
        EXPECT_FALSE(b.eeprom->WriteEEPROM());
        EXPECT_TRUE(b.manager.sent.empty());
    }
    {
        SCOPED_TRACE("manager closed");
        Bench b;
        b.manager.refuse_after = 0;
        EXPECT_EQ(b.eeprom->ReadEEPROM(), -1);
        b.eeprom->SetEEPROMData(Bytes(10, 0));
        EXPECT_FALSE(b.eeprom->WriteEEPROM());
    }
    {
        SCOPED_TRACE("manager closes part way: what was queued ends in an error");
        Bench b;
        b.manager.refuse_after = 3;
        EXPECT_EQ(b.eeprom->ReadEEPROM(), 3);
        for (int id = 1; id <= 3; ++id) {
            b.manager.Reply(id, Bytes(64, 0));
        }
        EXPECT_EQ(b.log.events, (std::vector<std::pair<int, int>>{{EEPROMEvent::TransferError, 3}}));
    }
}

TEST(EEPROMSupervisor, Flags) {
    struct Case {
        int event;
        bool busy;
        bool failed;
    };
    for (const Case& c : std::vector<Case>{{EEPROMEvent::TransferError, false, true},
                                           {EEPROMEvent::ReadDone, false, false},
                                           {EEPROMEvent::WriteDone, false, false},
                                           {3, true, false},
                                           {-1, true, false}}) {
        EEPROMSupervisor supervisor;
        EXPECT_TRUE(supervisor.Busy);
        EXPECT_FALSE(supervisor.Failed);
        supervisor.OnEvent(nullptr, c.event, 1);
        EXPECT_EQ(supervisor.Busy, c.busy) << c.event;
        EXPECT_EQ(supervisor.Failed, c.failed) << c.event;
    }
    EEPROMSupervisor supervisor;
    supervisor.Failed = true;
    supervisor.OnEvent(nullptr, EEPROMEvent::ReadDone, 1);
    EXPECT_TRUE(supervisor.Failed);  // unchanged
    EXPECT_TRUE(supervisor.WaitUntilDone(std::chrono::milliseconds(0)));
    supervisor.Arm();
    EXPECT_FALSE(supervisor.WaitUntilDone(std::chrono::milliseconds(1)));
}

// No event ever comes (a connection that closed under the operation): the
// table code still returns, after its wait bound, with a failure.
TEST(SynthEEPROM, WaitsAreBounded) {
    RecordingManager manager;
    QELSystem system(&manager, "port");
    system.Synthesiser() =
        QELSynthesiser("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
    for (std::uint8_t b : QelTest::DeviceFrame(0x05, 0x47, 0, {0x0F, 0xC5})) {
        manager.wait_reply.Decode(b);
    }
    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 1;
    table.Entries[0].Type = 3;
    system.Synthesiser() =
        QELSynthesiser("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, FirmwareVersion{}, table, nullptr);

    const auto bound = std::chrono::milliseconds(50);
    SynthEEPROMReader reader(system, bound);
    EXPECT_EQ(reader.Read(), SynthEEPROMTable{});
    EXPECT_EQ(manager.sent.size(), 8U);
    EXPECT_EQ(manager.sent_and_waited.size(), 1U);
    EXPECT_EQ(manager.sent_and_waited[0].HDR, 0x87);
    EXPECT_EQ(manager.sent_and_waited[0].LEN, 2);

    SynthEEPROMWriter writer(system, SynthEEPROMTable{}, bound);
    EXPECT_FALSE(writer.Write());
    EXPECT_EQ(manager.sent.size(), 9U);  // the eight-byte header
    EXPECT_EQ(system.Synthesiser().EEPROMTable(), table);

    EXPECT_TRUE(reader.ClearEntry(0));  // cleared, although the write never ended
    EXPECT_EQ(system.Synthesiser().EEPROMTable(), table);
}

// A magic-number reply that fails its check sum is no magic number: nothing
// is read, and nothing is written under it.
TEST(SynthEEPROM, CorruptedMagicNumberReplyIsRefused) {
    RecordingManager manager;
    QELSystem system(&manager, "port");
    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 1;
    table.Entries[0].Type = 3;
    system.Synthesiser() =
        QELSynthesiser("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, FirmwareVersion{}, table, nullptr);
    Bytes frame = QelTest::DeviceFrame(0x05, 0x47, 0, {0x0F, 0xC5});
    frame.back() ^= 0xFF;
    for (std::uint8_t b : frame) {
        manager.wait_reply.Decode(b);
    }
    ASSERT_TRUE(manager.wait_reply.HasCrcError());

    const auto bound = std::chrono::milliseconds(50);
    SynthEEPROMReader reader(system, bound);
    EXPECT_EQ(reader.Read(), SynthEEPROMTable{});
    SynthEEPROMWriter writer(system, SynthEEPROMTable{}, bound);
    EXPECT_FALSE(writer.Write());
    EXPECT_EQ(manager.sent_and_waited.size(), 2U);
    EXPECT_TRUE(manager.sent.empty());
    EXPECT_EQ(system.Synthesiser().EEPROMTable(), table);
}

TEST(SynthEEPROM, ClearEntryRefusesWhatCannotBeCleared) {
    RecordingManager manager;
    QELSystem system(&manager, "port");
    SynthEEPROMReader invalid(system);
    EXPECT_FALSE(invalid.ClearEntry(0));

    SynthEEPROMTable table;
    table.Valid = true;
    table.Count = 2;
    table.Entries[1].Type = 3;
    system.Synthesiser() =
        QELSynthesiser("Ulix3", "Ulix3 Synthesiser", SynthCaps{}, FirmwareVersion{}, table, nullptr);
    SynthEEPROMReader reader(system);
    for (int index : {-1, 33, 0, 2}) {
        EXPECT_FALSE(reader.ClearEntry(index)) << index;
    }
    EXPECT_TRUE(manager.sent.empty());
    EXPECT_TRUE(manager.sent_and_waited.empty());
}

}  // namespace
