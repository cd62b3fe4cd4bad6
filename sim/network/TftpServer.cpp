#include "sim/network/TftpServer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace QelSim {

namespace {

constexpr std::uint16_t kOpRead = 1;
constexpr std::uint16_t kOpWrite = 2;
constexpr std::uint16_t kOpData = 3;
constexpr std::uint16_t kOpAck = 4;
constexpr std::uint16_t kOpError = 5;
constexpr std::size_t kBlock = 512;

std::uint16_t U16At(const std::vector<std::uint8_t>& packet, std::size_t at)
{
    if (packet.size() < at + 2) return 0;
    return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]);
}

std::vector<std::uint8_t> Packet(std::uint16_t opcode, std::uint16_t number)
{
    return {static_cast<std::uint8_t>(opcode >> 8), static_cast<std::uint8_t>(opcode),
            static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

bool IsAreaName(const std::string& name)
{
    return name.size() == 32 &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

} // namespace

TftpServer::TftpServer(const NetworkOptions& options) : options_(options) {}

TftpServer::~TftpServer() { Stop(); }

bool TftpServer::Start(std::string& error)
{
    for (const auto& [name, path] : options_.tftp_load) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot read " + path;
            return false;
        }
        SetFile(name, std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    if (inet_pton(AF_INET, options_.address.c_str(), &bound_address_) != 1) {
        error = "not an IPv4 address: " + options_.address;
        return false;
    }
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = std::string("tftp socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.tftp_port);
    address.sin_addr = bound_address_;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "tftp port " + options_.address + ":" + std::to_string(options_.tftp_port) + ": " + std::strerror(errno);
        ::close(socket_);
        socket_ = -1;
        return false;
    }
    worker_ = std::thread([this] { Run(); });
    return true;
}

void TftpServer::Stop()
{
    stop_.Set();
    if (worker_.joinable()) worker_.join();
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void TftpServer::SetFile(const std::string& name, std::vector<std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    files_[name] = std::move(bytes);
}

std::optional<std::vector<std::uint8_t>> TftpServer::File(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    const auto found = files_.find(name);
    if (found == files_.end()) return std::nullopt;
    return found->second;
}

std::map<std::uint16_t, int> TftpServer::DataBlocksReceived() const
{
    std::lock_guard lock(mutex_);
    return data_blocks_;
}

void TftpServer::Run()
{
    std::vector<std::uint8_t> request(1024);
    while (!stop_.IsSet()) {
        if (!(stop_.WaitFor(socket_, POLLIN, std::chrono::milliseconds(100)) & POLLIN)) continue;
        sockaddr_in client{};
        socklen_t size = sizeof client;
        const ssize_t got = ::recvfrom(socket_, request.data(), request.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&client), &size);
        if (got < 4) continue;
        const std::vector<std::uint8_t> packet(request.begin(), request.begin() + got);
        const std::uint16_t opcode = U16At(packet, 0);
        if (opcode != kOpRead && opcode != kOpWrite) continue;
        // name \0 mode \0, both within the datagram
        const auto name_end = std::find(packet.begin() + 2, packet.end(), 0);
        if (name_end == packet.end()) continue;
        const auto mode_end = std::find(name_end + 1, packet.end(), 0);
        if (mode_end == packet.end()) continue;
        const std::string name(packet.begin() + 2, name_end);
        std::string mode(name_end + 1, mode_end);
        std::transform(mode.begin(), mode.end(), mode.begin(), [](unsigned char c) { return std::tolower(c); });

        // Each transfer gets its own port, as RFC 1350 asks.
        const int transfer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (transfer < 0) continue;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = bound_address_;
        if (::bind(transfer, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            ::connect(transfer, reinterpret_cast<const sockaddr*>(&client), sizeof client) != 0) {
            ::close(transfer);
            continue;
        }
        if (mode != "octet") {
            SendError(transfer, client, 0, "only octet mode");
        } else if (!IsAreaName(name)) {
            SendError(transfer, client, 2, "no such memory area");
        } else if (opcode == kOpRead) {
            ServeRead(transfer, client, name);
        } else {
            ServeWrite(transfer, client, name);
        }
        ::close(transfer);
    }
}

bool TftpServer::Receive(int socket, std::vector<std::uint8_t>& packet)
{
    const auto deadline = std::chrono::steady_clock::now() + options_.tftp_timeout;
    packet.resize(1024);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stop_.IsSet()) return false;
        if (!(stop_.WaitFor(socket, POLLIN, left) & POLLIN)) continue;
        const ssize_t got = ::recv(socket, packet.data(), packet.size(), MSG_DONTWAIT);
        if (got < 4) continue;
        packet.resize(static_cast<std::size_t>(got));
        return true;
    }
}

void TftpServer::SendStray(const sockaddr_in& client, const std::vector<std::uint8_t>& packet)
{
    const int stray = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (stray < 0) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = bound_address_;
    ::bind(stray, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    ::sendto(stray, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
    ::close(stray);
}

void TftpServer::SendError(int socket, const sockaddr_in&, std::uint16_t code, const std::string& text)
{
    std::vector<std::uint8_t> packet = Packet(kOpError, code);
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0);
    ::send(socket, packet.data(), packet.size(), 0);
    ++failed_;
}

void TftpServer::ServeRead(int socket, const sockaddr_in& client, const std::string& name)
{
    const auto file = File(name);
    if (!file) {
        SendError(socket, client, 1, "no such memory area");
        return;
    }
    std::size_t offset = 0;
    std::uint16_t block = 1;   // on the wire, wraps after 65535
    unsigned number = 1;       // the same, counted on without wrapping (for the fault switches)
    bool ack_ignored = false;
    std::vector<std::uint8_t> answer;
    for (;;) {
        const std::size_t count = std::min(kBlock, file->size() - offset);
        std::vector<std::uint8_t> data = Packet(kOpData, block);
        data.insert(data.end(), file->begin() + static_cast<std::ptrdiff_t>(offset),
                    file->begin() + static_cast<std::ptrdiff_t>(offset + count));
        ::send(socket, data.data(), data.size(), 0);
        if (options_.tftp_duplicate_block == number) ::send(socket, data.data(), data.size(), 0);
        if (options_.tftp_stray_after_block == number) {
            // A plausible next block from the wrong port: accepting it would
            // corrupt the file.
            std::vector<std::uint8_t> bogus = Packet(kOpData, static_cast<std::uint16_t>(block + 1));
            bogus.resize(4 + kBlock, 0xEE);
            SendStray(client, bogus);
        }
        int tries = 0;
        for (;;) {
            if (!Receive(socket, answer)) {
                if (stop_.IsSet() || ++tries > options_.tftp_retries) {
                    ++failed_;
                    return;
                }
                ::send(socket, data.data(), data.size(), 0);
                continue;
            }
            const std::uint16_t opcode = U16At(answer, 0);
            if (opcode == kOpError) {
                ++failed_;
                return;
            }
            if (opcode != kOpAck || U16At(answer, 2) != block) continue;
            if (options_.tftp_ignore_ack == number && !ack_ignored) {
                ack_ignored = true; // as if it never arrived
                continue;
            }
            break;
        }
        offset += count;
        if (count < kBlock) {
            ++completed_;
            return;
        }
        ++block;
        ++number;
    }
}

void TftpServer::ServeWrite(int socket, const sockaddr_in& client, const std::string& name)
{
    {
        std::lock_guard lock(mutex_);
        data_blocks_.clear();
    }
    std::vector<std::uint8_t> content;
    std::uint16_t expected = 1;
    unsigned number = 1;
    std::vector<std::uint8_t> last_ack = Packet(kOpAck, 0);
    ::send(socket, last_ack.data(), last_ack.size(), 0);
    std::vector<std::uint8_t> packet;
    int tries = 0;
    for (;;) {
        if (!Receive(socket, packet)) {
            if (stop_.IsSet() || ++tries > options_.tftp_retries) {
                ++failed_;
                return;
            }
            ::send(socket, last_ack.data(), last_ack.size(), 0);
            continue;
        }
        const std::uint16_t opcode = U16At(packet, 0);
        if (opcode == kOpError) {
            ++failed_;
            return;
        }
        if (opcode != kOpData) continue;
        const std::uint16_t block = U16At(packet, 2);
        {
            std::lock_guard lock(mutex_);
            ++data_blocks_[block];
        }
        if (block == static_cast<std::uint16_t>(expected - 1)) {
            // Our ACK was lost: say it again.
            ::send(socket, last_ack.data(), last_ack.size(), 0);
            continue;
        }
        if (block != expected) continue;
        const std::size_t payload = packet.size() - 4;
        if (payload > kBlock) {
            SendError(socket, client, 4, "block too long");
            return;
        }
        tries = 0;
        content.insert(content.end(), packet.begin() + 4, packet.end());
        const bool last = payload < kBlock;
        // The area is complete before the last ACK can tell the client so.
        if (last) Store(name, content);
        last_ack = Packet(kOpAck, block);
        ::send(socket, last_ack.data(), last_ack.size(), 0);
        if (options_.tftp_duplicate_block == number) ::send(socket, last_ack.data(), last_ack.size(), 0);
        if (options_.tftp_stray_after_block == number) {
            SendStray(client, Packet(kOpAck, static_cast<std::uint16_t>(block + 1)));
        }
        if (last) return;
        ++expected;
        ++number;
    }
}

void TftpServer::Store(const std::string& name, const std::vector<std::uint8_t>& content)
{
    if (!options_.tftp_dump_dir.empty()) {
        std::ofstream out(options_.tftp_dump_dir + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    SetFile(name, content);
    ++completed_;
}

} // namespace QelSim
