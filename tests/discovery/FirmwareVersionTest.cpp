#include "discovery/FirmwareVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>

namespace {

using Qel::DecodeVersion;
using Qel::FirmwareVersion;
using Qel::PrintVersion;

std::string Printed(const FirmwareVersion& version) {
    std::ostringstream out;
    PrintVersion(out, version);
    return out.str();
}

// Sets the local time zone for one test and restores the previous one.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* previous = std::getenv("TZ")) {
            previous_ = previous;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (previous_) {
            setenv("TZ", previous_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(FirmwareVersion, DecodesTheFourVersionWords) {
    const FirmwareVersion v = DecodeVersion({0x0203, 47, 0x2574, 0x0E1E});
    EXPECT_EQ(v.Major, 2);
    EXPECT_EQ(v.Minor, 3);
    EXPECT_EQ(v.Revision, 47);
    EXPECT_EQ(v.BuildTime.tm_year + 1900, 2018);
    EXPECT_EQ(v.BuildTime.tm_mon, 10);  // November
    EXPECT_EQ(v.BuildTime.tm_mday, 20);
    EXPECT_EQ(v.BuildTime.tm_hour, 14);
    EXPECT_EQ(v.BuildTime.tm_min, 30);
    EXPECT_EQ(v.BuildTime.tm_sec, 0);
    EXPECT_EQ(v.BuildTime.tm_wday, 1);
    EXPECT_EQ(v.BuildTime.tm_yday, 1);
    EXPECT_EQ(v.BuildTime.tm_isdst, 0);
}

TEST(FirmwareVersion, ShortAndLongRepliesAreMadeFourWordsLong) {
    struct Case {
        const char* what;
        std::vector<std::uint16_t> words;
        int major, minor, revision, year, month, day, hour, minute;
    };
    const Case cases[] = {
        {"three words: no time of day", {0x0203, 47, 0x2574}, 2, 3, 47, 2018, 10, 20, 0, 0},
        {"extra words ignored", {0x0203, 47, 0x2574, 0x0E1E, 0xFFFF, 0x1234}, 2, 3, 47, 2018, 10, 20, 14, 30},
        {"no words", {}, 0, 0, 0, 2000, -1, 0, 0, 0},
        {"largest fields", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 255, 255, 65535, 2127, 14, 31, 255, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FirmwareVersion v = DecodeVersion(c.words);
        EXPECT_EQ(v.Major, c.major);
        EXPECT_EQ(v.Minor, c.minor);
        EXPECT_EQ(v.Revision, c.revision);
        EXPECT_EQ(v.BuildTime.tm_year + 1900, c.year);
        EXPECT_EQ(v.BuildTime.tm_mon, c.month);
        EXPECT_EQ(v.BuildTime.tm_mday, c.day);
        EXPECT_EQ(v.BuildTime.tm_hour, c.hour);
        EXPECT_EQ(v.BuildTime.tm_min, c.minute);
    }
}

TEST(FirmwareVersion, PrintsNumbersDateAndLocalZoneName) {
    const FirmwareVersion v = DecodeVersion({0x0203, 47, 0x2574, 0x0E1E});
    {
        ScopedTimeZone zone("UTC0");
        // 20 November 2018 was a Tuesday; the device reports no weekday.
        EXPECT_EQ(Printed(v), "2.3.47  Mon Nov 20 2018 14:30 UTC");
    }
    {
        ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(Printed(v), "2.3.47  Mon Nov 20 2018 14:30 CET");
    }
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(Printed(DecodeVersion({0x0105, 65535, 0x2574})), "1.5.65535  Mon Nov 20 2018 00:00 UTC");
}

TEST(FirmwareVersion, VersionWithoutACalendarDatePrintsAPlaceholder) {
    ScopedTimeZone zone("UTC0");
    struct Case {
        const char* what;
        FirmwareVersion version;
        const char* text;
    };
    const Case cases[] = {
        {"unread", FirmwareVersion{}, "-1.0.0  (build date unknown)"},
        {"no words", DecodeVersion({}), "0.0.0  (build date unknown)"},
        {"day 0", DecodeVersion({0x0203, 47, 0x2560, 0x0E1E}), "2.3.47  (build date unknown)"},
        {"month 0", DecodeVersion({0x0203, 47, 0x2414, 0x0E1E}), "2.3.47  (build date unknown)"},
        {"month 13", DecodeVersion({0x0203, 47, 0x25B4, 0x0E1E}), "2.3.47  (build date unknown)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Printed(c.version), c.text);
    }
}

TEST(FirmwareVersion, PrintReturnsTheStreamForChaining) {
    ScopedTimeZone zone("UTC0");
    std::ostringstream out;
    PrintVersion(out << "[", DecodeVersion({0x0203, 47, 0x2574, 0x0E1E})) << "]";
    EXPECT_EQ(out.str(), "[2.3.47  Mon Nov 20 2018 14:30 UTC]");
}

}  // namespace
