#pragma once

// Message identifiers of the unit's bus (11-bit values). Shared with the
// unit's firmware.

#include <cstdint>

typedef enum : uint32_t {
    CANMSG_WHOAMI_REQUEST = 0x010,
    CANMSG_ACK = 0x0E0,
    CANMSG_MX25_ACK = 0x0F0,
    CANMSG_EFIS_LOG = 0x100,
    CANMSG_ADSB_AIRCRAFT_IN = 0x120,
    CANMSG_ADSB_OWNSHIP_STATE = 0x130,
    CANMSG_ADSB_OWNSHIP_IDENT = 0x140,
    CANMSG_ADSB_WAKEUP = 0x150,
    CANMSG_ACC_UNCAL = 0x200,
    CANMSG_IDRIVE_SETBRIGHTNESS = 0x202,
    CANMSG_ACC = 0x210,
    CANMSG_GYRO_UNCAL = 0x220,
    CANMSG_GYRO = 0x230,
    CANMSG_MAG_MMC_UNCAL = 0x240,
    CANMSG_MAG_MMC = 0x250,
    CANMSG_MAG_LIS_UNCAL = 0x260,
    CANMSG_IDRIVE_ENCODER = 0x264,
    CANMSG_IDRIVE_BUTTON_STATUS = 0x267,
    CANMSG_MAG_LIS = 0x270,
    CANMSG_IDRIVE_INIT_RESPONSE = 0x273,
    CANMSG_ST_PRES = 0x280,
    CANMSG_PT_PRES = 0x290,
    CANMSG_LPS_STATIC = 0x2A0,
    CANMSG_AHRS_DATA = 0x2B0,
    CANMSG_AIRDATA_PITOT = 0x2C0,
    CANMSG_AIRDATA_STATIC = 0x2D0,
    CANMSG_GNSS_DATA = 0x2E0,
    CANMSG_MISC_DATA = 0x2F0,
    CANMSG_GPS_ALT = 0x30C,
    CANMSG_GPS_LATLON = 0x30D,
    CANMSG_INS_HEADING = 0x30F,
    CANMSG_EN_MSG = 0x320,
    CANMSG_REQUEST_SENSOR_CALIB = 0x330,
    CANMSG_SEND_SENSOR_CALIB = 0x340,
    CANMSG_SET_SENSOR_CALIB = 0x350,
    CANMSG_SAVE_SENSOR_CALIB = 0x360,
    CANMSG_REQUEST_SETTINGS_VALUE = 0x370,
    CANMSG_SEND_SETTINGS_VALUE = 0x380,
    CANMSG_RECEIVE_SETTINGS_VALUE = CANMSG_SEND_SETTINGS_VALUE,
    CANMSG_GLOBAL_SET_SETTING = 0x390,
    CANMSG_SAVE_USER_SETTINGS = 0x3A0,
    CANMSG_ENTER_BL = 0x3B0,
    CANMSG_READ_MX25 = 0x410,
    CANMSG_WRITE_MX25 = 0x420,
    CANMSG_ERASE_MX25 = 0x430,
    CANMSG_SET_ADDR_MX25 = 0x440,
    CANMSG_AIRPORT_DB_OP = 0x450,
    CANMSG_IDRIVE_KEEPALIVE = 0x563,
    CANMSG_IDRIVE_STATUS = 0x5E7,
    CANMSG_NONCE = 0x710,
    CANMSG_RS = 0x720,
    CANMSG_GET_PARTITION = 0x730,
    CANMSG_HEARTBEAT = 0x750,
    CANMSG_UID_REQUEST = 0x760,
    CANMSG_UID_ASSIGN = 0x770,
    CANMSG_DISCONNECT_CLIENT = 0x780,
    CANMSG_MAXID = 0x7FF,
} CAN_IDS_t;

// ---- Payload bytes with a fixed meaning ------------------------------------

// The identity request (CANMSG_WHOAMI_REQUEST) carries exactly these two bytes.
static const uint8_t WHOAMI_REQUEST_BYTE0 = 0xEF;
static const uint8_t WHOAMI_REQUEST_BYTE1 = 0x15;

// Put in front of the index in settings reads and expected back in the
// reply: the host names itself by its device type (Device_type_PC).
static const uint8_t kSettingsWireUid = 0xCC;

// The one byte of CANMSG_ENTER_BL that the unit's boot loader takes as
// "reboot" (the character 'H').
static const uint8_t ENTER_BL_REBOOT = 0x48;
