#include "sim/network/ReportServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace QelSim {

namespace {
constexpr std::chrono::milliseconds kPoll{100};

// A host that stops reading must not hold the worker (and so Stop) for ever.
void SetSendTimeout(int fd)
{
    const timeval bound{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
}
} // namespace

ReportServer::ReportServer(const NetworkOptions& options, Consumer consumer)
    : options_(options), consumer_(std::move(consumer))
{
}

ReportServer::~ReportServer() { Stop(); }

bool ReportServer::Start(std::string& error)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        error = std::string("report socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.report_port);
    if (inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.address;
    } else if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
               ::listen(listener_, 4) != 0) {
        error = "report port " + options_.address + ":" + std::to_string(options_.report_port) + ": " +
                std::strerror(errno);
    } else {
        worker_ = std::thread([this] { Run(); });
        return true;
    }
    ::close(listener_);
    listener_ = -1;
    return false;
}

void ReportServer::Stop()
{
    stop_.Set();
    if (worker_.joinable()) worker_.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

bool ReportServer::SendInterrupt(const std::vector<std::uint8_t>& report)
{
    std::lock_guard lock(mutex_);
    if (back_channel_ < 0) return false;
    return WriteAll(back_channel_, report);
}

void ReportServer::Run()
{
    while (!stop_.IsSet()) {
        if (!(stop_.WaitFor(listener_, POLLIN, kPoll) & POLLIN)) continue;
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int connection = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (connection < 0) continue;
        ++connections_;
        const int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        SetSendTimeout(connection);
        Serve(connection, peer);
        ::close(connection);
    }
}

int ReportServer::ConnectBack(const sockaddr_in& peer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in host = peer;
    host.sin_port = htons(options_.back_channel_port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&host), sizeof host) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    const short ready = stop_.WaitFor(fd, POLLOUT, options_.back_channel_timeout);
    int error = 0;
    socklen_t size = sizeof error;
    if (!(ready & POLLOUT) || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        ::close(fd);
        return -1;
    }
    // Writes on the back channel block like those on the report connection.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    SetSendTimeout(fd);
    return fd;
}

bool ReportServer::WriteAll(int fd, const std::vector<std::uint8_t>& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void ReportServer::CloseBackChannel()
{
    std::lock_guard lock(mutex_);
    if (back_channel_ >= 0) ::close(back_channel_);
    back_channel_ = -1;
}

void ReportServer::Serve(int connection, const sockaddr_in& peer)
{
    if (options_.back_channel) {
        const int back = ConnectBack(peer);
        if (back >= 0) {
            ++back_channels_;
            std::lock_guard lock(mutex_);
            back_channel_ = back;
            if (!options_.interrupt_after_connect.empty()) WriteAll(back_channel_, options_.interrupt_after_connect);
        }
    }
    connected_ = true;
    std::uint8_t buffer[4096];
    while (!stop_.IsSet()) {
        if (!reading_) {
            stop_.Sleep(kPoll);
            continue;
        }
        if (!(stop_.WaitFor(connection, POLLIN, kPoll) & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) break; // the host closed the connection
        bytes_received_ += static_cast<std::uint64_t>(got);
        bool written = true;
        for (const NetReply& reply : consumer_(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)))) {
            if (reply.delay.count() > 0 && !stop_.Sleep(reply.delay)) break;
            if (!WriteAll(connection, reply.bytes)) {
                written = false;
                break;
            }
        }
        if (!written) break;
    }
    connected_ = false;
    CloseBackChannel();
}

} // namespace QelSim
