#include "firmware_ops/firmware_ops.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

typedef std::chrono::steady_clock Clock;

// The unit needs this breather after each acknowledged write packet.
const std::chrono::microseconds kWritePacketPause(100);
// The airport upload paces its packets more gently.
const std::chrono::microseconds kAirportPacketPause(200);
// The unit settles its closed database before the first erase.
const std::chrono::milliseconds kAirportCloseSettle(10);
// Units from firmware 0.3.2 on take full write packets; older ones only 8 bytes.
const uint8_t kFirmwarePacketLen = COMMS_MSG_DATA_LEN;
const uint8_t kLegacyFirmwarePacketLen = 8;
// Airport database packets are always full frames, whatever the unit's firmware.
const uint8_t kAirportPacketLen = COMMS_MSG_DATA_LEN;
// A sleeping thread wakes late, by its timer slack (50 us by default on
// Linux) and by the scheduler's wake-up latency (tens of microseconds on a
// busy machine). A pause is a minimum the unit needs, so waking late is safe,
// but at one pause per packet it would stretch every packet's cycle by half.
// The pause sleeps with a tight slack and spins through its last stretch.
const std::chrono::microseconds kPauseSpinTail(40);
#ifdef __linux__
const unsigned long kTransferTimerSlackNs = 1;
#endif

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

struct FirmwareBank {
    uint32_t first_block;
    const char* name;
};

// What every step of an upload works with.
struct Upload {
    CommsManager* comms;
    FILE* file;
    uint8_t packet_len;
    fw_progress_callback_t progress_cb;
    void* user_data;
    const std::atomic<bool>* stop; // null: the upload runs to its end
};

bool stopped(const Upload& upload)
{
    return upload.stop != nullptr && upload.stop->load();
}

// Says so once, when the upload notices.
bool stop_requested(const Upload& upload, const char* routine)
{
    if (!stopped(upload))
        return false;
    printf("%s: Stopped on request\n", routine);
    return true;
}

enum PacketResult {
    PACKET_ACKED = 0,
    PACKET_SEND_FAILED = 1,
    PACKET_NOT_ACKED = 2, // no acknowledgement, or a negative one
    PACKET_WRONG_OP = 3,  // acknowledged as some other operation
};

// Keeps the transferring thread's timer slack tight for one transfer, and
// gives the thread its own slack back afterwards.
class TransferTimerSlack
{
public:
#ifdef __linux__
    TransferTimerSlack()
        : saved_ns_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0))
    {
        prctl(PR_SET_TIMERSLACK, kTransferTimerSlackNs, 0, 0, 0);
    }
    ~TransferTimerSlack()
    {
        if (saved_ns_ > 0)
            prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(saved_ns_), 0, 0, 0);
    }

private:
    int saved_ns_;
#endif
};

// At least `pause`, and hardly more.
void pause_for(std::chrono::microseconds pause)
{
    const Clock::time_point end = Clock::now() + pause;
    std::this_thread::sleep_until(end - kPauseSpinTail);
    while (Clock::now() < end) { }
}

// Blocks covering `bytes`, rounded up; 64-bit so no file size wraps around.
uint64_t blocks_for(uint64_t bytes)
{
    return (bytes + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
}

// Where each erase's acknowledgement must say it erased; a chip erase names no address.
uint32_t erase_address(FlashOpType op_type, uint16_t block_or_sector)
{
    if (op_type == OP_SECTOR_ERASE)
        return static_cast<uint32_t>(block_or_sector) << MX25_SECTOR_SHIFT;
    if (op_type == OP_BLOCK_ERASE)
        return static_cast<uint32_t>(block_or_sector) << MX25_BLOCK_SHIFT;
    return 0;
}

// One write packet: the chunk goes wherever the unit's write address stands.
// A chunk that is no CAN FD length travels zero-padded to the next one.
PacketResult write_packet(CommsManager* comms, const uint8_t* chunk, uint8_t length, uint8_t* acked_op)
{
    COMMS_MSG_t msg = comms_msg_init(CANMSG_WRITE_MX25, bytes_to_dlc_code(length));
    memcpy(msg.data, chunk, length);
    if (comms->write(msg) <= 0)
        return PACKET_SEND_FAILED;
    if (!wait_for_mx25_ack(comms, acked_op, nullptr))
        return PACKET_NOT_ACKED;
    return *acked_op == OP_WRITE ? PACKET_ACKED : PACKET_WRONG_OP;
}

// Writes size bytes in packets of at most max_packet_len; stops at the first
// packet that is not acknowledged as a write.
bool mx25_write_payload(CommsManager* comms, const uint8_t* data, size_t size, uint8_t max_packet_len)
{
    if (max_packet_len == 0 || max_packet_len > COMMS_MSG_DATA_LEN)
        return false;
    size_t offset = 0;
    while (offset < size) {
        const uint8_t chunk = static_cast<uint8_t>(std::min<size_t>(size - offset, max_packet_len));
        uint8_t op = OP_NONE;
        if (write_packet(comms, data + offset, chunk, &op) != PACKET_ACKED)
            return false;
        offset += chunk;
        pause_for(kWritePacketPause);
    }
    return true;
}

bool send_airport_db_op(CommsManager* comms, uint8_t op_byte)
{
    COMMS_MSG_t msg = comms_msg_init(CANMSG_AIRPORT_DB_OP, CAN_1_BYTES);
    msg.data[0] = op_byte;
    const int result = comms->write(msg);
    if (result > 0) {
        printf("send_airport_db_op: sent 0x%02X\n", op_byte);
        return true;
    }
    printf("send_airport_db_op: write failed (op=0x%02X, ret=%d)\n", op_byte, result);
    return false;
}

void report_progress(fw_progress_callback_t progress_cb, void* user_data, uint32_t current, uint32_t total, int phase)
{
    if (progress_cb != nullptr)
        progress_cb(current, total, phase, user_data);
}

void report_written(const Upload& upload, uint32_t bytes_sent, uint32_t total)
{
    report_progress(upload.progress_cb, upload.user_data, bytes_sent, total, FW_PROGRESS_WRITE);
}

// Erases `blocks` blocks from first_block on, reporting each; stops at the
// first that fails, since data programmed over unerased flash is corrupted,
// and before the next when the upload is told to stop.
bool erase_run(const Upload& upload, const char* routine, uint32_t first_block, uint32_t blocks,
               uint32_t* failed_block)
{
    for (uint32_t i = 0; i < blocks; i++) {
        const uint16_t block = static_cast<uint16_t>(first_block + i);
        if (stop_requested(upload, routine))
            return false;
        if (!mx25_erase(upload.comms, OP_BLOCK_ERASE, block, upload.progress_cb, upload.user_data, i, blocks)) {
            *failed_block = block;
            return false;
        }
    }
    return true;
}

// The system's text for the error behind a short read; a read that merely
// ran into the end of the file has none.
const char* read_error_text(FILE* file, int error)
{
    return ferror(file) ? strerror(error) : "unexpected end of file";
}

// ---- Partition query --------------------------------------------------------

// The answer is the very next frame after the command acknowledgement.
bool read_partition_answer(CommsManager* comms, uint32_t* value)
{
    COMMS_MSG_t answer;
    memset(&answer, 0, sizeof answer);
    const int bytes_read = comms->read(&answer);
    if (bytes_read == 0) {
        printf("get_mx25_partition: No response received (timeout or no data).\n");
        return false;
    }
    if (bytes_read < 0) {
        printf("get_mx25_partition: Error reading response from device (bytes_read=%d).\n", bytes_read);
        return false;
    }
    if (answer.can_ID != CANMSG_MX25_ACK || answer.msg_len != CAN_6_BYTES) {
        printf("get_mx25_partition: Unexpected response (can_ID=0x%08X, msg_len=0x%02X, expected MX25 ACK len 6)\n",
               answer.can_ID, answer.msg_len);
        return false;
    }
    const uint8_t status = answer.data[5];
    if (status == NACK) {
        printf("get_mx25_partition: MX25 NACK\n");
        return false;
    }
    if (status != ACK) {
        printf("get_mx25_partition: invalid MX25 status byte %u (expected 0 or 1)\n", status);
        return false;
    }
    *value = get_u32_le(&answer.data[1]);
    return true;
}

// ---- Firmware upload ----------------------------------------------------------

bool bank_for_partition(mx25_partition partition, FirmwareBank* bank)
{
    switch (partition) {
    case partition_1:
        *bank = {FW_BANK1_FIRST_BLOCK, "partition_1 (BANK1)"};
        return true;
    case partition_2:
        *bank = {FW_BANK2_FIRST_BLOCK, "partition_2 (BANK2)"};
        return true;
    case partition_none:
        printf("send_fw: Invalid partition (partition_none), cannot proceed\n");
        return false;
    default:
        printf("send_fw: Unknown partition value (0x%02X), cannot proceed\n", static_cast<unsigned>(partition));
        return false;
    }
}

FilePtr open_for_reading(const char* routine, const char* path)
{
    FilePtr file(fopen(path, "rb"));
    if (!file)
        printf("%s: Failed to open file %s: %s\n", routine, path, strerror(errno));
    return file;
}

bool read_firmware_header(FILE* file, const char* path, firmware_header_t* header)
{
    if (fread(header, 1, sizeof *header, file) == sizeof *header)
        return true;
    printf("send_fw: Failed to read firmware header from %s: %s\n", path, read_error_text(file, errno));
    return false;
}

// The header and payload must land in blocks this transfer erases, which
// lie inside the bank: programmed over unerased flash they would be
// corrupted, and past the bank they would overwrite what follows it.
bool image_fits_bank(const firmware_header_t& header, uint64_t blocks_needed)
{
    if (blocks_needed > FW_BANK_BLOCKS) {
        printf("send_fw: Error: Firmware too large for partition (%u blocks needed, but partition only has %u "
               "blocks)\n",
               static_cast<unsigned>(blocks_needed), FW_BANK_BLOCKS);
        return false;
    }
    const uint64_t image_bytes = sizeof header + static_cast<uint64_t>(header.encrypted_size);
    const uint64_t erased_bytes = blocks_needed * MX25_BLOCK_SIZE;
    if (image_bytes > erased_bytes) {
        printf("send_fw: Error: Header and payload (%llu bytes) do not fit the %u erased blocks (%llu bytes)\n",
               static_cast<unsigned long long>(image_bytes), static_cast<unsigned>(blocks_needed),
               static_cast<unsigned long long>(erased_bytes));
        return false;
    }
    return true;
}

bool write_firmware_header(const Upload& upload, const FirmwareBank& bank, const firmware_header_t& header)
{
    const uint32_t header_address = bank.first_block << MX25_BLOCK_SHIFT;
    printf("send_fw: All blocks erased, setting address and sending firmware header...\n");
    printf("send_fw: Setting MX25 address to 0x%08X for header\n", header_address);
    if (!set_mx25_addr(upload.comms, header_address)) {
        printf("send_fw: Address 0x%08X not set; stopping before anything is written\n", header_address);
        return false;
    }
    printf("send_fw: Writing firmware header (%u-byte packets)...\n", upload.packet_len);
    const uint8_t* header_bytes = reinterpret_cast<const uint8_t*>(&header);
    if (!mx25_write_payload(upload.comms, header_bytes, sizeof header, upload.packet_len)) {
        printf("send_fw: Failed to send firmware header\n");
        return false;
    }
    printf("send_fw: Firmware header written successfully\n");
    return true;
}

// Streams the payload from the file, one packet-sized piece at a time;
// returns the bytes the unit acknowledged.
uint32_t stream_firmware_payload(const Upload& upload, uint32_t encrypted_size, uint32_t* packets)
{
    uint8_t piece[COMMS_MSG_DATA_LEN];
    uint32_t bytes_sent = 0;
    while (bytes_sent < encrypted_size && !stop_requested(upload, "send_fw")) {
        const size_t request = std::min<uint32_t>(upload.packet_len, encrypted_size - bytes_sent);
        const size_t got = fread(piece, 1, request, upload.file);
        if (got == 0) {
            if (feof(upload.file))
                printf("send_fw: Reached end of file\n");
            else
                printf("send_fw: Error reading file: %s\n", strerror(errno));
            break;
        }
        if (!mx25_write_payload(upload.comms, piece, got, upload.packet_len)) {
            printf("send_fw: MX25 write failed at byte offset %u\n", bytes_sent);
            break;
        }
        bytes_sent += static_cast<uint32_t>(got);
        (*packets)++;
        report_written(upload, bytes_sent, encrypted_size);
        if (*packets % 100 == 0) {
            const float percent = 100.0f * static_cast<float>(bytes_sent) / static_cast<float>(encrypted_size);
            printf("send_fw: Progress: %u/%u bytes (%.1f%%)\n", bytes_sent, encrypted_size, percent);
        }
    }
    return bytes_sent;
}

// Everything after the checks: erase, address, header, payload.
bool write_firmware_image(const Upload& upload, const FirmwareBank& bank, const firmware_header_t& header,
                          uint32_t blocks)
{
    uint32_t failed_block = 0;
    if (!erase_run(upload, "send_fw", bank.first_block, blocks, &failed_block)) {
        if (!stopped(upload))
            printf("send_fw: Erase of page %u failed; stopping before anything is written\n", failed_block);
        return false;
    }
    if (!write_firmware_header(upload, bank, header))
        return false;
    const uint32_t encrypted_size = header.encrypted_size;
    printf("send_fw: Encrypted data size: %u bytes (0x%08X)\n", encrypted_size, encrypted_size);
    printf("send_fw: Starting firmware data transmission (%u-byte packets)...\n", upload.packet_len);
    uint32_t packets = 0;
    const uint32_t bytes_sent = stream_firmware_payload(upload, encrypted_size, &packets);
    if (bytes_sent != encrypted_size) {
        printf("send_fw: Firmware transmission incomplete (%u/%u bytes sent, %u packets)\n", bytes_sent, encrypted_size,
               packets);
        return false;
    }
    printf("send_fw: Firmware transmission completed successfully (%u bytes, %u packets)\n", bytes_sent, packets);
    return true;
}

bool firmware_arguments_valid(CommsManager* comms, const char* path, uint8_t max_packet_len)
{
    if (!comms_connected(comms)) {
        printf("send_fw: CommsManager not connected\n");
        return false;
    }
    if (max_packet_len == 0 || max_packet_len > COMMS_MSG_DATA_LEN) {
        printf("send_fw: Invalid max_packet_len %u (must be 1..64)\n", max_packet_len);
        return false;
    }
    // A packet travels padded to the next CAN FD length, and the unit writes
    // the padding too: every packet would shift the image by the padding.
    if (dlc_code_to_bytes(bytes_to_dlc_code(max_packet_len)) != max_packet_len) {
        printf("send_fw: Invalid max_packet_len %u (must be a CAN FD payload length: 1..8, 12, 16, 20, 24, 32, 48 "
               "or 64)\n",
               max_packet_len);
        return false;
    }
    if (path == nullptr) {
        printf("send_fw: Invalid encrypted file path\n");
        return false;
    }
    return true;
}

// ---- Airport database upload ----------------------------------------------------

// The file's size, or -1 when it cannot be told.
int64_t file_size(FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0) {
        printf("send_airport_db: Failed to seek end of file: %s\n", strerror(errno));
        return -1;
    }
    const off_t size = ftello(file);
    if (size < 0)
        printf("send_airport_db: ftell failed: %s\n", strerror(errno));
    return size;
}

bool database_size_acceptable(int64_t size)
{
    if (size == 0) {
        printf("send_airport_db: File is empty\n");
        return false;
    }
    const uint64_t blocks = blocks_for(static_cast<uint64_t>(size));
    if (blocks > AIRPORT_DB_BLOCKS) {
        printf("send_airport_db: File too large (%llu bytes, %llu blocks); max %u blocks before firmware bank\n",
               static_cast<unsigned long long>(size), static_cast<unsigned long long>(blocks), AIRPORT_DB_BLOCKS);
        return false;
    }
    return true;
}

// The unit must stop using its database before any of it is erased.
bool close_airport_db(CommsManager* comms)
{
    printf("send_airport_db: closing airport DB on device before flash update...\n");
    if (!send_airport_db_op(comms, AIRPORT_DB_OP_CLOSE)) {
        printf("send_airport_db: close DB command failed, aborting\n");
        return false;
    }
    if (!wait_for_ack(comms, CANMSG_AIRPORT_DB_OP)) {
        printf("send_airport_db: no ACK for close DB (expected CAN ID 0x%03X in ACK payload), aborting\n",
               CANMSG_AIRPORT_DB_OP);
        return false;
    }
    printf("send_airport_db: close DB acknowledged\n");
    std::this_thread::sleep_for(kAirportCloseSettle);
    return true;
}

// Says why a database packet went wrong; false unless it was acknowledged.
bool database_packet_done(PacketResult result, uint32_t packets, uint8_t acked_op)
{
    switch (result) {
    case PACKET_ACKED:
        return true;
    case PACKET_SEND_FAILED:
        printf("send_airport_db: Failed to send packet %u\n", packets);
        return false;
    case PACKET_NOT_ACKED:
        printf("send_airport_db: MX25 ACK failed at packet %u\n", packets);
        return false;
    case PACKET_WRONG_OP:
        printf("send_airport_db: Op type mismatch (expected OP_WRITE 0x%02X, got 0x%02X)\n", OP_WRITE, acked_op);
        return false;
    }
    return false;
}

// Streams the file from its start in 64-byte packets; returns the bytes the
// unit acknowledged.
uint32_t stream_database(const Upload& upload, uint32_t size, uint32_t* packets)
{
    uint8_t piece[kAirportPacketLen];
    uint32_t bytes_sent = 0;
    while (bytes_sent < size && !stop_requested(upload, "send_airport_db")) {
        const size_t request = std::min<uint32_t>(upload.packet_len, size - bytes_sent);
        const size_t got = fread(piece, 1, request, upload.file);
        if (got == 0) {
            if (feof(upload.file))
                printf("send_airport_db: Unexpected EOF\n");
            else
                printf("send_airport_db: fread error: %s\n", strerror(errno));
            break;
        }
        uint8_t op = OP_NONE;
        const PacketResult result = write_packet(upload.comms, piece, static_cast<uint8_t>(got), &op);
        if (!database_packet_done(result, *packets, op))
            break;
        bytes_sent += static_cast<uint32_t>(got);
        (*packets)++;
        report_written(upload, bytes_sent, size);
        pause_for(kAirportPacketPause);
    }
    return bytes_sent;
}

// Everything after the checks: close, erase, address, data, open.
bool write_database(const Upload& upload, uint32_t size)
{
    const uint32_t blocks = static_cast<uint32_t>(blocks_for(size));
    const uint32_t start_address = AIRPORT_DB_FIRST_BLOCK << MX25_BLOCK_SHIFT;
    printf("send_airport_db: %u bytes, erasing %u blocks starting at block 0 (address 0x%08X)\n", size, blocks,
           start_address);
    if (!close_airport_db(upload.comms))
        return false;
    uint32_t failed_block = 0;
    if (!erase_run(upload, "send_airport_db", AIRPORT_DB_FIRST_BLOCK, blocks, &failed_block)) {
        if (!stopped(upload))
            printf("send_airport_db: Erase of block %u failed; aborting, airport DB stays closed\n", failed_block);
        return false;
    }
    printf("send_airport_db: Erase complete, setting address 0x%08X and transferring data...\n", start_address);
    rewind(upload.file);
    if (!set_mx25_addr(upload.comms, start_address)) {
        printf("send_airport_db: Address 0x%08X not set; aborting, airport DB stays closed\n", start_address);
        return false;
    }
    uint32_t packets = 0;
    const uint32_t bytes_sent = stream_database(upload, size, &packets);
    if (bytes_sent != size) {
        printf("send_airport_db: Incomplete (%u / %u bytes); not sending open command\n", bytes_sent, size);
        return false;
    }
    printf("send_airport_db: Complete (%u bytes, %u packets)\n", bytes_sent, packets);
    printf("send_airport_db: opening airport DB on device...\n");
    if (!send_airport_db_op(upload.comms, AIRPORT_DB_OP_OPEN)) {
        printf("send_airport_db: warning: open DB command failed; device may need a reconnect\n");
        return false;
    }
    return true;
}

} // namespace

// ---- External-flash primitives ------------------------------------------------------

bool mx25_erase(CommsManager* comms, FlashOpType op_type, uint16_t block_or_sector, fw_progress_callback_t progress_cb,
                void* user_data, uint32_t current_block, uint32_t total_blocks)
{
    if (!comms_connected(comms)) {
        printf("mx25_erase: CommsManager not connected\n");
        return false;
    }
    COMMS_MSG_t msg = comms_msg_init(CANMSG_ERASE_MX25, CAN_3_BYTES);
    msg.data[0] = static_cast<uint8_t>(op_type);
    put_u16_le(&msg.data[1], block_or_sector);
    if (comms->write(msg) <= 0) {
        printf("mx25_erase: Failed to send erase command\n");
        return false;
    }
    printf("mx25_erase: Successfully sent erase command (op_type=0x%02X, block/sector=%d)\n",
           static_cast<unsigned>(op_type), block_or_sector);
    if (!wait_for_ack(comms, CANMSG_ERASE_MX25)) {
        printf("mx25_erase: ACK validation failed\n");
        return false;
    }
    printf("mx25_erase: ACK received, erase command acknowledged\n");

    uint8_t op = OP_NONE;
    uint32_t address = 0;
    if (!wait_for_mx25_ack(comms, &op, &address)) {
        printf("mx25_erase: Erase operation failed or timeout\n");
        return false;
    }
    if (op != op_type) {
        printf("mx25_erase: Op type mismatch in response (expected=0x%02X, got=0x%02X)\n",
               static_cast<unsigned>(op_type), op);
        return false;
    }
    const uint32_t expected = erase_address(op_type, block_or_sector);
    if (op_type != OP_CHIP_ERASE && address != expected) {
        printf("mx25_erase: Address mismatch (expected=0x%08X, got=0x%08X)\n", expected, address);
        return false;
    }
    printf("mx25_erase: Erase completed successfully (address=0x%08X)\n", address);
    report_progress(progress_cb, user_data, current_block + 1, total_blocks, FW_PROGRESS_ERASE);
    return true;
}

bool set_mx25_addr(CommsManager* comms, uint32_t address)
{
    if (!comms_connected(comms)) {
        printf("set_mx25_addr: CommsManager not connected\n");
        return false;
    }
    COMMS_MSG_t msg = comms_msg_init(CANMSG_SET_ADDR_MX25, CAN_4_BYTES);
    put_u32_le(&msg.data[0], address);
    if (comms->write(msg) <= 0) {
        printf("set_mx25_addr: Failed to send address\n");
        return false;
    }
    printf("set_mx25_addr: Successfully sent address (0x%08X)\n", address);

    uint8_t op = OP_NONE;
    uint32_t confirmed = 0;
    if (!wait_for_mx25_ack(comms, &op, &confirmed)) {
        printf("set_mx25_addr: Failed to receive acknowledgment or operation failed\n");
        return false;
    }
    if (op != OP_SETADDR) {
        printf("set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0x%02X, got=0x%02X)\n", OP_SETADDR, op);
        return false;
    }
    if (confirmed != address) {
        printf("set_mx25_addr: Address mismatch (expected=0x%08X, got=0x%08X)\n", address, confirmed);
        return false;
    }
    printf("set_mx25_addr: Address set successfully (0x%08X)\n", address);
    return true;
}

mx25_partition get_mx25_partition(CommsManager* comms)
{
    if (!comms_connected(comms)) {
        printf("get_mx25_partition: CommsManager not connected\n");
        return partition_none;
    }
    const COMMS_MSG_t msg = comms_msg_init(CANMSG_GET_PARTITION, CAN_0_BYTES);
    printf("get_mx25_partition: Sending command - CAN_ID=0x%08X, msg_len=0x%02X\n", msg.can_ID, msg.msg_len);
    const int bytes_written = comms->write(msg);
    if (bytes_written < 0) {
        printf("get_mx25_partition: Failed to send get partition command (bytes_written=%d)\n", bytes_written);
        return partition_none;
    }
    printf("get_mx25_partition: Successfully sent get partition command\n");
    if (!wait_for_ack(comms, CANMSG_GET_PARTITION)) {
        printf("get_mx25_partition: ACK validation failed\n");
        return partition_none;
    }
    uint32_t value = 0;
    if (!read_partition_answer(comms, &value))
        return partition_none;
    if (value != partition_1 && value != partition_2 && value != partition_none) {
        printf("get_mx25_partition: Invalid partition value received (raw=0x%08X)\n", value);
        return partition_none;
    }
    printf("get_mx25_partition: Partition retrieved successfully (partition=0x%02X, raw=0x%08X)\n", value, value);
    return static_cast<mx25_partition>(value);
}

// ---- Uploads ---------------------------------------------------------------------------

uint8_t firmware_packet_len(const fwversion_t& version)
{
    return fwversion_at_least(version, 0, 3, 2) ? kFirmwarePacketLen : kLegacyFirmwarePacketLen;
}

bool send_fw(CommsManager* comms, const char* encrypted_bin_file_path, uint8_t max_packet_len,
             fw_progress_callback_t progress_cb, void* user_data, const std::atomic<bool>* stop)
{
    if (!firmware_arguments_valid(comms, encrypted_bin_file_path, max_packet_len))
        return false;
    const TransferTimerSlack slack;
    printf("send_fw: Getting current MX25 partition...\n");
    FirmwareBank bank;
    if (!bank_for_partition(get_mx25_partition(comms), &bank))
        return false;
    printf("send_fw: Using %s, starting at page %u\n", bank.name, bank.first_block);

    FilePtr file = open_for_reading("send_fw", encrypted_bin_file_path);
    firmware_header_t header;
    if (!file || !read_firmware_header(file.get(), encrypted_bin_file_path, &header))
        return false;
    printf("send_fw: Read firmware header (total_size=%u, plaintext_size=%u, encrypted_size=%u, offset=0x%08X)\n",
           header.total_size, header.plaintext_size, header.encrypted_size, header.offset);
    const uint64_t blocks = blocks_for(header.total_size);
    if (!image_fits_bank(header, blocks))
        return false;
    printf("send_fw: Firmware size: %u bytes, will erase %u blocks (pages %u to %u)\n", header.total_size,
           static_cast<unsigned>(blocks), bank.first_block, bank.first_block + static_cast<uint32_t>(blocks) - 1);
    const Upload upload = {comms, file.get(), max_packet_len, progress_cb, user_data, stop};
    return write_firmware_image(upload, bank, header, static_cast<uint32_t>(blocks));
}

bool send_airport_db(CommsManager* comms, const char* db_file_path, fw_progress_callback_t progress_cb, void* user_data,
                     const std::atomic<bool>* stop)
{
    if (!comms_connected(comms)) {
        printf("send_airport_db: CommsManager not connected\n");
        return false;
    }
    if (db_file_path == nullptr) {
        printf("send_airport_db: Invalid file path\n");
        return false;
    }
    const TransferTimerSlack slack;
    FilePtr file = open_for_reading("send_airport_db", db_file_path);
    if (!file)
        return false;
    const int64_t size = file_size(file.get());
    if (size < 0 || !database_size_acceptable(size))
        return false;
    const Upload upload = {comms, file.get(), kAirportPacketLen, progress_cb, user_data, stop};
    return write_database(upload, static_cast<uint32_t>(size));
}
