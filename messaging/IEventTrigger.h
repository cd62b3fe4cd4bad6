// IEventTrigger: the source side of the observer mechanism.
//
// An event source owns one trigger with a fixed count of event ids (0..n-1);
// Notify calls every handler subscribed to that id, in subscription order, on
// the notifying thread. The trigger takes no lock: Subscribe and Unsubscribe
// must not run while a Notify of the same trigger is in progress, so users
// subscribe before the work that raises events starts and unsubscribe after
// it has ended. Ids outside 0..n-1 are ignored (Subscribe answers false).
// Handlers are referenced, never owned.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace Qel {

class IEventHandler;

class IEventTrigger {
public:
    IEventTrigger() = default;
    IEventTrigger(const IEventTrigger&) = delete;
    IEventTrigger& operator=(const IEventTrigger&) = delete;
    virtual ~IEventTrigger();

    // Creates one empty handler list per id 0..n-1; n <= 0 creates none.
    void SetEventCount(int n);
    int EventCount() const { return event_count_; }

    // Appends the handler to the id's list (twice subscribed, twice called).
    // Returns false, changing nothing, for an id outside 0..count-1 or a null handler.
    bool Subscribe(int event, IEventHandler* handler);
    // Removes every entry with the handler's id from the id's list.
    void Unsubscribe(int event, IEventHandler* handler);
    // Number of entries in the id's list (0 for ids outside the range).
    std::size_t SubscriberCount(int event) const;
    // A copy of the id's list, for owners that deliver from a snapshot
    // taken under a lock of their own (empty for ids outside the range).
    std::vector<IEventHandler*> Handlers(int event) const;

    void Notify(void* sender, int event, int param);
    void Notify(void* sender, int event, int param1, int param2);
    void Notify(void* sender, int event, double value);
    // Each handler receives its own copy of data.
    void Notify(void* sender, int event, int param, const std::vector<std::uint8_t>& data);

private:
    template <class Call>
    void ForEach(int event, Call&& call);

    std::map<int, std::vector<IEventHandler*>> handlers_;
    int event_count_ = 0;
};

}  // namespace Qel
