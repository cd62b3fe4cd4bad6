// Private record of CM_ENET, shared by its source files.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/NamedList.h"
#include "transports/ethernet/CM_ENET.h"

namespace Qel {

enum TransferKind : int { kTransferIdle = 0, kTransferToDevice = 1, kTransferFromDevice = 2 };

struct TransferRequest {
    TransferData* data = nullptr;
    std::array<std::uint8_t, 16> identifier{};
};

struct CM_ENET::Impl {
    explicit Impl(const EnetTimings& t) : timings(t) {}

    const std::string name = "CM_ETH";
    const EnetTimings timings;
    NamedList<std::string> interface_filter;     // controlling thread
    std::vector<DiscoveredUnit> units;           // controlling thread

    // Sockets: opened by Connect, closed by Disconnect after the joins.
    int data_socket = -1;
    int interrupt_socket = -1;
    sockaddr_in device_address{};                // written by Connect before the threads start

    // Bytes of reports whose send outlived its timeout: like a pending
    // overlapped send they still go out, ahead of the next report, so the
    // device never sees a report cut short. Sender thread only.
    std::vector<std::uint8_t> unsent;

    std::atomic<int> transfer_kind{kTransferIdle}; // changed by atomic exchange only
    std::mutex transfer_mutex;
    std::condition_variable transfer_cv;
    std::unique_ptr<TransferRequest> request;    // guarded by transfer_mutex

    std::thread transfer_worker;
    std::thread interrupt_listener;
};

} // namespace Qel
