// IConnectionManager: the one interface through which the rest of the system
// talks to a connected Qel System, whatever the transport.
//
// Callers build HostReports, hand them to Send or SendAndWait and read
// DeviceReports back. Device I/O never throws: "not open" shows as message
// id -1, a default report, false or -1; a failed exchange shows as a message
// status, a message event (see MessageEvent) and a log line. Send, Response
// and SendAndWait may be called from any thread; Connect, Disconnect and
// Discover from one controlling thread. Subscribe/Unsubscribe before the work
// that raises events starts and after it has ended (the trigger takes no lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "messaging/IOReport.h"

namespace Qel {

class QELSystem;
template <class T>
class NamedList;
class IEventHandler;

// The caller's byte container for bulk memory transfers; the caller keeps it
// alive until TransferDone.
using TransferData = std::deque<std::uint8_t>;

class IConnectionManager {
public:
    virtual ~IConnectionManager() = default;

    // Transport name: "CM_ETH", "CM_USBLITE", "CM_USBSS", "CM_SERIAL".
    virtual const std::string& Ident() const = 0;
    // Runs only while closed; a non-empty filter limits the probe.
    virtual std::vector<QELSystem> Discover(const NamedList<std::string>& filter) = 0;
    // Opens the connection named by the connection string; does nothing when
    // already open. Failure leaves IsOpen() false, with no exception.
    virtual void Connect(const std::string& port) = 0;
    // Sends the closing report, awaits outstanding answers, joins the threads.
    virtual void Disconnect() = 0;

    // Queues the report; returns the message id, or -1 when not open.
    virtual int Send(const HostReport& report) = 0;
    // Send, then wait until the answer is complete or the exchange failed;
    // an incomplete report means a send failure, a timeout or a closed manager.
    virtual DeviceReport SendAndWait(const HostReport& report) = 0;
    // Copy of the answer of message `id`; a default report (ID 0xFF) if unknown.
    virtual DeviceReport Response(int id) = 0;

    // Bulk memory transfers; transports that do not offer them raise
    // NotSupported (-1) and answer false / -1. `identifier` points to 16 bytes.
    virtual bool TransferToDevice(TransferData& data, std::uint32_t start_address, int arg2,
                                  const std::uint8_t* identifier) = 0;
    virtual bool TransferFromDevice(TransferData& data, int arg1, int arg2, int arg3,
                                    const std::uint8_t* identifier) = 0;
    virtual int TransferSupport() = 0;

    // The open flag, readable from any thread.
    virtual const std::atomic<bool>& IsOpen() const = 0;

    // Adds/removes a handler for one MessageEvent id. Subscribe answers false,
    // changing nothing, for an id outside 0..14.
    virtual bool Subscribe(int event, IEventHandler* handler) = 0;
    virtual void Unsubscribe(int event, IEventHandler* handler) = 0;
};

}  // namespace Qel
