// Incoming USB reports as the link takes them: hidapi hands each report to
// USBHID::read (through the simulated unit's hidapi stand-in), and the
// exchange the first byte picks judges the frames it makes of them. The rest
// of the input is the reports, report ID first, each behind a length byte.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The unit itself stays silent: only the input speaks.
    static CommsManager* comms = fuzz_connect_simulated_unit({0, 0, -1, sim::FAULT_NO_REPLY, 0, -1});
    if (size == 0)
        return 0;
    fuzz_take_leftover_reports();
    for (const std::vector<uint8_t>& report : fuzz_records(data + 1, size - 1))
        sim::unit().queueRawReport(report);
    // Too short to hold a frame: the read after the input's reports fails, so
    // every wait ends there instead of at its time-out.
    sim::unit().queueRawReport({sim::SimulatedUnit::kReportId, USB_HID, 0x10});
    fuzz_link_exchange(comms, USB_HID, data[0]);
    return 0;
}
