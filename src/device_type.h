#pragma once

// The kind of unit and its hardware revision, as the unit's serial number
// carries them: the kind in the top byte, the revision in the byte below.
// Plain computation on the number, for the window, the command line and the
// manifest code alike; nothing here needs the link.

#include <cstdint>

#include <QString>

// The kind of unit as the manifest keys it: two upper-case hexadecimal digits ("AE").
QString deviceTypeKeyFromSerial(uint32_t serial_number);

// The hardware revision in decimal without leading zeros ("2").
QString hardwareRevisionFromSerial(uint32_t serial_number);

// The product name of the kind of unit, or "Unknown (0xNN)".
QString deviceTypeName(uint32_t serial_number);

// The serial number as the devices table shows it ("0xAE020457").
QString serialNumberText(uint32_t serial_number);
