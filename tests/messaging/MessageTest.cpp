#include <gtest/gtest.h>

#include <vector>

#include "messaging/Message.h"

namespace {

using Qel::Message;
using Qel::MessageStatus;

TEST(MessageTest, StatusNamesAndFinality) {
    struct Case {
        int value;
        const char* name;
        bool final;
    };
    const Case cases[] = {{0, "UNSENT", false},          {1, "SENT", false},
                          {2, "SEND_ERROR", true},       {3, "TIMEOUT_ON_SEND", true},
                          {4, "RX_PARTIAL", false},      {5, "RX_OK", true},
                          {6, "CANCELLED", false},       {7, "TIMEOUT_ON_RXCV", true},
                          {8, "RX_ERROR_VALID", true},   {9, "RX_ERROR_INVALID", true},
                          {10, "INTERRUPT", false},      {11, "PROCESSED_INTERRUPT", true}};
    for (const Case& c : cases) {
        const auto status = static_cast<MessageStatus>(c.value);
        EXPECT_EQ(Qel::StatusName(status), c.name);
        EXPECT_EQ(Qel::IsFinal(status), c.final) << c.name;
    }
    EXPECT_EQ(Qel::StatusName(static_cast<MessageStatus>(12)), "UNKNOWN");
}

TEST(MessageTest, NewMessage) {
    Qel::HostReport report(0x11, Qel::HostReport::Read, 0);
    const Message m(report);
    const Message next(report);
    EXPECT_EQ(next.Id(), m.Id() + 1);
    EXPECT_EQ(m.Status(), MessageStatus::UNSENT);
    EXPECT_EQ(m.StatusName(), "UNSENT");
    EXPECT_EQ(m.SentTimeNs(), 0);
    EXPECT_EQ(m.ReceivedTimeNs(), 0);
    EXPECT_EQ(m.Response().ID, 0xFF);
    EXPECT_EQ(m.Response().Result(), Qel::DECODE_IDLE);
    EXPECT_EQ(m.Request().Serialize(), report.Serialize());
}

TEST(MessageTest, ReceiveBufferDecoding) {
    Message m(Qel::HostReport{});
    EXPECT_FALSE(m.HasReceived());
    EXPECT_EQ(m.DecodeReceived(), 0x20);  // empty buffer: a space, nothing decoded
    EXPECT_EQ(m.Response().Result(), Qel::DECODE_IDLE);

    const std::vector<std::uint8_t> frame = {0x05, 0x49, 0x00, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0x21, 0x46};
    m.AppendReceived(std::span(frame.data(), 4));
    m.AppendReceived(std::span(frame.data() + 4, frame.size() - 4));
    EXPECT_TRUE(m.HasReceived());
    EXPECT_EQ(m.DecodeReceived(), 0x46);
    EXPECT_FALSE(m.HasReceived());
    EXPECT_EQ(m.Response().Result(), Qel::DECODE_OK);
    EXPECT_EQ(m.Response().PayloadWord(), 0x1234);
}

TEST(MessageTest, TimeStamps) {
    Message m(Qel::HostReport{});
    m.MarkSent();
    EXPECT_GT(m.SentTimeNs(), 0);
    EXPECT_GE(m.MsSinceSent(), 0);
    m.MarkReceived();
    EXPECT_GE(m.ReceivedTimeNs(), m.SentTimeNs());
    EXPECT_GE(m.ResponseTimeMs(), 0);
}

}  // namespace
