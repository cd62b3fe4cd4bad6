// Command line of qel_sim, kept apart from main so that further front ends
// (a network one, say) can add their own options and reuse these.
//
// AddModelOptions/ApplyModelOptions cover everything the device model needs:
// profile, identity, expected firmware, flash dump, EEPROM table, phase times
// and faults. ParseCommandLine is the whole command line of qel_sim. Runs on
// the caller's thread; failures come back as error text, never as exceptions.
#pragma once

#include <string>

#include <cxxopts.hpp>

#include "sim/Faults.h"
#include "sim/Profile.h"
#include "sim/network/NetworkOptions.h"

namespace QelSim {

struct SimConfig {
    Profile profile = DefaultProfile();
    Faults faults;
    bool stdio = false;  // serve host bytes from standard input on standard output
    bool net = false;    // serve the network front end (--net ADDRESS)
    NetworkOptions network;
};

struct CommandLine {
    SimConfig config;
    bool help = false;
    std::string text;  // the help text, or the error when `ok` is false
    bool ok = true;
};

void AddModelOptions(cxxopts::Options& options);
// Fills `config` from the parsed options; false with `error` set on a bad value
// (unknown profile, unreadable firmware file, malformed number or table).
bool ApplyModelOptions(const cxxopts::ParseResult& parsed, SimConfig& config, std::string& error);

CommandLine ParseCommandLine(int argc, const char* const argv[]);

}  // namespace QelSim
