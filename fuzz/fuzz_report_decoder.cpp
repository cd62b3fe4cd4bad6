// Feeds arbitrary bytes to a run of DeviceReports, starting a new report
// whenever one completes, and exercises everything a caller reads from a
// decoded report. Checks the decoder's own invariants on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "messaging/IOReport.h"
#include "messaging/Message.h"

namespace {

void Touch(const Qel::DeviceReport& r) {
    std::ostringstream out;
    r.Dump(out);
    std::size_t sum = out.str().size();
    sum += r.PayloadWord();
    sum += r.PayloadDword();
    sum += r.PayloadWords().size();
    sum += r.PayloadText().size();
    sum += r.Accepted() + r.InterlockAlarm() + r.FaultBit() + r.Rejected() + r.NotAcknowledged();
    volatile std::size_t sink = sum;  // keeps the reads from being optimised away
    (void)sink;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Qel::DeviceReport report;
    for (std::size_t i = 0; i < size; ++i) {
        report.Decode(data[i]);
        Check(report.Decoder().state >= 0 && report.Decoder().state <= 10);
        Check(report.DATA.size() <= report.LEN);
        if (report.IsComplete()) {
            Check(report.DATA.size() == report.LEN);
            Touch(report);
            const Qel::DeviceReport copy = report;  // copies carry the whole state
            Check(copy.Result() == report.Result() && copy.DATA == report.DATA);
            report = Qel::DeviceReport{};
        }
    }
    Touch(report);

    // The same bytes through a message's own receive buffer.
    Qel::Message message(Qel::HostReport{});
    message.AppendReceived(std::span(data, size));
    message.DecodeReceived();
    Touch(message.Response());
    return 0;
}
