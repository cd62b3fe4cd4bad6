#include "FirmwareUpgradeSupervisor.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct SupervisorCase {
    int event;
    const char* text;
};

// Every event id and the exact text it prints; ids outside 0..9 print nothing.
const SupervisorCase kCases[] = {
    {0, "F/W Upgrade: DONE!\n"},
    {1, "F/W Upgrade: >> ERROR <<\n"},
    {2, "F/W Upgrade: Started\n"},
    {3, "F/W Upgrade: Initialize OK\n"},
    {4, "F/W Upgrade: Check ID OK\n"},
    {5, "F/W Upgrade: Entered Upgrade Mode\n"},
    {6, "F/W Upgrade: Erase OK\n"},
    {7, "F/W Upgrade: Program OK\nPlease cycle power to enable upgrade\n"},
    {8, "F/W Upgrade: Verify OK\n"},
    {9, "F/W Upgrade: Leaving Upgrade Mode\n"},
    {-1, ""},
    {10, ""},
};

TEST(FirmwareUpgradeSupervisor, PrintsTheLinesOfEachEvent) {
    for (const auto& c : kCases) {
        std::ostringstream out;
        FirmwareUpgradeSupervisor supervisor(out);
        // Sender and parameter are ignored.
        supervisor.OnEvent(&out, c.event, 42);
        EXPECT_EQ(out.str(), c.text) << "event " << c.event;
    }
}

}  // namespace
