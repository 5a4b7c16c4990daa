#include "comms/comms.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "comms/canfd/canfd.h"
#include "comms/usb_hid/usbhid.h"

uint32_t device_serial = 0xFFFFFFFF;
fwversion_t fw = {0};

namespace {

const char* const kCanInterfaceName = "can0";
// The unit answers the identity request within this time.
const int kIdentityReplyDeadlineMs = 2000;

struct Candidate {
    const char* name;
    COMM_INTERFACE_t iface;
};

const Candidate kCandidates[] = {
    {"USB HID", USB_HID},
    {"CAN FD", CAN_FD},
};

// Why a read failed, in words; a USB report too short to hold a frame is no
// system error, so errno's own text would not say it.
const char* read_error_text(int error)
{
    return error == EBADMSG ? "report too short to hold a frame" : strerror(error);
}

bool is_identity_reply(const COMMS_MSG_t& reply)
{
    return (reply.can_ID & kCanStdIdMask) == CANMSG_WHOAMI_REQUEST && reply.msg_len == CAN_8_BYTES;
}

} // namespace

CommsManager::CommsManager() : usbHid(nullptr), canFd(nullptr)
{
    usbHid = new USBHID();
    canFd = new CANFD();
}

CommsManager::~CommsManager()
{
    delete usbHid;
    usbHid = nullptr;
    delete canFd;
    canFd = nullptr;
}

bool CommsManager::connect_transport(COMM_INTERFACE_t iface)
{
    if (iface == USB_HID) {
        printf("Attempting to connect to %s device 0x%04X:0x%04X\n", "USB HID", vendor_id, product_id);
        return usbHid != nullptr && usbHid->connect(vendor_id, product_id);
    }
    printf("%s unavailable, attempting %s interface: %s\n", "USB HID", "CAN FD", kCanInterfaceName);
    return canFd != nullptr && canFd->connect(kCanInterfaceName);
}

void CommsManager::disconnect_transport(COMM_INTERFACE_t iface)
{
    if (iface == USB_HID && usbHid != nullptr)
        usbHid->disconnect();
    if (iface == CAN_FD && canFd != nullptr)
        canFd->disconnect();
}

bool CommsManager::establish_connection()
{
    for (const Candidate& candidate : kCandidates) {
        if (!connect_transport(candidate.iface)) {
            printf("Failed to connect to %s\n", candidate.name);
            continue;
        }
        printf("%s connected, verifying with serial number request...\n", candidate.name);
        device_serial = 0xFFFFFFFF;
        fw.version = 0;
        const uint32_t serial = get_serialnumber(this, candidate.iface, &fw);
        if (serial != 0xFFFFFFFF) {
            device_serial = serial;
            printf("Successfully connected via %s! Serial number: 0x%08X, firmware %u.%u.%u (rc %u)\n",
                   candidate.name, serial, fw.major, fw.minor, fw.patch, fw.rc);
            return true;
        }
        printf("Failed to get serial number from %s - disconnecting\n", candidate.name);
        disconnect_transport(candidate.iface);
    }
    printf("Failed to connect via USB HID or CAN FD\n");
    return false;
}

int CommsManager::write(const COMMS_MSG_t& msg)
{
    std::lock_guard<std::mutex> lock(write_mutex_);
    COMMS_MSG_t copy = msg;
    if (usbHid != nullptr && usbHid->isConnected()) {
        copy.iface = USB_HID;
        return usbHid->write(copy);
    }
    if (canFd != nullptr && canFd->isConnected()) {
        copy.iface = CAN_FD;
        return canFd->write(copy);
    }
    printf("No interface connected.\n");
    return -1;
}

int CommsManager::read(COMMS_MSG_t* msg)
{
    if (msg == nullptr)
        return -1;
    if (usbHid != nullptr && usbHid->isConnected())
        return usbHid->read(msg);
    if (canFd != nullptr && canFd->isConnected())
        return canFd->read(msg);
    return -1;
}

int CommsManager::drop_waiting_frames()
{
    if (usbHid != nullptr && usbHid->isConnected())
        return usbHid->dropWaitingReports(kMaxDroppedFrames);
    if (canFd != nullptr && canFd->isConnected())
        return canFd->dropWaitingFrames(kMaxDroppedFrames);
    return 0;
}

bool CommsManager::isConnected() const
{
    return (usbHid != nullptr && usbHid->isConnected()) || (canFd != nullptr && canFd->isConnected());
}

COMM_INTERFACE_t CommsManager::getActiveInterface() const
{
    if (usbHid != nullptr && usbHid->isConnected())
        return USB_HID;
    if (canFd != nullptr && canFd->isConnected())
        return CAN_FD;
    return USB_HID;
}

USBHID* CommsManager::getUSBHID()
{
    return usbHid;
}

CANFD* CommsManager::getCANFD()
{
    return canFd;
}

namespace {

// The identity request goes straight to the named transport: the manager's
// own routing would pick USB whenever it is open.
template <typename Transport>
uint32_t request_identity(Transport* transport, COMM_INTERFACE_t iface, fwversion_t* firmware_version_out)
{
    COMMS_MSG_t request;
    memset(&request, 0, sizeof request);
    request.iface = iface;
    request.can_ID = CANMSG_WHOAMI_REQUEST;
    request.msg_len = CAN_2_BYTES;
    request.data[0] = WHOAMI_REQUEST_BYTE0;
    request.data[1] = WHOAMI_REQUEST_BYTE1;
    if (transport->write(request) <= 0) {
        printf("get_serialnumber: Failed to send message to device.\n");
        return 0xFFFFFFFF;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kIdentityReplyDeadlineMs);
    while (std::chrono::steady_clock::now() < deadline) {
        COMMS_MSG_t reply;
        memset(&reply, 0, sizeof reply);
        errno = 0;
        const int result = transport->read(&reply);
        if (result < 0) {
            // A CAN socket with nothing queued says so through errno.
            if (iface == CAN_FD && (errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            printf("get_serialnumber: Error reading response from device (%s).\n", read_error_text(errno));
            return 0xFFFFFFFF;
        }
        if (result == 0 || !is_identity_reply(reply))
            continue;
        if (firmware_version_out != nullptr)
            firmware_version_out->version = get_u32_le(&reply.data[4]);
        return get_u32_le(&reply.data[0]);
    }
    printf("get_serialnumber: No valid WHOAMI response before timeout.\n");
    return 0xFFFFFFFF;
}

} // namespace

uint32_t get_serialnumber(CommsManager* comms, COMM_INTERFACE_t iface, fwversion_t* firmware_version_out)
{
    if (comms == nullptr)
        return 0xFFFFFFFF;
    if (iface == USB_HID) {
        USBHID* usb = comms->getUSBHID();
        if (usb == nullptr || !usb->isConnected())
            return 0xFFFFFFFF;
        return request_identity(usb, iface, firmware_version_out);
    }
    if (iface == CAN_FD) {
        CANFD* can = comms->getCANFD();
        if (can == nullptr || !can->isConnected())
            return 0xFFFFFFFF;
        return request_identity(can, iface, firmware_version_out);
    }
    return 0xFFFFFFFF;
}

bool fwversion_at_least(const fwversion_t& version, uint8_t major, uint8_t minor, uint8_t patch)
{
    if (version.major != major)
        return version.major > major;
    if (version.minor != minor)
        return version.minor > minor;
    return version.patch >= patch;
}
