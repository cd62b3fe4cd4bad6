#pragma once
// QELSynthesiser: the identity of a Qel System's synthesiser: model and
// description from the hardware database, capabilities, firmware version,
// the EEPROM table read from the synthesiser, and its add-on option name.
//
// A default record is invalid (model "Null", description "Invalid", default
// capabilities, unread version, blank EEPROM table, no add-on). Construction
// from values makes a valid record. One owned implementation record; copies
// (construction and assignment) are deep. No locks.

#include "discovery/Capabilities.h"
#include "discovery/FirmwareVersion.h"
#include "discovery/QELOption.h"
#include "discovery/RecordTables.h"

#include <memory>
#include <string>

namespace Qel {

class QELSynthesiser {
public:
    QELSynthesiser();
    // An empty add_on pointer leaves the add-on name empty.
    QELSynthesiser(std::string model, std::string description, SynthCaps capabilities, FirmwareVersion version,
                   SynthEEPROMTable eeprom_table, std::shared_ptr<const QELOption> add_on);
    QELSynthesiser(const QELSynthesiser& other);
    QELSynthesiser& operator=(const QELSynthesiser& other);
    ~QELSynthesiser();

    bool IsValid() const;
    const std::string& Model() const;
    const std::string& Description() const;
    const FirmwareVersion& Version() const;
    const SynthCaps& Capabilities() const;
    const SynthEEPROMTable& EEPROMTable() const;
    // A new option holding the add-on name, or an empty pointer when the
    // synthesiser has no add-on.
    std::shared_ptr<const QELOption> AddOn() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
