#include "discovery/QELController.h"

#include "transports/settings/CS_ETH.h"
#include "transports/settings/CS_RS422.h"

#include <utility>

namespace Qel {

namespace {

NamedList<std::string> OfferedSettingsKinds() {
    NamedList<std::string> kinds;
    kinds.Append(CS_RS422::KindName());
    kinds.Append(CS_ETH::KindName());
    return kinds;
}

}  // namespace

struct QELController::Impl {
    ControllerCaps capabilities;
    std::string description = "Invalid";
    std::string model = "Null";
    FirmwareVersion version;
    bool valid = false;
    FileSystemTable file_system;
    NamedList<std::string> settings_kinds = OfferedSettingsKinds();
};

QELController::QELController() : impl_(std::make_unique<Impl>()) {}

QELController::QELController(std::string model, std::string description, ControllerCaps capabilities,
                             FirmwareVersion version, FileSystemTable file_system)
    : impl_(std::make_unique<Impl>()) {
    impl_->capabilities = capabilities;
    impl_->description = std::move(description);
    impl_->model = std::move(model);
    impl_->version = version;
    impl_->valid = true;
    impl_->file_system = std::move(file_system);
}

QELController::QELController(const QELController& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}

QELController& QELController::operator=(const QELController& other) {
    if (this != &other) {
        auto copy = std::make_unique<Impl>(*other.impl_);
        copy->settings_kinds = impl_->settings_kinds;
        impl_ = std::move(copy);
    }
    return *this;
}

QELController::~QELController() = default;

bool QELController::IsValid() const { return impl_->valid; }
const std::string& QELController::Model() const { return impl_->model; }
const std::string& QELController::Description() const { return impl_->description; }
const FirmwareVersion& QELController::Version() const { return impl_->version; }
const ControllerCaps& QELController::Capabilities() const { return impl_->capabilities; }
const FileSystemTable& QELController::FileSystem() const { return impl_->file_system; }
const NamedList<std::string>& QELController::SettingsKinds() const { return impl_->settings_kinds; }

}  // namespace Qel
