// qel_sim: a simulated Qel System for tests and demonstrations.
#include <csignal>
#include <iostream>

#include <unistd.h>

#include "sim/Device.h"
#include "sim/Options.h"
#include "sim/StdioFrontEnd.h"
#include "sim/network/RunNetwork.h"

int main(int argc, char* argv[]) {
    const QelSim::CommandLine command_line = QelSim::ParseCommandLine(argc, argv);
    if (command_line.help) {
        std::cout << command_line.text;
        return 0;
    }
    if (!command_line.ok) {
        std::cerr << "qel_sim: " << command_line.text << "\n";
        return 2;
    }
    if (!command_line.config.stdio && !command_line.config.net) {
        std::cerr << "qel_sim: choose how to serve the system (--stdio or --net ADDRESS); see --help\n";
        return 2;
    }
    // A host that goes away shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    QelSim::Device device(command_line.config.profile, command_line.config.faults);
    if (command_line.config.net) return QelSim::RunNetwork(device, command_line.config.network);
    return QelSim::RunStdio(device, STDIN_FILENO, STDOUT_FILENO);
}
