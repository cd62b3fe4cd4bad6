#include "discovery/QELSynthesiser.h"

#include <utility>

namespace Qel {

struct QELSynthesiser::Impl {
    SynthCaps capabilities;
    std::string description = "Invalid";
    std::string model = "Null";
    FirmwareVersion version;
    bool valid = false;
    SynthEEPROMTable eeprom_table;
    std::string add_on;
};

QELSynthesiser::QELSynthesiser() : impl_(std::make_unique<Impl>()) {}

QELSynthesiser::QELSynthesiser(std::string model, std::string description, SynthCaps capabilities,
                               FirmwareVersion version, SynthEEPROMTable eeprom_table,
                               std::shared_ptr<const QELOption> add_on)
    : impl_(std::make_unique<Impl>()) {
    impl_->capabilities = capabilities;
    impl_->description = std::move(description);
    impl_->model = std::move(model);
    impl_->version = version;
    impl_->valid = true;
    impl_->eeprom_table = std::move(eeprom_table);
    if (add_on) {
        impl_->add_on = add_on->Name();
    }
}

QELSynthesiser::QELSynthesiser(const QELSynthesiser& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}

QELSynthesiser& QELSynthesiser::operator=(const QELSynthesiser& other) {
    if (this != &other) {
        impl_ = std::make_unique<Impl>(*other.impl_);
    }
    return *this;
}

QELSynthesiser::~QELSynthesiser() = default;

bool QELSynthesiser::IsValid() const { return impl_->valid; }
const std::string& QELSynthesiser::Model() const { return impl_->model; }
const std::string& QELSynthesiser::Description() const { return impl_->description; }
const FirmwareVersion& QELSynthesiser::Version() const { return impl_->version; }
const SynthCaps& QELSynthesiser::Capabilities() const { return impl_->capabilities; }
const SynthEEPROMTable& QELSynthesiser::EEPROMTable() const { return impl_->eeprom_table; }

std::shared_ptr<const QELOption> QELSynthesiser::AddOn() const {
    if (impl_->add_on.empty()) {
        return nullptr;
    }
    return std::make_shared<const QELOption>(impl_->add_on);
}

}  // namespace Qel
