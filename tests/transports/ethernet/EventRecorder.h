// Records the message events a connection manager raises, for tests that
// wait for one with a generous bound. Callbacks arrive on the manager's
// threads; mutex_ guards everything recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "messaging/IConnectionManager.h"
#include "messaging/IEventHandler.h"
#include "messaging/Message.h"

namespace QelTest {

struct RecordedEvent {
    int event = -1;
    int param = 0;
    int param2 = 0;
    std::vector<std::uint8_t> data;
};

class EventRecorder : public Qel::IEventHandler {
public:
    void SubscribeAll(Qel::IConnectionManager& manager)
    {
        for (int id = 0; id <= 14; ++id) manager.Subscribe(id, this);
    }
    void UnsubscribeAll(Qel::IConnectionManager& manager)
    {
        for (int id = 0; id <= 14; ++id) manager.Unsubscribe(id, this);
    }

    void OnEvent(void*, int event, int param) override { Record({event, param, 0, {}}); }
    void OnEventWithParams(void*, int event, int p1, int p2) override { Record({event, p1, p2, {}}); }
    void OnEventWithData(void*, int event, int param, std::vector<std::uint8_t> data) override
    {
        Record({event, param, 0, std::move(data)});
    }

    // The first recorded event with this id, waiting up to `bound`.
    bool WaitFor(int event, RecordedEvent& found, std::chrono::milliseconds bound = std::chrono::milliseconds(10000))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] {
            for (const auto& e : events_) {
                if (e.event == event) {
                    found = e;
                    return true;
                }
            }
            return false;
        });
    }
    int Count(int event)
    {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& e : events_) n += e.event == event ? 1 : 0;
        return n;
    }
    std::vector<RecordedEvent> Events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    void Record(RecordedEvent e)
    {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RecordedEvent> events_;
};

} // namespace QelTest
