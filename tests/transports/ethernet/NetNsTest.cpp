// The test network harness itself: the process is cut off from the machine's
// interfaces, and namespaces, links and processes vanish with their owners.
#include <ifaddrs.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include <set>

#include "NetNs.h"

namespace {

std::set<std::string> InterfaceNames()
{
    std::set<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return names;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) names.insert(entry->ifa_name);
    freeifaddrs(list);
    return names;
}

bool NamespaceListed(const std::string& name)
{
    const auto result = QelTest::RunProcess({"ip", "netns", "list"});
    return result.output.find(name + " ") != std::string::npos || result.output.find(name + "\n") != std::string::npos;
}

TEST(NetNsHarness, TheProcessSeesNoInterfaceButLoopback)
{
    ASSERT_TRUE(QelTest::ProcessIsolated()) << QelTest::IsolationError();
    // Exactly loopback: an empty list (the interfaces could not be read)
    // must not pass either.
    EXPECT_EQ(InterfaceNames(), std::set<std::string>{"lo"});
}

TEST(NetNsHarness, NamespacesLinksAndProcessesAreRemovedWithTheirOwners)
{
    ASSERT_TRUE(QelTest::ProcessIsolated()) << QelTest::IsolationError();
    std::string left_name;
    pid_t pid = -1;
    {
        QelTest::NetNs left("left");
        QelTest::NetNs right("right");
        left_name = left.Name();
        EXPECT_NE(left_name.find(std::to_string(getpid())), std::string::npos);
        QelTest::AddVeth(left, "a0", "198.51.100.1/24", right, "b0", "198.51.100.2/24");
        EXPECT_NE(left.RunChecked({"ip", "-br", "addr"}).find("198.51.100.1/24"), std::string::npos);
        {
            QelTest::ScopedNetNs inside(left);
            const auto names = InterfaceNames();
            EXPECT_TRUE(names.count("a0"));
        }
        EXPECT_FALSE(InterfaceNames().count("a0")) << "ScopedNetNs did not return";
        QelTest::BackgroundProcess sleeper(right, {"/bin/sleep", "60"});
        pid = sleeper.Pid();
        EXPECT_TRUE(sleeper.Running());
        EXPECT_TRUE(NamespaceListed(left_name));
    }
    EXPECT_FALSE(NamespaceListed(left_name));
    EXPECT_NE(kill(pid, 0), 0);
}

} // namespace
