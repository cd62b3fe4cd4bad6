#include "discovery/SynthEEPROM.h"

#include <algorithm>

#include "discovery/QELSystem.h"
#include "messaging/IConnectionManager.h"
#include "messaging/IOReport.h"

namespace Qel {

namespace SynthEEPROMFormat {

namespace {

constexpr std::uint8_t kErasedVersion = 0xFF;

std::int32_t Read24(const std::uint8_t* bytes) {
    return static_cast<std::int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16));
}

void Write24(std::uint8_t* bytes, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    bytes[0] = static_cast<std::uint8_t>(v & 0xFF);
    bytes[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    bytes[2] = static_cast<std::uint8_t>((v >> 16) & 0xFF);
}

}  // namespace

SynthEEPROMEntry ParseEntry(std::span<const std::uint8_t, EntrySize> image) {
    SynthEEPROMEntry entry;
    const std::uint8_t type = image[0] & 0x0F;
    entry.Type = (type == 1 || type == 2 || type == 3 || type == 15) ? type : 0;
    entry.Flag = (image[0] & 0x80) != 0;
    entry.ValueA = Read24(&image[1]);
    entry.ValueB = Read24(&image[4]);
    entry.Name.assign(NameSize, '\0');
    for (std::size_t i = 0; i < NameSize; ++i) {
        const std::uint8_t c = image[7 + i];
        if (c == 0) {
            break;
        }
        // Printable as the C locale has it, whatever locale the program set.
        entry.Name[i] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : ' ';
    }
    return entry;
}

std::array<std::uint8_t, EntrySize> EntryImage(const SynthEEPROMEntry& entry) {
    std::array<std::uint8_t, EntrySize> image{};
    image[0] = static_cast<std::uint8_t>((entry.Type & 0x0F) | (entry.Flag ? 0x80 : 0x00));
    Write24(&image[1], entry.ValueA);
    Write24(&image[4], entry.ValueB);
    for (std::size_t i = 0; i < NameSize && i < entry.Name.size(); ++i) {
        image[7 + i] = static_cast<std::uint8_t>(entry.Name[i]);
    }
    return image;
}

SynthEEPROMTable BlankTable() {
    return SynthEEPROMTable{};
}

SynthEEPROMTable ParseTable(std::span<const std::uint8_t> area, std::span<const std::uint8_t> magic) {
    if (area.size() < 2 || magic.size() != 2 || area[0] != magic[0] || area[1] != magic[1]) {
        return BlankTable();
    }
    if (area.size() < 4) {
        return BlankTable();
    }
    const std::uint8_t version = area[3];
    if (version != kErasedVersion && version > WrittenVersion) {
        return BlankTable();
    }
    SynthEEPROMTable table;
    table.Count = std::min<std::uint8_t>(area[2], SynthEEPROMTable::kEntryCount);
    table.Version = version;
    for (std::size_t i = 0; i < table.Count; ++i) {
        const std::size_t offset = HeaderSize + EntrySize * i;
        if (offset + EntrySize > area.size()) {
            break;  // a short read: the rest stays blank rather than made up
        }
        table.Entries[i] = ParseEntry(std::span<const std::uint8_t, EntrySize>(area.data() + offset, EntrySize));
    }
    table.Valid = true;
    return table;
}

std::vector<std::uint8_t> TableImage(const SynthEEPROMTable& table, std::span<const std::uint8_t> magic) {
    const std::size_t count = std::min<std::size_t>(table.Count, SynthEEPROMTable::kEntryCount);
    std::vector<std::uint8_t> image(magic.begin(), magic.end());
    image.push_back(static_cast<std::uint8_t>(count));
    image.push_back(WrittenVersion);
    image.insert(image.end(), 4, 0xFF);
    for (std::size_t i = 0; i < count; ++i) {
        const auto entry = EntryImage(table.Entries[i]);
        image.insert(image.end(), entry.begin(), entry.end());
    }
    return image;
}

}  // namespace SynthEEPROMFormat

namespace {

constexpr int kSynthRegisterType = 0x07;

// The synthesiser's register 0 holds its magic number, the key that ties an
// EEPROM image to the synthesiser it belongs to.
bool ReadMagicBytes(QELSystem& system, std::vector<std::uint8_t>& magic) {
    IConnectionManager* manager = system.Conn();
    if (manager == nullptr) {
        return false;
    }
    HostReport request(kSynthRegisterType, HostReport::Read, 0);
    request.LEN = 2;
    const DeviceReport reply = manager->SendAndWait(request);
    // A corrupted magic number would tie the image to the wrong synthesiser,
    // and a writer would stamp it onto the device.
    if (!reply.IsComplete() || reply.HasCrcError()) {
        return false;
    }
    magic = reply.Payload();
    return true;
}

// Both EEPROM users wait for the same three events, in this order.
constexpr int kSupervisedEvents[] = {EEPROMEvent::WriteDone, EEPROMEvent::ReadDone, EEPROMEvent::TransferError};

void AttachSupervisor(EEPROM& eeprom, EEPROMSupervisor& supervisor) {
    for (int event : kSupervisedEvents) {
        eeprom.Subscribe(event, &supervisor);
    }
}

void DetachSupervisor(EEPROM& eeprom, EEPROMSupervisor& supervisor) {
    for (int event : kSupervisedEvents) {
        eeprom.Unsubscribe(event, &supervisor);
    }
}

}  // namespace

// ---------------------------------------------------------------------------

SynthEEPROMReader::SynthEEPROMReader(QELSystem& system, std::chrono::milliseconds wait_bound)
    : system_(system),
      eeprom_(std::make_unique<EEPROM>(system)),
      supervisor_(std::make_unique<EEPROMSupervisor>()),
      wait_bound_(wait_bound) {
    AttachSupervisor(*eeprom_, *supervisor_);
}

SynthEEPROMReader::~SynthEEPROMReader() {
    DetachSupervisor(*eeprom_, *supervisor_);
    supervisor_.reset();
    eeprom_.reset();
}

SynthEEPROMTable SynthEEPROMReader::Read() {
    if (!system_.Synthesiser().IsValid()) {
        return SynthEEPROMFormat::BlankTable();
    }
    std::vector<std::uint8_t> magic;
    if (!ReadMagicBytes(system_, magic)) {
        return SynthEEPROMFormat::BlankTable();
    }
    supervisor_->Arm();
    if (eeprom_->ReadEEPROM() <= 0) {
        return SynthEEPROMFormat::BlankTable();  // nothing queued: no event will come
    }
    if (!supervisor_->WaitUntilDone(wait_bound_) || supervisor_->Failed) {
        return SynthEEPROMFormat::BlankTable();
    }
    const std::vector<std::uint8_t> area = eeprom_->EEPROMData();
    return SynthEEPROMFormat::ParseTable(area, magic);
}

bool SynthEEPROMReader::ClearEntry(int index) {
    if (!system_.Synthesiser().IsValid() || index < 0 || index >= SynthEEPROMTable::kEntryCount) {
        return false;
    }
    SynthEEPROMTable table = system_.Synthesiser().EEPROMTable();
    const auto slot = static_cast<std::size_t>(index);
    if (table.Entries[slot].Type == 0) {
        return false;
    }
    table.Entries[slot] = SynthEEPROMEntry{};
    int count = 0;
    for (int i = SynthEEPROMTable::kEntryCount - 1; i >= 0; --i) {
        if (table.Entries[static_cast<std::size_t>(i)].Type != 0) {
            count = i + 1;
            break;
        }
    }
    table.Count = static_cast<std::uint8_t>(count);
    SynthEEPROMWriter writer(system_, table, *eeprom_, *supervisor_, wait_bound_);
    writer.Write();
    return true;
}

// ---------------------------------------------------------------------------

SynthEEPROMWriter::SynthEEPROMWriter(QELSystem& system, SynthEEPROMTable table, std::chrono::milliseconds wait_bound)
    : system_(system),
      own_eeprom_(std::make_unique<EEPROM>(system)),
      own_supervisor_(std::make_unique<EEPROMSupervisor>()),
      eeprom_(*own_eeprom_),
      supervisor_(*own_supervisor_),
      table_(std::move(table)),
      wait_bound_(wait_bound) {
    AttachSupervisor(eeprom_, supervisor_);
}

SynthEEPROMWriter::SynthEEPROMWriter(QELSystem& system, SynthEEPROMTable table, EEPROM& eeprom,
                                     EEPROMSupervisor& supervisor, std::chrono::milliseconds wait_bound)
    : system_(system), eeprom_(eeprom), supervisor_(supervisor), table_(std::move(table)), wait_bound_(wait_bound) {}

SynthEEPROMWriter::~SynthEEPROMWriter() {
    if (own_eeprom_) {
        DetachSupervisor(*own_eeprom_, *own_supervisor_);
    }
    own_supervisor_.reset();
    own_eeprom_.reset();
}

bool SynthEEPROMWriter::Write() {
    if (!system_.Synthesiser().IsValid()) {
        return false;
    }
    std::vector<std::uint8_t> magic;
    // An image behind a magic number of another length would be misaligned
    // for every reader; refuse it rather than corrupt the table.
    if (!ReadMagicBytes(system_, magic) || magic.size() != 2) {
        return false;
    }
    supervisor_.Arm();
    eeprom_.SetEEPROMData(SynthEEPROMFormat::TableImage(table_, magic));
    if (!eeprom_.WriteEEPROM()) {
        return false;  // nothing queued: no event will come
    }
    if (!supervisor_.WaitUntilDone(wait_bound_) || supervisor_.Failed) {
        return false;
    }
    const QELSynthesiser& current = system_.Synthesiser();
    system_.Synthesiser() = QELSynthesiser(current.Model(), current.Description(), current.Capabilities(),
                                           current.Version(), table_, current.AddOn());
    return true;
}

}  // namespace Qel
