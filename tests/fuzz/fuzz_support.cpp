#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "firmware_ops/firmware_ops.h"

namespace {

// Commands whose acknowledgements the program waits for.
const uint32_t kAcknowledgedCommands[] = {
    CANMSG_GLOBAL_SET_SETTING, CANMSG_SAVE_USER_SETTINGS, CANMSG_SET_SENSOR_CALIB,
    CANMSG_SAVE_SENSOR_CALIB,  CANMSG_GET_PARTITION,      CANMSG_ENTER_BL,
};
const size_t kAcknowledgedCommandCount = sizeof kAcknowledgedCommands / sizeof kAcknowledgedCommands[0];

const uint32_t kBank1Address = FW_BANK1_FIRST_BLOCK << MX25_BLOCK_SHIFT;

enum LinkExchange {
    EXCHANGE_COMMAND_ACK = 0,
    EXCHANGE_FLASH_ACK = 1,
    EXCHANGE_PARTITION = 2,
    EXCHANGE_SET_ADDRESS = 3,
    EXCHANGE_BLOCK_ERASE = 4,
    EXCHANGE_IDENTITY = 5,
    EXCHANGE_COUNT = 6,
};

} // namespace

void fuzz_require(bool holds, const char* property)
{
    if (holds)
        return;
    fprintf(stderr, "fuzz property failed: %s\n", property);
    abort();
}

void fuzz_quiet_standard_output()
{
    if (freopen("/dev/null", "w", stdout) == nullptr)
        fprintf(stderr, "fuzz: standard output stays as it is\n");
}

std::vector<std::vector<uint8_t>> fuzz_records(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> records;
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++];
        const size_t taken = length < size - at ? length : size - at;
        records.emplace_back(data + at, data + at + taken);
        at += taken;
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
    switch (selector % EXCHANGE_COUNT) {
    case EXCHANGE_COMMAND_ACK:
        wait_for_ack(comms, kAcknowledgedCommands[(selector / EXCHANGE_COUNT) % kAcknowledgedCommandCount]);
        break;
    case EXCHANGE_FLASH_ACK:
        wait_for_mx25_ack(comms, &op, &value);
        break;
    case EXCHANGE_PARTITION:
        get_mx25_partition(comms);
        break;
    case EXCHANGE_SET_ADDRESS:
        set_mx25_addr(comms, kBank1Address);
        break;
    case EXCHANGE_BLOCK_ERASE:
        mx25_erase(comms, OP_BLOCK_ERASE, FW_BANK1_FIRST_BLOCK, nullptr, nullptr, 0, 1);
        break;
    default:
        get_serialnumber(comms, iface, &version);
        break;
    }
}
