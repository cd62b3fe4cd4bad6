// Runs alone in its own program: the process-wide counters must start at 1.
#include <gtest/gtest.h>

#include "messaging/IEventHandler.h"
#include "messaging/Message.h"

TEST(ProcessIds, FirstMessageAndFirstHandlerHaveIdOne) {
    const Qel::Message first(Qel::HostReport(0x11, Qel::HostReport::Read, 0));
    const Qel::Message second(Qel::HostReport{});
    EXPECT_EQ(first.Id(), 1);
    EXPECT_EQ(second.Id(), 2);

    const Qel::IEventHandler h1;
    const Qel::IEventHandler h2;
    EXPECT_EQ(h1.GetId(), 1);
    EXPECT_EQ(h2.GetId(), 2);
}
