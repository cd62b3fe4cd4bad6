// What the simulated units answer to each register the host reads, and how
// every answer is framed.
#include <gtest/gtest.h>

#include "sim/Device.h"
#include "tests/sim/SimHost.h"

namespace {

using namespace QelSimTest;
using Bytes = std::vector<std::uint8_t>;

QelSim::Profile TestProfile() {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.controller_version = QelSim::FirmwareVersion{2, 3, 47, 2018, 11, 20, 14, 30};
    profile.synth_version = QelSim::FirmwareVersion{1, 9, 300, 2001, 2, 3, 4, 5};
    profile.serial = "Ulix31234";
    profile.single_image_points = 100;
    profile.single_image_uuid.fill(0x5A);
    QelSim::FileSystemEntry entry;
    entry.uuid.fill(0x11);
    entry.byte_length = 0x01020304;
    entry.points = 7;
    entry.word_a = 0xAABBCCDD;
    entry.word_b = 9;
    entry.kind = 3;
    entry.name = "waveform";
    profile.file_system = {entry, entry};
    return profile;
}

Bytes Repeat(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct RegisterCase {
    const char* what;
    Bytes request;
    bool rejected;
    Bytes payload;
};

TEST(SimRegisters, EachRegisterAnswersAsTheHostReadsIt) {
    const Bytes entry_bytes = Concat({Repeat(16, 0x11), {0x04, 0x03, 0x02, 0x01}, {7, 0, 0, 0}, {0xDD, 0xCC, 0xBB, 0xAA},
                                      {9, 0, 0, 0}, {3}, {'w', 'a', 'v', 'e', 'f', 'o', 'r', 'm'}, Repeat(8, 0)});
    const RegisterCase cases[] = {
        {"controller magic", Read(0x11, 0, 2), false, {0x0F, 0xC5}},
        // 2.3.47 built 2018-11-20 14:30: 0x0203, 47, 0x2574, 0x0E1E.
        {"controller version", Read(0x11, 5, 8), false, {0x03, 0x02, 47, 0, 0x74, 0x25, 0x1E, 0x0E}},
        {"single-image point count", Read(0x11, 48, 2), false, {100, 0}},
        {"single-image uuid", Read(0x11, 56, 16), false, Repeat(16, 0x5A)},
        {"synthesiser magic", Read(0x07, 0, 2), false, {0x0F, 0xC5}},
        {"synthesiser version", Read(0x07, 5, 8), false, {0x09, 0x01, 0x2C, 0x01, 0x43, 0x02, 0x05, 0x04}},
        {"file-system count", Read(0x15, 0, 2, 4), false, {2, 0}},
        {"file-system entry", Read(0x15, 1, 49, 2), false, entry_bytes},
        {"memory-transfer set-up past the table", Read(0x15, 40, 49, 2), false, {}},
        {"serial number", Read(0x13, 0, 16), false, Concat({{'U', 'l', 'i', 'x', '3', '1', '2', '3', '4'}, Repeat(7, 0)})},
        {"EEPROM table head", Read(0x02, 0x200, 4), false, {0x0F, 0xC5, 1, 1}},
        {"closing report", Write(0x19, 0, {0, 0, 0, 0}), false, {}},
        {"chunk set-up", Write(0x14, 0, Repeat(8, 1)), false, {}},
        {"image size", Read(0x20, 2, 4), false, {0, 0, 1, 0}},
        {"unknown controller register", Read(0x11, 3, 2), true, {}},
        {"write to a read-only register", Write(0x11, 0, {1, 2}), true, {}},
        {"unknown report type", Read(0x0A, 0, 16), true, {}},
        {"file-system table in another context", Read(0x15, 0, 2, 3), true, {}},
        {"EEPROM read past its end", Read(0x02, 0xFFF0, 64, 0), true, {}},
        {"upgrade channel, unknown address", Read(0x20, 7, 0), true, {}},
        {"upgrade channel, unknown command", Write(0x20, 0, {9}), true, {}},
    };
    QelSim::Device device(TestProfile());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto answer = Ask(device, c.request);
        ASSERT_TRUE(answer);
        EXPECT_EQ(IsRejected(*answer), c.rejected);
        if (!c.rejected) {
            EXPECT_TRUE(IsAcknowledged(*answer));
            EXPECT_EQ(answer->payload, c.payload);
        }
        // Every answer echoes the request's type nibble, CONTEXT and ADDR.
        EXPECT_EQ(answer->hdr & 0x0F, c.request[1] & 0x0F);
        EXPECT_EQ(answer->context, c.request[2]);
        EXPECT_EQ(answer->addr, c.request[5] | c.request[6] << 8);
    }
    EXPECT_EQ(device.GetCounters().messages, std::size(cases));
    EXPECT_EQ(device.GetCounters().answers, std::size(cases));
}

TEST(SimRegisters, AnswersCarryTheIdOfTheirKind) {
    QelSim::Device device(TestProfile());
    EXPECT_EQ(Ask(device, Read(0x11, 0, 2))->id, QelSim::kIdData);
    EXPECT_EQ(Ask(device, Write(0x19, 0, {0, 0, 0, 0}))->id, QelSim::kIdAcknowledge);
    EXPECT_EQ(Ask(device, Read(0x0A, 0, 2))->id, QelSim::kIdRejected);
}

TEST(SimRegisters, HostReportWithBadCrcIsRejectedSoMatchingStaysInOrder) {
    QelSim::Device device(TestProfile());
    Bytes broken = Read(0x11, 0, 2);
    broken.back() ^= 0x40;
    Bytes stream = broken;
    const Bytes good = Read(0x07, 0, 2);
    stream.insert(stream.end(), good.begin(), good.end());
    const auto outputs = device.Consume(stream);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(IsRejected(*QelSim::DecodeDeviceFrame(outputs[0].bytes)));
    EXPECT_EQ(QelSim::DecodeDeviceFrame(outputs[1].bytes)->payload, (Bytes{0x0F, 0xC5}));
    EXPECT_EQ(device.GetCounters().bad_crc, 1u);
}

TEST(SimRegisters, EveryPresetAnswersItsOwnMagicNumbers) {
    const std::pair<const char*, std::pair<int, int>> expected[] = {
        {"ulix3", {50447, 50447}},     {"qel4-lite", {1193, 51195}}, {"qel4b-liteb", {47596, 61075}},
        {"qel4b-pro", {44332, 53399}}, {"qeli-pro", {44332, 19459}}, {"qeliai-pro", {44332, 38909}},
        {"unknown", {4660, 4661}},
    };
    ASSERT_EQ(QelSim::ProfileNames().size(), std::size(expected));
    EXPECT_EQ(QelSim::ProfileNames().front(), "ulix3");
    for (const auto& [name, magic] : expected) {
        SCOPED_TRACE(name);
        const auto profile = QelSim::ProfileByName(name);
        ASSERT_TRUE(profile);
        QelSim::Device device(*profile);
        EXPECT_EQ(Le(Ask(device, Read(0x11, 0, 2))->payload), static_cast<std::uint32_t>(magic.first));
        EXPECT_EQ(Le(Ask(device, Read(0x07, 0, 2))->payload), static_cast<std::uint32_t>(magic.second));
        // Only the upgradable combined board opens its upgrade channel.
        EXPECT_EQ(IsRejected(*Ask(device, Read(0x20, 0, 4))), std::string(name) != "ulix3");
        // The EEPROM table starts with the synthesiser's own magic number.
        EXPECT_EQ(Le(Ask(device, Read(0x02, 0x200, 2))->payload), static_cast<std::uint32_t>(magic.second));
    }
    EXPECT_FALSE(QelSim::ProfileByName("nonesuch"));
}

TEST(SimRegisters, MemoryTransferBlocksAreStoredAndReadBack) {
    QelSim::Device device(TestProfile());
    Bytes block(64);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    EXPECT_TRUE(IsAcknowledged(*Ask(device, Write(0x12, 0x0003, block, 0x01))));
    EXPECT_EQ(device.MemoryBlock(0x10003), block);
    EXPECT_EQ(Ask(device, Read(0x12, 0x0003, 64, 0x01))->payload, block);
    EXPECT_EQ(Ask(device, Read(0x12, 0x0004, 64, 0x01))->payload, Bytes(64, 0));
}

}  // namespace
