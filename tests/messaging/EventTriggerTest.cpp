#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "messaging/IEventHandler.h"

namespace {

// Appends "<name>:<form>:<event>:<params>" to a shared call log.
class Probe : public Qel::IEventHandler {
public:
    Probe(std::string name, std::vector<std::string>& calls) : name_(std::move(name)), calls_(calls) {}
    void OnEvent(void*, int event, int param) override {
        calls_.push_back(name_ + ":one:" + std::to_string(event) + ":" + std::to_string(param));
    }
    void OnEventWithParams(void*, int event, int p1, int p2) override {
        calls_.push_back(name_ + ":two:" + std::to_string(event) + ":" + std::to_string(p1) + "," + std::to_string(p2));
    }
    void OnEventWithValue(void*, int event, double value) override {
        calls_.push_back(name_ + ":value:" + std::to_string(event) + ":" + std::to_string(value));
    }
    void OnEventWithData(void*, int event, int param, std::vector<std::uint8_t> data) override {
        calls_.push_back(name_ + ":data:" + std::to_string(event) + ":" + std::to_string(param) + "/" +
                         std::to_string(data.size()));
        data.clear();  // our own copy: the next handler must still see every byte
    }

private:
    std::string name_;
    std::vector<std::string>& calls_;
};

class EventTriggerTest : public ::testing::Test {
protected:
    EventTriggerTest() { trigger.SetEventCount(3); }
    std::vector<std::string> calls;
    Probe a{"a", calls};
    Probe b{"b", calls};
    Qel::IEventTrigger trigger;
};

TEST_F(EventTriggerTest, HandlersCalledInSubscriptionOrderWithEachForm) {
    ASSERT_TRUE(trigger.Subscribe(1, &b));
    ASSERT_TRUE(trigger.Subscribe(1, &a));
    int sender = 0;
    trigger.Notify(&sender, 1, 7);
    trigger.Notify(&sender, 1, 3, 4);
    trigger.Notify(&sender, 1, 0.5);
    trigger.Notify(&sender, 1, 9, std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(calls, (std::vector<std::string>{"b:one:1:7", "a:one:1:7", "b:two:1:3,4", "a:two:1:3,4",
                                               "b:value:1:0.500000", "a:value:1:0.500000", "b:data:1:9/3",
                                               "a:data:1:9/3"}));
}

TEST_F(EventTriggerTest, IdsOutsideTheRangeDoNothing) {
    EXPECT_FALSE(trigger.Subscribe(3, &a));
    EXPECT_FALSE(trigger.Subscribe(-1, &a));
    EXPECT_FALSE(trigger.Subscribe(0, nullptr));
    ASSERT_TRUE(trigger.Subscribe(0, &a));
    trigger.Notify(nullptr, 3, 1);
    trigger.Notify(nullptr, -1, 1);
    trigger.Unsubscribe(3, &a);
    trigger.Unsubscribe(-1, &a);
    trigger.Notify(nullptr, 2, 1);  // no subscribers
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(trigger.SubscriberCount(0), 1u);
}

TEST_F(EventTriggerTest, DoubleSubscriptionCalledTwiceAndRemovedAtOnce) {
    trigger.Subscribe(2, &a);
    trigger.Subscribe(2, &b);
    trigger.Subscribe(2, &a);
    trigger.Notify(nullptr, 2, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:one:2:0", "b:one:2:0", "a:one:2:0"}));

    calls.clear();
    trigger.Unsubscribe(2, &a);
    trigger.Notify(nullptr, 2, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"b:one:2:0"}));

    trigger.Unsubscribe(1, &b);  // never subscribed there: nothing changes
    EXPECT_EQ(trigger.SubscriberCount(2), 1u);
}

TEST(EventTriggerLifetime, SetEventCountAndDestruction) {
    Qel::IEventTrigger none;
    none.SetEventCount(0);
    EXPECT_EQ(none.EventCount(), 0);
    none.SetEventCount(-4);
    EXPECT_EQ(none.EventCount(), 0);

    std::vector<std::string> calls;
    Probe survivor{"s", calls};
    {
        auto trigger = std::make_unique<Qel::IEventTrigger>();
        trigger->SetEventCount(1);
        trigger->Subscribe(0, &survivor);
    }
    survivor.OnEvent(nullptr, 0, 1);  // still a live object after its trigger went
    EXPECT_EQ(calls.size(), 1u);
}

TEST(EventHandlerIds, ConsecutiveAndCompareById) {
    Qel::IEventHandler first;
    Qel::IEventHandler second;
    EXPECT_EQ(second.GetId(), first.GetId() + 1);
    EXPECT_FALSE(first == second);
    EXPECT_TRUE(first == first);
}

}  // namespace
