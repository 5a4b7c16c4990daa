#pragma once

// Reading and writing the settings and calibration records one 32-bit value
// at a time, by the same index numbers that travel on the wire. Shared with
// the unit's firmware.

#include <cstdint>

#include "calib_types.h"
#include "settings_types.h"

// Stores *value into the field that index names, converted as that field
// needs, and refreshes crc32. False, with the record untouched, for an index
// that names no field.
bool settings_set_value(Settings_t* settings, settings_struct_index index, uint32_t* value);

// The field that index names as a 32-bit value; 0xFFFFFFFF for an index that
// names no field.
uint32_t settings_get_value(Settings_t* settings, settings_struct_index index);

// The calibration counterparts: every calibration field is one 32-bit word,
// a float moving as its IEEE-754 bit pattern. No checksum is refreshed.
bool calib_set_value(SENSOR_CALIB_t* dest, sensor_calib_struct_index index, uint32_t* new_value);
uint32_t calib_get_value(SENSOR_CALIB_t* src, sensor_calib_struct_index index);
