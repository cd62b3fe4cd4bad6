// A message-event handler for tests: records every callback with its form,
// parameters and arrival time, and lets a test wait (bounded) for a condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "messaging/IConnectionManager.h"
#include "messaging/IEventHandler.h"

namespace QelTest {

struct RecordedEvent {
    enum class Form { One, Two, Data, Value };
    int event = 0;
    int param1 = 0;
    int param2 = 0;
    std::vector<std::uint8_t> data;
    Form form = Form::One;
    std::chrono::steady_clock::time_point when;
};

class EventRecorder : public Qel::IEventHandler {
public:
    // Every message event of a connection manager (ids 0..14).
    void SubscribeAll(Qel::IConnectionManager& manager) {
        for (int id = 0; id <= 14; ++id) {
            manager.Subscribe(id, this);
        }
    }
    void UnsubscribeAll(Qel::IConnectionManager& manager) {
        for (int id = 0; id <= 14; ++id) {
            manager.Unsubscribe(id, this);
        }
    }

    void OnEvent(void*, int event, int param) override { Add({event, param, 0, {}, RecordedEvent::Form::One, {}}); }
    void OnEventWithParams(void*, int event, int p1, int p2) override {
        Add({event, p1, p2, {}, RecordedEvent::Form::Two, {}});
    }
    void OnEventWithData(void*, int event, int param, std::vector<std::uint8_t> data) override {
        Add({event, param, 0, std::move(data), RecordedEvent::Form::Data, {}});
    }
    void OnEventWithValue(void*, int event, double) override { Add({event, 0, 0, {}, RecordedEvent::Form::Value, {}}); }

    std::vector<RecordedEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Events with this id, in arrival order.
    std::vector<RecordedEvent> Of(int event) const {
        std::vector<RecordedEvent> out;
        for (const RecordedEvent& e : Events()) {
            if (e.event == event) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::size_t Count(int event) const { return Of(event).size(); }
    std::size_t Count(int event, int param) const {
        std::size_t n = 0;
        for (const RecordedEvent& e : Events()) {
            n += (e.event == event && e.param1 == param) ? 1 : 0;
        }
        return n;
    }
    bool WaitFor(int event, int param, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
        return WaitUntil([&](const std::vector<RecordedEvent>& events) {
            for (const RecordedEvent& e : events) {
                if (e.event == event && e.param1 == param) {
                    return true;
                }
            }
            return false;
        }, bound);
    }
    // The first recorded event with this id, waiting up to `bound`.
    bool WaitFor(int event, RecordedEvent& found, std::chrono::milliseconds bound = std::chrono::milliseconds(10000)) {
        return WaitUntil([&](const std::vector<RecordedEvent>& events) {
            for (const RecordedEvent& e : events) {
                if (e.event == event) {
                    found = e;
                    return true;
                }
            }
            return false;
        }, bound);
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    bool WaitForCount(int event, std::size_t count, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
        return WaitUntil([&](const std::vector<RecordedEvent>& events) {
            std::size_t n = 0;
            for (const RecordedEvent& e : events) {
                n += e.event == event ? 1 : 0;
            }
            return n >= count;
        }, bound);
    }
    bool WaitUntil(const std::function<bool(const std::vector<RecordedEvent>&)>& done,
                   std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return done(events_); });
    }

private:
    void Add(RecordedEvent e) {
        e.when = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RecordedEvent> events_;
};

}  // namespace QelTest
