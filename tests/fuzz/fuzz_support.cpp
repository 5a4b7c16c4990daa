#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>

#include "firmware_ops/firmware_ops.h"

namespace {

// The link, flash and settings code print a line for every refusal; a fuzzer
// running thousands of inputs a second has no use for them.
[[maybe_unused]] const bool g_quiet = freopen("/dev/null", "w", stdout) != nullptr;

// Commands whose acknowledgements the program waits for.
const uint32_t kAcknowledgedCommands[] = {CANMSG_GLOBAL_SET_SETTING, CANMSG_SAVE_USER_SETTINGS,
                                          CANMSG_SET_SENSOR_CALIB,   CANMSG_SAVE_SENSOR_CALIB,
                                          CANMSG_GET_PARTITION,      CANMSG_ENTER_BL};

} // namespace

void fuzz_require(bool holds, const char* property)
{
    if (!holds) {
        fprintf(stderr, "fuzz property failed: %s\n", property);
        abort();
    }
}

std::vector<std::vector<uint8_t>> fuzz_records(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> records;
    for (size_t at = 0; at < size;) {
        const size_t taken = std::min<size_t>(data[at], size - at - 1);
        if (taken > 0)
            records.emplace_back(data + at + 1, data + at + 1 + taken);
        at += 1 + taken;
    }
    return records;
}

CommsManager* fuzz_connect_simulated_unit(const sim::FaultRule& rule)
{
    sim::unit().reset();
    sim::unit().setRecording(false);
    CommsManager* comms = new CommsManager();
    fuzz_require(comms->establish_connection(), "the simulated unit answers on USB");
    sim::unit().addFault(rule);
    return comms;
}

void fuzz_take_leftover_reports()
{
    sim::Outbound report;
    while (sim::unit().takeOutbound(&report, 0) > 0) { }
}

void fuzz_link_exchange(CommsManager* comms, COMM_INTERFACE_t iface, uint8_t selector)
{
    uint8_t op = OP_NONE;
    uint32_t value = 0;
    fwversion_t version = {0};
    const uint32_t command = kAcknowledgedCommands[(selector / 6) % std::size(kAcknowledgedCommands)];
    const std::function<void()> exchanges[6] = {
        [&] { wait_for_ack(comms, command); },
        [&] { wait_for_mx25_ack(comms, &op, &value); },
        [&] { get_mx25_partition(comms); },
        [&] { set_mx25_addr(comms, FW_BANK1_FIRST_BLOCK << MX25_BLOCK_SHIFT); },
        [&] { mx25_erase(comms, OP_BLOCK_ERASE, FW_BANK1_FIRST_BLOCK, nullptr, nullptr, 0, 1); },
        [&] { get_serialnumber(comms, iface, &version); }};
    exchanges[selector % 6]();
}
