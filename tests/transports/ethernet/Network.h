// Test networks for the Ethernet tests: a "host" namespace that the test
// thread enters for the whole test, and device namespaces joined to it by
// veth pairs. Every address is in the documentation ranges.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <memory>
#include <string>
#include <vector>

#include "NetNs.h"

namespace QelTest {

struct DeviceLink {
    std::unique_ptr<NetNs> ns;
    std::string host_address;   // the host's end of the link
    std::string device_address; // the device's end
};

// host <-> device k over subnet k: host 198.51.100.(k*64+1)/26,
// device 198.51.100.(k*64+2)/26 (k = 0..3).
class Network {
public:
    explicit Network(int devices = 1)
    {
        host_ = std::make_unique<NetNs>("host");
        for (int k = 0; k < devices; ++k) {
            DeviceLink link;
            link.ns = std::make_unique<NetNs>("dev" + std::to_string(k));
            link.host_address = "198.51.100." + std::to_string(k * 64 + 1);
            link.device_address = "198.51.100." + std::to_string(k * 64 + 2);
            AddVeth(*host_, "h" + std::to_string(k), link.host_address + "/26",
                    *link.ns, "eth0", link.device_address + "/26");
            devices_.push_back(std::move(link));
        }
    }

    NetNs& Host() { return *host_; }
    DeviceLink& Device(int k = 0) { return devices_.at(static_cast<std::size_t>(k)); }

    static sockaddr_in Address(const std::string& text, std::uint16_t port = 0)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        inet_pton(AF_INET, text.c_str(), &address.sin_addr);
        return address;
    }

private:
    std::unique_ptr<NetNs> host_;
    std::vector<DeviceLink> devices_;
};

} // namespace QelTest
