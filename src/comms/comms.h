#pragma once

// The device link: the connection manager that owns both transports, the
// unit's identity, and the request/acknowledge exchanges every command of the
// program is built on.

#include <cstdint>
#include <mutex>

#include "EFIS_shared/can_export.h"
#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"

class USBHID;
class CANFD;

// A link that keeps delivering frames (a busy bus) stops being emptied after
// this many, so a request is never held up for good.
const int kMaxDroppedFrames = 256;
// Mask of an 11-bit standard identifier.
const uint32_t kCanStdIdMask = 0x7FF;

// Serial number of the connected unit; 0xFFFFFFFF when none is identified.
extern uint32_t device_serial;
// Firmware version reported by the connected unit.
extern fwversion_t fw;

class CommsManager
{
public:
    CommsManager();
    ~CommsManager();
    CommsManager(const CommsManager&) = delete;
    CommsManager& operator=(const CommsManager&) = delete;

    // USB HID first, CAN FD on "can0" as the fallback; each opened link is
    // proved with an identity request that fills device_serial and fw.
    bool establish_connection();

    // Sends one frame on the open transport, serialised with every other writer.
    int write(const COMMS_MSG_t& msg);
    // Receives one frame: positive a frame, 0 nothing in time, negative an error.
    // Not locked: only one thread may wait for replies at a time.
    int read(COMMS_MSG_t* msg);
    // Throws away the frames already waiting on the open transport without
    // waiting for more, so a late reply to an earlier request cannot be taken
    // for the reply to the next one; how many there were. Same rule as read.
    int drop_waiting_frames();

    bool isConnected() const;
    COMM_INTERFACE_t getActiveInterface() const;

    USBHID* getUSBHID();
    CANFD* getCANFD();

private:
    bool connect_transport(COMM_INTERFACE_t iface);
    void disconnect_transport(COMM_INTERFACE_t iface);

    USBHID* usbHid;
    CANFD* canFd;
    std::mutex write_mutex_;
};

// True when there is a manager and one of its transports is open.
inline bool comms_connected(const CommsManager* comms)
{
    return comms != nullptr && comms->isConnected();
}

// Identity request on one given transport, bypassing the write lock; the
// serial number, or 0xFFFFFFFF on failure.
uint32_t get_serialnumber(CommsManager* comms, COMM_INTERFACE_t iface,
                          fwversion_t* firmware_version_out);

// True when version is at least major.minor.patch; the rc byte is not compared.
bool fwversion_at_least(const fwversion_t& version, uint8_t major, uint8_t minor, uint8_t patch);

// ---- Command exchanges ---------------------------------------------------

typedef enum : uint8_t {
    SENSOR_COMMS = 0,
    SETTINGS_COMMS = 1,
} target_comms_t;

// The unit sends every awaited frame within one read time-out after the
// frame before it. A wait that only ever sees unrelated frames (another node
// on a bus, a chatty unit) gives up once this much time has passed.
const int kAckDeadlineMs = 1000;
// A settings or calibration value reply arrives within this time.
const int kValueReplyDeadlineMs = 500;

// Sends a request after dropping the frames already waiting on the link, so
// only what the unit sends from now on can answer it; the write's result.
int send_request(CommsManager* comms, const COMMS_MSG_t& msg);

// Waits for the command acknowledgement of can_id; true only for status ACK.
bool wait_for_ack(CommsManager* comms, uint32_t can_id);
bool wait_for_ack(CommsManager* comms, uint32_t can_id, int deadline_ms);

// Waits for the next external-flash acknowledgement; op and value are filled
// (when not null) before the status is looked at. True only for status ACK.
bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op, uint32_t* value);
bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op, uint32_t* value, int deadline_ms);

// Reads one value; 0xFFFFFFFF on failure, which a stored 0xFFFFFFFF cannot be
// told apart from.
uint32_t get_value(CommsManager* comms, target_comms_t target, uint8_t index);
// Reads one value and reports success apart from it, so a stored 0xFFFFFFFF
// (a white colour, say) reads as what it is.
bool read_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t* value_out);

// Writes one value and waits for its acknowledgement; 0 or -1.
int set_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t value);

// Sends a table's store command and waits for its acknowledgement; 0 or -1.
int save_settings(CommsManager* comms, target_comms_t src, uint32_t crc);
