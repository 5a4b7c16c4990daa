// The firmware image header as send_fw checks it before it erases anything.
// The input is the image file; send_fw runs against the simulated unit, which
// refuses every erase, so an image the check lets through stops right
// after the check. Whenever an erase was asked for, the header and payload
// must fit the blocks it erases and the bank.

#include <algorithm>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "firmware_ops/firmware_ops.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CommsManager* comms = fuzz_connect_simulated_unit({CANMSG_ERASE_MX25, 0, -1, sim::FAULT_NACK, 0, -1});
    // A file in memory, rewritten for every input, that send_fw opens by its path.
    static const int image = memfd_create("efis-fuzz-image", 0);
    static const std::string image_path = "/proc/self/fd/" + std::to_string(image);
    sim::unit().setRecording(true);
    sim::unit().clearRecords();
    fuzz_take_leftover_reports();
    fuzz_require(ftruncate(image, 0) == 0 && pwrite(image, data, size, 0) == ssize_t(size),
                 "the scratch image file takes the input");
    send_fw(comms, image_path.c_str(), COMMS_MSG_DATA_LEN, nullptr, nullptr);
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    const auto erase = [](const COMMS_MSG_t& frame) { return frame.can_ID == CANMSG_ERASE_MX25; };
    if (std::none_of(frames.begin(), frames.end(), erase))
        return 0;
    firmware_header_t header;
    fuzz_require(size >= sizeof header, "an erase is asked for only for an image with a whole header");
    memcpy(&header, data, sizeof header);
    const uint64_t blocks = (uint64_t(header.total_size) + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
    fuzz_require(blocks <= FW_BANK_BLOCKS
                     && sizeof header + uint64_t(header.encrypted_size) <= blocks * MX25_BLOCK_SIZE,
                 "an erase is asked for only for a header whose image fits the bank");
    return 0;
}
