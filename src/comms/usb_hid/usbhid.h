#pragma once

// Carries frames in HID reports through hidapi. Outgoing reports are the
// report ID followed by can_ID, the length code and the payload; incoming
// reports carry the frame's own first six bytes (iface included) after the
// report ID.

#include <cstddef>
#include <cstdint>

#include "EFIS_shared/comms_types.h"

struct hid_device_;
typedef struct hid_device_ hid_device;

class USBHID
{
public:
    // hidapi's read time-out; the unit answers every request well within it.
    static const int kReadTimeoutMs = 1000;
    static const uint16_t kVendorUsagePage = 0xFF00;

    USBHID();
    ~USBHID();
    USBHID(const USBHID&) = delete;
    USBHID& operator=(const USBHID&) = delete;

    bool connect(uint16_t vendor, uint16_t product);
    void disconnect();
    bool isConnected() const;

    // Positive: the report length (report ID included); 0: nothing within the
    // time-out; -1: failure, not connected, or a report too short to hold a
    // frame (errno EBADMSG).
    int read(COMMS_MSG_t* msg);
    // Throws away the reports already waiting, at most limit of them, without
    // waiting for more; how many there were.
    int dropWaitingReports(int limit);
    // Sends one report body behind the report ID; hid_write's result.
    int write(const uint8_t* bytes, size_t length);
    // Packs one frame (without its iface byte) and sends it.
    int write(const COMMS_MSG_t& msg);

private:
    hid_device* device_handle;
    bool connected;
    uint8_t report_ID;
};
