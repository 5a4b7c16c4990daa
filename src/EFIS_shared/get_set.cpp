#include "get_set.h"

#include <cstddef>
#include <cstring>

#include "crc.h"

static const uint32_t NO_VALUE = 0xFFFFFFFF;

// How a 32-bit value maps onto the bytes of a settings field.
typedef enum : uint8_t {
    FIELD_WORD = 0,  // all 32 bits; a float keeps its bit pattern
    FIELD_BYTE = 1,  // the low 8 bits
    FIELD_HALF = 2,  // the low 16 bits
    FIELD_CHARS = 3, // four characters, the first in the most significant byte
} settings_field_kind_t;

typedef struct {
    uint8_t offset;
    settings_field_kind_t kind;
} settings_field_t;

#define SETTINGS_FIELD(member, kind) { offsetof(Settings_t, member), kind }

// Indexed by settings_struct_index, UNITS_VALUE_INDEX to MAP_DIR_INDEX.
static const settings_field_t settings_value_fields[] = {
    SETTINGS_FIELD(units, FIELD_WORD),
    SETTINGS_FIELD(vspeeds.Vmin, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vs0, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vs1, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vfe, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vn0, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vne, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.VRef, FIELD_BYTE),
    SETTINGS_FIELD(vspeeds.Vlo, FIELD_BYTE),
    SETTINGS_FIELD(volt_warnings.min_volts, FIELD_HALF),
    SETTINGS_FIELD(volt_warnings.max_volts, FIELD_HALF),
    SETTINGS_FIELD(registration[0], FIELD_CHARS),
    SETTINGS_FIELD(registration[4], FIELD_CHARS),
    SETTINGS_FIELD(registration[8], FIELD_CHARS),
    SETTINGS_FIELD(sky_color[0], FIELD_WORD),
    SETTINGS_FIELD(sky_color[1], FIELD_WORD),
    SETTINGS_FIELD(ground_color[0], FIELD_WORD),
    SETTINGS_FIELD(ground_color[1], FIELD_WORD),
    SETTINGS_FIELD(vref_indi_color, FIELD_WORD),
    SETTINGS_FIELD(airplane_color, FIELD_WORD),
    SETTINGS_FIELD(green_arc_color, FIELD_WORD),
    SETTINGS_FIELD(yellow_arc_color, FIELD_WORD),
    SETTINGS_FIELD(red_arc_color, FIELD_WORD),
    SETTINGS_FIELD(gear_indi_color, FIELD_WORD),
    SETTINGS_FIELD(backlight_brightness, FIELD_WORD),
    SETTINGS_FIELD(roll_correction, FIELD_WORD),
    SETTINGS_FIELD(pitch_correction, FIELD_WORD),
    SETTINGS_FIELD(volt_alerts.min_volts, FIELD_HALF),
    SETTINGS_FIELD(volt_alerts.max_volts, FIELD_HALF),
    SETTINGS_FIELD(text_bg_alpha, FIELD_WORD),
    SETTINGS_FIELD(use_mag_heading, FIELD_WORD),
    SETTINGS_FIELD(ownship_icao, FIELD_WORD),
    SETTINGS_FIELD(icao_address_type, FIELD_WORD),
    SETTINGS_FIELD(emitter_cat, FIELD_WORD),
    SETTINGS_FIELD(enable_term_resistor, FIELD_WORD),
    SETTINGS_FIELD(map_track, FIELD_WORD),
};
static_assert(sizeof(settings_value_fields) / sizeof(settings_value_fields[0]) == SETTINGS_LAST_INDEX,
              "one field per value index");

// Indexed from SETTINGS_CHECKSUM_INDEX to SETTINGS_NUM_ELEMENTS.
static const settings_field_t settings_header_fields[] = {
    SETTINGS_FIELD(crc32, FIELD_WORD),
    SETTINGS_FIELD(magic, FIELD_WORD),
    SETTINGS_FIELD(version, FIELD_WORD),
    SETTINGS_FIELD(num_elements, FIELD_WORD),
};
static_assert(sizeof(settings_header_fields) / sizeof(settings_header_fields[0])
                  == SETTINGS_NUM_ELEMENTS - SETTINGS_CHECKSUM_INDEX + 1,
              "one field per header index");

#undef SETTINGS_FIELD

static const settings_field_t* settings_field_of(uint32_t index)
{
    if (index < SETTINGS_LAST_INDEX)
        return &settings_value_fields[index];
    if (index >= SETTINGS_CHECKSUM_INDEX && index <= SETTINGS_NUM_ELEMENTS)
        return &settings_header_fields[index - SETTINGS_CHECKSUM_INDEX];
    return nullptr;
}

static void store_field(unsigned char* at, settings_field_kind_t kind, uint32_t value)
{
    switch (kind) {
    case FIELD_WORD:
        memcpy(at, &value, sizeof(value));
        break;
    case FIELD_BYTE:
        at[0] = static_cast<uint8_t>(value);
        break;
    case FIELD_HALF: {
        const uint16_t half = static_cast<uint16_t>(value);
        memcpy(at, &half, sizeof(half));
        break;
    }
    case FIELD_CHARS:
        at[0] = static_cast<uint8_t>(value >> 24);
        at[1] = static_cast<uint8_t>(value >> 16);
        at[2] = static_cast<uint8_t>(value >> 8);
        at[3] = static_cast<uint8_t>(value);
        break;
    }
}

static uint32_t load_field(const unsigned char* at, settings_field_kind_t kind)
{
    switch (kind) {
    case FIELD_WORD: {
        uint32_t word;
        memcpy(&word, at, sizeof(word));
        return word;
    }
    case FIELD_BYTE:
        return at[0];
    case FIELD_HALF: {
        uint16_t half;
        memcpy(&half, at, sizeof(half));
        return half;
    }
    case FIELD_CHARS:
        return (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | at[3];
    }
    return NO_VALUE;
}

bool settings_set_value(Settings_t* settings, settings_struct_index index, uint32_t* value)
{
    const settings_field_t* field = settings_field_of(index);
    if (field == nullptr)
        return false;

    // The store and the checksum it calls for land together, so the record
    // never holds a value without its matching checksum.
    Settings_t updated = *settings;
    store_field(reinterpret_cast<unsigned char*>(&updated) + field->offset, field->kind, *value);
    updated.crc32 = settings_CalcCRC(&updated);
    *settings = updated;
    return true;
}

uint32_t settings_get_value(Settings_t* settings, settings_struct_index index)
{
    const settings_field_t* field = settings_field_of(index);
    if (field == nullptr)
        return NO_VALUE;
    return load_field(reinterpret_cast<const unsigned char*>(settings) + field->offset, field->kind);
}

// Offset of each calibration field; the MMC_INSTALL indices name no field here.
static const uint16_t CALIB_NO_FIELD = 0xFFFF;

#define CALIB_FIELD(member) offsetof(SENSOR_CALIB_t, member)

// Indexed by sensor_calib_struct_index, CALIB_VERSION_INDEX to OAT_CRC_INDEX.
// Matrix indices walk A_matrix[row][column] column by column.
static const uint16_t calib_value_offsets[] = {
    CALIB_FIELD(version),
    CALIB_FIELD(LSM_CAL.acc_offset.x),
    CALIB_FIELD(LSM_CAL.acc_offset.y),
    CALIB_FIELD(LSM_CAL.acc_offset.z),
    CALIB_FIELD(LSM_CAL.acc_offset_crc),
    CALIB_FIELD(LSM_CAL.acc_scale.x),
    CALIB_FIELD(LSM_CAL.acc_scale.y),
    CALIB_FIELD(LSM_CAL.acc_scale.z),
    CALIB_FIELD(LSM_CAL.acc_scale_crc),
    CALIB_FIELD(LSM_CAL.gyro_bias.x),
    CALIB_FIELD(LSM_CAL.gyro_bias.y),
    CALIB_FIELD(LSM_CAL.gyro_bias.z),
    CALIB_FIELD(LSM_CAL.gyro_bias_crc),
    CALIB_FIELD(MMC_INITIAL_CAL.B_vector.x),
    CALIB_FIELD(MMC_INITIAL_CAL.B_vector.y),
    CALIB_FIELD(MMC_INITIAL_CAL.B_vector.z),
    CALIB_FIELD(MMC_INITIAL_CAL.B_vector_crc),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[0][0]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[1][0]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[2][0]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[0][1]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[1][1]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[2][1]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[0][2]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[1][2]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix[2][2]),
    CALIB_FIELD(MMC_INITIAL_CAL.A_matrix_crc),
    CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, // MMC_INSTALL B vector
    CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, // MMC_INSTALL A matrix
    CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD, CALIB_NO_FIELD,
    CALIB_FIELD(LIS_CAL.B_vector.x),
    CALIB_FIELD(LIS_CAL.B_vector.y),
    CALIB_FIELD(LIS_CAL.B_vector.z),
    CALIB_FIELD(LIS_CAL.B_vector_crc),
    CALIB_FIELD(LIS_CAL.A_matrix[0][0]),
    CALIB_FIELD(LIS_CAL.A_matrix[1][0]),
    CALIB_FIELD(LIS_CAL.A_matrix[2][0]),
    CALIB_FIELD(LIS_CAL.A_matrix[0][1]),
    CALIB_FIELD(LIS_CAL.A_matrix[1][1]),
    CALIB_FIELD(LIS_CAL.A_matrix[2][1]),
    CALIB_FIELD(LIS_CAL.A_matrix[0][2]),
    CALIB_FIELD(LIS_CAL.A_matrix[1][2]),
    CALIB_FIELD(LIS_CAL.A_matrix[2][2]),
    CALIB_FIELD(LIS_CAL.A_matrix_crc),
    CALIB_FIELD(AUAV_CAL.pitot_offset),
    CALIB_FIELD(AUAV_CAL.static_offset),
    CALIB_FIELD(AUAV_CAL.crc),
    CALIB_FIELD(pitot_coeff.LIN_A),
    CALIB_FIELD(pitot_coeff.LIN_B),
    CALIB_FIELD(pitot_coeff.LIN_C),
    CALIB_FIELD(pitot_coeff.LIN_D),
    CALIB_FIELD(pitot_coeff.Es),
    CALIB_FIELD(pitot_coeff.TC50H),
    CALIB_FIELD(pitot_coeff.TC50L),
    CALIB_FIELD(pitot_coeff.crc),
    CALIB_FIELD(static_coeff.LIN_A),
    CALIB_FIELD(static_coeff.LIN_B),
    CALIB_FIELD(static_coeff.LIN_C),
    CALIB_FIELD(static_coeff.LIN_D),
    CALIB_FIELD(static_coeff.Es),
    CALIB_FIELD(static_coeff.TC50H),
    CALIB_FIELD(static_coeff.TC50L),
    CALIB_FIELD(static_coeff.crc),
    CALIB_FIELD(oat_cal_0deg),
    CALIB_FIELD(oat_cal_100deg),
    CALIB_FIELD(oat_crc),
};
static_assert(sizeof(calib_value_offsets) / sizeof(calib_value_offsets[0]) == OAT_CRC_INDEX + 1,
              "one entry per calibration value index");

static uint16_t calib_offset_of(uint32_t index)
{
    if (index <= OAT_CRC_INDEX)
        return calib_value_offsets[index];
    if (index == CALIB_MAGIC_NUM)
        return CALIB_FIELD(magic);
    if (index == CALIB_CRC_INDEX)
        return CALIB_FIELD(crc32);
    return CALIB_NO_FIELD;
}

#undef CALIB_FIELD

bool calib_set_value(SENSOR_CALIB_t* dest, sensor_calib_struct_index index, uint32_t* new_value)
{
    const uint16_t offset = calib_offset_of(index);
    if (offset == CALIB_NO_FIELD)
        return false;
    memcpy(reinterpret_cast<unsigned char*>(dest) + offset, new_value, sizeof(*new_value));
    return true;
}

uint32_t calib_get_value(SENSOR_CALIB_t* src, sensor_calib_struct_index index)
{
    const uint16_t offset = calib_offset_of(index);
    if (offset == CALIB_NO_FIELD)
        return NO_VALUE;
    uint32_t value;
    memcpy(&value, reinterpret_cast<const unsigned char*>(src) + offset, sizeof(value));
    return value;
}
