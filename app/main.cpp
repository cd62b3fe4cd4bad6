// qel_fw_upgrade: finds Qel Systems, prints the identity of the chosen one and
// upgrades or verifies its controller firmware from an MCS image.
#include "CommandLine.h"
#include "Console.h"
#include "Session.h"
#include "upgrade/McsImageCheck.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

void PrintBanner(std::ostream& out)
{
    out << '\n'
        << "Qel Firmware Upgrade Utility" << '\n'
        << "Upgrades and verifies the controller firmware of Qel Systems" << '\n'
        << std::string(66, '=') << '\n';
}

} // namespace

int main(int argc, char* argv[])
{
    std::ostream& out = std::cout;
    PrintBanner(out);

    const CommandLine cmd = ParseCommandLine(argc, argv);
    bool keep_going = true;
    if (cmd.Rejected()) {
        out << "error parsing options: " << cmd.error << '\n' << cmd.help_text << '\n';
        keep_going = false;
    } else if (cmd.show_help) {
        out << cmd.help_text << '\n';
        keep_going = false;
    }
    if (!keep_going) {
        out << '\n';
        PromptAndWaitForKey(out, true);
        return 0;
    }

    if (!cmd.query && !cmd.verify) {
        std::ifstream image(cmd.image_file);
        if (!image.is_open()) {
            out << '\n' << "Unable to open " << cmd.image_file << ". Please check and try again." << '\n';
            out << '\n';
            PromptAndWaitForKey(out, true);
            return -1;
        }
        out << '\n' << "Upgrading from " << cmd.image_file << '\n';

        // The whole image is checked before any device is touched: streaming a
        // damaged file would leave the controller with a corrupt flash.
        const Qel::McsImageCheckResult check = Qel::CheckMcsImage(image);
        if (!check) {
            out << '\n' << "Invalid MCS file " << cmd.image_file;
            if (check.line != 0) out << " at line " << check.line;
            out << ": " << check.message << ". Please check and try again." << '\n';
            out << '\n';
            PromptAndWaitForKey(out, true);
            return -1;
        }
    }

    return RunSession(cmd, out);
}
