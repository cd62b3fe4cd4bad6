// TftpServer: the simulated system's TFTP server (RFC 1350, octet mode, UDP
// port 69). Its files are memory areas named by 32 hexadecimal digits (a
// transfer identifier); a read of an unknown area or a request in another
// mode is answered with an ERROR packet. Each transfer runs on a fresh UDP
// socket (the server's transfer identifier), one transfer at a time, and
// sends a packet again after its timeout. NetworkOptions can make it send a
// block or an ACK twice, pretend an ACK was lost, or send a bogus packet from
// another port in the middle of a transfer.
//
// Threads: Start/Stop and the file accessors from any thread; one worker
// thread of its own, woken by Stop and joined there. mutex_ guards files_
// and the counters. Failure: Start answers false with a reason.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/network/NetworkOptions.h"
#include "sim/network/Wakeup.h"

namespace QelSim {

class TftpServer {
public:
    explicit TftpServer(const NetworkOptions& options);
    ~TftpServer();
    TftpServer(const TftpServer&) = delete;
    TftpServer& operator=(const TftpServer&) = delete;

    // Loads the --tftp-load files, binds port 69 and starts the worker.
    bool Start(std::string& error);
    void Stop();

    void SetFile(const std::string& name, std::vector<std::uint8_t> bytes);
    std::optional<std::vector<std::uint8_t>> File(const std::string& name) const;

    // How often each DATA block number arrived during the last write
    // transfer (duplicates included).
    std::map<std::uint16_t, int> DataBlocksReceived() const;
    int TransfersCompleted() const { return completed_.load(); }
    int TransfersFailed() const { return failed_.load(); }

private:
    void Run();
    void ServeRead(int socket, const sockaddr_in& client, const std::string& name);
    void ServeWrite(int socket, const sockaddr_in& client, const std::string& name);
    // Waits for one datagram from `client` on `socket`; false on timeout or Stop.
    bool Receive(int socket, std::vector<std::uint8_t>& packet);
    void Store(const std::string& name, const std::vector<std::uint8_t>& content);
    void SendStray(const sockaddr_in& client, const std::vector<std::uint8_t>& packet);
    void SendError(int socket, const sockaddr_in& client, std::uint16_t code, const std::string& text);

    NetworkOptions options_;
    int socket_ = -1;
    in_addr bound_address_{};
    Wakeup stop_;
    std::thread worker_;
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<std::uint8_t>> files_; // guarded by mutex_
    std::map<std::uint16_t, int> data_blocks_;               // guarded by mutex_
    std::atomic<int> completed_{0};
    std::atomic<int> failed_{0};
};

} // namespace QelSim
