// The model's own codec against known frames (worked out independently of
// both implementations) and against awkward stream splits.
#include <string>

#include <gtest/gtest.h>

#include "sim/Frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SimFrame, CrcMatchesTheCatalogueCheckValue) {
    const std::string digits = "123456789";
    EXPECT_EQ(QelSim::Crc16(Bytes(digits.begin(), digits.end())), 0xFEE8);
}

struct KnownHostFrame {
    const char* what;
    std::uint8_t id, hdr, context;
    std::uint16_t len, addr;
    Bytes payload;
    Bytes wire;
    std::uint8_t type;
};

TEST(SimFrame, HostFramesEncodeAndDecodeToKnownBytes) {
    const KnownHostFrame cases[] = {
        {"serial-number read", 4, 0x83, 0, 16, 0, {}, {0x04, 0x83, 0x00, 0x10, 0x00, 0x00, 0x00, 0xCE, 0xCC}, 0x13},
        {"closing report", 4, 0x09, 0, 4, 0, {0, 0, 0, 0},
         {0x04, 0x09, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA5, 0xF5}, 0x19},
        {"upgrade status poll", 1, 0x80, 1, 4, 0, {}, {0x01, 0x80, 0x01, 0x04, 0x00, 0x00, 0x00, 0xE0, 0x51}, 0x20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(QelSim::EncodeHostFrame(c.id, c.hdr, c.context, c.len, c.addr, c.payload), c.wire);
        QelSim::HostFrameDecoder decoder;
        const auto frames = decoder.Feed(c.wire);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(frames[0].crc_ok);
        EXPECT_EQ(frames[0].len, c.len);
        EXPECT_EQ(frames[0].payload, c.payload);
        EXPECT_EQ(frames[0].ReportType(), c.type);
    }
}

TEST(SimFrame, DeviceFrameEncodesToKnownBytes) {
    QelSim::DeviceFrame frame{0x05, 0x49, 0x00, 0x0000, {0x34, 0x12}};
    const Bytes wire{0x05, 0x49, 0x00, 0x02, 0x00, 0x00, 0x00, 0x34, 0x12, 0x21, 0x46};
    EXPECT_EQ(QelSim::EncodeDeviceFrame(frame), wire);
    const auto decoded = QelSim::DecodeDeviceFrame(wire);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->payload, frame.payload);
    Bytes broken = wire;
    broken[0] = 0x02;  // the CRC covers the ID byte
    EXPECT_FALSE(QelSim::DecodeDeviceFrame(broken));
}

TEST(SimFrame, StreamSplitAnyhowWithGarbageYieldsEveryFrameInOrder) {
    Bytes stream{0x00, 0x41};  // cannot start a report
    for (std::uint16_t addr = 0; addr < 5; ++addr) {
        const Bytes frame = addr % 2 ? QelSim::EncodeHostFrame(1, 0x02, 0, 3, addr, Bytes{1, 2, 3})
                                     : QelSim::EncodeHostFrame(4, 0x81, 0, 2, addr);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{5}, stream.size()}) {
        SCOPED_TRACE(chunk);
        QelSim::HostFrameDecoder decoder;
        std::vector<QelSim::HostFrame> frames;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const auto part = std::span(stream).subspan(at, std::min(chunk, stream.size() - at));
            for (auto& f : decoder.Feed(part)) frames.push_back(std::move(f));
        }
        ASSERT_EQ(frames.size(), 5u);
        for (std::uint16_t addr = 0; addr < 5; ++addr) {
            EXPECT_EQ(frames[addr].addr, addr);
            EXPECT_TRUE(frames[addr].crc_ok);
            EXPECT_EQ(frames[addr].payload.size(), addr % 2 ? 3u : 0u);
        }
        EXPECT_EQ(decoder.SkippedBytes(), 2u);
    }
}

TEST(SimFrame, BadCrcIsFlaggedAndTheNextFrameStillDecodes) {
    Bytes stream = QelSim::EncodeHostFrame(4, 0x81, 0, 2, 0);
    stream.back() ^= 0x01;
    const Bytes good = QelSim::EncodeHostFrame(4, 0x81, 0, 2, 5);
    stream.insert(stream.end(), good.begin(), good.end());
    QelSim::HostFrameDecoder decoder;
    const auto frames = decoder.Feed(stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].crc_ok);
    EXPECT_TRUE(frames[1].crc_ok);
    EXPECT_EQ(frames[1].addr, 5);
}

TEST(SimFrame, WriteClaimingMoreThan64BytesCarriesOnly64) {
    const Bytes payload(64, 0xAB);
    // LEN says 100 but a host never puts more than 64 bytes on the wire.
    const Bytes wire = QelSim::EncodeHostFrame(1, 0x02, 0, 100, 0x200, Bytes(100, 0xAB));
    EXPECT_EQ(wire.size(), 7u + 64u + 2u);
    QelSim::HostFrameDecoder decoder;
    const auto frames = decoder.Feed(wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].crc_ok);
    EXPECT_EQ(frames[0].len, 100);
    EXPECT_EQ(frames[0].payload, payload);
}

}  // namespace
