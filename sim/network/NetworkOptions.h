// The settings of the simulated system's network front end, and their
// command-line options for qel_sim. Plain data: read once at start-up.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cxxopts {
class Options;
class ParseResult;
} // namespace cxxopts

namespace QelSim {

// Deliberately broken discovery answers, for the host's parser.
enum class MalformedAnswer {
    None,
    NoFinalLineFeed,  // the last line ("ReqIP: ...") has no line feed
    BareLineFeeds,    // lines end in "\n" without "\r"
    Oversized,        // a full 1560-byte datagram whose last line never ends
    NoSerialNumber,   // the "SNO: " line is left out
};

struct NetworkOptions {
    // Reports and TFTP are served on this address; discovery listens on every
    // address of the namespace, since broadcasts reach only such sockets.
    std::string address = "0.0.0.0";
    std::uint16_t report_port = 28244;
    std::uint16_t back_channel_port = 28245;
    std::uint16_t discovery_port = 28242;
    std::uint16_t tftp_port = 69;

    // Discovery answer.
    std::string serial_number = "QEL0001";
    std::string mac = "00:1A:2B:3C:4D:5E";
    std::string requested_ip = "0.0.0.0";
    bool mac_line = true;
    int answer_count = 1;
    MalformedAnswer malformed = MalformedAnswer::None;

    // Back channel: after accepting a report connection, connect to the
    // host's port 28245 (within back_channel_timeout) unless switched off.
    bool back_channel = true;
    std::chrono::milliseconds back_channel_timeout{4000};
    // Sent once over the back channel right after it connected (empty: none).
    std::vector<std::uint8_t> interrupt_after_connect;

    // TFTP server: files are memory areas named by 32 hexadecimal digits.
    std::chrono::milliseconds tftp_timeout{1000}; // before a packet is sent again
    int tftp_retries = 5;
    unsigned tftp_duplicate_block = 0;   // k > 0: DATA k (reads) or ACK k (writes) is sent twice
    unsigned tftp_ignore_ack = 0;        // k > 0: the first ACK k of a read is ignored, as if lost
    unsigned tftp_stray_after_block = 0; // k > 0: after block k a bogus packet comes from another port
    std::string tftp_dump_dir;           // completed uploads are also written here
    std::map<std::string, std::string> tftp_load; // file name -> host file, loaded at start
};

// The interrupt report the --interrupt-after-connect option sends: ADDR 3,
// LEN 4, payload 01 00 02 00.
std::vector<std::uint8_t> SampleInterruptReport();

void AddNetworkOptions(cxxopts::Options& options);
// True when --net was given; fills `network` from the parsed options
// (`serial_number` is the device's serial number). Throws std::runtime_error
// on a value that cannot be used.
bool NetworkOptionsFrom(const cxxopts::ParseResult& result, const std::string& serial_number,
                        NetworkOptions& network);

} // namespace QelSim
