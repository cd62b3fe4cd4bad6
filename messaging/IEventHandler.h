// IEventHandler: the receiver side of the observer mechanism (see IEventTrigger).
//
// A receiver derives from IEventHandler and overrides the callbacks it needs
// (the defaults do nothing). Callbacks run on the thread that notifies: for a
// connection manager's message events that is its parser thread or a
// transport thread, with no library lock held. Every handler gets a
// process-wide id, starting at 1, in construction order; handlers are equal
// when their ids are equal.
#pragma once

#include <cstdint>
#include <vector>

namespace Qel {

class IEventHandler {
public:
    IEventHandler();
    IEventHandler(const IEventHandler&) = delete;
    IEventHandler& operator=(const IEventHandler&) = delete;
    virtual ~IEventHandler();

    virtual void OnEventWithData(void* sender, int event, int param, std::vector<std::uint8_t> data);
    virtual void OnEventWithValue(void* sender, int event, double value);
    virtual void OnEventWithParams(void* sender, int event, int param1, int param2);
    virtual void OnEvent(void* sender, int event, int param);

    std::int32_t GetId() const { return id_; }

    friend bool operator==(const IEventHandler& a, const IEventHandler& b) { return a.id_ == b.id_; }

private:
    std::int32_t id_;
};

}  // namespace Qel

#include "messaging/IEventTrigger.h"
