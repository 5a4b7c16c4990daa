#include "settings_transfer.h"

#include <chrono>
#include <cstring>
#include <thread>

#include <QDebug>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/get_set.h"
#include "comms/comms.h"

namespace {

// The host marks the record it has the unit store with these characters.
const char kStoredMagic[4] = {'K', 'O', 'B', '_'};
void pause_between_exchanges()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettingsPauseMs));
}

// A header word of all ones is no record the host could make sense of.
bool read_header_word(CommsManager* comms, settings_struct_index index, uint32_t* value)
{
    return read_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) && *value != 0xFFFFFFFF;
}

settings_load_result_t load_failure(settings_load_status_t status, uint32_t index, uint32_t checksum)
{
    return settings_load_result_t{status, static_cast<uint8_t>(index), checksum};
}

// The checksum word first: all ones there means the unit never stored its
// settings, which the user is told apart from a failed read.
settings_load_status_t read_checksum_word(CommsManager* comms, uint32_t* checksum)
{
    if (!read_value(comms, SETTINGS_COMMS, SETTINGS_CHECKSUM_INDEX, checksum))
        return SETTINGS_LOAD_HEADER_FAILED;
    return *checksum == kSettingsNeverStored ? SETTINGS_LOAD_NEVER_STORED : SETTINGS_LOAD_OK;
}

// Every value is read with its success reported apart, so a value the unit
// really holds as 0xFFFFFFFF (white, say) loads as itself.
bool read_values(CommsManager* comms, Settings_t* scratch, uint32_t* failed_index)
{
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        uint32_t value = 0;
        if (!read_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(i), &value)) {
            *failed_index = i;
            return false;
        }
        settings_set_value(scratch, static_cast<settings_struct_index>(i), &value);
        pause_between_exchanges();
    }
    return true;
}

} // namespace

settings_load_result_t settings_load(CommsManager* comms, Settings_t* record)
{
    if (!comms_connected(comms))
        return load_failure(SETTINGS_LOAD_NO_LINK, 0, 0);
    Settings_t scratch;
    memset(&scratch, 0, sizeof scratch);
    uint32_t checksum = 0;
    const settings_load_status_t checksum_status = read_checksum_word(comms, &checksum);
    if (checksum_status != SETTINGS_LOAD_OK)
        return load_failure(checksum_status, SETTINGS_CHECKSUM_INDEX, checksum);
    scratch.crc32 = checksum;
    if (!read_header_word(comms, SETTINGS_MAGIC_NUM, &scratch.magic))
        return load_failure(SETTINGS_LOAD_HEADER_FAILED, SETTINGS_MAGIC_NUM, checksum);
    const uint8_t layout_failure = settings_read_layout(comms, &scratch);
    if (layout_failure != 0)
        return load_failure(SETTINGS_LOAD_HEADER_FAILED, layout_failure, checksum);
    uint32_t failed_index = 0;
    if (!read_values(comms, &scratch, &failed_index))
        return load_failure(SETTINGS_LOAD_VALUE_FAILED, failed_index, checksum);
    *record = scratch;
    return load_failure(SETTINGS_LOAD_OK, 0, checksum);
}

uint8_t settings_read_layout(CommsManager* comms, Settings_t* record)
{
    uint32_t version = 0;
    if (!read_header_word(comms, SETTINGS_VERSION, &version))
        return SETTINGS_VERSION;
    uint32_t elements = 0;
    if (!read_header_word(comms, SETTINGS_NUM_ELEMENTS, &elements))
        return SETTINGS_NUM_ELEMENTS;
    record->version = version;
    record->num_elements = elements;
    return 0;
}

settings_update_result_t settings_update(CommsManager* comms, const Settings_t& record,
                                         const std::vector<uint8_t>& indices)
{
    settings_update_result_t result{0, {}};
    Settings_t copy = record;
    for (const uint8_t index : indices) {
        const uint32_t value = settings_get_value(&copy, static_cast<settings_struct_index>(index));
        if (set_value(comms, SETTINGS_COMMS, index, value) == 0)
            result.sent++;
        else
            result.failed.push_back(index);
        pause_between_exchanges();
    }
    return result;
}

// ---- Store -------------------------------------------------------------------------

settings_store_status_t settings_store_command(CommsManager* comms, uint32_t crc)
{
    if (!comms_connected(comms))
        return SETTINGS_STORE_NO_LINK;
    COMMS_MSG_t msg = comms_msg_init(CANMSG_SAVE_USER_SETTINGS, CAN_4_BYTES);
    put_u32_le(&msg.data[0], crc);
    if (send_request(comms, msg) <= 0) {
        qDebug() << "Failed to send store command";
        return SETTINGS_STORE_SEND_FAILED;
    }
    // Checked like every flash acknowledgement: positive, and for the erase
    // the store begins with, not for some other flash operation.
    uint8_t op = 0;
    if (!wait_for_mx25_ack(comms, &op, nullptr) || op != SETTINGS_STORE_ERASE_OP) {
        qDebug() << "Flash erase failed or timeout waiting for MX25 erase status";
        return SETTINGS_STORE_ERASE_FAILED;
    }
    qDebug() << "Flash erase succeeded";
    if (!wait_for_ack(comms, CANMSG_SAVE_USER_SETTINGS)) {
        qDebug() << "Store command failed: no valid ACK (or NACK) for save settings";
        return SETTINGS_STORE_NOT_ACKNOWLEDGED;
    }
    return SETTINGS_STORE_OK;
}

int store_settings(CommsManager* comms, uint32_t crc)
{
    return settings_store_command(comms, crc) == SETTINGS_STORE_OK ? 0 : -1;
}

bool settings_compare_with_unit(CommsManager* comms, const Settings_t& record, Settings_t* unit,
                                std::vector<uint8_t>* differs, uint8_t* failed_index)
{
    memset(unit, 0, sizeof *unit);
    uint32_t failed = 0;
    if (!read_values(comms, unit, &failed)) {
        *failed_index = static_cast<uint8_t>(failed);
        return false;
    }
    Settings_t host = record;
    differs->clear();
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        const auto index = static_cast<settings_struct_index>(i);
        if (settings_get_value(unit, index) != settings_get_value(&host, index))
            differs->push_back(static_cast<uint8_t>(i));
    }
    return true;
}

settings_store_result_t settings_store(CommsManager* comms, Settings_t* record)
{
    settings_store_result_t result;
    result.status = SETTINGS_STORE_NO_LINK;
    result.failed_index = 0;
    result.crc = 0;
    memset(&result.read_back, 0, sizeof result.read_back);
    if (!comms_connected(comms))
        return result;
    result.failed_index = settings_read_layout(comms, record);
    if (result.failed_index != 0) {
        result.status = SETTINGS_STORE_HEADER_FAILED;
        return result;
    }
    // The checksum would cover words the record does not have: the unit and
    // the host could never agree on it.
    if (record->num_elements > SETTINGS_WORDS_AFTER_CRC) {
        result.status = SETTINGS_STORE_TOO_MANY_ELEMENTS;
        return result;
    }
    memcpy(&record->magic, kStoredMagic, sizeof kStoredMagic);
    record->crc32 = 0;
    result.crc = settings_CalcCRC(record);
    printf("New CRC %08X\n", result.crc);
    result.status = settings_store_command(comms, result.crc);
    if (result.status != SETTINGS_STORE_OK)
        return result;
    if (!settings_compare_with_unit(comms, *record, &result.read_back, &result.differs, &result.failed_index))
        result.status = SETTINGS_STORE_READ_BACK_FAILED;
    else if (!result.differs.empty())
        result.status = SETTINGS_STORE_DIFFERS;
    return result;
}

bool settings_request_reboot(CommsManager* comms)
{
    if (!comms_connected(comms))
        return false;
    COMMS_MSG_t msg = comms_msg_init(CANMSG_ENTER_BL, CAN_1_BYTES);
    msg.data[0] = ENTER_BL_REBOOT;
    return send_request(comms, msg) > 0;
}
