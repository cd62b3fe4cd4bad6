// ConnectionList: the single entry point through which an application finds
// Qel Systems. Creating it sets up logging from the per-user settings file and
// creates one connection manager per transport; Scan asks every enabled
// transport to discover what it can reach and returns all systems in one list.
//
// Ownership: the list owns the managers. Every QELSystem that Scan returns
// refers to one of them without owning it, so the list must outlive every
// record taken from it. All operations run on the caller's thread and take no
// locks; one list is not used from two threads at once. Scan reports no
// errors of its own: a transport that finds nothing contributes nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "discovery/NamedList.h"
#include "discovery/QELSystem.h"

namespace Qel {

class IConnectionManager;

// Whether a transport takes part in a scan, and the filter list its
// discovery receives (for Ethernet: dotted-quad interface addresses).
struct ScanConfig {
    bool Enabled = true;
    NamedList<std::string> Filter;
};

class ConnectionList {
public:
    // Runs InitLogging, then creates the transports in scan order.
    ConnectionList();
    // For tests and embedders: uses the given managers, in this order, and
    // sets up no logging.
    explicit ConnectionList(std::vector<std::unique_ptr<IConnectionManager>> managers);
    ConnectionList(const ConnectionList&) = delete;
    ConnectionList& operator=(const ConnectionList&) = delete;
    // Destroys the managers in list order (an open one disconnects first).
    ~ConnectionList();

    // The Ident of each manager, in creation order.
    const NamedList<std::string>& TransportNames() const;
    // The configuration stored under `name`; a name not yet present is
    // inserted with the defaults (enabled, empty filter).
    ScanConfig& Config(const std::string& name);
    // Discovers on every enabled transport, in manager order, and returns all
    // systems found, in that order, without de-duplication.
    std::vector<QELSystem> Scan();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
