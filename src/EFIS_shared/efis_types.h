#pragma once

// Small value types that the unit's settings record is built from. Shared with
// the unit's firmware: the layouts are fixed by the unit.

#include <cstdint>

// Display units: one flag per bit of units_value. Bits 9 to 31 carry no flag
// and are kept as they are when flags change.
typedef union {
    uint32_t units_value;
    struct {
        uint32_t is_mph : 1;        // bit 0
        uint32_t is_knots : 1;      // bit 1
        uint32_t is_kph : 1;        // bit 2
        uint32_t is_feet : 1;       // bit 3
        uint32_t is_meters : 1;     // bit 4
        uint32_t is_fahrenheit : 1; // bit 5
        uint32_t is_celsius : 1;    // bit 6
        uint32_t is_inhg : 1;       // bit 7
        uint32_t is_mbar : 1;       // bit 8
        uint32_t : 23;
    };
} units_t;

static_assert(sizeof(units_t) == 4, "units_t is one 32-bit word");

// Airspeed limits, one byte each in the unit's speed unit.
typedef struct {
    uint8_t Vmin;
    uint8_t Vs0;
    uint8_t Vs1;
    uint8_t Vfe;
    uint8_t Vn0;
    uint8_t Vne;
    uint8_t VRef;
    uint8_t Vlo;
} vspeeds_t;

static_assert(sizeof(vspeeds_t) == 8, "vspeeds_t is eight bytes");

// Supply voltage limits in tenths of a volt.
typedef struct {
    uint16_t min_volts;
    uint16_t max_volts;
} volt_warnings_t;

static_assert(sizeof(volt_warnings_t) == 4, "volt_warnings_t is one 32-bit word");

typedef enum : uint32_t {
    map_north_up = 0,
    map_track_up = 1,
} map_dir_t;

static_assert(sizeof(map_dir_t) == 4, "map_dir_t is one 32-bit word");
