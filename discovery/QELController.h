#pragma once
// QELController: the identity of a Qel System's controller board: model and
// description from the hardware database, capabilities, firmware version,
// file-system table, and the connection-settings kinds it offers.
//
// A default record is invalid (model "Null", description "Invalid", default
// capabilities, unread version, empty table). Construction from values makes
// a valid record. One owned implementation record; copies are deep. Copy
// assignment copies everything except the settings-kinds list, which every
// record builds for itself. No locks: used by one thread at a time.

#include "discovery/Capabilities.h"
#include "discovery/FirmwareVersion.h"
#include "discovery/NamedList.h"
#include "discovery/RecordTables.h"

#include <memory>
#include <string>

namespace Qel {

class QELController {
public:
    QELController();
    QELController(std::string model, std::string description, ControllerCaps capabilities,
                  FirmwareVersion version, FileSystemTable file_system);
    QELController(const QELController& other);
    QELController& operator=(const QELController& other);
    ~QELController();

    bool IsValid() const;
    const std::string& Model() const;
    const std::string& Description() const;
    const FirmwareVersion& Version() const;
    const ControllerCaps& Capabilities() const;
    const FileSystemTable& FileSystem() const;
    // "CS_RS422" then "CS_ETH": the settings kinds the controller offers.
    const NamedList<std::string>& SettingsKinds() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
