// TestBed: the world an end-to-end test runs the real qel_fw_upgrade in.
//
// A "host" network namespace joined by veth pairs to device namespaces
// (link k: host 198.51.100.(64k+1)/26, device 198.51.100.(64k+2)/26), a
// simulated system (qel_sim --net) per device namespace on demand, and a
// private folder that serves as the utility's HOME, XDG data folder and
// temporary folder, so its settings file and log land there. The utility
// only ever runs inside the host namespace; nothing reaches the machine's
// interfaces.
//
// One test thread uses a bed; failures to build it throw std::runtime_error.
// Everything (processes by pid, namespaces, files) goes with the bed.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LiveProcess.h"
#include "NetNs.h"

namespace QelTest {

// Where the binaries under test are (set by the build).
std::string UtilityPath();
std::string SimPath();

class TestBed {
public:
    explicit TestBed(int links = 1);
    ~TestBed();
    TestBed(const TestBed&) = delete;
    TestBed& operator=(const TestBed&) = delete;

    NetNs& Host() { return *host_; }
    std::string DeviceAddress(int link) const;

    // Starts qel_sim --net on link `link` with `options` added and waits until
    // it listens for reports and discovery questions.
    BackgroundProcess& StartSim(int link, const std::vector<std::string>& options);

    // The private folders: the utility's HOME, XDG_DATA_HOME and TMPDIR.
    std::string Path(const std::string& name) const;
    std::string DataHome() const { return Path("data"); }
    std::string TempFolder() const { return Path("tmp"); }
    std::string SettingsFile() const { return DataHome() + "/Corvane/Qel_SDK/settings.ini"; }
    // Log files the utility left in its temporary folder.
    std::vector<std::string> LogFiles() const;

    // Writes `image` as an MCS file named `name` in the bed's folder; the path.
    std::string WriteImage(const std::string& name, const std::vector<std::uint8_t>& image);

    // The utility in the host namespace, running with the bed's folders.
    std::unique_ptr<LiveProcess> Start(const std::vector<std::string>& args);
    // Runs it to its end with `input` on standard input.
    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "",
                      std::chrono::milliseconds bound = std::chrono::seconds(90));

private:
    std::map<std::string, std::string> Environment() const;

    TempDir folder_;
    std::unique_ptr<NetNs> host_;
    std::vector<std::unique_ptr<NetNs>> devices_;
    std::vector<std::unique_ptr<BackgroundProcess>> sims_;
};

// The lines of `output` (without their ends), for order and count checks.
std::vector<std::string> Lines(const std::string& output);
// Index of the first line equal to `line` at or after `from`; -1 if none.
long FindLine(const std::vector<std::string>& lines, const std::string& line, long from = 0);
// Number of times `text` occurs in `output`.
std::size_t Count(const std::string& output, const std::string& text);

}  // namespace QelTest
