#include "discovery/QELSystem.h"

#include "messaging/IConnectionManager.h"
#include "transports/settings/CS_ETH.h"
#include "transports/settings/CS_RS422.h"

namespace Qel {

namespace {

QELSystem::SettingsTable BuildSettingsTable() {
    QELSystem::SettingsTable table;
    table[CS_ETH::KindName()] = std::make_pair(32, static_cast<int>(CS_ETH::kImageSize));
    table[CS_RS422::KindName()] = std::make_pair(16, static_cast<int>(CS_RS422::kImageSize));
    return table;
}

}  // namespace

struct QELSystem::Impl {
    QELController controller;
    QELSynthesiser synthesiser;
    std::string port_name;
    IConnectionManager* manager = nullptr;
    SettingsTable settings = BuildSettingsTable();
};

QELSystem::QELSystem() : impl_(std::make_unique<Impl>()) {}

QELSystem::QELSystem(IConnectionManager* manager, std::string port_name) : impl_(std::make_unique<Impl>()) {
    impl_->manager = manager;
    impl_->port_name = std::move(port_name);
}

QELSystem::QELSystem(const QELSystem& other) : impl_(std::make_unique<Impl>()) {
    impl_->controller = other.impl_->controller;
    impl_->synthesiser = other.impl_->synthesiser;
    impl_->port_name = other.impl_->port_name;
    impl_->manager = other.impl_->manager;
}

QELSystem& QELSystem::operator=(const QELSystem& other) {
    if (this != &other) {
        impl_->controller = other.impl_->controller;
        impl_->synthesiser = other.impl_->synthesiser;
        impl_->port_name = other.impl_->port_name;
        impl_->manager = other.impl_->manager;
    }
    return *this;
}

QELSystem::~QELSystem() = default;

QELController& QELSystem::Controller() { return impl_->controller; }
const QELController& QELSystem::Controller() const { return impl_->controller; }
QELSynthesiser& QELSystem::Synthesiser() { return impl_->synthesiser; }
const QELSynthesiser& QELSystem::Synthesiser() const { return impl_->synthesiser; }
std::string& QELSystem::PortName() { return impl_->port_name; }
const std::string& QELSystem::PortName() const { return impl_->port_name; }
IConnectionManager* QELSystem::Conn() const { return impl_->manager; }
const QELSystem::SettingsTable& QELSystem::Settings() const { return impl_->settings; }

void QELSystem::Connect() {
    if (impl_->manager != nullptr) {
        impl_->manager->Connect(impl_->port_name);
    }
}

}  // namespace Qel
