// NetworkFrontEnd: the simulated system as the host sees it on a network:
// the report port with its back channel, the discovery answer and the TFTP
// server, started together on one address.
//
// Threads: Start/Stop from the owner's thread (sockets and threads belong to
// the network namespace that thread is in); each part runs one worker of its
// own. Failure: Start answers false with a reason and leaves nothing running.
#pragma once

#include <memory>
#include <string>

#include "sim/network/DiscoveryResponder.h"
#include "sim/network/NetworkOptions.h"
#include "sim/network/ReportServer.h"
#include "sim/network/TftpServer.h"

namespace QelSim {

class NetworkFrontEnd {
public:
    NetworkFrontEnd(const NetworkOptions& options, ReportServer::Consumer consumer)
        : reports_(options, std::move(consumer)), discovery_(options), tftp_(options)
    {
    }

    bool Start(std::string& error)
    {
        if (!reports_.Start(error)) return false;
        if (!discovery_.Start(error)) {
            reports_.Stop();
            return false;
        }
        if (!tftp_.Start(error)) {
            discovery_.Stop();
            reports_.Stop();
            return false;
        }
        return true;
    }

    void Stop()
    {
        tftp_.Stop();
        discovery_.Stop();
        reports_.Stop();
    }

    ReportServer& Reports() { return reports_; }
    DiscoveryResponder& Discovery() { return discovery_; }
    TftpServer& Tftp() { return tftp_; }

private:
    ReportServer reports_;
    DiscoveryResponder discovery_;
    TftpServer tftp_;
};

} // namespace QelSim
