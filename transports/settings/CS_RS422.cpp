#include "transports/settings/CS_RS422.h"

namespace Qel {

struct CS_RS422::Impl {
    std::vector<std::uint8_t> image;
    std::uint32_t baud_rate = 115200;

    void BuildImage() {
        image.clear();
        for (std::size_t i = 0; i < kImageSize; ++i) {
            image.push_back(static_cast<std::uint8_t>(baud_rate >> (8 * i)));
        }
    }
};

CS_RS422::CS_RS422() : impl_(std::make_unique<Impl>()) { impl_->BuildImage(); }

CS_RS422::CS_RS422(const CS_RS422& other)
    : IConnectionSettings(other), impl_(std::make_unique<Impl>(*other.impl_)) {}

CS_RS422& CS_RS422::operator=(const CS_RS422& other) {
    if (this != &other) {
        impl_ = std::make_unique<Impl>(*other.impl_);
    }
    return *this;
}

CS_RS422::~CS_RS422() = default;

const std::string& CS_RS422::KindName() {
    static const std::string name = "CS_RS422";
    return name;
}

const std::string& CS_RS422::Ident() const { return KindName(); }

const std::vector<std::uint8_t>& CS_RS422::Data() const { return impl_->image; }

void CS_RS422::ProcessData(const std::vector<std::uint8_t>& bytes) {
    impl_->image = bytes;
    impl_->image.resize(kImageSize, 0);
    std::uint32_t rate = 0;
    for (std::size_t i = 0; i < kImageSize; ++i) {
        rate |= static_cast<std::uint32_t>(impl_->image[i]) << (8 * i);
    }
    impl_->baud_rate = rate;
}

std::uint32_t CS_RS422::BaudRate() const { return impl_->baud_rate; }

void CS_RS422::SetBaudRate(std::uint32_t baud_rate) {
    impl_->baud_rate = baud_rate;
    impl_->BuildImage();
}

}  // namespace Qel
