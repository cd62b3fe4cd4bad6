#include "transports/ethernet/CM_ENET.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "discovery/QELSystem.h"
#include "transports/ethernet/EnetImpl.h"

namespace Qel {

namespace {

constexpr std::chrono::milliseconds kSendSlice{10};
constexpr std::chrono::milliseconds kReceivePeriod{25};
constexpr std::chrono::milliseconds kInterruptPeriod{250};
constexpr std::chrono::milliseconds kDisconnectPoll{250};
constexpr std::size_t kReceiveChunk = 76;
constexpr std::size_t kInterruptChunk = 64;

void CloseSocket(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Waits for `events` on `fd`; the revents, 0 on timeout.
short WaitFor(int fd, short events, std::chrono::milliseconds timeout)
{
    pollfd p{fd, events, 0};
    int ready = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ready = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR) break;
    }
    return ready > 0 ? p.revents : 0;
}

} // namespace

CM_ENET::CM_ENET() : CM_ENET(EnetTimings{}) {}

CM_ENET::CM_ENET(const EnetTimings& timings)
    : CM_Common(timings.send_timeout_ms, timings.response_timeout_ms, timings.retention_ms),
      impl_(std::make_unique<Impl>(timings))
{
}

CM_ENET::~CM_ENET()
{
    Disconnect();
    impl_->units.clear();
    if (impl_->transfer_worker.joinable() || impl_->interrupt_listener.joinable()) {
        // A thread still running here would use a destroyed record.
        std::abort();
    }
}

const std::string& CM_ENET::Ident() const { return impl_->name; }

const std::vector<DiscoveredUnit>& CM_ENET::DiscoveredUnits() const { return impl_->units; }

bool CM_ENET::HasInterruptSocket() const { return impl_->interrupt_socket >= 0; }

std::vector<QELSystem> CM_ENET::Discover(const NamedList<std::string>& filter)
{
    std::vector<QELSystem> systems;
    if (open_) return systems;
    impl_->interface_filter = filter;
    if (!BroadcastDiscovery(impl_->interface_filter.Items(), impl_->timings.discovery_wait, impl_->units)) {
        return systems;
    }
    // Connect searches the list by serial number; walk a copy of it.
    const std::vector<DiscoveredUnit> units = impl_->units;
    for (const DiscoveredUnit& unit : units) {
        Connect(unit.serial_number);
        const std::string port = unit.serial_number + ":" + unit.source_address;
        if (IsOpen()) {
            QELSystem system(this, port);
            system.QueryIdentity();
            if (system.Controller().IsValid() || system.Synthesiser().IsValid()) {
                std::size_t same = 0;
                for (const QELSystem& earlier : systems) {
                    if (earlier.PortName() == port) ++same;
                }
                if (same > 0) system.PortName() += "-" + std::to_string(same);
                systems.push_back(system);
            }
        }
        Disconnect();
    }
    return systems;
}

void CM_ENET::Connect(const std::string& port)
{
    if (open_) return;
    Impl& d = *impl_;
    if (d.units.empty()) {
        BroadcastDiscovery(d.interface_filter.Items(), d.timings.discovery_wait, d.units);
    }

    // The serial number is the text before the first colon; the last unit
    // that carries it wins.
    const std::string serial = port.substr(0, port.find(':'));
    sockaddr_in device{};
    device.sin_family = AF_INET;
    device.sin_port = htons(kReportPort);
    bool known = false;
    for (const DiscoveredUnit& unit : d.units) {
        if (unit.serial_number == serial && inet_pton(AF_INET, unit.source_address.c_str(), &device.sin_addr) == 1) {
            known = true;
        }
    }
    // Linux would take 0.0.0.0 for this host itself; an unknown unit simply
    // cannot be reached.
    if (!known) return;

    int data = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    auto fail = [&] {
        CloseSocket(data);
        CloseSocket(listener);
    };
    if (data < 0 || listener < 0) return fail();

    const int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kBackChannelPort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        return fail();
    }
    if (!SetNonBlocking(data) || !SetNonBlocking(listener)) return fail();
    setsockopt(data, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::listen(listener, SOMAXCONN) != 0) return fail();

    if (::connect(data, reinterpret_cast<const sockaddr*>(&device), sizeof device) != 0) {
        if (errno != EINPROGRESS) return fail();
        // Writable means connected only when no error is pending.
        int error = 0;
        socklen_t size = sizeof error;
        if (!(WaitFor(data, POLLOUT, d.timings.connect_wait) & POLLOUT) ||
            getsockopt(data, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return fail();
        }
    }

    // A device that does not connect back still gives a usable connection,
    // only without interrupts.
    d.interrupt_socket = -1;
    if (WaitFor(listener, POLLIN, d.timings.back_channel_wait) & POLLIN) {
        d.interrupt_socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    }
    CloseSocket(listener);

    d.data_socket = data;
    d.device_address = device;
    d.unsent.clear();
    StartThreads();
    d.transfer_worker = std::thread([this] { TransferWorker(); });
    d.interrupt_listener = std::thread([this] { InterruptListener(); });
}

void CM_ENET::Disconnect()
{
    if (!open_) return;
    DrainForDisconnect(kDisconnectPoll);
    StopThreads();
    impl_->transfer_cv.notify_all();
    if (impl_->transfer_worker.joinable()) impl_->transfer_worker.join();
    if (impl_->interrupt_listener.joinable()) impl_->interrupt_listener.join();
    CloseSocket(impl_->data_socket);
    CloseSocket(impl_->interrupt_socket);
    impl_->unsent.clear();
}

void CM_ENET::SenderThread()
{
    Impl& d = *impl_;
    const int socket = d.data_socket;
    // The Linux form of the overlapped send: write what the socket takes,
    // wait for writability in 10 ms slices, and give up at the deadline with
    // the rest still owed to the stream.
    auto write = [&d, socket](std::span<const std::uint8_t> bytes,
                              std::chrono::steady_clock::time_point deadline) {
        d.unsent.insert(d.unsent.end(), bytes.begin(), bytes.end());
        for (;;) {
            const ssize_t n = ::send(socket, d.unsent.data(), d.unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                d.unsent.erase(d.unsent.begin(), d.unsent.begin() + n);
                if (d.unsent.empty()) return WriteOutcome::Written;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                d.unsent.clear(); // the connection is broken; nothing more will go out
                return WriteOutcome::Failed;
            }
            if (std::chrono::steady_clock::now() > deadline) return WriteOutcome::FailedAfterTimeout;
            WaitFor(socket, POLLOUT, kSendSlice);
        }
    };
    // This transport shows a failed send only in the message status.
    RunSenderLoop(write, SenderPolicy{.raise_send_failed = false});
}

void CM_ENET::ReceiverThread()
{
    const int socket = impl_->data_socket;
    std::uint8_t buffer[kReceiveChunk];
    bool peer_gone = false;
    while (open_) {
        if (peer_gone) {
            // Nothing more can arrive; keep the period without spinning.
            ::poll(nullptr, 0, static_cast<int>(kReceivePeriod.count()));
            continue;
        }
        if (!(WaitFor(socket, POLLIN, kReceivePeriod) & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            AppendReceivedBytes(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)));
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            // A device that went away is noticed through response timeouts.
            peer_gone = true;
        }
    }
}

void CM_ENET::InterruptListener()
{
    const int socket = impl_->interrupt_socket;
    std::uint8_t buffer[kInterruptChunk];
    bool idle = socket < 0;
    while (open_) {
        if (idle) {
            ::poll(nullptr, 0, static_cast<int>(kInterruptPeriod.count()));
            continue;
        }
        if (!(WaitFor(socket, POLLIN, kInterruptPeriod) & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            // Each read becomes one INTERRUPT message for the parser.
            AddInterruptMessage(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)));
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            idle = true;
        }
    }
}

} // namespace Qel
