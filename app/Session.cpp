#include "Session.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Console.h"
#include "FirmwareUpgradeSupervisor.h"
#include "discovery/ConnectionList.h"
#include "discovery/QELSystem.h"
#include "messaging/IConnectionManager.h"
#include "upgrade/FirmwareUpgrade.h"

namespace {

using Qel::FirmwareUpgrade;
using Qel::FirmwareUpgradeErrors;

constexpr auto kPollPeriod = std::chrono::milliseconds(100);
constexpr int kPollsPerProgressLine = 20;

// Lines are built whole and written with one call, so that they never split
// around the supervisor's lines from the engine's worker thread.
void WriteLine(std::ostream& out, const std::string& line)
{
    out << line + "\n" << std::flush;
}

void PrintIdentity(std::ostream& out, const Qel::QELSystem& system)
{
    std::ostringstream text;
    const Qel::QELSynthesiser& synth = system.Synthesiser();
    if (synth.IsValid()) {
        const Qel::SynthCaps& caps = synth.Capabilities();
        text << "Found Synthesiser: " << synth.Model() << " : " << synth.Description() << '\n';
        text << " FW Version: ";
        Qel::PrintVersion(text, synth.Version()) << '\n';
        text << " LF: " << caps.LowerFreq / 1000000.0 << "MHz  UF: " << caps.UpperFreq / 1000000.0
             << "MHz  SC: " << caps.SysClock / 1000000.0 << "MHz" << '\n';
    }
    const Qel::QELController& controller = system.Controller();
    if (controller.IsValid()) {
        text << "Found Controller: " << controller.Model() << " : " << controller.Description() << '\n';
        text << " FW Version: ";
        Qel::PrintVersion(text, controller.Version()) << '\n';
    }
    text << '\n';
    out << text.str() << std::flush;
}

// Reads the operator's choice: one character, leading white space skipped;
// anything but 1..count asks again. Returns 0 at the end of input.
std::size_t ReadChoice(std::ostream& out, std::istream& in, std::size_t count)
{
    for (;;) {
        out << "Select a system to continue ... " << std::flush;
        char c = 0;
        if (!(in >> c)) return 0;
        const int n = c - '0';
        if (n >= 1 && static_cast<std::size_t>(n) <= count) return static_cast<std::size_t>(n);
    }
}

void PrintProgress(std::ostream& out, const FirmwareUpgrade& engine)
{
    const std::uint32_t transferred = engine.BytesTransferred();
    const std::uint32_t total = engine.TotalBytes();
    const auto percent = static_cast<long long>(static_cast<double>(transferred) * 100.0 / static_cast<double>(total));
    WriteLine(out, "Transferred " + std::to_string(transferred) + "/" + std::to_string(total) + " bytes (" +
                       std::to_string(percent) + "%)");
}

void PrintErrors(std::ostream& out, FirmwareUpgradeErrors errors)
{
    struct Report {
        std::uint8_t bit;
        const char* first;
        const char* second;
    };
    static const Report reports[] = {
        {FirmwareUpgradeErrors::StreamError, "F/W Upgrade: Stream Error", "   - Check MCS File Access permissions"},
        {FirmwareUpgradeErrors::FlashIdError, "F/W Upgrade: Unrecognised Flash ID Code", "   - Please contact Corvane"},
        {FirmwareUpgradeErrors::EraseError, "F/W Upgrade: Erase Error", "   - Please contact Corvane"},
        {FirmwareUpgradeErrors::ProgramError, "F/W Upgrade: Program Error", "   - Please contact Corvane"},
        {FirmwareUpgradeErrors::TimedOut, "F/W Upgrade: Timed Out", "   - Please try upgrade again"},
        {FirmwareUpgradeErrors::CrcError, "F/W Upgrade: CRC Error",
         "   - Please check file contents are valid MCS format"},
    };
    for (const Report& report : reports) {
        if (errors.Has(report.bit)) WriteLine(out, std::string(report.first) + "\n" + report.second);
    }
}

// Runs the engine to its end; returns the exit code.
int RunEngine(std::ostream& out, const CommandLine& cmd, const Qel::QELSystem& system)
{
    std::ifstream image(cmd.image_file);
    auto engine = std::make_unique<FirmwareUpgrade>(system, image);
    FirmwareUpgradeSupervisor supervisor(out);
    for (int event = 0; event < Qel::FirmwareUpgradeEvent::Count; ++event) engine->Subscribe(event, &supervisor);

    const bool started = cmd.verify ? engine->StartVerify() : engine->StartUpgrade();
    if (!started) {
        // Nothing was sent: the engine refuses a system that is not fully
        // identified or whose synthesiser cannot be upgraded remotely.
        engine.reset();
        WriteLine(out, "F/W Upgrade: this system cannot be upgraded remotely (unidentified controller or "
                       "synthesiser, or no remote-upgrade support)");
        out << '\n';
        PromptAndWaitForKey(out, false);
        return -1;
    }

    int polls = 0;
    for (;;) {
        if (engine->IsDone() && !engine->HasError()) break;
        std::this_thread::sleep_for(kPollPeriod);
        if (engine->HasError()) {
            PrintErrors(out, engine->GetErrors());
            WaitForKey();
            // The destructor waits for the run's closing command, so the
            // run's last events reach the supervisor before it goes.
            engine.reset();
            return -1;
        }
        if (engine->GetStatus().InProgrammingPhase()) {
            if (polls == kPollsPerProgressLine - 1) {
                PrintProgress(out, *engine);
                polls = 0;
            } else {
                ++polls;
            }
        }
    }

    // The engine raises every event of a run before it publishes done, so no
    // notification can still be running on its worker here.
    for (int event = 0; event < Qel::FirmwareUpgradeEvent::Count; ++event) engine->Unsubscribe(event, &supervisor);
    engine.reset();
    out << '\n';
    PromptAndWaitForKey(out, false);
    return 0;
}

}  // namespace

int RunSession(const CommandLine& cmd, std::ostream& out)
{
    out << '\n' << "Scanning for Qel Systems ... please wait ... " << '\n' << std::flush;

    Qel::ConnectionList connections;
    for (const std::string& name : connections.TransportNames()) {
        if (name == "CM_SERIAL") connections.Config("CM_SERIAL").Enabled = false;
    }
    const std::vector<Qel::QELSystem> systems = connections.Scan();

    if (systems.empty()) {
        out << '\n' << "Cannot find system to upgrade. Please check connection and try again." << '\n';
        out << '\n';
        PromptAndWaitForKey(out, false);
        return -1;
    }

    out << "Discovered " << systems.size() << " Qel Systems: " << '\n';
    for (std::size_t k = 0; k < systems.size(); ++k) out << "  " << k + 1 << ") " << systems[k].PortName() << '\n';

    const std::size_t choice = ReadChoice(out, std::cin, systems.size());
    if (choice == 0) {
        out << '\n' << '\n' << "No system selected (end of input)." << '\n';
        out << '\n';
        PromptAndWaitForKey(out, false);
        return -1;
    }

    Qel::QELSystem system = systems[choice - 1];
    system.Connect();
    out << '\n' << "Connecting to QEL System on port: " << system.PortName() << '\n';
    PrintIdentity(out, system);

    if (cmd.query) {
        out << '\n';
        PromptAndWaitForKey(out, false);
        return 0;
    }

    if (system.Conn() == nullptr || !system.Conn()->IsOpen()) {
        out << "Unable to connect to QEL System on port: " << system.PortName()
            << ". Please check connection and try again." << '\n';
        out << '\n';
        PromptAndWaitForKey(out, false);
        return -1;
    }

    return RunEngine(out, cmd, system);
}
