#pragma once

// Operations on the unit's external flash and the two uploads built on them:
// the firmware image into the bank the unit names, and the airport database
// into the flash region before the banks. The unit performs every flash
// operation itself; the tool asks for one at a time and checks the
// acknowledgement the unit sends when it is done. Diagnostic lines go to
// standard output.

#include <atomic>
#include <cstdint>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "comms/comms.h"

// Phases reported through fw_progress_callback_t.
enum {
    FW_PROGRESS_ERASE = 0, // current: blocks erased so far (1-based); total: blocks to erase
    FW_PROGRESS_WRITE = 1, // current: payload bytes written so far; total: payload bytes
};

// Called on the transferring thread; user_data passes through untouched.
typedef void (*fw_progress_callback_t)(uint32_t current, uint32_t total, int phase, void* user_data);

// Erases one block or sector (numbered in 16 bits), or the chip. On success
// reports progress (current_block + 1 of total_blocks, the caller's position
// in its erase run) and returns true.
bool mx25_erase(CommsManager* comms, FlashOpType op_type, uint16_t block_or_sector, fw_progress_callback_t progress_cb,
                void* user_data, uint32_t current_block, uint32_t total_blocks);

// Sets the unit's write address; true when the unit confirms that address.
bool set_mx25_addr(CommsManager* comms, uint32_t address);

// Asks the unit which firmware partition to write: partition_1, partition_2,
// or partition_none on any failure or an answer that names no bank.
mx25_partition get_mx25_partition(CommsManager* comms);

// The write packet length a unit running `version` takes: full frames from
// firmware 0.3.2 on, 8 bytes before.
uint8_t firmware_packet_len(const fwversion_t& version);

// Both uploads look at `stop` (when given) before each erase and each write
// packet: once it is set, the upload ends between two exchanges, never in the
// middle of one, and reports failure.

// Writes a firmware image (a firmware_header_t and its payload) into the bank
// the unit names, in write packets of max_packet_len bytes (1 to 64). True
// when every payload byte the header announces was written and acknowledged;
// only then may the unit be asked to start from that bank.
bool send_fw(CommsManager* comms, const char* encrypted_bin_file_path, uint8_t max_packet_len,
             fw_progress_callback_t progress_cb, void* user_data, const std::atomic<bool>* stop = nullptr);

// Writes an airport database file from flash address 0 between closing and
// reopening the unit's database. True when the whole file was written and the
// open command sent; otherwise the unit's database stays closed.
bool send_airport_db(CommsManager* comms, const char* db_file_path, fw_progress_callback_t progress_cb,
                     void* user_data, const std::atomic<bool>* stop = nullptr);
