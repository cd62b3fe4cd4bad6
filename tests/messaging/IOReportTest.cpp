#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "messaging/IOReport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Qel::DeviceReport;
using Qel::HostReport;

DeviceReport DecodeAll(const Bytes& bytes) {
    DeviceReport r;
    for (std::uint8_t b : bytes) {
        r.Decode(b);
    }
    return r;
}

TEST(Crc16Test, CheckValueAndKnownFrames) {
    const std::string digits = "123456789";
    EXPECT_EQ(Qel::Crc16::Compute(Bytes(digits.begin(), digits.end())), 0xFEE8);
    EXPECT_EQ(Qel::Crc16::Compute(Bytes{}), 0x0000);

    // Building over a byte queue consumes it.
    Bytes queue(digits.begin(), digits.end());
    EXPECT_EQ(Qel::Crc16(queue).Value(), 0xFEE8);
    EXPECT_TRUE(queue.empty());
}

// Wire images of host reports, from the device protocol's own examples.
struct SerializeCase {
    const char* name;
    int type;
    std::uint8_t direction;
    std::uint16_t address;
    int len_override;  // -1: keep the type's default LEN
    Bytes payload;
    Bytes wire;
};

[[maybe_unused]] void PrintTo(const SerializeCase& c, std::ostream* os) { *os << c.name; }

class HostReportSerialize : public ::testing::TestWithParam<SerializeCase> {};

TEST_P(HostReportSerialize, WireBytes) {
    const SerializeCase& c = GetParam();
    HostReport r(c.type, c.direction, c.address);
    if (!c.payload.empty()) {
        r.SetPayload(c.payload);
    }
    if (c.len_override >= 0) {
        r.LEN = static_cast<std::uint16_t>(c.len_override);
    }
    EXPECT_EQ(r.Serialize(), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, HostReportSerialize,
    ::testing::Values(
        SerializeCase{"SerialNumberRead", 0x13, HostReport::Read, 0, 16, {},
                      {0x04, 0x83, 0x00, 0x10, 0x00, 0x00, 0x00, 0xCE, 0xCC}},
        SerializeCase{"ClosingReport", 0x19, HostReport::Write, 0, -1, {0, 0, 0, 0},
                      {0x04, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA5, 0xF5}},
        SerializeCase{"UpgradeStatusRead", 0x20, HostReport::Read, 0, -1, {},
                      {0x01, 0x80, 0x01, 0x04, 0x00, 0x00, 0x00, 0xE0, 0x51}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostReportTest, ClosingReportHelperMatchesWireImage) {
    // The engine's closing report is the one every transport sends on Disconnect.
    HostReport closing(0x19, HostReport::Write, 0);
    closing.SetPayloadDwords({0U});
    EXPECT_EQ(closing.Serialize(),
              (Bytes{0x04, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA5, 0xF5}));
}

struct HeaderCase {
    int type;
    std::uint8_t direction;
    std::uint16_t address;
    std::uint8_t id, hdr, context;
    std::uint16_t len;
};

[[maybe_unused]] void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << "type " << c.type << " dir " << int{c.direction} << " addr " << c.address;
}

class HostReportHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HostReportHeader, FromReportType) {
    const HeaderCase& c = GetParam();
    const HostReport r(c.type, c.direction, c.address);
    EXPECT_EQ(r.ID, c.id);
    EXPECT_EQ(r.HDR, c.hdr);
    EXPECT_EQ(r.CONTEXT, c.context);
    EXPECT_EQ(r.LEN, c.len);
    EXPECT_EQ(r.ADDR, c.address);
    EXPECT_TRUE(r.DATA.empty());
}

constexpr std::uint8_t R = HostReport::Read;
constexpr std::uint8_t W = HostReport::Write;

INSTANTIATE_TEST_SUITE_P(
    Types, HostReportHeader,
    ::testing::Values(HeaderCase{0x00, W, 0, 1, 0x00, 0, 2}, HeaderCase{0x01, W, 0, 1, 0x01, 0, 1},
                      HeaderCase{0x02, R, 0x200, 1, 0x82, 0, 0}, HeaderCase{0x04, R, 0, 1, 0x84, 0, 16},
                      HeaderCase{0x04, W, 0, 1, 0x04, 0, 2}, HeaderCase{0x06, R, 0, 1, 0x86, 0, 64},
                      HeaderCase{0x07, R, 0, 1, 0x87, 0, 2}, HeaderCase{0x0B, R, 0, 1, 0x8B, 0, 16},
                      HeaderCase{0x0D, W, 0, 1, 0x0D, 0, 0}, HeaderCase{0x11, R, 0, 4, 0x81, 0, 2},
                      HeaderCase{0x12, W, 5, 4, 0x02, 0, 64}, HeaderCase{0x13, R, 0, 4, 0x83, 0, 0},
                      HeaderCase{0x14, R, 0, 4, 0x84, 0, 8}, HeaderCase{0x15, W, 0, 4, 0x05, 0, 0},
                      HeaderCase{0x19, W, 0, 4, 0x09, 0, 0}, HeaderCase{0x20, R, 0, 1, 0x80, 1, 4},
                      HeaderCase{0x20, R, 1, 1, 0x80, 1, 2}, HeaderCase{0x20, R, 2, 1, 0x80, 1, 4},
                      HeaderCase{0x20, R, 7, 1, 0x80, 1, 0}, HeaderCase{0x20, W, 0, 1, 0x00, 1, 1},
                      HeaderCase{0x20, W, 3, 1, 0x00, 1, 0}, HeaderCase{0x21, W, 0, 1, 0x01, 1, 0},
                      HeaderCase{0x30, R, 0, 4, 0x80, 1, 4}, HeaderCase{0x30, W, 0, 4, 0x00, 1, 1},
                      HeaderCase{0x3F, W, 0, 4, 0x0F, 1, 0}, HeaderCase{0xFF, R, 0, 4, 0x8F, 1, 0}));

TEST(HostReportTest, PayloadBeyond64BytesIsNotSent) {
    HostReport r(0x12, HostReport::Write, 0);
    Bytes payload(70);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    r.SetPayload(payload);
    const Bytes& wire = r.Serialize();
    ASSERT_EQ(wire.size(), 7u + 64u + 2u);
    EXPECT_EQ(wire[3], 70);  // LEN is sent as stored
    EXPECT_EQ(wire[7 + 63], 63);
    const std::uint16_t crc = Qel::Crc16::Compute(std::span(wire.data(), 71));
    EXPECT_EQ(wire[71], crc & 0xFF);
    EXPECT_EQ(wire[72], crc >> 8);
}

TEST(HostReportTest, SerializationIsCachedAndCopiesStartAfresh) {
    HostReport original(0x11, HostReport::Read, 0);
    const Bytes first = original.Serialize();

    original.ADDR = 9;  // too late: the cache is never invalidated
    EXPECT_EQ(original.Serialize(), first);

    HostReport copy(original);  // serializes from its own fields
    EXPECT_EQ(copy.Serialize()[5], 9);

    HostReport assigned;
    assigned = original;
    assigned.ADDR = 7;
    EXPECT_EQ(assigned.Serialize()[5], 7);
}

TEST(DeviceReportTest, DecodesDeviceFrame) {
    const DeviceReport r = DecodeAll({0x05, 0x49, 0x00, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0x21, 0x46});
    EXPECT_EQ(r.Result(), Qel::DECODE_OK);
    EXPECT_TRUE(r.IsComplete());
    EXPECT_EQ(r.ID, 0x05);
    EXPECT_EQ(r.HDR, 0x49);
    EXPECT_EQ(r.LEN, 2);
    EXPECT_EQ(r.PayloadWord(), 0x1234);
    EXPECT_TRUE(r.Accepted());
    EXPECT_FALSE(r.InterlockAlarm());
}

TEST(DeviceReportTest, CrcCoversTheIdByte) {
    const DeviceReport r =
        DecodeAll({0x05, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA5, 0xF5});
    EXPECT_EQ(r.Result(), Qel::DECODE_CRC_ERROR);
    EXPECT_TRUE(r.IsComplete());
    EXPECT_TRUE(r.HasCrcError());
    EXPECT_EQ(r.LEN, 4);  // what arrived stays visible
    EXPECT_EQ(r.DATA.size(), 4u);
}

TEST(DeviceReportTest, GarbageBeforeFrameThenFrameDecodes) {
    DeviceReport r;
    r.Decode(0x00);
    EXPECT_EQ(r.Result(), Qel::DECODE_UNEXPECTED_CHAR);
    EXPECT_TRUE(r.HasUnexpectedChar());
    r.Decode(0x41);
    EXPECT_EQ(r.Result(), Qel::DECODE_UNEXPECTED_CHAR);
    r.Decode(0x05);
    EXPECT_EQ(r.Result(), Qel::DECODE_IN_PROGRESS);
    for (std::uint8_t b : {0x49, 0x00, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0x21, 0x46}) {
        r.Decode(b);
    }
    EXPECT_EQ(r.Result(), Qel::DECODE_OK);
    EXPECT_EQ(r.PayloadWord(), 0x1234);
}

TEST(DeviceReportTest, ZeroLengthFrameGoesStraightToCrc) {
    Bytes frame = {0x49, 0x40, 0x00, 0x00, 0x00, 0x07, 0x00};
    const std::uint16_t crc = Qel::Crc16::Compute(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    DeviceReport r = DecodeAll(frame);
    EXPECT_EQ(r.Result(), Qel::DECODE_IN_PROGRESS);  // one CRC byte still missing
    r.Decode(static_cast<std::uint8_t>(crc >> 8));
    EXPECT_EQ(r.Result(), Qel::DECODE_OK);
    EXPECT_EQ(r.ADDR, 7);
    EXPECT_TRUE(r.DATA.empty());
}

TEST(DeviceReportTest, FinishedDecoderIgnoresFurtherBytes) {
    DeviceReport r = DecodeAll({0x05, 0x49, 0x00, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0x21, 0x46});
    const DeviceReport before = r;
    for (std::uint8_t b : {0x02, 0x41, 0x00, 0x01, 0x00, 0x09, 0x00, 0x77, 0x00, 0x00}) {
        r.Decode(b);
    }
    EXPECT_EQ(r.Header(), before.Header());
    EXPECT_EQ(r.DATA, before.DATA);
    EXPECT_EQ(r.Result(), Qel::DECODE_OK);
}

TEST(DeviceReportTest, HeaderVisibleWhilePayloadArrivesAndCopiesKeepState) {
    // LEN 300: the decoder sets no upper bound on the length.
    DeviceReport r = DecodeAll({0x02, 0x40, 0x00, 0x2C, 0x01, 0x00, 0x00, 0xAA});
    EXPECT_EQ(r.LEN, 300);
    EXPECT_EQ(r.DATA.size(), 1u);
    EXPECT_EQ(r.Result(), Qel::DECODE_IN_PROGRESS);

    DeviceReport copy = r;  // carries on from the same point
    for (int i = 0; i < 299; ++i) {
        copy.Decode(0xBB);
    }
    EXPECT_EQ(copy.DATA.size(), 300u);
    EXPECT_EQ(r.DATA.size(), 1u);
    copy.Decode(0x00);
    copy.Decode(0x00);
    EXPECT_TRUE(copy.IsComplete());
}

TEST(DeviceReportTest, HdrStatusBits) {
    struct Case {
        std::uint8_t hdr;
        bool accepted, interlock, fault, rejected, not_acknowledged;
    };
    for (const Case& c : {Case{0x49, true, false, false, false, false}, Case{0x29, false, false, false, true, false},
                          Case{0x09, false, false, false, false, true}, Case{0x59, false, false, true, false, false},
                          Case{0xC9, true, true, false, false, false}}) {
        DeviceReport r;
        r.HDR = c.hdr;
        SCOPED_TRACE(c.hdr);
        EXPECT_EQ(r.Accepted(), c.accepted);
        EXPECT_EQ(r.InterlockAlarm(), c.interlock);
        EXPECT_EQ(r.FaultBit(), c.fault);
        EXPECT_EQ(r.Rejected(), c.rejected);
        EXPECT_EQ(r.NotAcknowledged(), c.not_acknowledged);
    }
}

TEST(IOReportTest, PayloadAccessors) {
    Qel::IOReport r;
    EXPECT_EQ(r.ID, 0xFF);

    r.SetPayload({'A', '1', '2', '-', 'x'});
    EXPECT_EQ(r.LEN, 5);
    EXPECT_EQ(r.PayloadText(), "A12");
    EXPECT_EQ(r.PayloadWords(), (std::vector<std::uint16_t>{0x3141, 0x2D32}));

    r.SetPayload({'Q', 'e', 'l', '7'});
    EXPECT_EQ(r.PayloadText(), "Qel7");

    r.SetPayload({1, 2, 3});
    EXPECT_EQ(r.PayloadDword(), 0u);
    EXPECT_EQ(r.PayloadWord(), 0x0201);
    r.SetPayload({1});
    EXPECT_EQ(r.PayloadWord(), 0);

    r.SetPayloadDwords({0x11223344U, 5U});
    EXPECT_EQ(r.DATA, (Bytes{0x44, 0x33, 0x22, 0x11, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(r.LEN, 8);
    EXPECT_EQ(r.PayloadDword(), 0x11223344U);

    r.SetPayloadWord(0xBEEF);
    EXPECT_EQ(r.DATA, (Bytes{0xEF, 0xBE}));
    EXPECT_EQ(r.LEN, 2);

    r.ClearPayload();
    EXPECT_TRUE(r.DATA.empty());
    EXPECT_EQ(r.LEN, 2);  // left alone

    r.SetHeader({0x05, 0x49, 0x01, 0x10, 0x0200});
    EXPECT_EQ(r.Header(), (Qel::ReportHeader{0x05, 0x49, 0x01, 0x10, 0x0200}));
}

TEST(IOReportTest, DumpLayout) {
    Qel::IOReport r;
    r.SetHeader({0x05, 0x49, 0x00, 0, 0x1234});
    Bytes data(20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    r.SetPayload(data);
    EXPECT_EQ(r.DumpText(),
              "ID: 05   HDR: 49   CONTEXT: 00   ADDR: 1234   LEN: 14\n"
              "DATA: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 \n"
              "11 12 13 ");

    r.SetPayload(Bytes(17, 0xAB));  // exactly one full first line: no trailing break
    const std::string text = r.DumpText();
    EXPECT_EQ(text.back(), ' ');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

    r.SetPayload({});
    std::ostringstream out;
    r.Dump(out);
    EXPECT_EQ(out.str(), "ID: 05   HDR: 49   CONTEXT: 00   ADDR: 1234   LEN: 00\nDATA: ");
}

}  // namespace
