#include "transports/settings/CS_ETH.h"
#include "transports/settings/CS_RS422.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Qel::CS_ETH;
using Qel::CS_RS422;

TEST(ConnectionSettings, DefaultsAndIdents) {
    CS_ETH eth;
    EXPECT_EQ(eth.Ident(), "CS_ETH");
    EXPECT_EQ(eth.Data(), (Bytes{0x01, 0xC0, 0xA8, 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01}));
    EXPECT_TRUE(eth.SettingsFlag());
    EXPECT_EQ(eth.Address().to_string(), "192.168.1.10");
    EXPECT_EQ(eth.Netmask().to_string(), "255.255.255.0");
    EXPECT_EQ(eth.Gateway().to_string(), "192.168.1.1");

    CS_RS422 serial;
    EXPECT_EQ(serial.Ident(), "CS_RS422");
    EXPECT_EQ(serial.Data(), (Bytes{0x00, 0xC2, 0x01, 0x00}));
    EXPECT_EQ(serial.BaudRate(), 115200u);

    // The names are program-wide constants: every object hands out the same string.
    EXPECT_EQ(&eth.Ident(), &CS_ETH().Ident());
    EXPECT_EQ(&serial.Ident(), &CS_RS422::KindName());
}

TEST(ConnectionSettings, EthernetImageIsLoadedAndKeptAsGiven) {
    struct Case {
        const char* what;
        Bytes input;
        bool flag;
        const char* address;
        const char* netmask;
        const char* gateway;
    };
    const Case cases[] = {
        {"full image", {0x01, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0xFE},
         true, "10.0.0.1", "255.0.0.0", "10.0.0.254"},
        {"flag byte 2 reads true", {0x02, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0xFE},
         true, "10.0.0.1", "255.0.0.0", "10.0.0.254"},
        {"longer input", {0x00, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0xFE, 0x55, 0x66},
         false, "10.0.0.1", "255.0.0.0", "10.0.0.254"},
        // Short input: fields whose bytes are all present are loaded, the rest keep their values.
        {"twelve bytes", {0x00, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00},
         false, "10.0.0.1", "255.0.0.0", "192.168.1.1"},
        {"seven bytes", {0x00, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0x00}, false, "10.0.0.1", "255.255.255.0", "192.168.1.1"},
        {"flag only", {0x00}, false, "192.168.1.10", "255.255.255.0", "192.168.1.1"},
        {"empty", {}, true, "192.168.1.10", "255.255.255.0", "192.168.1.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CS_ETH eth;
        // Exact-size copy so that the address sanitizer sees any read past the input.
        const Bytes input(c.input.begin(), c.input.end());
        eth.ProcessData(input);
        EXPECT_EQ(eth.Data(), c.input);
        EXPECT_EQ(eth.SettingsFlag(), c.flag);
        EXPECT_EQ(eth.Address().to_string(), c.address);
        EXPECT_EQ(eth.Netmask().to_string(), c.netmask);
        EXPECT_EQ(eth.Gateway().to_string(), c.gateway);
    }
}

TEST(ConnectionSettings, SerialImageIsCutOrFilledToFourBytes) {
    struct Case {
        Bytes input;
        Bytes image;
        std::uint32_t baud_rate;
    };
    const Case cases[] = {
        {{0x00, 0x96}, {0x00, 0x96, 0x00, 0x00}, 38400},
        {{0x80, 0x25, 0x00, 0x00, 0x77, 0x88}, {0x80, 0x25, 0x00, 0x00}, 9600},
        {{}, {0x00, 0x00, 0x00, 0x00}, 0},
        {{0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
    };
    for (const Case& c : cases) {
        CS_RS422 serial;
        serial.ProcessData(c.input);
        EXPECT_EQ(serial.Data(), c.image);
        EXPECT_EQ(serial.BaudRate(), c.baud_rate);
    }
}

TEST(ConnectionSettings, SetBaudRateRebuildsTheImage) {
    CS_RS422 serial;
    serial.SetBaudRate(9600);
    EXPECT_EQ(serial.Data(), (Bytes{0x80, 0x25, 0x00, 0x00}));
    EXPECT_EQ(serial.BaudRate(), 9600u);
}

TEST(ConnectionSettings, CopiesAreDeepAndPolymorphicCallsReachTheKind) {
    CS_ETH eth;
    CS_ETH copy = eth;
    copy.ProcessData({0x00, 0x0A, 0x00, 0x00, 0x01});
    EXPECT_EQ(eth.Address().to_string(), "192.168.1.10");
    EXPECT_EQ(copy.Address().to_string(), "10.0.0.1");

    CS_RS422 serial;
    CS_RS422 other;
    other.SetBaudRate(9600);
    serial = other;
    other.SetBaudRate(19200);
    EXPECT_EQ(serial.BaudRate(), 9600u);

    Qel::IConnectionSettings& settings = serial;
    settings.ProcessData({0x00, 0x96});
    EXPECT_EQ(serial.BaudRate(), 38400u);
    EXPECT_EQ(settings.Ident(), "CS_RS422");
}

}  // namespace
