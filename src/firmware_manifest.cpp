#include "firmware_manifest.h"

QString firmwareVersionToString(const fwversion_t& v)
{
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.patch);
}
