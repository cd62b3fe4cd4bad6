#pragma once
// QELSystem: the record of one found Qel System: the connection manager that
// reaches it (not owned; the ConnectionList owns every manager and outlives
// every record), the port name its discovery gave it, and one record each
// for the controller and the synthesiser.
//
// Value semantics: one owned implementation record, deep copies; every copy
// refers to the same connection manager. Not shared between threads while it
// is being filled (QueryIdentity runs on the discovering thread); no locks.
// Failures show as invalid records or a false result, never as exceptions.
//
// This header gives everything that goes with a system record: the
// controller and synthesiser records, capabilities, firmware versions with
// DecodeVersion and PrintVersion, the file-system and EEPROM tables, options
// and named lists.

#include "discovery/Capabilities.h"
#include "discovery/FirmwareVersion.h"
#include "discovery/NamedList.h"
#include "discovery/QELController.h"
#include "discovery/QELOption.h"
#include "discovery/QELSynthesiser.h"
#include "discovery/RecordTables.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace Qel {

class IConnectionManager;

class QELSystem {
public:
    // Kind name ("CS_ETH", "CS_RS422") -> (first number, image length).
    // The first number is carried but not interpreted by this program.
    using SettingsTable = std::map<std::string, std::optional<std::pair<int, int>>>;

    // Empty port name, no manager, invalid records.
    QELSystem();
    QELSystem(IConnectionManager* manager, std::string port_name);
    QELSystem(const QELSystem& other);
    // Copies both records, the port name and the manager pointer; the
    // settings table stays as this record built it.
    QELSystem& operator=(const QELSystem& other);
    ~QELSystem();

    QELController& Controller();
    const QELController& Controller() const;
    QELSynthesiser& Synthesiser();
    const QELSynthesiser& Synthesiser() const;
    std::string& PortName();
    const std::string& PortName() const;
    IConnectionManager* Conn() const;
    // "CS_ETH" -> (32, 13) and "CS_RS422" -> (16, 4), always both.
    const SettingsTable& Settings() const;

    // The manager's Connect with PortName. Does nothing without a manager;
    // the caller judges the outcome by the manager's IsOpen.
    void Connect();

    // Identifies the controller and the synthesiser over the open connection
    // (magic numbers, versions, hardware database, file-system table, EEPROM
    // table). Returns false only when a hardware-database lookup fails; the
    // outcome shows in the records' IsValid. Defined with the identity query.
    bool QueryIdentity();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
