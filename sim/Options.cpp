#include "sim/Options.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "sim/FlashProgrammer.h"
#include "sim/Mcs.h"

namespace QelSim {

namespace {

// Decimal, or hexadecimal with a 0x prefix; the whole text must be a number.
std::uint64_t Number(const std::string& text, std::uint64_t max, const std::string& what) {
    std::size_t used = 0;
    std::uint64_t value = 0;
    try {
        value = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || text[0] == '-' || used != text.size() || value > max)
        throw std::invalid_argument(what + ": not a number up to " + std::to_string(max) + ": '" + text + "'");
    return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// MAJOR.MINOR.REVISION, optionally followed by @YYYY-MM-DD and THH:MM.
FirmwareVersion Version(const std::string& text, const std::string& what) {
    FirmwareVersion version;
    char tail = 0;
    int fields = std::sscanf(text.c_str(), "%d.%d.%d@%d-%d-%dT%d:%d%c", &version.major, &version.minor,
                             &version.revision, &version.year, &version.month, &version.day, &version.hour,
                             &version.minute, &tail);
    const bool shape_ok = fields == 3 || fields == 6 || fields == 8;
    const bool range_ok = version.major >= 0 && version.major < 256 && version.minor >= 0 && version.minor < 256 &&
                          version.revision >= 0 && version.revision < 65536 && version.year >= 2000 &&
                          version.year < 2128 && version.month >= 1 && version.month <= 12 && version.day >= 1 &&
                          version.day <= 31 && version.hour >= 0 && version.hour < 24 && version.minute >= 0 &&
                          version.minute < 60;
    if (!shape_ok || !range_ok)
        throw std::invalid_argument(what + ": expected MAJOR.MINOR.REVISION[@YYYY-MM-DD[THH:MM]]: '" + text + "'");
    return version;
}

// "erased", "empty", or entries TYPE:NAME[:A[:B[:FLAG]]] separated by commas.
void EepromSpec(const std::string& text, EepromTable& table) {
    table.entries.clear();
    table.erased = text == "erased";
    if (table.erased || text == "empty") return;
    for (const std::string& item : Split(text, ',')) {
        const std::vector<std::string> fields = Split(item, ':');
        if (fields.size() < 2 || fields.size() > 5)
            throw std::invalid_argument("--eeprom: expected TYPE:NAME[:A[:B[:FLAG]]]: '" + item + "'");
        EepromEntry entry;
        entry.type = static_cast<std::uint8_t>(Number(fields[0], 15, "--eeprom type"));
        entry.name = fields[1];
        if (entry.name.size() > 8) throw std::invalid_argument("--eeprom: a name has at most 8 characters: '" + entry.name + "'");
        if (fields.size() > 2) entry.value_a = static_cast<std::uint32_t>(Number(fields[2], 0xFFFFFF, "--eeprom value A"));
        if (fields.size() > 3) entry.value_b = static_cast<std::uint32_t>(Number(fields[3], 0xFFFFFF, "--eeprom value B"));
        if (fields.size() > 4) entry.flag = Number(fields[4], 1, "--eeprom flag") != 0;
        table.entries.push_back(entry);
    }
    if (table.entries.size() > kEepromEntryLimit) throw std::invalid_argument("--eeprom: at most 33 entries");
}

std::vector<std::uint8_t> HexBytes(const std::string& text) {
    if (text.size() % 2 != 0) throw std::invalid_argument("--garbage: an even number of hexadecimal digits: '" + text + "'");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(Number("0x" + text.substr(i, 2), 0xFF, "--garbage")));
    return bytes;
}

std::uint8_t UpgradeErrorBit(const std::string& name) {
    if (name == "flash-id") return UpgradeError::FlashIdError;
    if (name == "erase") return UpgradeError::EraseError;
    if (name == "program") return UpgradeError::ProgramError;
    if (name == "timeout") return UpgradeError::TimedOut;
    if (name == "crc") return UpgradeError::CrcError;
    throw std::invalid_argument("--upgrade-error: one of flash-id, erase, program, timeout, crc: '" + name + "'");
}

std::string Text(const cxxopts::ParseResult& parsed, const char* name) { return parsed[name].as<std::string>(); }

}  // namespace

void AddModelOptions(cxxopts::Options& options) {
    options.add_options("System")
        ("profile", "Preset system (see below)", cxxopts::value<std::string>()->default_value("ulix3"))
        ("serial", "Serial number text", cxxopts::value<std::string>())
        ("controller-magic", "Controller magic number", cxxopts::value<std::string>())
        ("synth-magic", "Synthesiser magic number", cxxopts::value<std::string>())
        ("controller-version", "Controller firmware MAJ.MIN.REV[@YYYY-MM-DD[THH:MM]]", cxxopts::value<std::string>())
        ("synth-version", "Synthesiser firmware MAJ.MIN.REV[@YYYY-MM-DD[THH:MM]]", cxxopts::value<std::string>())
        ("no-upgrade-channel", "Refuse the firmware-upgrade channel")
        ("eeprom", "EEPROM table: erased, empty, or TYPE:NAME[:A[:B[:FLAG]]],...", cxxopts::value<std::string>())
        ("eeprom-magic", "Magic number written into the EEPROM table", cxxopts::value<std::string>())
        ("eeprom-version", "Format version byte of the EEPROM table", cxxopts::value<std::string>())
        ("eeprom-count", "Count byte of the EEPROM table", cxxopts::value<std::string>());
    options.add_options("Firmware")
        ("firmware", "MCS file of the firmware the controller expects", cxxopts::value<std::string>())
        ("image-size", "Bytes the controller programs (default: the firmware's length)", cxxopts::value<std::string>())
        ("flash-erased", "Flash starts erased instead of holding the expected firmware")
        ("flash-dump", "Write the flash to this file at the end of every run", cxxopts::value<std::string>())
        ("phase-ms", "Time of every upgrade phase in ms", cxxopts::value<std::string>())
        ("erase-ms", "Time of the erase phase in ms", cxxopts::value<std::string>())
        ("buffer", "Receive buffer size in bytes", cxxopts::value<std::string>())
        ("program-rate", "Bytes per second moved into flash (0: instant)", cxxopts::value<std::string>());
    options.add_options("Faults")
        ("silent-from-message", "Answer nothing from host report N on", cxxopts::value<std::string>())
        ("silent-from-poll", "Answer nothing from upgrade status poll N on", cxxopts::value<std::string>())
        ("delay-ms", "Answer every report this late", cxxopts::value<std::string>())
        ("drop-every", "Lose every Nth answer", cxxopts::value<std::string>())
        ("garbage", "Hex bytes sent before every answer", cxxopts::value<std::string>())
        ("bad-crc-every", "Every Nth answer carries a wrong CRC", cxxopts::value<std::string>())
        ("interlock", "Set the interlock alarm bit in every answer")
        ("fault-bit", "Set the fault bit in every answer")
        ("upgrade-error", "Controller fails: flash-id, erase, program, timeout or crc", cxxopts::value<std::string>())
        ("image-size-fault", "Image-size read: rejected or zero", cxxopts::value<std::string>());
}

bool ApplyModelOptions(const cxxopts::ParseResult& parsed, SimConfig& config, std::string& error) {
    try {
        const std::string name = Text(parsed, "profile");
        const std::optional<Profile> preset = ProfileByName(name);
        if (!preset) throw std::invalid_argument("--profile: unknown profile '" + name + "'");
        Profile& profile = config.profile;
        profile = *preset;
        if (parsed.count("serial")) profile.serial = Text(parsed, "serial");
        if (parsed.count("controller-magic"))
            profile.controller_magic = static_cast<std::uint16_t>(Number(Text(parsed, "controller-magic"), 0xFFFF, "--controller-magic"));
        if (parsed.count("synth-magic"))
            profile.synth_magic = static_cast<std::uint16_t>(Number(Text(parsed, "synth-magic"), 0xFFFF, "--synth-magic"));
        if (parsed.count("controller-version"))
            profile.controller_version = Version(Text(parsed, "controller-version"), "--controller-version");
        if (parsed.count("synth-version")) profile.synth_version = Version(Text(parsed, "synth-version"), "--synth-version");
        if (parsed.count("no-upgrade-channel")) profile.upgrade_channel = false;
        if (parsed.count("eeprom")) EepromSpec(Text(parsed, "eeprom"), profile.eeprom);
        if (parsed.count("eeprom-magic"))
            profile.eeprom.magic = static_cast<std::uint16_t>(Number(Text(parsed, "eeprom-magic"), 0xFFFF, "--eeprom-magic"));
        if (parsed.count("eeprom-version"))
            profile.eeprom.version = static_cast<std::uint8_t>(Number(Text(parsed, "eeprom-version"), 0xFF, "--eeprom-version"));
        if (parsed.count("eeprom-count"))
            profile.eeprom.count = static_cast<std::uint8_t>(Number(Text(parsed, "eeprom-count"), 0xFF, "--eeprom-count"));

        if (parsed.count("firmware")) {
            McsImage image = LoadMcs(Text(parsed, "firmware"));
            if (!image.Ok()) throw std::invalid_argument("--firmware: " + image.error);
            profile.expected_firmware = std::move(image.bytes);
        }
        if (parsed.count("image-size"))
            profile.image_size = static_cast<std::uint32_t>(Number(Text(parsed, "image-size"), 0x10000000, "--image-size"));
        if (parsed.count("flash-erased")) profile.flash_erased = true;
        if (parsed.count("flash-dump")) profile.flash_dump_path = Text(parsed, "flash-dump");
        if (parsed.count("phase-ms"))
            profile.timing.SetAllPhases(static_cast<std::uint32_t>(Number(Text(parsed, "phase-ms"), 3600000, "--phase-ms")));
        if (parsed.count("erase-ms"))
            profile.timing.erase_ms = static_cast<std::uint32_t>(Number(Text(parsed, "erase-ms"), 3600000, "--erase-ms"));
        if (parsed.count("buffer"))
            profile.timing.buffer_size = static_cast<std::uint32_t>(Number(Text(parsed, "buffer"), 0xFFFF, "--buffer"));
        if (parsed.count("program-rate"))
            profile.timing.program_rate = static_cast<std::uint32_t>(Number(Text(parsed, "program-rate"), 0xFFFFFFFF, "--program-rate"));

        Faults& faults = config.faults;
        if (parsed.count("silent-from-message"))
            faults.silent_from_message = Number(Text(parsed, "silent-from-message"), UINT64_MAX, "--silent-from-message");
        if (parsed.count("silent-from-poll"))
            faults.silent_from_status_poll = Number(Text(parsed, "silent-from-poll"), UINT64_MAX, "--silent-from-poll");
        if (parsed.count("delay-ms"))
            faults.answer_delay = std::chrono::milliseconds{Number(Text(parsed, "delay-ms"), 600000, "--delay-ms")};
        if (parsed.count("drop-every"))
            faults.drop_every = static_cast<std::uint32_t>(Number(Text(parsed, "drop-every"), UINT32_MAX, "--drop-every"));
        if (parsed.count("garbage")) faults.garbage_before = HexBytes(Text(parsed, "garbage"));
        if (parsed.count("bad-crc-every"))
            faults.bad_crc_every = static_cast<std::uint32_t>(Number(Text(parsed, "bad-crc-every"), UINT32_MAX, "--bad-crc-every"));
        if (parsed.count("interlock")) faults.interlock = true;
        if (parsed.count("fault-bit")) faults.fault_bit = true;
        if (parsed.count("upgrade-error")) faults.upgrade_error = UpgradeErrorBit(Text(parsed, "upgrade-error"));
        if (parsed.count("image-size-fault")) {
            const std::string fault = Text(parsed, "image-size-fault");
            if (fault == "rejected")
                faults.image_size = ImageSizeFault::Rejected;
            else if (fault == "zero")
                faults.image_size = ImageSizeFault::Zero;
            else
                throw std::invalid_argument("--image-size-fault: rejected or zero: '" + fault + "'");
        }
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

CommandLine ParseCommandLine(int argc, const char* const argv[]) {
    CommandLine result;
    cxxopts::Options options("qel_sim", " - simulated Qel System (controller and synthesiser)");
    options.add_options()
        ("h,help", "Print help")
        ("stdio", "Read host bytes from standard input, write device bytes to standard output");
    AddModelOptions(options);
    AddNetworkOptions(options);
    try {
        const cxxopts::ParseResult parsed = options.parse(argc, argv);
        if (parsed.count("help")) {
            result.help = true;
            result.text = options.help({"", "System", "Firmware", "Faults", "Network"}) + "\nProfiles:\n" + DescribeProfiles();
            return result;
        }
        if (!parsed.unmatched().empty()) throw std::invalid_argument("unexpected argument '" + parsed.unmatched().front() + "'");
        result.config.stdio = parsed.count("stdio") != 0;
        std::string error;
        if (!ApplyModelOptions(parsed, result.config, error)) {
            result.ok = false;
            result.text = error;
        }
        if (result.ok) result.config.net = NetworkOptionsFrom(parsed, result.config.profile.serial, result.config.network);
    } catch (const std::exception& e) {
        result.ok = false;
        result.text = e.what();
    }
    return result;
}

}  // namespace QelSim
