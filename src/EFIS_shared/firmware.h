#pragma once

// Firmware version and kind-of-unit vocabulary shared with the unit's
// firmware.

#include <cstddef>
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

// The top byte of a serial number: the kind of unit. Values outside
// DeviceType_t occur and pass through unchanged.
static inline DeviceType_t get_device_type(uint32_t serialnumber)
{
    return static_cast<DeviceType_t>(serialnumber >> 24);
}

// ---- External flash --------------------------------------------------------

// Operations of the unit's external flash (an MX25 part). One byte on the
// wire: the erase request's first byte and the flash acknowledgement's op code.
typedef enum : uint32_t {
    OP_NONE = 0,
    OP_CHIP_ERASE = 0xCE,
    OP_SECTOR_ERASE = 0xAE, // 4 KiB
    OP_BLOCK_ERASE = 0xBE,  // 64 KiB
    OP_WRITE = 0xAA,
    OP_READ = 0xDD,
    OP_SETADDR = 0xA1,
    OP_GETPART = 0xAC,
} FlashOpType;

// Before storing its settings the unit erases their sector and reports it
// with a flash acknowledgement of this op at SETTINGS_FLASH_ADDRESS
// (mem_layout.h).
static const FlashOpType SETTINGS_STORE_ERASE_OP = OP_SECTOR_ERASE;

// Airport database control bytes (CANMSG_AIRPORT_DB_OP).
static const uint8_t AIRPORT_DB_OP_CLOSE = 0xDC; // the unit stops using its database
static const uint8_t AIRPORT_DB_OP_OPEN = 0xDA;  // the unit takes up its database again

// Firmware partitions of the external flash, each a repeated byte.
typedef enum : uint32_t {
    partition_none = 0x00000000,
    partition_1 = 0xB1B1B1B1,
    partition_2 = 0xB2B2B2B2,
    partition_debug = 0xB3B3B3B3,
    partition_unknown = 0xFFFFFFFF,
} mx25_partition;

// The header in front of every firmware image. The unit reads it back from
// the first bytes of the bank, so it goes to flash exactly as in the file.
// Little-endian, like everything the unit reads.
typedef struct {
    uint32_t magic;
    uint32_t version;
    uint32_t total_size; // bytes the bank must have erased for this image
    uint32_t plaintext_size;
    uint32_t encrypted_size; // payload bytes following the header
    uint32_t crc32_plaintext;
    uint32_t crc32_encrypted;
    uint32_t iv[4];
    uint32_t offset;
    uint32_t padding[4];
} firmware_header_t;

static_assert(sizeof(firmware_header_t) == 64, "firmware_header_t is 64 bytes");
static_assert(offsetof(firmware_header_t, total_size) == 8, "total_size offset");
static_assert(offsetof(firmware_header_t, plaintext_size) == 12, "plaintext_size offset");
static_assert(offsetof(firmware_header_t, encrypted_size) == 16, "encrypted_size offset");
static_assert(offsetof(firmware_header_t, crc32_plaintext) == 20, "crc32_plaintext offset");
static_assert(offsetof(firmware_header_t, crc32_encrypted) == 24, "crc32_encrypted offset");
static_assert(offsetof(firmware_header_t, iv) == 28, "iv offset");
static_assert(offsetof(firmware_header_t, offset) == 44, "offset offset");
static_assert(offsetof(firmware_header_t, padding) == 48, "padding offset");
