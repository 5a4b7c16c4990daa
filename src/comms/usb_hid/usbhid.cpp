#include "comms/usb_hid/usbhid.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <hidapi.h>

namespace {

const size_t kReadBufferSize = 128;
// Report ID, iface, four can_ID bytes and the length code precede the payload.
const int kIncomingHeaderBytes = 7;
// can_ID and the length code precede the payload in an outgoing body.
const size_t kOutgoingHeaderBytes = 5;

const hid_device_info* find_vendor_interface(const hid_device_info* list, uint16_t vendor,
                                             uint16_t product)
{
    for (const hid_device_info* dev = list; dev != nullptr; dev = dev->next) {
        if (dev->vendor_id == vendor && dev->product_id == product
            && dev->usage_page == USBHID::kVendorUsagePage)
            return dev;
    }
    return nullptr;
}

} // namespace

USBHID::USBHID() : device_handle(nullptr), connected(false), report_ID(5)
{
    hid_init();
}

USBHID::~USBHID()
{
    disconnect();
    hid_exit();
}

bool USBHID::connect(uint16_t vendor, uint16_t product)
{
    if (connected)
        disconnect();

    hid_device_info* list = hid_enumerate(vendor, product);
    if (list == nullptr) {
        connected = false;
        return false;
    }
    const hid_device_info* unit = find_vendor_interface(list, vendor, product);
    if (unit != nullptr)
        device_handle = hid_open_path(unit->path);
    if (unit != nullptr && device_handle == nullptr) {
        // On Linux the usual cause is a hidraw node that only root may open.
        printf("USB HID device 0x%04X:0x%04X is present but could not be opened; "
               "on Linux, install packaging/70-corvane-efis.rules to grant access to its hidraw node\n",
               vendor, product);
    }
    hid_free_enumeration(list);
    connected = device_handle != nullptr;
    return connected;
}

void USBHID::disconnect()
{
    if (device_handle != nullptr)
        hid_close(device_handle);
    device_handle = nullptr;
    connected = false;
}

bool USBHID::isConnected() const
{
    return connected;
}

int USBHID::read(COMMS_MSG_t* msg)
{
    if (!connected || device_handle == nullptr || msg == nullptr)
        return -1;

    uint8_t buffer[kReadBufferSize];
    const int length = hid_read_timeout(device_handle, buffer, sizeof buffer, kReadTimeoutMs);
    if (length <= 0)
        return length;
    if (length < kIncomingHeaderBytes) {
        errno = EBADMSG;
        return -1;
    }

    memset(msg, 0, sizeof *msg);
    msg->iface = static_cast<COMM_INTERFACE_t>(buffer[1]);
    msg->can_ID = get_u32_le(&buffer[2]);
    msg->msg_len = static_cast<CAN_MSG_LEN_t>(buffer[6]);

    // A length code may promise more than the report carries: copy what came.
    size_t count = dlc_code_to_bytes(msg->msg_len);
    const size_t present = static_cast<size_t>(length - kIncomingHeaderBytes);
    if (count > present)
        count = present;
    memcpy(msg->data, &buffer[kIncomingHeaderBytes], count);
    return length;
}

int USBHID::dropWaitingReports(int limit)
{
    if (!connected || device_handle == nullptr)
        return 0;
    uint8_t buffer[kReadBufferSize];
    int dropped = 0;
    while (dropped < limit && hid_read_timeout(device_handle, buffer, sizeof buffer, 0) > 0)
        dropped++;
    return dropped;
}

int USBHID::write(const uint8_t* bytes, size_t length)
{
    if (!connected || device_handle == nullptr)
        return -1;

    uint8_t report[1 + sizeof(COMMS_MSG_t)];
    if (length + 1 > sizeof report)
        return -1;
    report[0] = report_ID;
    memcpy(&report[1], bytes, length);
    return hid_write(device_handle, report, length + 1);
}

int USBHID::write(const COMMS_MSG_t& msg)
{
    if (!connected || device_handle == nullptr)
        return -1;

    const size_t n = dlc_code_to_bytes(msg.msg_len);
    uint8_t body[kOutgoingHeaderBytes + COMMS_MSG_DATA_LEN];
    put_u32_le(&body[0], msg.can_ID);
    body[4] = msg.msg_len;
    memcpy(&body[kOutgoingHeaderBytes], msg.data, n);
    return write(body, kOutgoingHeaderBytes + n);
}
