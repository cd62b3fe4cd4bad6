// FirmwareUpgrade: the firmware upgrade engine for one connected Qel System.
//
// A run is started with StartUpgrade (stream the MCS image into the
// controller's flash) or StartVerify (the controller checks the image it
// holds). The run executes on the engine's own worker thread: it opens the
// run with Clear and Upgrade/Verify, polls the controller's status every
// 25 ms, feeds 64-byte blocks from the image while the controller is in its
// programming phase (EraseOk set, ProgramOk clear) as fast as its free buffer
// space allows, and closes with Clear. See McsBlockReader for how the image
// text becomes blocks.
//
// Threads: Start* and the destructor on the owner's thread; the worker runs
// the run and raises every event (with the engine's run lock held: a handler
// must not destroy the engine, and Start* from a handler answers false); the
// accessors may be called from any thread, they read atomics only.
// Locks: the run lock is held by the worker for a whole run; Start* try it
// and refuse at once while a run is in progress (or accepted and not yet
// begun). The start request, the verify flag and the keep-alive flag are
// guarded by it. An idle worker holds the lock only for moments (entering its
// wait); Start* then wait for it instead of refusing.
//
// Publication order: within one status poll the status byte, the error
// byte and the error flag are stored first; then the stage events are raised
// (bit order), then Error, then Done; the done flag is stored last. A poller
// that sees done therefore also sees the error flag and bits of the same
// poll, and no event of that run is raised any more (unsubscribing is safe).
//
// Failures: a refused start answers false and changes nothing. Everything
// else ends the run with done and error set and shows in GetErrors:
//  - StreamError (exactly 0x01): the image stream failed or is malformed
//    (no event is raised);
//  - TimedOut (0x40 added): `unanswered_limit` consecutive status polls or
//    free-space reads went without a usable answer (each costs the manager's
//    response timeout, 2 s on real transports: 5 polls are about 10 s of
//    silence), or the connection closed during the run (no event);
//  - device-reported errors: the error byte or any error bit of the status
//    report sets the error flag (a device that reports error bits without its
//    error byte is still a failure) and raises Error.
// Destroying the engine during a run waits for the run to end; a silent
// device ends it within the bound above.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>

#include "messaging/IEventHandler.h"
#include "upgrade/FirmwareUpgradeTypes.h"

namespace Qel {

class QELSystem;

class FirmwareUpgrade {
public:
    // Consecutive status polls / free-space reads without a usable answer
    // after which a run ends with TimedOut.
    static constexpr int DefaultUnansweredLimit = 5;
    // TotalBytes when the device gave no image size.
    static constexpr std::uint32_t DefaultTotalBytes = 0x220000;

    // Both references must outlive the engine. The worker thread starts here
    // and waits for a start; nothing is sent until then.
    FirmwareUpgrade(const QELSystem& system, std::istream& image,
                    int unanswered_limit = DefaultUnansweredLimit);
    FirmwareUpgrade(const FirmwareUpgrade&) = delete;
    FirmwareUpgrade& operator=(const FirmwareUpgrade&) = delete;
    // Waits for a run in progress to end, then joins the worker.
    ~FirmwareUpgrade();

    // Begin a run. False, with nothing changed and nothing sent, when the
    // controller or synthesiser is not identified, the synthesiser lacks the
    // remote-upgrade capability, the connection is not open, or a run is in
    // progress (or accepted and not yet begun). StartUpgrade first reads the
    // image size from the device on the calling thread.
    bool StartUpgrade();
    bool StartVerify();

    // Event ids 0..9 (FirmwareUpgradeEvent). Subscribe before a start and
    // unsubscribe after done: the trigger takes no lock.
    bool Subscribe(int event, IEventHandler* handler);
    void Unsubscribe(int event, IEventHandler* handler);

    bool IsDone() const;
    bool HasError() const;
    FirmwareUpgradeStatus GetStatus() const;
    FirmwareUpgradeErrors GetErrors() const;
    // Data bytes queued in the current upgrade run, zero blocks after the end
    // of the image included.
    std::uint32_t BytesTransferred() const;
    // The image size the device reported, or DefaultTotalBytes without one.
    std::uint32_t TotalBytes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
