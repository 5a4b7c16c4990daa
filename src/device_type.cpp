#include "device_type.h"

#include "EFIS_shared/firmware.h"

QString deviceTypeKeyFromSerial(uint32_t serial_number)
{
    return QStringLiteral("%1").arg(unsigned(get_device_type(serial_number)), 2, 16, QLatin1Char('0')).toUpper();
}

QString hardwareRevisionFromSerial(uint32_t serial_number)
{
    return QString::number((serial_number >> 16) & 0xFFu);
}

QString deviceTypeName(uint32_t serial_number)
{
    const DeviceType_t type = get_device_type(serial_number);
    switch (type) {
    case Device_type_EFIS:
        return QStringLiteral("Halcyra");
    case Device_type_ED:
        return QStringLiteral("Mirrow");
    case Device_type_FF:
        return QStringLiteral("Sondrel");
    default:
        return QStringLiteral("Unknown (0x%1)").arg(unsigned(type), 2, 16, QLatin1Char('0'));
    }
}

QString serialNumberText(uint32_t serial_number)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(serial_number, 8, 16, QLatin1Char('0')).toUpper();
}
