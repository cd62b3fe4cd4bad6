// QELSystem::QueryIdentity: fills a system record over its open connection
// from the controller's and the synthesiser's identity registers, the
// hardware database, the controller's file-system table and the
// synthesiser's EEPROM table (which it also cleans of two kinds of entries).
// Runs on the discovering thread and blocks it for each exchange.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "discovery/HardwareDatabase.h"
#include "discovery/QELSystem.h"
#include "discovery/SynthEEPROM.h"
#include "messaging/IConnectionManager.h"
#include "messaging/IOReport.h"

namespace Qel {

namespace {

constexpr int kControllerRegisters = 0x11;
constexpr int kSynthRegisters = 0x07;
constexpr int kFileSystem = 0x15;

constexpr std::uint16_t kNoMagic = 0xFFFF;
constexpr std::size_t kFileSystemNameOffset = 33;
constexpr int kSingleImageBytesPerPoint = 20;

HostReport ReadRequest(int type, std::uint16_t address, std::uint16_t length, std::uint8_t context) {
    HostReport request(type, HostReport::Read, address);
    request.ADDR = address;
    request.LEN = length;
    request.CONTEXT = context;
    return request;
}

// A reply counts when it is complete and its check sum holds: identity taken
// from a corrupted frame would name the wrong hardware.
bool Answered(const DeviceReport& reply) {
    return reply.IsComplete() && !reply.HasCrcError();
}

std::uint32_t Dword(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (offset + i < bytes.size()) {
            value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
        }
    }
    return value;
}

// Decodes as much of an entry as the payload holds; missing fields stay 0.
FileSystemEntry DecodeFileSystemEntry(int index, const std::vector<std::uint8_t>& payload) {
    FileSystemEntry entry;
    entry.Index = index;
    std::copy_n(payload.begin(), std::min(payload.size(), entry.Uuid.size()), entry.Uuid.begin());
    entry.ByteLength = static_cast<int>(Dword(payload, 16));
    entry.Points = static_cast<int>(Dword(payload, 20));
    entry.WordA = static_cast<int>(Dword(payload, 24));
    entry.WordB = static_cast<int>(Dword(payload, 28));
    entry.Kind = payload.size() > 32 ? payload[32] : 0;
    if (payload.size() > kFileSystemNameOffset) {
        entry.Name.assign(payload.begin() + kFileSystemNameOffset, payload.end());
    }
    return entry;
}

FileSystemTable ReadFileSystemTable(QELSystem& system, IConnectionManager& manager) {
    FileSystemTable table;
    const QELController& controller = system.Controller();
    if (!controller.IsValid()) {
        return table;
    }
    if (controller.Capabilities().FastTransfer) {
        const DeviceReport count_reply = manager.SendAndWait(ReadRequest(kFileSystem, 0, 2, 4));
        if (!Answered(count_reply)) {
            return table;
        }
        const int count = count_reply.PayloadWord();
        for (int i = 0; i < count; ++i) {
            const DeviceReport reply =
                manager.SendAndWait(ReadRequest(kFileSystem, static_cast<std::uint16_t>(i), 49, 2));
            if (Answered(reply) && !reply.Rejected()) {
                table.push_back(DecodeFileSystemEntry(i, reply.Payload()));
            }
        }
        return table;
    }
    // A controller with a single image store describes it in two registers.
    const DeviceReport points_reply = manager.SendAndWait(ReadRequest(kControllerRegisters, 48, 2, 0));
    if (!Answered(points_reply)) {
        return table;
    }
    const int points = points_reply.PayloadWord();
    const DeviceReport uuid_reply = manager.SendAndWait(ReadRequest(kControllerRegisters, 56, 16, 0));
    if (!Answered(uuid_reply)) {
        return table;
    }
    FileSystemEntry entry;
    entry.Index = 0;
    entry.Points = points;
    entry.ByteLength = points * kSingleImageBytesPerPoint;
    const std::vector<std::uint8_t> uuid = uuid_reply.Payload();
    std::copy_n(uuid.begin(), std::min(uuid.size(), entry.Uuid.size()), entry.Uuid.begin());
    entry.Name = "solo_img";
    entry.Kind = 0;
    table.push_back(entry);
    return table;
}

// The name cut or zero-padded to `length` characters.
std::string NamePrefix(const std::string& name, std::size_t length) {
    std::string prefix = name.substr(0, std::min(name.size(), length));
    prefix.resize(length, '\0');
    return prefix;
}

double Doubled(double hertz) {
    return hertz / 1000000.0 * 2.0 * 1000000.0;
}

}  // namespace

bool QELSystem::QueryIdentity() {
    IConnectionManager* manager = Conn();
    if (manager == nullptr) {
        return true;  // nothing can answer; both records stay as they are
    }

    // One reader for the whole query, subscribed before the first request:
    // its receiver then joins the manager's event lists while nothing can be
    // delivered to them, and the clean-up below reuses it.
    SynthEEPROMReader reader(*this);

    // Controller.
    std::uint16_t controller_magic = kNoMagic;
    bool controller_looked_up = false;
    const DeviceReport magic_reply = manager->SendAndWait(ReadRequest(kControllerRegisters, 0, 2, 0));
    if (Answered(magic_reply)) {
        controller_magic = magic_reply.PayloadWord();
        const DeviceReport version_reply = manager->SendAndWait(ReadRequest(kControllerRegisters, 5, 8, 0));
        if (Answered(version_reply)) {
            if (!LookupMagic(*this, controller_magic)) {
                return false;
            }
            controller_looked_up = true;
            FileSystemTable file_system = ReadFileSystemTable(*this, *manager);
            const FirmwareVersion version = DecodeVersion(version_reply.PayloadWords());
            const QELController& current = Controller();
            Controller() = QELController(current.Model(), current.Description(), current.Capabilities(), version,
                                         std::move(file_system));
        }
    }

    // Synthesiser.
    const DeviceReport synth_magic_reply = manager->SendAndWait(ReadRequest(kSynthRegisters, 0, 2, 0));
    if (!Answered(synth_magic_reply)) {
        return true;
    }
    const std::uint16_t synth_magic = synth_magic_reply.PayloadWord();
    const DeviceReport synth_version_reply = manager->SendAndWait(ReadRequest(kSynthRegisters, 5, 8, 0));
    if (!Answered(synth_version_reply)) {
        return true;
    }
    // A board that is controller and synthesiser in one shares a magic number,
    // and the controller's lookup has then filled both records -- but only if
    // that lookup was made: the controller may have answered its magic number
    // and not its version. The synthesiser is then looked up on its own, and
    // the controller keeps the record it had, since it was not identified.
    if (synth_magic != controller_magic || !controller_looked_up) {
        const QELController unidentified = Controller();
        if (!LookupMagic(*this, synth_magic)) {
            return false;
        }
        if (!controller_looked_up) {
            Controller() = unidentified;
        }
    }

    const SynthEEPROMTable table = reader.Read();

    SynthCaps capabilities = Synthesiser().Capabilities();
    std::string add_on;
    for (const SynthEEPROMEntry& entry : table.Entries) {
        if (entry.Type == 15 && NamePrefix(entry.Name, 3) == "FX2") {
            add_on = "FX2";
            // The FX2 add-on doubles the synthesiser's frequencies; its
            // synchronisation clock stays that of the synthesiser.
            capabilities.LowerFreq = Doubled(capabilities.LowerFreq);
            capabilities.UpperFreq = Doubled(capabilities.UpperFreq);
            capabilities.SysClock = Doubled(capabilities.SysClock);
        }
    }

    const FirmwareVersion synth_version = DecodeVersion(synth_version_reply.PayloadWords());
    std::shared_ptr<const QELOption> option;
    if (!add_on.empty()) {
        option = std::make_shared<const QELOption>(add_on);
    }
    const QELSynthesiser& current = Synthesiser();
    Synthesiser() = QELSynthesiser(current.Model(), current.Description(), capabilities, synth_version, table, option);

    // Entries of these two names must not stay in a synthesiser's table.
    for (std::size_t i = 0; i < table.Entries.size(); ++i) {
        const SynthEEPROMEntry& entry = table.Entries[i];
        if (entry.Type != 3) {
            continue;
        }
        const std::string name = NamePrefix(entry.Name, 7);
        if (name == "alwaoww" || name == "stoplsm") {
            reader.ClearEntry(static_cast<int>(i));
        }
    }
    return true;
}

}  // namespace Qel
