// The Ethernet discovery protocol, below CM_ENET::Discover: the UDP
// broadcast question on every suitable local interface, and the parser of
// the units' text answers.
//
// Threads: everything runs on the caller's thread; no state of its own.
// Failure: BroadcastDiscovery answers false (the caller returns an empty
// list); ParseDiscoveryAnswer never fails, it leaves fields empty.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Qel {

// One answer to the discovery question.
struct DiscoveredUnit {
    std::string serial_number;       // "SNO: " line; empty when missing
    std::array<std::uint8_t, 6> mac{}; // "MAC: " line; all zero when missing
    std::string source_address;      // dotted quad the answer came from
    std::string requested_ip;        // "ReqIP: " line; empty when missing
};

// Parses one answer datagram, walking only `answer` (no terminating zero is
// needed). Lines end in a line feed; the byte before it (the carriage return)
// is dropped from the serial number and the requested IP; a last line
// without a line feed is ignored.
DiscoveredUnit ParseDiscoveryAnswer(std::span<const std::uint8_t> answer);

// A local IPv4 interface address, in the system's order (getifaddrs).
struct LocalInterface {
    std::string name;
    std::string address;   // dotted quad
    std::uint32_t address_be = 0;
    std::uint32_t broadcast_be = 0;
    bool up = false;
    bool broadcast = false;
    bool loopback = false;
};

// False when the interface list cannot be read.
bool ListLocalInterfaces(std::vector<LocalInterface>& interfaces);

struct DiscoveryPorts {
    std::uint16_t question_from = 28243;
    std::uint16_t question_to = 28242;
};

// Asks on every interface that is up, can broadcast, is not loopback and
// (when `filter` is not empty) whose address is one of its entries; gathers
// the answers that arrive within `wait` per interface into `units` (emptied
// first), in arrival order. False when the interface list cannot be read
// (`units` untouched), a socket option cannot be set or a read fails (the
// units read so far stay in `units`).
bool BroadcastDiscovery(const std::vector<std::string>& filter, std::chrono::milliseconds wait,
                        std::vector<DiscoveredUnit>& units, DiscoveryPorts ports = {});

} // namespace Qel
