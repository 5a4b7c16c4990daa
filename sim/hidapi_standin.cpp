// Stands in for hidapi's hidraw backend: the same calls with the semantics of
// hidapi on Linux (report ID in byte 0 of what is written and read,
// hid_read_timeout blocking up to its time-out and returning 0 then, -1 on
// failure), routed to the simulated unit instead of a kernel device.

#include <hidapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hidapi_standin.h"
#include "simulated_unit.h"

struct hid_device_ {
    bool vendor_interface;
};

namespace sim {

const char* const kVendorInterfacePath = "/dev/hidraw-sim0";
const char* const kOtherInterfacePath = "/dev/hidraw-sim1";

namespace {

std::atomic<int> g_open_devices{0};
std::atomic<int> g_library_users{0};

const unsigned short kOtherUsagePage = 0x0001;
const int kBlockingTimeoutMs = 24 * 60 * 60 * 1000;
// Report ID, four can_ID bytes and the length code.
const size_t kOutgoingHeaderBytes = 6;

hid_device_info* new_interface(const char* path, unsigned short usage_page, int interface_number)
{
    hid_device_info* info = static_cast<hid_device_info*>(calloc(1, sizeof(hid_device_info)));
    info->path = strdup(path);
    info->vendor_id = vendor_id;
    info->product_id = product_id;
    info->usage_page = usage_page;
    info->interface_number = interface_number;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

// The report the unit sends: report ID, then the frame's first six bytes, then the payload.
std::vector<uint8_t> encode_report(const Outbound& item)
{
    if (!item.raw.empty())
        return item.raw;
    const size_t n = dlc_code_to_bytes(item.frame.msg_len);
    std::vector<uint8_t> report(7 + n);
    report[0] = SimulatedUnit::kReportId;
    report[1] = item.frame.iface;
    put_u32_le(&report[2], item.frame.can_ID);
    report[6] = item.frame.msg_len;
    memcpy(&report[7], item.frame.data, n);
    return report;
}

COMMS_MSG_t decode_request(const unsigned char* data, size_t length)
{
    COMMS_MSG_t frame;
    memset(&frame, 0, sizeof frame);
    frame.iface = USB_HID;
    frame.can_ID = get_u32_le(&data[1]);
    frame.msg_len = static_cast<CAN_MSG_LEN_t>(data[5]);
    const size_t n = std::min<size_t>(dlc_code_to_bytes(frame.msg_len), length - kOutgoingHeaderBytes);
    memcpy(frame.data, &data[kOutgoingHeaderBytes], n);
    return frame;
}

} // namespace

int open_hid_devices()
{
    return g_open_devices.load();
}

int hid_library_users()
{
    return g_library_users.load();
}

} // namespace sim

using sim::unit;

extern "C" {

int HID_API_EXPORT hid_init(void)
{
    sim::g_library_users++;
    return 0;
}

int HID_API_EXPORT hid_exit(void)
{
    sim::g_library_users--;
    return 0;
}

// The interface version the stand-in follows, marked so an About box never
// passes the simulated link off as the real library.
const char* HID_API_EXPORT hid_version_str(void)
{
    return HID_API_VERSION_STR " (simulated)";
}

struct hid_device_info HID_API_EXPORT* hid_enumerate(unsigned short vendor, unsigned short product)
{
    if (!unit().present())
        return nullptr;
    if ((vendor != 0 && vendor != vendor_id) || (product != 0 && product != product_id))
        return nullptr;
    // The unit's second interface comes first, so the caller must pick by usage page.
    hid_device_info* other = sim::new_interface(sim::kOtherInterfacePath, sim::kOtherUsagePage, 1);
    if (unit().vendorInterfacePresent())
        other->next = sim::new_interface(sim::kVendorInterfacePath, 0xFF00, 0);
    return other;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        free(devs->path);
        free(devs);
        devs = next;
    }
}

hid_device* HID_API_EXPORT hid_open_path(const char* path)
{
    if (path == nullptr || !unit().present() || unit().openFails())
        return nullptr;
    const bool vendor = strcmp(path, sim::kVendorInterfacePath) == 0;
    if (!vendor && strcmp(path, sim::kOtherInterfacePath) != 0)
        return nullptr;
    sim::g_open_devices++;
    return new hid_device_{vendor};
}

void HID_API_EXPORT hid_close(hid_device* dev)
{
    if (dev == nullptr)
        return;
    sim::g_open_devices--;
    delete dev;
}

int HID_API_EXPORT hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (dev == nullptr || data == nullptr || unit().vanished())
        return -1;
    sim::wait_precisely_until(std::chrono::steady_clock::now() + unit().reportDelay());
    // Only the vendor interface carries frames; the other one takes reports and ignores them.
    if (!dev->vendor_interface || length < sim::kOutgoingHeaderBytes)
        return static_cast<int>(length);
    const std::vector<uint8_t> report(data, data + length);
    if (!unit().receive(sim::decode_request(data, length), report))
        return -1;
    return static_cast<int>(length);
}

int HID_API_EXPORT hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (dev == nullptr || data == nullptr)
        return -1;
    if (!dev->vendor_interface)
        return unit().vanished() ? -1 : 0;
    sim::Outbound item;
    const int taken = unit().takeOutbound(&item, milliseconds < 0 ? sim::kBlockingTimeoutMs : milliseconds);
    if (taken <= 0)
        return taken;
    const std::vector<uint8_t> report = sim::encode_report(item);
    const size_t count = std::min(length, report.size());
    memcpy(data, report.data(), count);
    return static_cast<int>(count);
}

int HID_API_EXPORT hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    return hid_read_timeout(dev, data, length, -1);
}

} // extern "C"
