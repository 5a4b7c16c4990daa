// efis-cli firmware, airport-db, check-updates and reboot: the window's
// update workflows without the window. A firmware file passes the same
// SHA-256 gate before anything is sent, only a complete image is followed by
// a reboot request, and Ctrl-C stops an upload between two packets.

#include <memory>

#include <QFile>
#include <QFileInfo>

#include "cli.h"
#include "cli_output.h"
#include "cli_unit.h"
#include "comms/comms.h"
#include "device_type.h"
#include "firmware_ops/firmware_ops.h"
#include "settings_transfer.h"

namespace cli {

namespace {


const char kDigestMismatchStart[] = "Firmware file SHA-256 does not match the manifest.";

// A digest that does not match is a verification failure; anything else
// that keeps a package from the disk is a failed operation.
int packageFailure(const QString& error)
{
    printError(error);
    return error.startsWith(QLatin1String(kDigestMismatchStart)) ? kExitVerification : kExitFailed;
}

// The firmware list of the manifest from the best source: the server, or a
// stored copy when it cannot be reached; says why when there is none.
bool loadFirmwareEntries(const Invocation& invocation, QVector<FirmwareManifestEntry>* entries)
{
    QString error;
    if (loadFirmwareManifestForDevice(invocation.sources, &error, entries))
        return true;
    printError(QStringLiteral("could not load the downloads manifest: %1").arg(error));
    return false;
}

// The window's gate for a file picked by hand: the manifest entry of the
// same file name supplies the digest, and a file it does not list (or no
// manifest at all) passes unchecked.
int checkFirmwareFile(const Invocation& invocation, const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        printError(QStringLiteral("firmware file not found: %1").arg(path));
        return kExitFailed;
    }
    QVector<FirmwareManifestEntry> entries;
    QString error;
    if (!loadFirmwareManifestForDevice(invocation.sources, &error, &entries)) {
        entries.clear();
        if (invocation.verbose)
            printError(QStringLiteral("no manifest to check the file against: %1").arg(error));
    }
    const FirmwareManifestEntry* entry = findManifestEntryByFirmwareFileName(entries, QFileInfo(path).fileName());
    if (entry != nullptr && !firmwareFileSha256Matches(path, entry->sha256, &error)) {
        printError(error);
        return kExitVerification;
    }
    return kExitSuccess;
}

// The manifest's package for the connected unit, put on disk and checked.
int fetchLatestFirmware(const Invocation& invocation, QString* path)
{
    QVector<FirmwareManifestEntry> entries;
    if (!loadFirmwareEntries(invocation, &entries))
        return kExitFailed;
    const FirmwareManifestEntry* entry = findFirmwareManifestEntry(entries, device_serial);
    if (entry == nullptr) {
        printError(QStringLiteral("no firmware package in the manifest matches this unit"));
        return kExitFailed;
    }
    QString error;
    if (!ensureFirmwarePackageOnDisk(invocation.sources, *entry, path, &error)
        || !firmwareFileSha256Matches(*path, entry->sha256, &error))
        return packageFailure(error);
    return kExitSuccess;
}

int fetchLatestAirportDb(const Invocation& invocation, QString* path)
{
    QByteArray bytes;
    QString error;
    QVector<DatabaseManifestEntry> entries;
    if (!loadDownloadsManifestBytes(invocation.sources, &bytes, &error)
        || !parseDatabaseManifestJson(bytes, &entries, &error)) {
        printError(QStringLiteral("could not load the downloads manifest: %1").arg(error));
        return kExitFailed;
    }
    const DatabaseManifestEntry* latest = findLatestDatabaseEntryByType(entries, QStringLiteral("airport"));
    if (latest == nullptr) {
        printError(QStringLiteral("no airport database in the downloads manifest"));
        return kExitFailed;
    }
    if (!ensureDatabasePackageOnDisk(invocation.sources, *latest, path, &error))
        return packageFailure(error);
    return kExitSuccess;
}

int writeFirmware(CommsManager* comms, const QString& path)
{
    const StopOnInterrupt stop;
    bool written = false;
    {
        ProgressLine progress(QStringLiteral("Firmware"));
        written = send_fw(comms, QFile::encodeName(path).constData(), firmware_packet_len(fw), ProgressLine::report,
                          &progress, stop.flag());
    }
    if (stop.interrupted()) {
        printError(QStringLiteral("interrupted: the firmware upload stopped between two packets; the unit was not "
                                  "rebooted"));
        return kExitFailed;
    }
    if (!written) {
        printError(QStringLiteral("firmware update failed; the unit was not rebooted (--verbose shows the send_fw "
                                  "lines)"));
        return kExitFailed;
    }
    if (!settings_request_reboot(comms)) {
        printError(QStringLiteral("firmware written, but the reboot request could not be sent; run the reboot "
                                  "command"));
        return kExitFailed;
    }
    printResult(QStringLiteral("Firmware update completed: %1; the unit is rebooting").arg(QFileInfo(path).fileName()));
    return kExitSuccess;
}

int writeAirportDb(CommsManager* comms, const QString& path)
{
    const StopOnInterrupt stop;
    bool written = false;
    {
        ProgressLine progress(QStringLiteral("Airport database"));
        written = send_airport_db(comms, QFile::encodeName(path).constData(), ProgressLine::report, &progress,
                                  stop.flag());
    }
    if (stop.interrupted()) {
        printError(QStringLiteral("interrupted: the airport database upload stopped between two packets; the "
                                  "unit keeps its database closed until a complete transfer"));
        return kExitFailed;
    }
    if (!written) {
        printError(QStringLiteral("airport database transfer failed (--verbose shows the send_airport_db lines)"));
        return kExitFailed;
    }
    printResult(QStringLiteral("Airport database transfer finished: %1 (%2 bytes)")
                    .arg(QFileInfo(path).fileName())
                    .arg(QFileInfo(path).size()));
    return kExitSuccess;
}

} // namespace

int updateFirmware(const Invocation& invocation)
{
    QString path;
    if (!invocation.latest) {
        path = invocation.arguments.first();
        const int checked = checkFirmwareFile(invocation, path);
        if (checked != kExitSuccess)
            return checked;
    }
    std::unique_ptr<CommsManager> comms;
    const int found = connectToUnit(invocation, &comms);
    if (found != kExitSuccess)
        return found;
    if (invocation.latest) {
        const int fetched = fetchLatestFirmware(invocation, &path);
        if (fetched != kExitSuccess)
            return fetched;
    }
    return writeFirmware(comms.get(), path);
}

int updateAirportDb(const Invocation& invocation)
{
    QString path = invocation.latest ? QString() : invocation.arguments.first();
    if (invocation.latest) {
        const int fetched = fetchLatestAirportDb(invocation, &path);
        if (fetched != kExitSuccess)
            return fetched;
    } else if (!QFileInfo(path).isFile()) {
        printError(QStringLiteral("airport database file not found: %1").arg(path));
        return kExitFailed;
    }
    std::unique_ptr<CommsManager> comms;
    const int found = connectToUnit(invocation, &comms);
    if (found != kExitSuccess)
        return found;
    return writeAirportDb(comms.get(), path);
}

int checkUpdates(const Invocation& invocation)
{
    std::unique_ptr<CommsManager> comms;
    const int found = connectToUnit(invocation, &comms);
    if (found != kExitSuccess)
        return found;
    QVector<FirmwareManifestEntry> entries;
    if (!loadFirmwareEntries(invocation, &entries))
        return kExitFailed;
    const FirmwareManifestEntry* entry = findFirmwareManifestEntry(entries, device_serial);
    const QString running = firmwareVersionToString(fw);
    if (entry == nullptr) {
        printResult(QStringLiteral("No firmware in the manifest for this unit (device type %1, hardware revision %2); "
                                   "it runs %3")
                        .arg(deviceTypeKeyFromSerial(device_serial), hardwareRevisionFromSerial(device_serial),
                             running));
        return kExitSuccess;
    }
    const QString offered
        = QStringLiteral("%1.%2.%3").arg(entry->firmware_major).arg(entry->firmware_minor).arg(entry->firmware_patch);
    if (!deviceFirmwareOlderThanManifest(fw, *entry)) {
        printResult(
            QStringLiteral("Up to date: the unit runs firmware %1; the manifest offers %2").arg(running, offered));
        return kExitSuccess;
    }
    printResult(QStringLiteral("Update available: firmware %1 (%2); the unit runs %3")
                    .arg(offered, QFileInfo(entry->firmware_file).fileName(), running));
    return kExitUpdateAvailable;
}

int reboot(const Invocation& invocation)
{
    std::unique_ptr<CommsManager> comms;
    const int found = connectToUnit(invocation, &comms);
    if (found != kExitSuccess)
        return found;
    if (!settings_request_reboot(comms.get())) {
        printError(QStringLiteral("failed to send the reboot command"));
        return kExitFailed;
    }
    printResult(QStringLiteral("Reboot command sent to device"));
    return kExitSuccess;
}

} // namespace cli
