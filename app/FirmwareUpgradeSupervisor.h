// FirmwareUpgradeSupervisor: the console's handler for the ten events of a
// FirmwareUpgrade run; prints one fixed line per stage (two for Program OK).
//
// OnEvent runs on the engine's worker thread while the console's main thread
// may print progress lines; each event's text is written with one call and
// flushed, so lines from the two threads interleave whole. Unknown event ids
// print nothing. The stream must outlive the supervisor.
#pragma once

#include <iostream>

#include "messaging/IEventHandler.h"

class FirmwareUpgradeSupervisor : public Qel::IEventHandler {
public:
    explicit FirmwareUpgradeSupervisor(std::ostream& out = std::cout);

    void OnEvent(void* sender, int event, int param) override;

private:
    std::ostream& out_;
};
