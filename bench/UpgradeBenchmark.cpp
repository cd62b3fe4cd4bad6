// qel_bench_upgrade: times whole firmware upgrades of a simulated Qel System
// (loopback transport + simulator, zero erase and programming time), so the
// figures show what the host side costs: the engine, the MCS reading, the
// message engine and, since it runs in this process, the simulator.
//
//   qel_bench_upgrade [--mib N] [--runs N]
//
// Prints, per run and as the median: bytes per second of image data and the
// process CPU time per MiB. Exit status 1 when a run fails or the flash does
// not hold the image afterwards.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include "LoopbackTransport.h"
#include "McsImage.h"
#include "SimPeer.h"
#include "discovery/QELSystem.h"
#include "upgrade/FirmwareUpgrade.h"

namespace {

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct RunResult {
    bool ok = false;
    double seconds = 0;
    double cpu_seconds = 0;
};

RunResult RunOnce(const std::vector<std::uint8_t>& image, const std::string& mcs_text) {
    QelSim::Profile profile = QelSim::DefaultProfile();
    profile.timing.SetAllPhases(0);
    profile.timing.program_rate = 0;
    profile.expected_firmware = QelTest::FlashOrder(image);
    profile.flash_erased = true;

    auto peer = std::make_shared<QelTest::SimPeer>(profile);
    QelTest::LoopbackTransport transport(peer);
    Qel::QELSystem system(&transport, "Ulix30001:SIM");
    transport.Connect(system.PortName());
    system.QueryIdentity();

    std::istringstream mcs(mcs_text);
    RunResult result;
    {
        Qel::FirmwareUpgrade engine(system, mcs);
        const double cpu_start = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (!engine.StartUpgrade()) {
            std::fprintf(stderr, "the upgrade was refused\n");
            return result;
        }
        // Poll like the console does, but finer, so the end is seen promptly.
        while (!engine.IsDone()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.cpu_seconds = ProcessCpuSeconds() - cpu_start;
        if (engine.HasError()) {
            std::fprintf(stderr, "the upgrade failed: errors 0x%02x\n", engine.GetErrors().value);
            return result;
        }
    }
    const bool flash_ok = peer->WithDevice([&](QelSim::Device& device) { return device.Flash() == profile.expected_firmware; });
    if (!flash_ok) std::fprintf(stderr, "the flash does not hold the image\n");
    result.ok = flash_ok;
    return result;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 2;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoul(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    }
    if (mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: qel_bench_upgrade [--mib N] [--runs N]\n");
        return 2;
    }
    // The product logs only errors by default; without a sink set up, the
    // message engine's trace records would go to the console and dominate.
    boost::log::core::get()->set_logging_enabled(false);

    const auto image = QelTest::RandomImage(mib << 20, 2024);
    const std::string mcs_text = QelTest::WriteMcs(image);
    const double mib_count = static_cast<double>(image.size()) / (1 << 20);

    std::vector<double> rates;
    std::vector<double> cpu_per_mib;
    std::printf("upgrade of %zu MiB (16-byte records) against the simulated system\n", mib);
    for (int run = 1; run <= runs; ++run) {
        const RunResult r = RunOnce(image, mcs_text);
        if (!r.ok) return 1;
        rates.push_back(static_cast<double>(image.size()) / r.seconds);
        cpu_per_mib.push_back(r.cpu_seconds / mib_count);
        std::printf("run %d: %.2f s, %.0f bytes/s (%.1f KiB/s), CPU %.3f s per MiB\n", run, r.seconds,
                    rates.back(), rates.back() / 1024, cpu_per_mib.back());
    }
    std::printf("median: %.0f bytes/s (%.1f KiB/s), CPU %.3f s per MiB\n", Median(rates), Median(rates) / 1024,
                Median(cpu_per_mib));
    return 0;
}
