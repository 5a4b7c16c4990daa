#pragma once

// Moving the unit's settings between the unit and a host record, one value at
// a time: a load that reads the whole record or nothing, an update of chosen
// indices, a store whose flash acknowledgement is checked and which is proved
// by reading the values back, and the reboot request. No widgets: the window
// and the command line tell the user what the results mean.

#include <cstdint>
#include <vector>

#include "EFIS_shared/settings_types.h"

class CommsManager;

// The unit gets a moment between one settings exchange and the next.
const unsigned long kSettingsPauseMs = 1;
// A checksum word of all ones: the unit has never stored its settings.
const uint32_t kSettingsNeverStored = 0xFFFFFFFF;

// ---- Load ------------------------------------------------------------------------

typedef enum : uint8_t {
    SETTINGS_LOAD_OK = 0,
    SETTINGS_LOAD_NO_LINK = 1,
    SETTINGS_LOAD_HEADER_FAILED = 2, // failed_index: the header word (252 to 255)
    SETTINGS_LOAD_NEVER_STORED = 3,  // the checksum word reads 0xFFFFFFFF
    SETTINGS_LOAD_VALUE_FAILED = 4,  // failed_index: the value (0 to 35)
} settings_load_status_t;

typedef struct {
    settings_load_status_t status;
    uint8_t failed_index;   // the word that could not be read
    uint32_t unit_checksum; // the checksum word the unit reported
} settings_load_result_t;

// Reads the four header words and then values 0 to 35 into a scratch record
// and copies it to *record only when every word was read; on any failure
// *record is left exactly as it was. The record's crc32 is the checksum of
// what was read (settings_set_value refreshes it), the unit's own word is in
// the result.
settings_load_result_t settings_load(CommsManager* comms, Settings_t* record);

// ---- Update ----------------------------------------------------------------------

typedef struct {
    uint32_t sent;
    std::vector<uint8_t> failed; // indices whose write the unit did not acknowledge
} settings_update_result_t;

// Sends the record's value of each index, in the order given, each with its
// acknowledgement.
settings_update_result_t settings_update(CommsManager* comms, const Settings_t& record,
                                         const std::vector<uint8_t>& indices);

// ---- Store -----------------------------------------------------------------------

typedef enum : uint8_t {
    SETTINGS_STORE_OK = 0,
    SETTINGS_STORE_NO_LINK = 1,
    SETTINGS_STORE_HEADER_FAILED = 2,     // failed_index: 254 or 255
    SETTINGS_STORE_TOO_MANY_ELEMENTS = 3, // the unit counts more words than the record holds
    SETTINGS_STORE_SEND_FAILED = 4,
    SETTINGS_STORE_ERASE_FAILED = 5, // no, a negative or a wrong flash acknowledgement
    SETTINGS_STORE_NOT_ACKNOWLEDGED = 6,
    SETTINGS_STORE_READ_BACK_FAILED = 7, // failed_index: the value that could not be read back
    SETTINGS_STORE_DIFFERS = 8,          // stored, but the unit holds other values than the record
} settings_store_status_t;

typedef struct {
    settings_store_status_t status;
    uint8_t failed_index;
    uint32_t crc;                 // the checksum sent with the store command
    std::vector<uint8_t> differs; // indices whose read-back value differs from the record
    Settings_t read_back;         // the values the unit holds after the store (0 to 35)
} settings_store_result_t;

// Has the unit store the settings it holds. The record takes the unit's layout
// version and element count, the magic "KOB_" and a zero crc32; the store
// command carries the checksum over it. Once the unit has acknowledged, values
// 0 to 35 are read back and compared with the record.
settings_store_result_t settings_store(CommsManager* comms, Settings_t* record);

// Reads the unit's layout version and element count into the record; the
// index that failed (254 or 255), or 0 when both were read.
uint8_t settings_read_layout(CommsManager* comms, Settings_t* record);

// The store command alone: the frame, the unit's flash acknowledgement (a
// sector erase, positive) and its command acknowledgement.
settings_store_status_t settings_store_command(CommsManager* comms, uint32_t crc);
// The same as 0 on success, -1 on failure.
int store_settings(CommsManager* comms, uint32_t crc);

// Reads values 0 to 35 into *unit and lists the indices whose value differs
// from the record; false, with the failing index, when a value could not be read.
bool settings_compare_with_unit(CommsManager* comms, const Settings_t& record, Settings_t* unit,
                                std::vector<uint8_t>* differs, uint8_t* failed_index);

// ---- Reboot ----------------------------------------------------------------------

// Asks the unit to restart into its boot loader; no reply is awaited. True
// when the request was sent.
bool settings_request_reboot(CommsManager* comms);
