#pragma once

// What the hidapi stand-in lets a test see of the HID layer's own state.

namespace sim {

// Devices opened with hid_open_path and not yet closed.
int open_hid_devices();
// hid_init calls not yet matched by hid_exit.
int hid_library_users();

// Path and usage page of the unit's vendor interface and of its second
// interface, as hid_enumerate lists them.
extern const char* const kVendorInterfacePath;
extern const char* const kOtherInterfacePath;

} // namespace sim
