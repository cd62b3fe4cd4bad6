#include "discovery/HardwareDatabase.h"

#include "discovery/HardwareDatabaseImage.h"
#include "discovery/MemoryVfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace Qel {

namespace {

constexpr double kHertzPerMegahertz = 1000000.0;

bool Is(const char* text, const char* expected) { return std::strcmp(text, expected) == 0; }

void StoreControllerRow(QELSystem& system, int columns, char** values, char** names) {
    ControllerCaps caps;
    std::string model;
    std::string description;
    for (int i = 1; i < columns; ++i) {
        const char* value = values[i];
        const char* name = names[i];
        if (value == nullptr || name == nullptr) {
            continue;
        }
        if (Is(name, "ModelNum")) {
            model = value;
        } else if (Is(name, "Description")) {
            description = value;
        } else if (Is(name, "nSynth")) {
            ConvertInteger(value, caps.nSynth);
        } else if (Is(name, "FastTransfer")) {
            caps.FastTransfer = ConvertFlag(value);
        } else if (Is(name, "MaxImageSize")) {
            ConvertInteger(value, caps.MaxImageSize);
        } else if (Is(name, "SimultaneousPlayback")) {
            caps.SimultaneousPlayback = ConvertFlag(value);
        } else if (Is(name, "MaxImageRate")) {
            int rate = 0;
            if (ConvertInteger(value, rate)) {
                caps.MaxImageRate = rate;
            }
        } else if (Is(name, "RemoteUpgrade")) {
            caps.RemoteUpgrade = ConvertFlag(value);
        }
    }
    system.Controller() = QELController(model, description, caps, FirmwareVersion{}, FileSystemTable{});
}

void StoreSynthesiserRow(QELSystem& system, int columns, char** values, char** names) {
    SynthCaps caps;
    std::string model;
    std::string description;
    for (int i = 1; i < columns; ++i) {
        const char* value = values[i];
        const char* name = names[i];
        if (value == nullptr || name == nullptr) {
            continue;
        }
        double decimal = 0.0;
        if (Is(name, "ModelNum")) {
            model = value;
        } else if (Is(name, "Description")) {
            description = value;
        } else if (Is(name, "LowerFreq")) {
            if (ConvertDecimal(value, decimal)) {
                caps.LowerFreq = decimal * kHertzPerMegahertz;
            }
        } else if (Is(name, "UpperFreq")) {
            if (ConvertDecimal(value, decimal)) {
                caps.UpperFreq = decimal * kHertzPerMegahertz;
            }
        } else if (Is(name, "FreqBits")) {
            ConvertInteger(value, caps.FreqBits);
        } else if (Is(name, "AmplBits")) {
            ConvertInteger(value, caps.AmplBits);
        } else if (Is(name, "PhsBits")) {
            ConvertInteger(value, caps.PhsBits);
        } else if (Is(name, "LUTDepth")) {
            ConvertInteger(value, caps.LUTDepth);
        } else if (Is(name, "LUTAmplBits")) {
            ConvertInteger(value, caps.LUTAmplBits);
        } else if (Is(name, "LUTPhaseBits")) {
            ConvertInteger(value, caps.LUTPhaseBits);
        } else if (Is(name, "LUTSyncAnlgBits")) {
            ConvertInteger(value, caps.LUTSyncAnlgBits);
        } else if (Is(name, "LUTSyncDigBits")) {
            ConvertInteger(value, caps.LUTSyncDigBits);
        } else if (Is(name, "Channels")) {
            ConvertInteger(value, caps.Channels);
        } else if (Is(name, "SysClock")) {
            // The synchronisation clock runs at a quarter of the system clock.
            if (ConvertDecimal(value, decimal)) {
                caps.SysClock = decimal * kHertzPerMegahertz;
                caps.SyncClock = decimal * 0.25 * kHertzPerMegahertz;
            }
        } else if (Is(name, "RemoteUpgrade")) {
            caps.RemoteUpgrade = ConvertFlag(value);
        }
    }
    system.Synthesiser() =
        QELSynthesiser(model, description, caps, FirmwareVersion{}, SynthEEPROMTable{}, nullptr);
}

}  // namespace

bool ConvertFlag(const char* text) {
    return text != nullptr && (Is(text, "TRUE") || Is(text, "True") || Is(text, "true"));
}

bool ConvertInteger(const char* text, int& value) {
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long converted = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || converted < std::numeric_limits<int>::min() ||
        converted > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(converted);
    return true;
}

bool ConvertDecimal(const char* text, double& value) {
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double converted = std::strtod(text, &end);
    if (end == text || errno == ERANGE) {
        return false;
    }
    value = converted;
    return true;
}

int LookupMagicRow(void* context, int columns, char** values, char** names) {
    if (columns < 2 || names == nullptr || names[0] == nullptr || !Is(names[0], "Type")) {
        return -1;
    }
    auto& system = *static_cast<QELSystem*>(context);
    const char* kind = values[0];
    if (kind == nullptr) {
        return 0;
    }
    if (Is(kind, "Controller")) {
        StoreControllerRow(system, columns, values, names);
    } else if (Is(kind, "Synthesiser")) {
        StoreSynthesiserRow(system, columns, values, names);
    }
    return 0;
}

bool LookupMagic(QELSystem& system, std::uint16_t magic) {
    const std::span<const unsigned char> image = HardwareDatabaseImage();
    if (image.empty()) {
        return false;
    }
    SetMemoryVfsImage(image.data(), static_cast<std::int64_t>(image.size()));
    if (RegisterMemoryVfs() != SQLITE_OK) {
        return false;
    }
    sqlite3* database = nullptr;
    if (sqlite3_open_v2("_", &database, SQLITE_OPEN_READONLY, kMemoryVfsName) != SQLITE_OK) {
        sqlite3_close(database);
        return false;
    }
    const std::string statement = "SELECT Type, * FROM hwlist WHERE Magic = " + std::to_string(magic);
    const int result = sqlite3_exec(database, statement.c_str(), LookupMagicRow, &system, nullptr);
    sqlite3_close(database);
    return result == SQLITE_OK;
}

}  // namespace Qel
