#pragma once
// EEPROM: asynchronous access to the synthesiser's EEPROM area 0x200..0x3FF
// through report type 0x02. A read queues the whole area as eight 64-byte
// requests and gathers the replies in request order; a write queues the data
// buffer as requests of at most 64 bytes. The end of an operation is raised
// once as an EEPROMEvent (ReadDone, WriteDone or TransferError) to the
// handlers subscribed here; EEPROMSupervisor is the handler a caller waits on.
//
// Threads: ReadEEPROM, WriteEEPROM, EEPROMData and SetEEPROMData run on the
// caller's thread. The receiver runs on the connection manager's thread that
// delivers message events, and so do the EEPROMEvent notifications, which
// are made with the EEPROM's mutex held: a handler must not call back into
// the same EEPROM. Locks: Impl's mutex guards the data buffer, both pending
// lists, both last ids and the error flag; it is held from before the first
// Send of an operation until its last id is stored, so no completion can be
// processed before its id is known.
// Lifetime: the connection manager must outlive the EEPROM (the destructor
// unsubscribes from it), and the EEPROM should outlive its queued requests.
// The destructor runs on the caller's thread, possibly while the manager is
// still finishing the delivery that ended the last operation: it waits until
// the receiver has returned, and CM_Common's Unsubscribe waits for the rest
// of that delivery.
// Replies are taken strictly in request order (a reply for any request but
// the oldest pending one is ignored); a failure ends its request wherever it
// stands, since the sender thread raises send failures while the parser may
// still deliver an older reply. The operation's one event comes when no
// request of it is left, with the id of its last request.
// Failures: no message, no log. A request that fails, times out, is rejected
// or arrives with a CRC error makes the operation end with TransferError.
// An operation that cannot queue anything (synthesiser not identified, an
// empty or oversized buffer, a closed manager) reports 0 / -1 / false and
// raises no event.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "messaging/IEventHandler.h"

namespace Qel {

class QELSystem;

// Event ids of an EEPROM's trigger; the parameter is the message id of the
// operation's last request.
struct EEPROMEvent {
    enum Id : int {
        ReadDone = 0,       // every read request answered and accepted
        WriteDone = 1,      // every write request answered and accepted
        TransferError = 2,  // the last request ended and some request failed
    };
    static constexpr int Count = 3;
};

class EEPROMEventTrigger : public IEventTrigger {
public:
    EEPROMEventTrigger() { SetEventCount(EEPROMEvent::Count); }
    ~EEPROMEventTrigger() override;
};

// Waits for the end of one EEPROM operation. Busy and Failed are set on the
// manager's event thread and read on the caller's; before each operation the
// caller sets Busy true and Failed false (Arm does both).
class EEPROMSupervisor : public IEventHandler {
public:
    EEPROMSupervisor() = default;
    ~EEPROMSupervisor() override;

    // TransferError sets Failed and then clears Busy; ReadDone and WriteDone
    // clear Busy; other ids change nothing.
    void OnEvent(void* sender, int event, int param) override;

    void Arm();
    // Waits until Busy is false or `bound` has passed; returns !Busy.
    bool WaitUntilDone(std::chrono::milliseconds bound);

    std::atomic<bool> Busy{true};
    std::atomic<bool> Failed{false};

private:
    std::mutex mutex_;  // pairs with done_ so that a wake-up is never lost
    std::condition_variable done_;
};

class EEPROM {
public:
    static constexpr std::uint32_t AreaStart = 0x200;
    static constexpr std::uint32_t AreaSize = 512;
    static constexpr std::size_t MaxRequest = 64;

    // Subscribes the receiver to the manager's message events 2, 1, 3, 5, 4,
    // 7 and 6. The system must outlive the EEPROM.
    explicit EEPROM(QELSystem& system);
    EEPROM(const EEPROM&) = delete;
    EEPROM& operator=(const EEPROM&) = delete;
    // Unsubscribes the receiver from the same seven ids.
    ~EEPROM();

    // Forward to the EEPROM's own trigger (EEPROMEvent ids).
    bool Subscribe(int event, IEventHandler* handler);
    void Unsubscribe(int event, IEventHandler* handler);

    // Queues the read of the whole area; returns the last request's message
    // id. Returns 0 when the synthesiser is not identified and -1 when the
    // manager refused the first request; in both cases no event follows.
    int ReadEEPROM();
    // Queues the write of the data buffer from 0x200; true when requests were
    // queued (an event follows). False, with nothing queued and no event,
    // when the synthesiser is not identified, the buffer is empty or longer
    // than the area, or the manager refused the first request.
    bool WriteEEPROM();
    std::vector<std::uint8_t> EEPROMData();
    void SetEEPROMData(std::vector<std::uint8_t> data);

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
    QELSystem* system_;
};

}  // namespace Qel
