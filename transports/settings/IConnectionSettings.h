#pragma once
// IConnectionSettings: one block of interface configuration that a Qel System
// keeps for one of its ports, held as fields and as a byte image in a fixed
// layout. Kinds: CS_ETH (IPv4 set-up of the Ethernet port) and CS_RS422 (line
// speed of the serial port). Nothing here talks to a device.
//
// Objects are used by one thread at a time and have no locks. Neither kind
// reports errors: ProcessData takes whatever bytes it is given and each kind
// documents what it does with too few.

#include <cstdint>
#include <string>
#include <vector>

namespace Qel {

class IConnectionSettings {
public:
    virtual ~IConnectionSettings() = default;

    // The kind's name ("CS_ETH", "CS_RS422"); a program-wide constant.
    virtual const std::string& Ident() const = 0;
    // The byte image.
    virtual const std::vector<std::uint8_t>& Data() const = 0;
    // Loads the image and the fields from the given bytes.
    virtual void ProcessData(const std::vector<std::uint8_t>& bytes) = 0;

protected:
    IConnectionSettings() = default;
    IConnectionSettings(const IConnectionSettings&) = default;
    IConnectionSettings& operator=(const IConnectionSettings&) = default;
};

}  // namespace Qel
