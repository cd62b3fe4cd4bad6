#include "transports/settings/CS_ETH.h"

#include <algorithm>
#include <array>

namespace Qel {

namespace {

using boost::asio::ip::address_v4;

constexpr std::size_t kFlagOffset = 0;
constexpr std::size_t kAddressOffset = 1;
constexpr std::size_t kNetmaskOffset = 5;
constexpr std::size_t kGatewayOffset = 9;

void PutAddress(std::vector<std::uint8_t>& image, std::size_t offset, const address_v4& address) {
    const address_v4::bytes_type octets = address.to_bytes();
    std::copy(octets.begin(), octets.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Loads an address from image[offset..offset+3] only when all four bytes are
// there; otherwise the field keeps its value.
void TakeAddress(const std::vector<std::uint8_t>& image, std::size_t offset, address_v4& address) {
    address_v4::bytes_type octets{};
    if (image.size() < offset + octets.size()) {
        return;
    }
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), octets.size(), octets.begin());
    address = address_v4(octets);
}

}  // namespace

struct CS_ETH::Impl {
    std::vector<std::uint8_t> image;
    bool settings_flag = true;
    address_v4 address = boost::asio::ip::make_address_v4("192.168.1.10");
    address_v4 netmask = boost::asio::ip::make_address_v4("255.255.255.0");
    address_v4 gateway = boost::asio::ip::make_address_v4("192.168.1.1");

    void BuildImage() {
        image.clear();
        image.resize(kImageSize);
        image[kFlagOffset] = settings_flag ? 1 : 0;
        PutAddress(image, kAddressOffset, address);
        PutAddress(image, kNetmaskOffset, netmask);
        PutAddress(image, kGatewayOffset, gateway);
    }
};

CS_ETH::CS_ETH() : impl_(std::make_unique<Impl>()) { impl_->BuildImage(); }

CS_ETH::CS_ETH(const CS_ETH& other) : IConnectionSettings(other), impl_(std::make_unique<Impl>(*other.impl_)) {}

CS_ETH& CS_ETH::operator=(const CS_ETH& other) {
    if (this != &other) {
        impl_ = std::make_unique<Impl>(*other.impl_);
    }
    return *this;
}

CS_ETH::~CS_ETH() = default;

const std::string& CS_ETH::KindName() {
    static const std::string name = "CS_ETH";
    return name;
}

const std::string& CS_ETH::Ident() const { return KindName(); }

const std::vector<std::uint8_t>& CS_ETH::Data() const { return impl_->image; }

void CS_ETH::ProcessData(const std::vector<std::uint8_t>& bytes) {
    impl_->image = bytes;
    if (bytes.size() > kFlagOffset) {
        impl_->settings_flag = bytes[kFlagOffset] != 0;
    }
    TakeAddress(bytes, kAddressOffset, impl_->address);
    TakeAddress(bytes, kNetmaskOffset, impl_->netmask);
    TakeAddress(bytes, kGatewayOffset, impl_->gateway);
}

bool CS_ETH::SettingsFlag() const { return impl_->settings_flag; }
const address_v4& CS_ETH::Address() const { return impl_->address; }
const address_v4& CS_ETH::Netmask() const { return impl_->netmask; }
const address_v4& CS_ETH::Gateway() const { return impl_->gateway; }

}  // namespace Qel
