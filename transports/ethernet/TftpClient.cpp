#include "transports/ethernet/TftpClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Qel {

namespace {

constexpr std::uint16_t kOpRead = 1;
constexpr std::uint16_t kOpWrite = 2;
constexpr std::uint16_t kOpData = 3;
constexpr std::uint16_t kOpAck = 4;
constexpr std::uint16_t kOpError = 5;
constexpr std::size_t kHeaderSize = 4;

void PutU16(std::vector<std::uint8_t>& packet, std::uint16_t value)
{
    packet.push_back(static_cast<std::uint8_t>(value >> 8));
    packet.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::vector<std::uint8_t> Ack(std::uint16_t block)
{
    std::vector<std::uint8_t> packet;
    PutU16(packet, kOpAck);
    PutU16(packet, block);
    return packet;
}

} // namespace

std::vector<std::uint8_t> TftpRequest(std::uint16_t opcode, const std::string& file_name)
{
    static const std::string mode = "octet";
    std::vector<std::uint8_t> packet;
    if (2 + file_name.size() + 1 + mode.size() + 1 > TftpClient::kPacketSize) return packet;
    PutU16(packet, opcode);
    packet.insert(packet.end(), file_name.begin(), file_name.end());
    packet.push_back(0);
    packet.insert(packet.end(), mode.begin(), mode.end());
    packet.push_back(0);
    return packet;
}

TftpClient::TftpClient(const sockaddr_in& server, std::chrono::milliseconds receive_timeout)
    : server_(server), receive_timeout_(receive_timeout)
{
    server_.sin_port = htons(kServerPort);
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw ETFTPSocketCreate();
}

TftpClient::~TftpClient()
{
    if (socket_ >= 0) ::close(socket_);
}

std::string TftpClient::FileName(const std::uint8_t* identifier)
{
    static const char digits[] = "0123456789abcdef";
    std::string name;
    for (int i = 0; i < 16; ++i) {
        name += digits[identifier[i] >> 4];
        name += digits[identifier[i] & 0x0F];
    }
    return name;
}

bool TftpClient::SendPacket(const std::vector<std::uint8_t>& packet)
{
    const ssize_t sent = ::sendto(socket_, packet.data(), packet.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
    return sent == static_cast<ssize_t>(packet.size());
}

TftpClient::Outcome TftpClient::Receive(std::chrono::steady_clock::time_point deadline)
{
    std::uint8_t buffer[kPacketSize];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Outcome::Timeout;
        pollfd readable{socket_, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        // A failed wait cannot be told from silence; counting it as a timeout
        // keeps a broken socket from spinning here.
        if (ready <= 0) return Outcome::Timeout;
        sockaddr_in source{};
        socklen_t source_size = sizeof source;
        const ssize_t got = ::recvfrom(socket_, buffer, sizeof buffer, MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&source), &source_size);
        if (got <= 0) continue; // empty datagram or read error: not an answer
        if (source.sin_addr.s_addr != server_.sin_addr.s_addr) continue;
        if (bound_to_peer_ && source.sin_port != server_.sin_port) continue;
        // The first answer names the server's transfer port; from now on only
        // that port may steer the transfer.
        server_.sin_port = source.sin_port;
        bound_to_peer_ = true;
        // MSG_TRUNC reports the real length of an oversized datagram; keep
        // the bytes we have and let the length checks refuse it.
        const std::size_t length = static_cast<std::size_t>(got);
        received_.assign(buffer, buffer + std::min(length, sizeof buffer));
        if (length > sizeof buffer) received_.resize(sizeof buffer + 1, 0);
        return Outcome::Packet;
    }
}

std::uint16_t TftpClient::ReceivedOpcode() const
{
    if (received_.size() < 2) return 0;
    return static_cast<std::uint16_t>(received_[0] << 8 | received_[1]);
}

std::uint16_t TftpClient::ReceivedBlock() const
{
    if (received_.size() < kHeaderSize) return 0;
    return static_cast<std::uint16_t>(received_[2] << 8 | received_[3]);
}

bool TftpClient::Put(const std::deque<std::uint8_t>& data, const std::string& file_name)
{
    const std::vector<std::uint8_t> request = TftpRequest(kOpWrite, file_name);
    if (request.empty()) return false;
    server_.sin_port = htons(kServerPort);
    bound_to_peer_ = false;
    if (!SendPacket(request)) return false;

    std::uint16_t block = 0; // the block whose ACK we wait for (0: the request)
    std::size_t offset = 0;
    bool last_sent = false;
    auto deadline = std::chrono::steady_clock::now() + receive_timeout_;
    for (;;) {
        if (Receive(deadline) == Outcome::Timeout) return false;
        if (ReceivedOpcode() != kOpAck) return false;
        // An ACK for an earlier block (a duplicate) must not trigger another
        // DATA: answering duplicates doubles every later block (RFC 1123).
        if (received_.size() < kHeaderSize || ReceivedBlock() != block) continue;
        if (last_sent) return true;

        ++block; // wraps to 0 after 65535, as servers expect
        const std::size_t count = std::min(kBlockSize, data.size() - offset);
        std::vector<std::uint8_t> packet;
        packet.reserve(kHeaderSize + count);
        PutU16(packet, kOpData);
        PutU16(packet, block);
        packet.insert(packet.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                      data.begin() + static_cast<std::ptrdiff_t>(offset + count));
        offset += count;
        // A short block ends the transfer; after a full last block an empty
        // one follows.
        if (count < kBlockSize) last_sent = true;
        if (!SendPacket(packet)) return false;
        deadline = std::chrono::steady_clock::now() + receive_timeout_;
    }
}

bool TftpClient::Get(const std::string& file_name, std::deque<std::uint8_t>& data)
{
    std::vector<std::uint8_t> last_sent = TftpRequest(kOpRead, file_name);
    data.clear();
    if (last_sent.empty()) return false;
    server_.sin_port = htons(kServerPort);
    bound_to_peer_ = false;
    // Until the first block arrives the request itself is what a timeout
    // repeats: the request or the first block may have been lost.
    if (!SendPacket(last_sent)) return false;

    std::uint16_t expected = 1;
    int timeouts_in_a_row = 0;
    // Only counted outcomes move the deadline: datagrams that are ignored
    // cannot keep the transfer alive.
    auto deadline = std::chrono::steady_clock::now() + receive_timeout_;
    for (;;) {
        if (Receive(deadline) == Outcome::Timeout) {
            if (++timeouts_in_a_row >= 2) return false;
            SendPacket(last_sent);
            deadline = std::chrono::steady_clock::now() + receive_timeout_;
            continue;
        }
        const std::uint16_t opcode = ReceivedOpcode();
        if (opcode == kOpError) return false;
        if (opcode != kOpData) continue;
        if (received_.size() < kHeaderSize) return false;
        if (ReceivedBlock() != expected) continue; // a duplicate is not acknowledged again
        const std::size_t payload = received_.size() - kHeaderSize;
        if (payload > kBlockSize) return false;

        data.insert(data.end(), received_.begin() + kHeaderSize, received_.end());
        last_sent = Ack(expected);
        ++expected;
        timeouts_in_a_row = 0;
        SendPacket(last_sent);
        if (payload < kBlockSize) return true;
        deadline = std::chrono::steady_clock::now() + receive_timeout_;
    }
}

} // namespace Qel
