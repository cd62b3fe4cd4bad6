#include "discovery/EEPROM.h"

#include <algorithm>
#include <deque>
#include <thread>

#include "discovery/QELSystem.h"
#include "messaging/IConnectionManager.h"
#include "messaging/IOReport.h"
#include "messaging/Message.h"

namespace Qel {

namespace {

constexpr int kEEPROMReportType = 0x02;

// The message events the receiver listens to, in the order it subscribes.
constexpr int kReceiverEvents[] = {
    MessageEvent::SendFailed,       MessageEvent::SendTimedOut,     MessageEvent::ResponseOk,
    MessageEvent::ResponseError,    MessageEvent::ResponseTimedOut, MessageEvent::ResponseCrcError,
    6,  // never raised by the engine; listened to all the same, as a failure
};

HostReport EEPROMRequest(std::uint8_t direction, std::uint32_t address) {
    HostReport report(kEEPROMReportType, direction, static_cast<std::uint16_t>(EEPROM::AreaStart));
    report.CONTEXT = static_cast<std::uint8_t>((address >> 16) & 0xFF);
    report.ADDR = static_cast<std::uint16_t>(address & 0xFFFF);
    return report;
}

}  // namespace

// ---------------------------------------------------------------------------

class EEPROM::Impl {
public:
    class ResponseReceiver : public IEventHandler {
    public:
        explicit ResponseReceiver(Impl& owner) : owner_(owner) {}
        void OnEvent(void* sender, int event, int param) override;

    private:
        Impl& owner_;
    };

    explicit Impl(QELSystem& system_ref) : system(&system_ref) {
        receiver = std::make_unique<ResponseReceiver>(*this);
    }

    // Ends request `id` of whichever operation it belongs to; raises that
    // operation's event when no request of it is left. Called with `lock` held.
    void Complete(int id, bool failed, const DeviceReport* reply);
    bool Finish(std::deque<int>& pending, int last_id, int done_event, int id, bool failed, bool anywhere);
    // Waits (bounded) until no delivery is inside the receiver.
    void AwaitNoDelivery();

    static constexpr std::uint16_t PageSize = 1024;

    EEPROMEventTrigger trigger;
    std::vector<std::uint8_t> data;  // guarded by lock
    std::deque<int> pending_reads;   // guarded by lock, oldest first
    std::deque<int> pending_writes;  // guarded by lock, oldest first
    int last_read_id = -1;           // guarded by lock
    int last_write_id = -1;          // guarded by lock
    bool error = false;              // guarded by lock
    std::mutex lock;
    std::unique_ptr<ResponseReceiver> receiver;
    QELSystem* system;

    // Deliveries inside the receiver's OnEvent; the destructor waits for 0
    // so that the receiver is not running when it is unsubscribed or freed.
    std::mutex delivery_mutex;
    std::condition_variable delivery_done;
    int in_delivery = 0;  // guarded by delivery_mutex
};

bool EEPROM::Impl::Finish(std::deque<int>& pending, int last_id, int done_event, int id, bool failed,
                          bool anywhere) {
    // Replies arrive in request order, so a reply must be for the oldest
    // request. Send failures are raised by the sender thread while the parser
    // may still be delivering the reply of an older request: they end their
    // request wherever it stands.
    auto it = pending.begin();
    if (anywhere) {
        it = std::find(pending.begin(), pending.end(), id);
    }
    if (it == pending.end() || *it != id) {
        return false;
    }
    pending.erase(it);
    if (failed) {
        error = true;
    }
    if (pending.empty()) {
        trigger.Notify(receiver.get(), error ? EEPROMEvent::TransferError : done_event, last_id);
    }
    return true;
}

void EEPROM::Impl::Complete(int id, bool failed, const DeviceReport* reply) {
    if (!failed && reply != nullptr && !pending_reads.empty() && pending_reads.front() == id) {
        const std::vector<std::uint8_t> payload = reply->Payload();
        data.insert(data.end(), payload.begin(), payload.end());
    }
    const bool anywhere = reply == nullptr;
    if (!Finish(pending_reads, last_read_id, EEPROMEvent::ReadDone, id, failed, anywhere)) {
        Finish(pending_writes, last_write_id, EEPROMEvent::WriteDone, id, failed, anywhere);
    }
}

void EEPROM::Impl::AwaitNoDelivery() {
    std::unique_lock<std::mutex> guard(delivery_mutex);
    delivery_done.wait_for(guard, std::chrono::seconds(5), [this] { return in_delivery == 0; });
}

void EEPROM::Impl::ResponseReceiver::OnEvent(void* /*sender*/, int event, int param) {
    Impl& impl = owner_;
    struct InDelivery {
        Impl& impl;
        explicit InDelivery(Impl& i) : impl(i) {
            std::lock_guard<std::mutex> guard(impl.delivery_mutex);
            ++impl.in_delivery;
        }
        ~InDelivery() {
            std::lock_guard<std::mutex> guard(impl.delivery_mutex);
            --impl.in_delivery;
            impl.delivery_done.notify_all();
        }
    } in_delivery(impl);

    switch (event) {
    case MessageEvent::ResponseOk:
    case MessageEvent::ResponseError: {
        std::lock_guard<std::mutex> guard(impl.lock);
        // A reply the device did not accept (acknowledge bit clear or fault
        // bit set) carries no EEPROM content: taking it as success would let
        // a refused write update the synthesiser record.
        const bool rejected = event == MessageEvent::ResponseError;
        DeviceReport reply;
        if (!rejected && !impl.pending_reads.empty() && impl.pending_reads.front() == param) {
            reply = impl.system->Conn()->Response(param);
        }
        impl.Complete(param, rejected, &reply);
        return;
    }
    case MessageEvent::SendTimedOut:
    case MessageEvent::SendFailed:
    case MessageEvent::ResponseTimedOut:
    case 6:
    case MessageEvent::ResponseCrcError: {
        std::lock_guard<std::mutex> guard(impl.lock);
        impl.Complete(param, true, nullptr);
        return;
    }
    default:
        return;
    }
}

// ---------------------------------------------------------------------------

EEPROMEventTrigger::~EEPROMEventTrigger() = default;

EEPROMSupervisor::~EEPROMSupervisor() = default;

void EEPROMSupervisor::OnEvent(void* /*sender*/, int event, int /*param*/) {
    if (event != EEPROMEvent::ReadDone && event != EEPROMEvent::WriteDone && event != EEPROMEvent::TransferError) {
        return;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (event == EEPROMEvent::TransferError) {
        Failed = true;
    }
    Busy = false;
    done_.notify_all();
}

void EEPROMSupervisor::Arm() {
    std::lock_guard<std::mutex> guard(mutex_);
    Busy = true;
    Failed = false;
}

bool EEPROMSupervisor::WaitUntilDone(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(mutex_);
    return done_.wait_for(guard, bound, [this] { return !Busy.load(); });
}

// ---------------------------------------------------------------------------

EEPROM::EEPROM(QELSystem& system) : impl_(std::make_unique<Impl>(system)), system_(&system) {
    if (IConnectionManager* manager = system_->Conn()) {
        for (int event : kReceiverEvents) {
            manager->Subscribe(event, impl_->receiver.get());
        }
    }
}

EEPROM::~EEPROM() {
    // The last completion wakes the caller from inside the receiver; let the
    // receiver return before its subscription and its object go away.
    impl_->AwaitNoDelivery();
    if (IConnectionManager* manager = system_->Conn()) {
        for (int event : kReceiverEvents) {
            manager->Unsubscribe(event, impl_->receiver.get());
        }
    }
    impl_->AwaitNoDelivery();
}

// Notifications are made with the lock held, so taking it here keeps the
// trigger's lists still while a notification runs.
bool EEPROM::Subscribe(int event, IEventHandler* handler) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->trigger.Subscribe(event, handler);
}

void EEPROM::Unsubscribe(int event, IEventHandler* handler) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->trigger.Unsubscribe(event, handler);
}

int EEPROM::ReadEEPROM() {
    IConnectionManager* manager = system_->Conn();
    if (manager == nullptr || !system_->Synthesiser().IsValid()) {
        return 0;
    }
    // Held across the queueing: the manager may answer a request before Send
    // returns, and that completion must find its id already recorded.
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->data.clear();
    impl_->pending_reads.clear();
    impl_->last_read_id = -1;
    impl_->error = false;

    std::uint32_t offset = 0;
    while (offset < AreaSize) {
        std::uint32_t count = std::min<std::uint32_t>(AreaSize - offset, MaxRequest);
        const std::uint32_t address = offset + AreaStart;
        if (address / Impl::PageSize != (address + count) / Impl::PageSize) {
            count = Impl::PageSize - (address % Impl::PageSize);
        }
        if (count == 0) {
            break;
        }
        HostReport request = EEPROMRequest(HostReport::Read, address);
        request.LEN = static_cast<std::uint16_t>(count);
        const int id = manager->Send(request);
        if (id < 0) {
            // The manager closed: what was queued still ends (with the error
            // set, as TransferError); what was not can never be answered.
            impl_->error = true;
            break;
        }
        impl_->pending_reads.push_back(id);
        offset += count;
    }
    if (impl_->pending_reads.empty()) {
        return -1;
    }
    impl_->last_read_id = impl_->pending_reads.back();
    return impl_->last_read_id;
}

bool EEPROM::WriteEEPROM() {
    IConnectionManager* manager = system_->Conn();
    if (manager == nullptr || !system_->Synthesiser().IsValid()) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->pending_writes.clear();
    impl_->last_write_id = -1;
    impl_->error = false;
    // Bytes past the area would overwrite EEPROM content this program does
    // not own; an empty buffer would queue nothing and leave a waiter waiting.
    if (impl_->data.empty() || impl_->data.size() > AreaSize) {
        return false;
    }

    std::size_t offset = 0;
    while (offset < impl_->data.size()) {
        const std::uint32_t address = static_cast<std::uint32_t>(offset) + AreaStart;
        std::size_t length = std::min(MaxRequest, impl_->data.size() - offset);
        const std::uint32_t page_end = (address / Impl::PageSize + 1) * Impl::PageSize;
        if (address + length > page_end) {
            // The device writes one page at a time; a request must not span
            // two, and the next page must wait until the previous one is done.
            length = page_end - address;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        HostReport request = EEPROMRequest(HostReport::Write, address);
        request.SetPayload(std::vector<std::uint8_t>(impl_->data.begin() + static_cast<std::ptrdiff_t>(offset),
                                                     impl_->data.begin() + static_cast<std::ptrdiff_t>(offset + length)));
        const int id = manager->Send(request);
        if (id < 0) {
            impl_->error = true;
            break;
        }
        impl_->pending_writes.push_back(id);
        offset += length;
    }
    if (impl_->pending_writes.empty()) {
        return false;
    }
    impl_->last_write_id = impl_->pending_writes.back();
    return true;
}

std::vector<std::uint8_t> EEPROM::EEPROMData() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->data;
}

void EEPROM::SetEEPROMData(std::vector<std::uint8_t> data) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->data = std::move(data);
}

}  // namespace Qel
