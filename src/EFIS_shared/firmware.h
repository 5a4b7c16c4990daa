#pragma once

// Firmware version and kind-of-unit vocabulary shared with the unit's
// firmware.

#include <cstdint>

// Byte order on the wire and in memory: rc, patch, minor, major, so versions
// compare correctly as little-endian numbers.
typedef union {
    uint32_t version;
    struct {
        uint8_t rc;
        uint8_t patch;
        uint8_t minor;
        uint8_t major;
    };
} fwversion_t;

static_assert(sizeof(fwversion_t) == 4, "fwversion_t is four bytes");

// The top byte of a serial number names the kind of unit.
typedef enum : uint8_t {
    Device_type_EFIS = 0xAE,
    Device_type_ED = 0xED,
    Device_type_FF = 0xFF,
    Device_type_PC = 0xCC,
} DeviceType_t;
