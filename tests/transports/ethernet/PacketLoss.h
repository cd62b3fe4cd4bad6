// Deterministic packet loss for the network tests: an nftables rule on the
// input hook of one namespace drops the first packet that matches.
#pragma once

#include <string>

#include "NetNs.h"

namespace QelTest {

// Drops, on arrival in `ns`, the first UDP datagram matching `match` (an
// nftables expression, e.g. "udp dport 69") whose IP length is
// `ip_length` bytes; later matching datagrams pass (unless `every_one`).
// The rule uses a byte quota just above one packet, so it holds for exactly
// one.
inline void DropFirstDatagram(const NetNs& ns, const std::string& match, int ip_length, bool every_one = false)
{
    const std::string quota = every_one ? "" : " quota until " + std::to_string(ip_length + 1) + " bytes";
    TempDir dir;
    const std::string rules = dir.Path() + "/loss.nft";
    const std::string text =
        "table inet qelloss {\n"
        "  chain input {\n"
        "    type filter hook input priority 0; policy accept;\n"
        "    " + match + " ip length " + std::to_string(ip_length) + quota + " drop\n"
        "  }\n"
        "}\n";
    WriteFileBytes(rules, std::vector<std::uint8_t>(text.begin(), text.end()));
    ns.RunChecked({"nft", "-f", rules});
}

// The nftables expression for a TFTP packet by opcode and block number
// (the four bytes after the UDP header).
inline std::string TftpOpcodeAndBlock(int opcode, int block)
{
    char text[64];
    std::snprintf(text, sizeof text, "@th,64,32 0x%04x%04x", opcode, block);
    return text;
}

} // namespace QelTest
