#pragma once

// Update packages: the downloads manifest and the firmware versions it names.

#include <QString>

#include "EFIS_shared/firmware.h"

// "major.minor.patch" in decimal; the rc byte is not shown.
QString firmwareVersionToString(const fwversion_t& v);
