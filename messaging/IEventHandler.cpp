#include "messaging/IEventHandler.h"

#include <atomic>

namespace Qel {

namespace {
// Process-wide handler ids. Atomic although handlers are constructed on one
// thread at a time: it costs nothing and keeps ids unique if that changes.
std::atomic<std::int32_t> next_handler_id{1};
}  // namespace

IEventHandler::IEventHandler() : id_(next_handler_id.fetch_add(1)) {}

IEventHandler::~IEventHandler() = default;

void IEventHandler::OnEventWithData(void*, int, int, std::vector<std::uint8_t>) {}
void IEventHandler::OnEventWithValue(void*, int, double) {}
void IEventHandler::OnEventWithParams(void*, int, int, int) {}
void IEventHandler::OnEvent(void*, int, int) {}

// ---------------------------------------------------------------------------

IEventTrigger::~IEventTrigger() = default;

void IEventTrigger::SetEventCount(int n) {
    handlers_.clear();
    event_count_ = n > 0 ? n : 0;
    for (int id = 0; id < event_count_; ++id) {
        handlers_.emplace(id, std::vector<IEventHandler*>{});
    }
}

bool IEventTrigger::Subscribe(int event, IEventHandler* handler) {
    if (event < 0 || event >= event_count_ || handler == nullptr) {
        return false;
    }
    handlers_[event].push_back(handler);
    return true;
}

void IEventTrigger::Unsubscribe(int event, IEventHandler* handler) {
    if (event < 0 || event >= event_count_ || handler == nullptr) {
        return;
    }
    auto& list = handlers_[event];
    const std::int32_t id = handler->GetId();
    std::erase_if(list, [id](const IEventHandler* h) { return h->GetId() == id; });
}

std::size_t IEventTrigger::SubscriberCount(int event) const {
    const auto it = handlers_.find(event);
    return it == handlers_.end() ? 0 : it->second.size();
}

std::vector<IEventHandler*> IEventTrigger::Handlers(int event) const {
    const auto it = handlers_.find(event);
    return it == handlers_.end() ? std::vector<IEventHandler*>{} : it->second;
}

template <class Call>
void IEventTrigger::ForEach(int event, Call&& call) {
    if (event < 0 || event >= event_count_) {
        return;
    }
    // find, not operator[]: the sender and the parser may notify at once,
    // and only const look-ups are safe to run concurrently.
    const auto it = handlers_.find(event);
    if (it == handlers_.end()) {
        return;
    }
    const auto& list = it->second;
    // Indexing (not iterators) so that a handler that unsubscribes during a
    // notify, against the rules, cannot make us walk freed memory.
    for (std::size_t i = 0; i < list.size(); ++i) {
        call(list[i]);
    }
}

void IEventTrigger::Notify(void* sender, int event, int param) {
    ForEach(event, [&](IEventHandler* h) { h->OnEvent(sender, event, param); });
}

void IEventTrigger::Notify(void* sender, int event, int param1, int param2) {
    ForEach(event, [&](IEventHandler* h) { h->OnEventWithParams(sender, event, param1, param2); });
}

void IEventTrigger::Notify(void* sender, int event, double value) {
    ForEach(event, [&](IEventHandler* h) { h->OnEventWithValue(sender, event, value); });
}

void IEventTrigger::Notify(void* sender, int event, int param, const std::vector<std::uint8_t>& data) {
    ForEach(event, [&](IEventHandler* h) { h->OnEventWithData(sender, event, param, data); });
}

}  // namespace Qel
