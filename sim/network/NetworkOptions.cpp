#include "sim/network/NetworkOptions.h"

#include <cxxopts.hpp>

#include <stdexcept>

#include "sim/Frame.h"

namespace QelSim {

std::vector<std::uint8_t> SampleInterruptReport()
{
    DeviceFrame frame;
    frame.id = kIdData;
    frame.hdr = kHdrAcknowledge;
    frame.addr = 3;
    frame.payload = {0x01, 0x00, 0x02, 0x00};
    return EncodeDeviceFrame(frame);
}

void AddNetworkOptions(cxxopts::Options& options)
{
    options.add_options("Network")
        ("net", "Serve reports (TCP 28244), discovery (UDP 28242) and TFTP (UDP 69) on this IPv4 address",
         cxxopts::value<std::string>())
        ("no-back-channel", "Do not connect back to the host's port 28245")
        ("interrupt-after-connect", "Send one interrupt report over the back channel once it is connected")
        ("no-mac", "Leave the \"MAC: \" line out of discovery answers")
        ("answer-twice", "Answer every discovery question twice")
        ("malformed-answer", "Broken discovery answers: no-final-lf, bare-lf, oversized or no-sno",
         cxxopts::value<std::string>())
        ("mac", "MAC address in discovery answers", cxxopts::value<std::string>())
        ("tftp-load", "Preload a TFTP memory area: NAME=FILE (repeatable)",
         cxxopts::value<std::vector<std::string>>())
        ("tftp-dump", "Also write completed TFTP uploads into this directory", cxxopts::value<std::string>());
}

bool NetworkOptionsFrom(const cxxopts::ParseResult& result, const std::string& serial_number,
                        NetworkOptions& network)
{
    if (result.count("net") == 0) return false;
    network.address = result["net"].as<std::string>();
    network.requested_ip = network.address;
    if (!serial_number.empty()) network.serial_number = serial_number;
    network.back_channel = result.count("no-back-channel") == 0;
    if (result.count("interrupt-after-connect")) network.interrupt_after_connect = SampleInterruptReport();
    network.mac_line = result.count("no-mac") == 0;
    network.answer_count = result.count("answer-twice") ? 2 : 1;
    if (result.count("mac")) network.mac = result["mac"].as<std::string>();
    if (result.count("malformed-answer")) {
        const std::string kind = result["malformed-answer"].as<std::string>();
        if (kind == "no-final-lf") network.malformed = MalformedAnswer::NoFinalLineFeed;
        else if (kind == "bare-lf") network.malformed = MalformedAnswer::BareLineFeeds;
        else if (kind == "oversized") network.malformed = MalformedAnswer::Oversized;
        else if (kind == "no-sno") network.malformed = MalformedAnswer::NoSerialNumber;
        else throw std::runtime_error("unknown --malformed-answer kind: " + kind);
    }
    if (result.count("tftp-load")) {
        for (const auto& item : result["tftp-load"].as<std::vector<std::string>>()) {
            const auto equals = item.find('=');
            if (equals == std::string::npos) throw std::runtime_error("--tftp-load wants NAME=FILE: " + item);
            network.tftp_load[item.substr(0, equals)] = item.substr(equals + 1);
        }
    }
    if (result.count("tftp-dump")) network.tftp_dump_dir = result["tftp-dump"].as<std::string>();
    return true;
}

} // namespace QelSim
