#include "sim/network/DiscoveryResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace QelSim {

namespace {
const std::string kQuestion = "Discovery: Who is out there?\n";
constexpr std::size_t kAnswerSize = 1560;
} // namespace

std::string DiscoveryAnswer(const NetworkOptions& options)
{
    const std::string end = options.malformed == MalformedAnswer::BareLineFeeds ? "\n" : "\r\n";
    std::string text;
    if (options.malformed != MalformedAnswer::NoSerialNumber) text += "SNO: " + options.serial_number + end;
    if (options.mac_line) text += "MAC: " + options.mac + end;
    text += "ReqIP: " + options.requested_ip;
    switch (options.malformed) {
    case MalformedAnswer::NoFinalLineFeed:
        break;
    case MalformedAnswer::Oversized:
        // Fills the whole datagram: no terminating zero, and the last "line"
        // never ends, so a reader must stop at the bytes it received.
        text += end + "SNO: ";
        text.resize(kAnswerSize, 'X');
        break;
    default:
        text += end;
        break;
    }
    return text;
}

DiscoveryResponder::DiscoveryResponder(const NetworkOptions& options) : options_(options) {}

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

bool DiscoveryResponder::Start(std::string& error)
{
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = std::string("discovery socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(options_.discovery_port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        error = "discovery bind to port " + std::to_string(options_.discovery_port) + ": " + std::strerror(errno);
        ::close(socket_);
        socket_ = -1;
        return false;
    }
    worker_ = std::thread([this] { Run(); });
    return true;
}

void DiscoveryResponder::Stop()
{
    stop_.Set();
    if (worker_.joinable()) worker_.join();
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

void DiscoveryResponder::Run()
{
    const std::string answer = DiscoveryAnswer(options_);
    char buffer[2048];
    while (!stop_.IsSet()) {
        if (!(stop_.WaitFor(socket_, POLLIN, std::chrono::milliseconds(250)) & POLLIN)) continue;
        sockaddr_in source{};
        socklen_t size = sizeof source;
        const ssize_t got = ::recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&source), &size);
        if (got <= 0) continue;
        if (std::string(buffer, static_cast<std::size_t>(got)) != kQuestion) continue;
        for (int i = 0; i < options_.answer_count; ++i) {
            ::sendto(socket_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&source), size);
        }
        ++answered_;
    }
}

} // namespace QelSim
