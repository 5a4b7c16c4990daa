// The firmware image header as send_fw checks it before it erases anything.
// The input is the image file; send_fw runs against the simulated unit, which
// refuses every erase, so an image the check lets through stops right
// after the check. Whenever an erase was asked for, the header and payload
// must fit the blocks it erases and the bank.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "firmware_ops/firmware_ops.h"
#include "fuzz_support.h"

namespace {

CommsManager* g_comms = nullptr;
std::string g_image_path;

void remove_image()
{
    unlink(g_image_path.c_str());
}

bool write_image(const uint8_t* data, size_t size)
{
    FILE* file = fopen(g_image_path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && written;
}

bool erase_requested()
{
    for (const COMMS_MSG_t& frame : sim::unit().receivedFrames()) {
        if (frame.can_ID == CANMSG_ERASE_MX25)
            return true;
    }
    return false;
}

bool image_fits(const uint8_t* data, size_t size)
{
    if (size < sizeof(firmware_header_t))
        return false;
    firmware_header_t header;
    memcpy(&header, data, sizeof header);
    const uint64_t blocks = (uint64_t(header.total_size) + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
    return blocks <= FW_BANK_BLOCKS && sizeof header + uint64_t(header.encrypted_size) <= blocks * MX25_BLOCK_SIZE;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    fuzz_quiet_standard_output();
    // Memory-backed when the machine has it: the file is rewritten for every input.
    const char* temp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    std::string pattern = std::string(temp != nullptr ? temp : "/tmp") + "/efis-fuzz-image-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    fuzz_require(fd >= 0, "a scratch image file can be made");
    close(fd);
    g_image_path = pattern;
    atexit(remove_image);
    sim::FaultRule refuse_erases;
    refuse_erases.request_id = CANMSG_ERASE_MX25;
    refuse_erases.times = -1;
    refuse_erases.kind = sim::FAULT_NACK;
    g_comms = fuzz_connect_simulated_unit(refuse_erases);
    sim::unit().setRecording(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sim::unit().clearRecords();
    fuzz_take_leftover_reports();
    fuzz_require(write_image(data, size), "the scratch image file takes the input");
    send_fw(g_comms, g_image_path.c_str(), COMMS_MSG_DATA_LEN, nullptr, nullptr);
    if (erase_requested())
        fuzz_require(image_fits(data, size), "an erase is asked for only for a header whose image fits the bank");
    return 0;
}
