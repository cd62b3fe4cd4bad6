#include "discovery/ConnectionList.h"

#include <map>
#include <utility>

#include "logging/InitLogging.h"
#include "messaging/IConnectionManager.h"
#include "transports/ethernet/CM_ENET.h"

namespace Qel {

namespace {

// The transports in scan order. The FTDI, SuperSpeed USB and serial managers
// take their places ahead of Ethernet ("CM_USBLITE", "CM_USBSS", "CM_SERIAL",
// then "CM_ETH"), one line each, as they are added to the library.
std::vector<std::unique_ptr<IConnectionManager>> CreateTransports()
{
    std::vector<std::unique_ptr<IConnectionManager>> managers;
    managers.push_back(std::make_unique<CM_ENET>());
    return managers;
}

}  // namespace

struct ConnectionList::Impl {
    std::vector<std::unique_ptr<IConnectionManager>> managers;
    NamedList<std::string> transport_names;
    std::map<std::string, ScanConfig> config;

    void Register(std::vector<std::unique_ptr<IConnectionManager>> created)
    {
        for (auto& manager : created) {
            const std::string name = manager->Ident();
            managers.push_back(std::move(manager));
            config.try_emplace(name);
            transport_names.Append(name);
        }
    }
};

ConnectionList::ConnectionList() : impl_(std::make_unique<Impl>())
{
    // Logging is configured before any manager exists, so that every record a
    // manager writes follows the user's settings.
    InitLogging();
    impl_->Register(CreateTransports());
}

ConnectionList::ConnectionList(std::vector<std::unique_ptr<IConnectionManager>> managers)
    : impl_(std::make_unique<Impl>())
{
    impl_->Register(std::move(managers));
}

ConnectionList::~ConnectionList()
{
    for (auto& manager : impl_->managers) manager.reset();
}

const NamedList<std::string>& ConnectionList::TransportNames() const
{
    return impl_->transport_names;
}

ScanConfig& ConnectionList::Config(const std::string& name)
{
    return impl_->config[name];
}

std::vector<QELSystem> ConnectionList::Scan()
{
    std::vector<QELSystem> result;
    for (auto& manager : impl_->managers) {
        const ScanConfig& config = Config(manager->Ident());
        if (!config.Enabled) continue;
        std::vector<QELSystem> found = manager->Discover(config.Filter);
        for (auto& system : found) result.push_back(std::move(system));
    }
    return result;
}

}  // namespace Qel
