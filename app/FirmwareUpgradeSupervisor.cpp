#include "FirmwareUpgradeSupervisor.h"

#include <array>
#include <string_view>

#include "upgrade/FirmwareUpgradeTypes.h"

namespace {

// Indexed by FirmwareUpgradeEvent id.
constexpr std::array<std::string_view, Qel::FirmwareUpgradeEvent::Count> kLines = {
    "F/W Upgrade: DONE!\n",
    "F/W Upgrade: >> ERROR <<\n",
    "F/W Upgrade: Started\n",
    "F/W Upgrade: Initialize OK\n",
    "F/W Upgrade: Check ID OK\n",
    "F/W Upgrade: Entered Upgrade Mode\n",
    "F/W Upgrade: Erase OK\n",
    "F/W Upgrade: Program OK\nPlease cycle power to enable upgrade\n",
    "F/W Upgrade: Verify OK\n",
    "F/W Upgrade: Leaving Upgrade Mode\n",
};

}  // namespace

FirmwareUpgradeSupervisor::FirmwareUpgradeSupervisor(std::ostream& out) : out_(out) {}

void FirmwareUpgradeSupervisor::OnEvent(void* /*sender*/, int event, int /*param*/) {
    if (event < 0 || event >= static_cast<int>(kLines.size())) return;
    out_ << kLines[static_cast<std::size_t>(event)] << std::flush;
}
