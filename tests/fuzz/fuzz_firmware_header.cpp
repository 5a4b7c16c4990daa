// The firmware image header as send_fw checks it before it erases anything.
// The input is the image file; send_fw runs against the simulated unit, which
// refuses every erase, so an image the check lets through stops right
// after the check. Whenever an erase was asked for, the header and payload
// must fit the blocks it erases and the bank.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

#include "firmware_ops/firmware_ops.h"
#include "fuzz_support.h"

namespace {

std::string g_image_path;

bool image_fits(const uint8_t* data, size_t size)
{
    firmware_header_t header;
    if (size < sizeof header)
        return false;
    memcpy(&header, data, sizeof header);
    const uint64_t blocks = (uint64_t(header.total_size) + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
    return blocks <= FW_BANK_BLOCKS && sizeof header + uint64_t(header.encrypted_size) <= blocks * MX25_BLOCK_SIZE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CommsManager* comms = [] {
        // Memory-backed when the machine has it: the file is rewritten for every input.
        g_image_path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/efis-fuzz-image-XXXXXX";
        const int fd = mkstemp(&g_image_path[0]);
        fuzz_require(fd >= 0 && close(fd) == 0, "a scratch image file can be made");
        atexit([] { unlink(g_image_path.c_str()); });
        CommsManager* connected = fuzz_connect_simulated_unit({CANMSG_ERASE_MX25, 0, -1, sim::FAULT_NACK, 0, -1});
        sim::unit().setRecording(true);
        return connected;
    }();
    sim::unit().clearRecords();
    fuzz_take_leftover_reports();
    {
        std::ofstream image(g_image_path, std::ios::binary | std::ios::trunc);
        fuzz_require(bool(image.write(reinterpret_cast<const char*>(data), std::streamsize(size))),
                     "the scratch image file takes the input");
    }
    send_fw(comms, g_image_path.c_str(), COMMS_MSG_DATA_LEN, nullptr, nullptr);
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    if (std::any_of(frames.begin(), frames.end(), [](const COMMS_MSG_t& frame) { return frame.can_ID == CANMSG_ERASE_MX25; }))
        fuzz_require(image_fits(data, size), "an erase is asked for only for a header whose image fits the bank");
    return 0;
}
