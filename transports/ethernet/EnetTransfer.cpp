// Bulk memory transfers of CM_ENET: requests handed to the TransferWorker,
// which carries each one out with a fresh TftpClient.
#include <algorithm>

#include "transports/ethernet/CM_ENET.h"
#include "transports/ethernet/EnetImpl.h"
#include "transports/ethernet/TftpClient.h"

namespace Qel {

namespace {
constexpr std::size_t kBlock = 512;
constexpr std::chrono::milliseconds kWorkerSlice{100};
} // namespace

bool CM_ENET::StartTransfer(TransferData& data, const std::uint8_t* identifier, int kind)
{
    Impl& d = *impl_;
    // Claiming the busy mark first keeps two callers from both making a
    // request; the worker waits for the request itself, not for the mark.
    if (identifier == nullptr) return false; // nothing to name the file by
    int idle = kTransferIdle;
    if (!d.transfer_kind.compare_exchange_strong(idle, kind)) {
        RaiseEvent(MessageEvent::TransferBusy, -1);
        return false;
    }
    if (kind == kTransferToDevice) {
        const std::size_t padded = data.empty() ? kBlock : ((data.size() - 1) / kBlock + 1) * kBlock;
        data.resize(padded, 0);
    }
    {
        std::lock_guard lock(d.transfer_mutex);
        d.request = std::make_unique<TransferRequest>();
        d.request->data = &data;
        std::copy(identifier, identifier + 16, d.request->identifier.begin());
    }
    d.transfer_cv.notify_all();
    return true;
}

bool CM_ENET::TransferToDevice(TransferData& data, std::uint32_t, int, const std::uint8_t* identifier)
{
    return StartTransfer(data, identifier, kTransferToDevice);
}

bool CM_ENET::TransferFromDevice(TransferData& data, int, int, int, const std::uint8_t* identifier)
{
    return StartTransfer(data, identifier, kTransferFromDevice);
}

void CM_ENET::TransferWorker()
{
    Impl& d = *impl_;
    std::unique_lock lock(d.transfer_mutex);
    while (open_) {
        d.transfer_cv.wait_for(lock, kWorkerSlice, [&] { return d.request != nullptr || !open_; });
        if (!open_) break;
        if (!d.request) continue;

        bool ok = false;
        try {
            TftpClient client(d.device_address, d.timings.tftp_timeout);
            const std::string name = TftpClient::FileName(d.request->identifier.data());
            ok = d.transfer_kind == kTransferToDevice ? client.Put(*d.request->data, name)
                                                      : client.Get(name, *d.request->data);
        } catch (const ETFTPSocketCreate&) {
            // The request stays pending; try again after a pause rather than
            // at once, which would only spin while sockets are short.
            lock.unlock();
            RaiseEvent(MessageEvent::TransferSetupFailed, -1);
            lock.lock();
            d.transfer_cv.wait_for(lock, kWorkerSlice, [&] { return !open_; });
            continue;
        }
        const int count = static_cast<int>(d.request->data->size());
        d.request.reset();
        d.transfer_kind.exchange(kTransferIdle);
        // Handlers may start the next transfer: raise with no lock held.
        lock.unlock();
        if (!ok) RaiseEvent(MessageEvent::TransferFailed, -1);
        RaiseEvent(MessageEvent::TransferDone, count);
        lock.lock();
    }
}

} // namespace Qel
