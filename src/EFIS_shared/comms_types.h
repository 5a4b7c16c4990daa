#pragma once

// The message frame that the unit speaks on its CAN FD bus and, tunnelled in
// HID reports, on its USB port. Shared with the unit's firmware: the layout
// and the values are fixed by the unit.

#include <cstddef>
#include <cstdint>

static const uint16_t vendor_id = 0x16D0;
static const uint16_t product_id = 0x14C7;

typedef enum : uint8_t {
    USB_HID = 0,
    CAN_FD = 1,
} COMM_INTERFACE_t;

typedef enum : uint8_t {
    NACK = 0,
    ACK = 1,
} ACK_NACK_t;

// CAN FD data length codes, named by the byte count they carry. A count that
// is not itself a CAN FD length takes the smallest code able to carry it.
typedef enum : uint8_t {
    CAN_0_BYTES = 0,
    CAN_1_BYTES = 1,
    CAN_2_BYTES = 2,
    CAN_3_BYTES = 3,
    CAN_4_BYTES = 4,
    CAN_5_BYTES = 5,
    CAN_6_BYTES = 6,
    CAN_7_BYTES = 7,
    CAN_8_BYTES = 8,
    CAN_9_BYTES = 9, CAN_10_BYTES = 9, CAN_11_BYTES = 9, CAN_12_BYTES = 9,
    CAN_13_BYTES = 10, CAN_14_BYTES = 10, CAN_15_BYTES = 10, CAN_16_BYTES = 10,
    CAN_17_BYTES = 11, CAN_18_BYTES = 11, CAN_19_BYTES = 11, CAN_20_BYTES = 11,
    CAN_21_BYTES = 12, CAN_22_BYTES = 12, CAN_23_BYTES = 12, CAN_24_BYTES = 12,
    CAN_25_BYTES = 13, CAN_26_BYTES = 13, CAN_27_BYTES = 13, CAN_28_BYTES = 13,
    CAN_29_BYTES = 13, CAN_30_BYTES = 13, CAN_31_BYTES = 13, CAN_32_BYTES = 13,
    CAN_33_BYTES = 14, CAN_34_BYTES = 14, CAN_35_BYTES = 14, CAN_36_BYTES = 14,
    CAN_37_BYTES = 14, CAN_38_BYTES = 14, CAN_39_BYTES = 14, CAN_40_BYTES = 14,
    CAN_41_BYTES = 14, CAN_42_BYTES = 14, CAN_43_BYTES = 14, CAN_44_BYTES = 14,
    CAN_45_BYTES = 14, CAN_46_BYTES = 14, CAN_47_BYTES = 14, CAN_48_BYTES = 14,
    CAN_49_BYTES = 15, CAN_50_BYTES = 15, CAN_51_BYTES = 15, CAN_52_BYTES = 15,
    CAN_53_BYTES = 15, CAN_54_BYTES = 15, CAN_55_BYTES = 15, CAN_56_BYTES = 15,
    CAN_57_BYTES = 15, CAN_58_BYTES = 15, CAN_59_BYTES = 15, CAN_60_BYTES = 15,
    CAN_61_BYTES = 15, CAN_62_BYTES = 15, CAN_63_BYTES = 15, CAN_64_BYTES = 15,
} CAN_MSG_LEN_t;

enum { COMMS_MSG_DATA_LEN = 64 };

#pragma pack(push, 1)
typedef struct {
    COMM_INTERFACE_t iface;
    uint32_t can_ID;
    CAN_MSG_LEN_t msg_len; // a length code, not a byte count
    uint8_t data[COMMS_MSG_DATA_LEN];
    uint8_t padding[2];
} COMMS_MSG_t;
#pragma pack(pop)

static_assert(sizeof(COMMS_MSG_t) == 72, "COMMS_MSG_t is 72 bytes on the wire");
static_assert(offsetof(COMMS_MSG_t, iface) == 0, "iface offset");
static_assert(offsetof(COMMS_MSG_t, can_ID) == 1, "can_ID offset");
static_assert(offsetof(COMMS_MSG_t, msg_len) == 5, "msg_len offset");
static_assert(offsetof(COMMS_MSG_t, data) == 6, "data offset");
static_assert(offsetof(COMMS_MSG_t, padding) == 70, "padding offset");

// A frame to send: zero-filled first, so every byte the sender does not name is 0.
static inline COMMS_MSG_t comms_msg_init(uint32_t can_id, CAN_MSG_LEN_t msg_len)
{
    COMMS_MSG_t msg = {};
    msg.can_ID = can_id;
    msg.msg_len = msg_len;
    return msg;
}

// Byte count carried by a length code; 0 for a code above 15.
static inline uint8_t dlc_code_to_bytes(CAN_MSG_LEN_t code)
{
    static const uint8_t bytes_of_code[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return code < 16 ? bytes_of_code[code] : 0;
}

// Smallest length code able to carry `bytes`; 15 for anything above 48.
static inline CAN_MSG_LEN_t bytes_to_dlc_code(uint8_t bytes)
{
    if (bytes <= 8)
        return static_cast<CAN_MSG_LEN_t>(bytes);
    static const uint8_t upper_bound_of_code[6] = {12, 16, 20, 24, 32, 48};
    for (uint8_t i = 0; i < 6; i++) {
        if (bytes <= upper_bound_of_code[i])
            return static_cast<CAN_MSG_LEN_t>(9 + i);
    }
    return CAN_64_BYTES;
}

// Multi-byte values travel little-endian in every frame.
static inline void put_u32_le(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

static inline uint32_t get_u32_le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8
           | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

static inline uint16_t get_u16_le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

static inline void put_u16_le(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
