#include "sim/FlashProgrammer.h"

#include <algorithm>
#include <fstream>

namespace QelSim {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

FlashProgrammer::FlashProgrammer(const Profile& profile, std::uint8_t forced_error, std::uint32_t buffer_size)
    : expected_(profile.expected_firmware),
      check_content_(!profile.expected_firmware.empty()),
      image_size_(profile.EffectiveImageSize()),
      timing_(profile.timing),
      forced_error_(forced_error),
      buffer_size_(buffer_size),
      dump_path_(profile.flash_dump_path) {
    // The host streams zero blocks after the end of its file, so an image
    // shorter than the programmed size is expected to be followed by zeros.
    expected_.resize(image_size_, 0x00);
    if (check_content_ && !profile.flash_erased)
        flash_ = expected_;
    else
        flash_.assign(image_size_, 0xFF);
}

void FlashProgrammer::Configure(std::uint8_t forced_error, std::uint32_t buffer_size) {
    forced_error_ = forced_error;
    buffer_size_ = buffer_size;
}

void FlashProgrammer::Reset() {
    step_ = Step::Idle;
    done_ = error_ = status_ = errors_ = 0;
    buffer_.clear();
    programmed_ = 0;
}

bool FlashProgrammer::Command(std::uint8_t code, TimePoint now) {
    switch (code) {
    case UpgradeCommand::Clear:
        Reset();
        return true;
    case UpgradeCommand::Upgrade:
    case UpgradeCommand::Verify:
        Reset();
        verify_run_ = code == UpgradeCommand::Verify;
        step_ = Step::Started;
        step_base_ = now;
        Advance(now);
        return true;
    default:
        return false;
    }
}

std::chrono::milliseconds FlashProgrammer::StepTime(Step step) const {
    switch (step) {
    case Step::Started: return milliseconds{timing_.started_ms};
    case Step::InitializeOk: return milliseconds{timing_.initialize_ms};
    case Step::CheckIdOk: return milliseconds{timing_.check_id_ms};
    case Step::EnteredUpgradeMode: return milliseconds{timing_.enter_ms};
    case Step::EraseOk: return milliseconds{timing_.erase_ms};
    case Step::Verifying: return milliseconds{timing_.verify_ms};
    case Step::Leaving: return milliseconds{timing_.leave_ms};
    default: return milliseconds{0};
    }
}

bool FlashProgrammer::InProgrammingPhase() const { return step_ == Step::Programming; }

bool FlashProgrammer::ImageMatches() const {
    // Without a reference image the controller can only vouch for a full write.
    if (!check_content_) return true;
    return flash_ == expected_;
}

void FlashProgrammer::Fail(std::uint8_t error_bit) {
    errors_ |= error_bit;
    if (status_ & UpgradeStatus::EnteredUpgradeMode) status_ |= UpgradeStatus::LeavingUpgradeMode;
    Finish();
}

void FlashProgrammer::Finish() {
    done_ = 1;
    error_ = errors_ != 0 ? 1 : 0;
    step_ = Step::Finished;
    ++runs_completed_;
    if (!dump_path_.empty()) SaveFlash(dump_path_);
}

void FlashProgrammer::Drain(TimePoint now) {
    if (buffer_.empty()) {
        // Idle time earns no programming credit.
        last_drain_ = now;
        return;
    }
    std::size_t count = buffer_.size();
    if (timing_.program_rate != 0) {
        const auto elapsed = std::chrono::duration_cast<nanoseconds>(now - last_drain_).count();
        const auto movable = static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0)) * timing_.program_rate / 1'000'000'000ULL;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(movable, buffer_.size()));
        if (count == 0) return;
        // Keep the fraction of a byte already earned for the next drain.
        last_drain_ += nanoseconds{static_cast<std::int64_t>(count * 1'000'000'000ULL / timing_.program_rate)};
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (programmed_ < image_size_)
            flash_[programmed_++] = buffer_[i];
        else
            ++beyond_image_;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
    if (buffer_.empty()) last_drain_ = now;
}

void FlashProgrammer::Advance(TimePoint now) {
    for (;;) {
        switch (step_) {
        case Step::Idle:
        case Step::Finished:
            return;
        case Step::Programming:
            Drain(now);
            if (programmed_ < image_size_) return;
            if (forced_error_ & UpgradeError::ProgramError) {
                Fail(UpgradeError::ProgramError);
                return;
            }
            status_ |= UpgradeStatus::ProgramOk;
            step_ = Step::Verifying;
            step_base_ = now;
            continue;
        default:
            break;
        }
        const auto wait = StepTime(step_);
        if (now - step_base_ < wait) return;
        step_base_ += wait;
        switch (step_) {
        case Step::Started:
            status_ |= UpgradeStatus::Started;
            step_ = Step::InitializeOk;
            break;
        case Step::InitializeOk:
            status_ |= UpgradeStatus::InitializeOk;
            step_ = Step::CheckIdOk;
            break;
        case Step::CheckIdOk:
            if (forced_error_ & UpgradeError::FlashIdError) return Fail(UpgradeError::FlashIdError);
            status_ |= UpgradeStatus::CheckIdOk;
            step_ = Step::EnteredUpgradeMode;
            break;
        case Step::EnteredUpgradeMode:
            status_ |= UpgradeStatus::EnteredUpgradeMode;
            step_ = verify_run_ ? Step::Verifying : Step::EraseOk;
            break;
        case Step::EraseOk:
            if (forced_error_ & UpgradeError::EraseError) return Fail(UpgradeError::EraseError);
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            status_ |= UpgradeStatus::EraseOk;
            // A controller that waits in vain for data gives up at once here.
            if (forced_error_ & UpgradeError::TimedOut) return Fail(UpgradeError::TimedOut);
            step_ = Step::Programming;
            last_drain_ = step_base_;
            break;
        case Step::Verifying:
            if ((forced_error_ & UpgradeError::CrcError) || !ImageMatches())
                errors_ |= UpgradeError::CrcError;
            else
                status_ |= UpgradeStatus::VerifyOk;
            step_ = Step::Leaving;
            break;
        case Step::Leaving:
            status_ |= UpgradeStatus::LeavingUpgradeMode;
            Finish();
            return;
        default:
            return;
        }
    }
}

std::array<std::uint8_t, 4> FlashProgrammer::Status(TimePoint now) {
    Advance(now);
    return {done_, error_, status_, errors_};
}

std::uint16_t FlashProgrammer::FreeSpace(TimePoint now) {
    Advance(now);
    if (!InProgrammingPhase()) return 0;
    const std::size_t room = buffer_size_ > buffer_.size() ? buffer_size_ - buffer_.size() : 0;
    return static_cast<std::uint16_t>(std::min<std::size_t>(room, 0xFFFF));
}

FlashProgrammer::DataResult FlashProgrammer::Data(std::span<const std::uint8_t> bytes, TimePoint now) {
    Advance(now);
    if (InProgrammingPhase()) {
        const std::size_t room = buffer_size_ > buffer_.size() ? buffer_size_ - buffer_.size() : 0;
        const std::size_t take = std::min(room, bytes.size());
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes_received_ += take;
        overflow_bytes_ += bytes.size() - take;
        Advance(now);
        return DataResult::Accepted;
    }
    // Blocks the host queued before it saw the programming phase end (with
    // ProgramOk or an error) still arrive afterwards.
    if (!verify_run_ && (status_ & UpgradeStatus::EraseOk)) {
        beyond_image_ += bytes.size();
        return DataResult::Dropped;
    }
    return DataResult::Refused;
}

bool FlashProgrammer::SaveFlash(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
    return static_cast<bool>(out);
}

}  // namespace QelSim
