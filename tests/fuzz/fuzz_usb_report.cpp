// Incoming USB reports as the link takes them: hidapi hands each report to
// USBHID::read (through the simulated unit's hidapi stand-in), and the
// exchange the first byte picks judges the frames it makes of them. The rest
// of the input is the reports, report ID first, each behind a length byte.

#include <cstddef>
#include <cstdint>

#include "comms/comms.h"
#include "fuzz_support.h"

namespace {

CommsManager* g_comms = nullptr;

// Too short to hold a frame: the read after the input's reports fails, so
// every wait ends there instead of at its time-out.
const std::vector<uint8_t> kEndOfInput = {sim::SimulatedUnit::kReportId, USB_HID, 0x10};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    fuzz_quiet_standard_output();
    // The unit itself stays silent: only the input speaks.
    sim::FaultRule silent;
    silent.times = -1;
    silent.kind = sim::FAULT_NO_REPLY;
    g_comms = fuzz_connect_simulated_unit(silent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    fuzz_take_leftover_reports();
    // An empty report is what hidapi never delivers (0 means a time-out).
    for (const std::vector<uint8_t>& report : fuzz_records(data + 1, size - 1)) {
        if (!report.empty())
            sim::unit().queueRawReport(report);
    }
    sim::unit().queueRawReport(kEndOfInput);
    fuzz_link_exchange(g_comms, USB_HID, data[0]);
    return 0;
}
