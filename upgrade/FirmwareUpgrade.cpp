#include "upgrade/FirmwareUpgrade.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <ios>
#include <mutex>
#include <thread>
#include <vector>

#include "discovery/QELSystem.h"
#include "messaging/IConnectionManager.h"
#include "messaging/IOReport.h"
#include "upgrade/McsBlockReader.h"

namespace Qel {
namespace {

constexpr int UpgradeReportType = 0x20;
constexpr std::uint16_t CommandAddress = 0;
constexpr std::uint16_t StatusAddress = 0;
constexpr std::uint16_t DataAddress = 1;
constexpr std::uint16_t FreeSpaceAddress = 1;
constexpr std::uint16_t ImageSizeAddress = 2;

constexpr std::size_t MaxBlock = 64;
constexpr std::size_t BlockGranule = 16;
constexpr auto StatusPollPeriod = std::chrono::milliseconds(25);

HostReport ReadRequest(std::uint16_t address, std::uint16_t length) {
    HostReport report(UpgradeReportType, HostReport::Read, address);
    report.LEN = length;
    return report;
}

// The engine's own test of an answer: complete (whatever its CRC) and not
// refused. Looser than the manager's acceptance on purpose: the device's
// upgrade channel does not always set the acknowledge bit.
bool IsGood(const DeviceReport& response) { return response.IsComplete() && !response.Rejected(); }

}  // namespace

struct FirmwareUpgrade::Impl {
    Impl(FirmwareUpgrade* owner_, const QELSystem& system_, std::istream& image_, int unanswered_limit_)
        : system(system_), image(image_), owner(owner_), unanswered_limit(std::max(1, unanswered_limit_)),
          reader(image_) {
        block.reserve(MaxBlock);
    }

    bool Start(bool verify);
    void WorkerThread();
    void Run();

    // Device messages.
    void SendCommand(FirmwareUpgradeCommand command);
    bool SendBlock(const std::vector<std::uint8_t>& data);
    bool PollStatus();
    bool ReadFreeSpace();
    std::uint32_t ReadImageSize();

    // Counts an exchange without a usable answer; true when the run must end.
    bool CountUnanswered(bool answered);
    // Ends the run from the host side (no event): bits, error, then done.
    void EndRun(std::uint8_t error_bits);
    bool Ended() const { return done.load() || error.load(); }
    std::uint8_t WithTimedOut() const {
        return static_cast<std::uint8_t>(errors.load() | FirmwareUpgradeErrors::TimedOut);
    }

    IConnectionManager* Manager() const { return system.Conn(); }

    const QELSystem& system;
    std::istream& image;
    FirmwareUpgradeEventTrigger trigger;
    FirmwareUpgrade* const owner;
    const int unanswered_limit;

    std::mutex lock;               // held by the worker for a whole run
    std::condition_variable wake;  // start request or shutdown
    bool running = true;           // guarded by lock
    bool start_request = false;    // guarded by lock
    bool verify_mode = false;      // guarded by lock
    // From an accepted start until the worker is done with its run; written
    // under lock, read without it by Start's fast refusal.
    std::atomic<bool> busy{false};

    std::atomic<bool> done{false};
    std::atomic<bool> error{false};
    std::atomic<std::uint8_t> status{0};
    std::atomic<std::uint8_t> errors{0};
    std::atomic<std::uint16_t> free_space{0};
    std::atomic<std::uint32_t> transferred{0};
    std::atomic<std::uint32_t> total{0};

    // Worker-only state.
    McsBlockReader reader;
    std::vector<std::uint8_t> block;
    bool image_read = false;  // an earlier upgrade run consumed the stream
    int unanswered = 0;

    std::thread worker;  // started by FirmwareUpgrade's constructor once Impl is whole
};

bool FirmwareUpgrade::Impl::Start(bool verify) {
    const QELController& controller = system.Controller();
    const QELSynthesiser& synthesiser = system.Synthesiser();
    if (!controller.IsValid() || !synthesiser.IsValid() || !synthesiser.Capabilities().RemoteUpgrade) return false;
    IConnectionManager* manager = Manager();
    if (manager == nullptr || !manager->IsOpen().load()) return false;

    // The worker holds the lock for a whole run, so a run in progress refuses
    // the start here without waiting. The lock is also held for moments by a
    // worker that is not running anything: at construction, and between the
    // end of a run (done already visible) and its next wait. The lock comes
    // free at once then, so wait for it rather than refuse a start that
    // nothing prevents. (try_lock of std::mutex reports no failure other
    // than "held".)
    const auto run_in_progress = [this] { return busy.load() && !done.load(); };
    if (run_in_progress()) return false;
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    if (!guard.owns_lock()) {
        if (run_in_progress()) return false;
        guard.lock();
    }
    // Under the lock busy means a start was accepted and its run not yet begun.
    if (busy.load()) return false;

    if (!verify) {
        total.store(ReadImageSize());
        transferred.store(0);
    }
    done.store(false);
    error.store(false);
    free_space.store(0);
    status.store(0);
    errors.store(0);
    verify_mode = verify;
    start_request = true;
    busy.store(true);
    wake.notify_one();
    return true;
}

void FirmwareUpgrade::Impl::WorkerThread() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        wake.wait(guard, [this] { return start_request || !running; });
        if (!running) {
            busy.store(false);
            return;
        }
        start_request = false;
        try {
            Run();
        } catch (const std::ios_base::failure&) {
            // Rewinding a stream with exceptions enabled failed.
            EndRun(FirmwareUpgradeErrors::StreamError);
        } catch (const std::exception&) {
            // Device I/O does not throw; should memory run out, the run still
            // ends as a failure rather than taking the process down.
            EndRun(errors.load());
        }
        busy.store(false);
    }
}

void FirmwareUpgrade::Impl::Run() {
    unanswered = 0;
    if (!verify_mode) {
        reader.Reset();
        // A second upgrade run on the same stream starts again from the top.
        if (image_read) {
            image.clear();
            image.seekg(0);
        }
        image_read = true;
    }

    SendCommand(FirmwareUpgradeCommand::Clear);
    SendCommand(verify_mode ? FirmwareUpgradeCommand::Verify : FirmwareUpgradeCommand::Upgrade);

    while (!Ended()) {
        if (!Manager()->IsOpen().load()) {
            EndRun(WithTimedOut());
            break;
        }
        // A verify-only run never feeds data, whatever the device reports.
        if (verify_mode || !FirmwareUpgradeStatus{status.load()}.InProgrammingPhase()) {
            if (CountUnanswered(PollStatus())) break;
            // Pace of the status poll while the controller works on its own.
            std::this_thread::sleep_for(StatusPollPeriod);
            continue;
        }
        if (free_space.load() < MaxBlock) {
            if (CountUnanswered(PollStatus())) break;
            if (CountUnanswered(ReadFreeSpace())) break;
            // The device may have left the programming phase or ended the run.
            if (Ended() || !FirmwareUpgradeStatus{status.load()}.InProgrammingPhase()) continue;
        }
        const std::size_t free = free_space.load();
        const std::size_t size = std::min(free, MaxBlock) / BlockGranule * BlockGranule;
        if (size == 0) {
            // The device's buffer is full: give it a poll period to program
            // before asking again, rather than asking as fast as it answers.
            std::this_thread::sleep_for(StatusPollPeriod);
            continue;
        }
        if (reader.StreamFailed()) {
            EndRun(FirmwareUpgradeErrors::StreamError);
            break;
        }
        if (reader.Fill(block, size) != McsBlockReader::Result::Ok) {
            EndRun(FirmwareUpgradeErrors::StreamError);
            break;
        }
        if (!SendBlock(block)) {
            // The connection closed under the run: the block never left.
            EndRun(WithTimedOut());
            break;
        }
        free_space.store(static_cast<std::uint16_t>(free - size));
    }

    SendCommand(FirmwareUpgradeCommand::Clear);
    // An error ends the run even when the device never reported done.
    done.store(true);
}

void FirmwareUpgrade::Impl::SendCommand(FirmwareUpgradeCommand command) {
    HostReport report(UpgradeReportType, HostReport::Write, CommandAddress);
    report.SetPayload({static_cast<std::uint8_t>(command)});
    Manager()->Send(report);
}

bool FirmwareUpgrade::Impl::SendBlock(const std::vector<std::uint8_t>& data) {
    HostReport report(UpgradeReportType, HostReport::Write, DataAddress);
    report.SetPayload(data);
    if (Manager()->Send(report) < 0) return false;
    transferred.fetch_add(static_cast<std::uint32_t>(data.size()));
    return true;
}

bool FirmwareUpgrade::Impl::PollStatus() {
    const DeviceReport response = Manager()->SendAndWait(ReadRequest(StatusAddress, 4));
    if (!IsGood(response) || response.DATA.size() < 4) return false;

    const bool device_done = response.DATA[0] != 0;
    const std::uint8_t new_status = response.DATA[2];
    const std::uint8_t new_errors = response.DATA[3];
    const bool device_error = response.DATA[1] != 0 || new_errors != 0;

    const std::uint8_t old_status = status.exchange(new_status);
    errors.store(new_errors);
    const bool was_error = error.exchange(device_error);
    const bool was_done = done.load();

    const std::uint8_t changed = old_status ^ new_status;
    for (int bit = 0; bit < 8; ++bit) {
        if ((changed >> bit) & 1) trigger.Notify(owner, FirmwareUpgradeEvent::ForStatusBit(bit), 0);
    }
    if (device_error && !was_error) trigger.Notify(owner, FirmwareUpgradeEvent::Error, 0);
    if (device_done && !was_done) trigger.Notify(owner, FirmwareUpgradeEvent::Done, 0);
    // Last, after every event: whoever sees done may unsubscribe at once.
    done.store(device_done);
    return true;
}

bool FirmwareUpgrade::Impl::ReadFreeSpace() {
    const DeviceReport response = Manager()->SendAndWait(ReadRequest(FreeSpaceAddress, 2));
    if (!IsGood(response) || response.DATA.size() < 2) return false;
    free_space.store(response.PayloadWord());
    return true;
}

std::uint32_t FirmwareUpgrade::Impl::ReadImageSize() {
    const DeviceReport response = Manager()->SendAndWait(ReadRequest(ImageSizeAddress, 4));
    return IsGood(response) ? response.PayloadDword() : 0;
}

bool FirmwareUpgrade::Impl::CountUnanswered(bool answered) {
    if (answered) {
        unanswered = 0;
        return false;
    }
    if (++unanswered < unanswered_limit) return false;
    EndRun(WithTimedOut());
    return true;
}

void FirmwareUpgrade::Impl::EndRun(std::uint8_t error_bits) {
    errors.store(error_bits);
    error.store(true);
    done.store(true);
}

// --- FirmwareUpgrade --------------------------------------------------------

FirmwareUpgrade::FirmwareUpgrade(const QELSystem& system, std::istream& image, int unanswered_limit)
    : impl_(std::make_unique<Impl>(this, system, image, unanswered_limit)) {
    impl_->worker = std::thread([impl = impl_.get()] { impl->WorkerThread(); });
}

FirmwareUpgrade::~FirmwareUpgrade() {
    {
        // Blocks while a run is in progress: the run is never cut short.
        std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->running = false;
    }
    impl_->wake.notify_all();
    impl_->worker.join();
}

bool FirmwareUpgrade::StartUpgrade() { return impl_->Start(false); }
bool FirmwareUpgrade::StartVerify() { return impl_->Start(true); }

bool FirmwareUpgrade::Subscribe(int event, IEventHandler* handler) { return impl_->trigger.Subscribe(event, handler); }
void FirmwareUpgrade::Unsubscribe(int event, IEventHandler* handler) { impl_->trigger.Unsubscribe(event, handler); }

bool FirmwareUpgrade::IsDone() const { return impl_->done.load(); }
bool FirmwareUpgrade::HasError() const { return impl_->error.load(); }
FirmwareUpgradeStatus FirmwareUpgrade::GetStatus() const { return {impl_->status.load()}; }
FirmwareUpgradeErrors FirmwareUpgrade::GetErrors() const { return {impl_->errors.load()}; }
std::uint32_t FirmwareUpgrade::BytesTransferred() const { return impl_->transferred.load(); }
std::uint32_t FirmwareUpgrade::TotalBytes() const {
    const std::uint32_t value = impl_->total.load();
    return value == 0 ? DefaultTotalBytes : value;
}

}  // namespace Qel
