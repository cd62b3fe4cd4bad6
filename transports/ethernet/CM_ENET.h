// CM_ENET: the connection manager that reaches a Qel System over IPv4.
//
// Reports travel over one TCP connection to the device's port 28244 (the
// DataSocket); the device connects back to the host's port 28245 (the
// InterruptSocket) for unsolicited reports. Discovery is a UDP broadcast
// (EnetDiscovery.h); bulk memory transfers go by TFTP (TftpClient.h) on a
// worker thread of their own. The engine (queues, parser, timeouts) is
// CM_Common; this class only moves bytes.
//
// Threads: Connect, Disconnect and Discover on one controlling thread;
// Send/SendAndWait/Response and the transfer calls from any thread. While
// open, five threads run: sender, receiver, parser, TransferWorker and
// InterruptListener; all are joined by Disconnect (and the destructor).
// Locks: the engine's (CM_Common.h); Impl::transfer_mutex guards the pending
// transfer request, held by the worker for a whole TFTP exchange.
// Failure: Connect leaves IsOpen() false; sends end in message statuses and
// events; transfers end in TransferFailed/TransferDone; nothing throws.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "messaging/CM_Common.h"
#include "transports/ethernet/EnetDiscovery.h"

namespace Qel {

// The transport's waits. The defaults are the product's; tests shorten them.
struct EnetTimings {
    std::int64_t send_timeout_ms = 500;
    std::int64_t response_timeout_ms = 2000;
    std::int64_t retention_ms = 30000;
    std::chrono::milliseconds connect_wait{4000};      // TCP connect to port 28244
    std::chrono::milliseconds back_channel_wait{4000}; // device connecting back to 28245
    std::chrono::milliseconds discovery_wait{1000};    // answers, per interface
    std::chrono::milliseconds tftp_timeout{2000};      // each TFTP answer
};

class CM_ENET : public CM_Common {
public:
    static constexpr std::uint16_t kReportPort = 28244;
    static constexpr std::uint16_t kBackChannelPort = 28245;

    CM_ENET();
    explicit CM_ENET(const EnetTimings& timings);
    ~CM_ENET() override;

    const std::string& Ident() const override;
    std::vector<QELSystem> Discover(const NamedList<std::string>& filter) override;
    // `port` is "serial number[:address]"; only the serial number counts.
    void Connect(const std::string& port) override;
    void Disconnect() override;

    // Host to device: pads `data` with zeros to a multiple of 512 bytes and
    // hands it to the TransferWorker; `identifier` (16 bytes) names the file.
    // False (TransferBusy raised) while another transfer is pending; false
    // without an event when `identifier` is null.
    bool TransferToDevice(TransferData& data, std::uint32_t start_address, int arg2,
                          const std::uint8_t* identifier) override;
    // Device to host into `data`.
    bool TransferFromDevice(TransferData& data, int arg1, int arg2, int arg3,
                            const std::uint8_t* identifier) override;

    // The units the last discovery found (controlling thread).
    const std::vector<DiscoveredUnit>& DiscoveredUnits() const;
    // Whether the device connected back when the connection opened.
    bool HasInterruptSocket() const;

protected:
    void SenderThread() override;
    void ReceiverThread() override;

private:
    struct Impl;
    void TransferWorker();
    void InterruptListener();
    bool StartTransfer(TransferData& data, const std::uint8_t* identifier, int kind);

    std::unique_ptr<Impl> impl_;
};

} // namespace Qel
