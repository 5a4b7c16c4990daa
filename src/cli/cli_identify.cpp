// efis-cli identify: who the unit is, as lines for people or one JSON object
// for scripts.

#include <memory>

#include <QJsonDocument>
#include <QJsonObject>

#include "cli.h"
#include "cli_output.h"
#include "cli_unit.h"
#include "comms/comms.h"
#include "device_type.h"

namespace cli {

namespace {

QString firmwareText()
{
    return QStringLiteral("%1 (rc %2)").arg(firmwareVersionToString(fw)).arg(fw.rc);
}

QString identityLines(const CommsManager& comms)
{
    return QStringLiteral("Transport:         %1\n"
                          "Serial number:     %2\n"
                          "Device type:       %3 (%4)\n"
                          "Hardware revision: %5\n"
                          "Firmware version:  %6")
        .arg(transportName(comms), serialNumberText(device_serial), deviceTypeName(device_serial),
             deviceTypeKeyFromSerial(device_serial), hardwareRevisionFromSerial(device_serial), firmwareText());
}

QString identityJson(const CommsManager& comms)
{
    QJsonObject identity;
    identity.insert(QStringLiteral("transport"), transportName(comms));
    identity.insert(QStringLiteral("serial_number"), serialNumberText(device_serial));
    identity.insert(QStringLiteral("device_type"), deviceTypeKeyFromSerial(device_serial));
    identity.insert(QStringLiteral("device_type_name"), deviceTypeName(device_serial));
    identity.insert(QStringLiteral("hardware_revision"), hardwareRevisionFromSerial(device_serial).toInt());
    identity.insert(QStringLiteral("firmware_version"), firmwareVersionToString(fw));
    identity.insert(QStringLiteral("firmware_rc"), fw.rc);
    return QString::fromUtf8(QJsonDocument(identity).toJson(QJsonDocument::Indented)).trimmed();
}

} // namespace

int identify(const Invocation& invocation)
{
    std::unique_ptr<CommsManager> comms;
    const int found = connectToUnit(invocation, &comms);
    if (found != kExitSuccess)
        return found;
    printResult(invocation.json ? identityJson(*comms) : identityLines(*comms));
    return kExitSuccess;
}

} // namespace cli
