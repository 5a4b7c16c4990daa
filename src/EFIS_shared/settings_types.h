#pragma once

// The unit's user settings record and the index through which it is read and
// written one 32-bit value at a time. Shared with the unit's firmware: both
// sides must agree on it bit for bit.

#include <cstddef>
#include <cstdint>

#include "efis_types.h"

enum { SETTINGS_REGISTRATION_LEN = 12 };

typedef struct {
    uint32_t crc32;        // checksum of the words after it, see settings_CalcCRC
    uint32_t magic;        // "KOB_" once the host has stored the record
    uint32_t version;      // layout version, as the unit reports it
    uint32_t num_elements; // words covered by the checksum, counted from magic
    units_t units;
    vspeeds_t vspeeds;
    volt_warnings_t volt_warnings;
    char registration[SETTINGS_REGISTRATION_LEN];
    uint32_t sky_color[2];
    uint32_t ground_color[2];
    uint32_t vref_indi_color;
    uint32_t airplane_color;
    uint32_t green_arc_color;
    uint32_t yellow_arc_color;
    uint32_t red_arc_color;
    uint32_t gear_indi_color;
    uint32_t backlight_brightness;
    float roll_correction;
    float pitch_correction;
    volt_warnings_t volt_alerts;
    uint32_t text_bg_alpha;
    uint32_t use_mag_heading;
    uint32_t ownship_icao;
    uint32_t icao_address_type;
    uint32_t emitter_cat;
    uint32_t enable_term_resistor;
    map_dir_t map_track;
} Settings_t;

static_assert(sizeof(float) == 4, "float fields are IEEE-754 single precision");
static_assert(offsetof(vspeeds_t, Vmin) == 0 && offsetof(vspeeds_t, Vs0) == 1 && offsetof(vspeeds_t, Vs1) == 2
                  && offsetof(vspeeds_t, Vfe) == 3 && offsetof(vspeeds_t, Vn0) == 4 && offsetof(vspeeds_t, Vne) == 5
                  && offsetof(vspeeds_t, VRef) == 6 && offsetof(vspeeds_t, Vlo) == 7,
              "one byte per speed, Vmin first");
static_assert(offsetof(volt_warnings_t, min_volts) == 0 && offsetof(volt_warnings_t, max_volts) == 2,
              "the minimum in the low half of the word");
static_assert(sizeof(Settings_t) == 128, "Settings_t is 128 bytes");
static_assert(offsetof(Settings_t, crc32) == 0, "crc32 offset");
static_assert(offsetof(Settings_t, magic) == 4, "magic offset");
static_assert(offsetof(Settings_t, version) == 8, "version offset");
static_assert(offsetof(Settings_t, num_elements) == 12, "num_elements offset");
static_assert(offsetof(Settings_t, units) == 16, "units offset");
static_assert(offsetof(Settings_t, vspeeds) == 20, "vspeeds offset");
static_assert(offsetof(Settings_t, volt_warnings) == 28, "volt_warnings offset");
static_assert(offsetof(Settings_t, registration) == 32, "registration offset");
static_assert(offsetof(Settings_t, sky_color) == 44, "sky_color offset");
static_assert(offsetof(Settings_t, ground_color) == 52, "ground_color offset");
static_assert(offsetof(Settings_t, vref_indi_color) == 60, "vref_indi_color offset");
static_assert(offsetof(Settings_t, airplane_color) == 64, "airplane_color offset");
static_assert(offsetof(Settings_t, green_arc_color) == 68, "green_arc_color offset");
static_assert(offsetof(Settings_t, yellow_arc_color) == 72, "yellow_arc_color offset");
static_assert(offsetof(Settings_t, red_arc_color) == 76, "red_arc_color offset");
static_assert(offsetof(Settings_t, gear_indi_color) == 80, "gear_indi_color offset");
static_assert(offsetof(Settings_t, backlight_brightness) == 84, "backlight_brightness offset");
static_assert(offsetof(Settings_t, roll_correction) == 88, "roll_correction offset");
static_assert(offsetof(Settings_t, pitch_correction) == 92, "pitch_correction offset");
static_assert(offsetof(Settings_t, volt_alerts) == 96, "volt_alerts offset");
static_assert(offsetof(Settings_t, text_bg_alpha) == 100, "text_bg_alpha offset");
static_assert(offsetof(Settings_t, use_mag_heading) == 104, "use_mag_heading offset");
static_assert(offsetof(Settings_t, ownship_icao) == 108, "ownship_icao offset");
static_assert(offsetof(Settings_t, icao_address_type) == 112, "icao_address_type offset");
static_assert(offsetof(Settings_t, emitter_cat) == 116, "emitter_cat offset");
static_assert(offsetof(Settings_t, enable_term_resistor) == 120, "enable_term_resistor offset");
static_assert(offsetof(Settings_t, map_track) == 124, "map_track offset");

// The words of the record that follow crc32: the most a checksum can cover.
enum { SETTINGS_WORDS_AFTER_CRC = (sizeof(Settings_t) - sizeof(uint32_t)) / sizeof(uint32_t) };
static_assert(SETTINGS_WORDS_AFTER_CRC == 31, "31 words follow crc32");

// Indices 0 to 35 address the values in field order; 252 to 255 the header.
typedef enum : uint32_t {
    UNITS_VALUE_INDEX = 0,
    VMIN_INDEX = 1,
    VS0_INDEX = 2,
    VS1_INDEX = 3,
    VFE_INDEX = 4,
    VN0_INDEX = 5,
    VNE_INDEX = 6,
    APPROACHSPEED_INDEX = 7,
    VLO_INDEX = 8,
    MIN_VOLTS_INDEX = 9,
    MAX_VOLTS_INDEX = 10,
    REGISTRATION_1_INDEX = 11,
    REGISTRATION_2_INDEX = 12,
    REGISTRATION_3_INDEX = 13,
    SKY_COLOR_0_INDEX = 14,
    SKY_COLOR_1_INDEX = 15,
    GROUND_COLOR_0_INDEX = 16,
    GROUND_COLOR_1_INDEX = 17,
    APPROACH_COLOR_INDEX = 18,
    AIRPLANE_COLOR_INDEX = 19,
    GREEN_ARC_COLOR_INDEX = 20,
    YELLOW_ARC_COLOR_INDEX = 21,
    RED_ARC_COLOR_INDEX = 22,
    GEAR_INDI_COLOR_INDEX = 23,
    BACKLIGHT_BRIGHTNESS_INDEX = 24,
    ROLL_CORRECTION_INDEX = 25,
    PITCH_CORRECTION_INDEX = 26,
    MIN_VOLTS_ALERT_INDEX = 27,
    MAX_VOLTS_ALERT_INDEX = 28,
    TEXT_BG_ALPHA_INDEX = 29,
    USE_MAG_INDEX = 30,
    OWNSHIP_ICAO_INDEX = 31,
    ICAO_ADDR_TYPE_INDEX = 32,
    EMITTER_CAT_INDEX = 33,
    TERM_RESISTOR_INDEX = 34,
    MAP_DIR_INDEX = 35,
    SETTINGS_LAST_INDEX = 36, // the number of value indices, not a value

    SETTINGS_CHECKSUM_INDEX = 252,
    SETTINGS_MAGIC_NUM = 253,
    SETTINGS_VERSION = 254,
    SETTINGS_NUM_ELEMENTS = 255,
} settings_struct_index;
