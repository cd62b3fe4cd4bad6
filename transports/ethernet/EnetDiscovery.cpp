#include "transports/ethernet/EnetDiscovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Qel {

namespace {

const std::string kQuestion = "Discovery: Who is out there?\n";
constexpr std::size_t kAnswerSize = 1560;

bool StartsWith(std::span<const std::uint8_t> line, const std::string& key)
{
    return line.size() >= key.size() && std::equal(key.begin(), key.end(), line.begin());
}

// The text after `key` up to the line feed, less the byte just before it.
std::string ValueOf(std::span<const std::uint8_t> line, std::size_t key_size)
{
    if (line.size() <= key_size + 1) return {};
    return std::string(line.begin() + static_cast<std::ptrdiff_t>(key_size), line.end() - 1);
}

int HexDigit(std::uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal number starting at `at`, cut to 8 bits; 0 when there is none.
std::uint8_t HexByteAt(std::span<const std::uint8_t> line, std::size_t at)
{
    unsigned value = 0;
    for (std::size_t i = at; i < line.size() && HexDigit(line[i]) >= 0; ++i) {
        value = (value << 4 | static_cast<unsigned>(HexDigit(line[i]))) & 0xFFFF;
    }
    return static_cast<std::uint8_t>(value & 0xFF);
}

std::string DottedQuad(std::uint32_t address_be)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = address_be;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

DiscoveredUnit ParseDiscoveryAnswer(std::span<const std::uint8_t> answer)
{
    DiscoveredUnit unit;
    std::size_t start = 0;
    for (;;) {
        const auto begin = answer.begin() + static_cast<std::ptrdiff_t>(start);
        const auto feed = std::find(begin, answer.end(), '\n');
        if (feed == answer.end()) break;
        const auto line = answer.subspan(start, static_cast<std::size_t>(feed - begin));
        if (StartsWith(line, "SNO: ")) {
            unit.serial_number = ValueOf(line, 5);
        } else if (StartsWith(line, "MAC: ")) {
            for (std::size_t k = 0; k < unit.mac.size(); ++k) unit.mac[k] = HexByteAt(line, 5 + 3 * k);
        } else if (StartsWith(line, "ReqIP: ")) {
            unit.requested_ip = ValueOf(line, 7);
        }
        start += line.size() + 1;
    }
    return unit;
}

bool ListLocalInterfaces(std::vector<LocalInterface>& interfaces)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    interfaces.clear();
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        LocalInterface local;
        local.name = entry->ifa_name;
        local.address_be = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        local.address = DottedQuad(local.address_be);
        local.up = (entry->ifa_flags & IFF_UP) != 0;
        local.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        local.broadcast = (entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr != nullptr;
        if (local.broadcast) {
            local.broadcast_be = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr;
        }
        interfaces.push_back(local);
    }
    freeifaddrs(list);
    return true;
}

bool BroadcastDiscovery(const std::vector<std::string>& filter, std::chrono::milliseconds wait,
                        std::vector<DiscoveredUnit>& units, DiscoveryPorts ports)
{
    std::vector<LocalInterface> interfaces;
    if (!ListLocalInterfaces(interfaces)) return false;
    units.clear();
    for (const LocalInterface& local : interfaces) {
        if (!filter.empty() && std::find(filter.begin(), filter.end(), local.address) == filter.end()) continue;
        if (!local.up || !local.broadcast || local.loopback) continue;

        const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (sock < 0) continue;
        const int on = 1;
        if (setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            ::close(sock);
            return false;
        }
        sockaddr_in own{};
        own.sin_family = AF_INET;
        own.sin_port = htons(ports.question_from);
        own.sin_addr.s_addr = local.address_be;
        if (::bind(sock, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
            ::close(sock);
            continue;
        }
        sockaddr_in everyone{};
        everyone.sin_family = AF_INET;
        everyone.sin_port = htons(ports.question_to);
        everyone.sin_addr.s_addr = local.broadcast_be;
        ::sendto(sock, kQuestion.data(), kQuestion.size(), 0, reinterpret_cast<const sockaddr*>(&everyone),
                 sizeof everyone);

        // Answers are read as they come during the window, then whatever is
        // still queued; later ones are lost with the socket.
        // A sender that keeps answering would otherwise keep this loop, and
        // the connect attempt that follows for every unit, going for ever.
        constexpr std::size_t kMaxAnswersPerInterface = 64;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        std::size_t answers = 0;
        while (answers < kMaxAnswersPerInterface) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{sock, POLLIN, 0};
            const int ready = ::poll(&readable, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break; // the window has passed and nothing is queued
            std::vector<std::uint8_t> buffer(kAnswerSize, 0);
            sockaddr_in source{};
            socklen_t source_size = sizeof source;
            const ssize_t got = ::recvfrom(sock, buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&source), &source_size);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                ::close(sock);
                return false;
            }
            if (got == 0) break;
            DiscoveredUnit unit = ParseDiscoveryAnswer(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
            unit.source_address = DottedQuad(source.sin_addr.s_addr);
            units.push_back(std::move(unit));
            ++answers;
        }
        ::close(sock);
    }
    return true;
}

} // namespace Qel
