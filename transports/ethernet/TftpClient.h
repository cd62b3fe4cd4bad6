// TftpClient: the small TFTP (RFC 1350, octet mode) client behind the
// Ethernet bulk transfers. One client carries one transfer to or from UDP
// port 69 of a device, over its own blocking UDP socket.
//
// Threads: a client is used by one thread at a time (the transport's
// TransferWorker); it has no locks and starts no threads.
// Failure: the constructor throws ETFTPSocketCreate when it cannot create its
// socket; Put and Get answer false when the transfer did not complete (Get
// leaves the blocks received so far in the data).
//
// The transfer is bound to the address and port of the server's first answer
// (the transfer identifier); datagrams from anywhere else are ignored.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <vector>

namespace Qel {

class ETFTPSocketCreate : public std::exception {
public:
    const char* what() const noexcept override { return "Unable to create a socket"; }
};

class TftpClient {
public:
    static constexpr std::uint16_t kServerPort = 69;
    static constexpr std::size_t kBlockSize = 512;
    static constexpr std::size_t kPacketSize = 1024;
    static constexpr std::chrono::milliseconds kReceiveTimeout{2000};

    // `server` is the device's address; its port is replaced by 69.
    // `receive_timeout` is the wait for each answer (tests shorten it).
    explicit TftpClient(const sockaddr_in& server,
                        std::chrono::milliseconds receive_timeout = kReceiveTimeout);
    ~TftpClient();
    TftpClient(const TftpClient&) = delete;
    TftpClient& operator=(const TftpClient&) = delete;

    // Writes `data` (a multiple of 512 bytes long) to the file: blocks of
    // 512 bytes and a closing empty block. True when every block, the empty
    // one included, was acknowledged.
    bool Put(const std::deque<std::uint8_t>& data, const std::string& file_name);

    // Reads the file into `data` (cleared first). True when the closing short
    // block arrived.
    bool Get(const std::string& file_name, std::deque<std::uint8_t>& data);

    // The 32-character lower-case hexadecimal name of a transfer identifier.
    static std::string FileName(const std::uint8_t* identifier);

private:
    enum class Outcome { Packet, Timeout };

    bool SendPacket(const std::vector<std::uint8_t>& packet);
    // Waits until `deadline` for one datagram from the transfer's peer.
    Outcome Receive(std::chrono::steady_clock::time_point deadline);
    std::uint16_t ReceivedOpcode() const;
    std::uint16_t ReceivedBlock() const;

    sockaddr_in server_{};
    bool bound_to_peer_ = false; // server_ holds the peer's transfer port
    int socket_ = -1;
    std::chrono::milliseconds receive_timeout_;
    std::vector<std::uint8_t> received_; // last datagram received
};

// Builds a request packet: opcode, file name, 0, "octet", 0. Empty when it
// would not fit into a packet.
std::vector<std::uint8_t> TftpRequest(std::uint16_t opcode, const std::string& file_name);

} // namespace Qel
