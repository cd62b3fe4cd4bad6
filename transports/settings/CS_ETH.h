#pragma once
// CS_ETH: the IPv4 configuration of a Qel System's Ethernet port.
// Image, 13 bytes: flag (1 true, 0 false), then Address, Netmask and Gateway,
// four octets each, first octet first. Defaults: flag true, 192.168.1.10,
// 255.255.255.0, 192.168.1.1 (image 01 C0 A8 01 0A FF FF FF 00 C0 A8 01 01).
//
// ProcessData keeps the given bytes as the image exactly as given (any length;
// the image is not rebuilt from the fields, so a flag byte of 2 stays 2 and
// bytes past the 13th stay). Each field is then loaded from its bytes when all
// of them are present; a field whose bytes are missing from a short input
// keeps its previous value. No byte beyond the input is ever read.
//
// One owned implementation record; copies are deep. No locks.

#include "transports/settings/IConnectionSettings.h"

#include <boost/asio/ip/address_v4.hpp>

#include <memory>

namespace Qel {

class CS_ETH : public IConnectionSettings {
public:
    static constexpr std::size_t kImageSize = 13;

    CS_ETH();
    CS_ETH(const CS_ETH& other);
    CS_ETH& operator=(const CS_ETH& other);
    ~CS_ETH() override;

    // "CS_ETH", the same string object for the life of the program.
    static const std::string& KindName();

    const std::string& Ident() const override;
    const std::vector<std::uint8_t>& Data() const override;
    void ProcessData(const std::vector<std::uint8_t>& bytes) override;

    bool SettingsFlag() const;
    const boost::asio::ip::address_v4& Address() const;
    const boost::asio::ip::address_v4& Netmask() const;
    const boost::asio::ip::address_v4& Gateway() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
