// MainWindow: finding update packages through the downloads manifest. At
// connection the window offers a newer firmware; the offer is fulfilled when
// the Device Updates tab opens; the fetch buttons download the unit's
// firmware package or the latest airport database. Every firmware file ends
// in the digest gate of the file selection.

#include "mainwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>

#include "comms/comms.h"
#include "ui_mainwindow.h"

namespace {

// device_serial while no unit is identified.
const uint32_t kNoUnitSerial = 0xFFFFFFFF;

QString product_name(const FirmwareManifestEntry& entry)
{
    return entry.display_name.isEmpty() ? entry.device_type : entry.display_name;
}

QString offered_version(const FirmwareManifestEntry& entry)
{
    return QStringLiteral("%1.%2.%3").arg(entry.firmware_major).arg(entry.firmware_minor).arg(entry.firmware_patch);
}

} // namespace

// ---- The offer at connection ----------------------------------------------------

// A list that failed to parse keeps the packages before the fault; none of
// them may feed the devices table, the digest gate or a pending update.
bool MainWindow::loadFirmwareManifestEntries(QString* error)
{
    if (loadFirmwareManifestForDevice(manifestSources, error, &firmwareManifestEntries))
        return true;
    firmwareManifestEntries.clear();
    return false;
}

bool MainWindow::loadManifestEntriesForDevice()
{
    QString error;
    if (loadFirmwareManifestEntries(&error))
        return true;
    qDebug().noquote() << "Firmware manifest load failed:" << error;
    statusBar()->showMessage(tr("Could not load firmware manifest"));
    return false;
}

bool MainWindow::askToUpdateFirmware(const FirmwareManifestEntry& entry)
{
    const QString text = tr("Connected %1 is running firmware %2.\n\nVersion %3 is available (%4).\n\n"
                            "Perform firmware update now?")
                             .arg(product_name(entry), firmwareVersionToString(fw), offered_version(entry),
                                  entry.firmware_file);
    return QMessageBox::question(this, tr("Firmware Update Available"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes)
           == QMessageBox::Yes;
}

// True only when the user accepted the update: the Device Updates tab has
// then taken over, and the unit's settings are not read now.
bool MainWindow::promptFirmwareUpdateIfNeeded()
{
    if (device_serial == kNoUnitSerial)
        return false;
    statusBar()->showMessage(tr("Checking for firmware updates..."));
    QCoreApplication::processEvents();
    pendingFirmwareUpdate = false;
    firmwareManifestEntries.clear();
    if (!loadManifestEntriesForDevice())
        return false;
    const FirmwareManifestEntry* found = findFirmwareManifestEntry(firmwareManifestEntries, device_serial);
    if (found == nullptr) {
        qDebug().noquote() << "No firmware manifest entry for device serial"
                           << QStringLiteral("0x%1").arg(device_serial, 8, 16, QLatin1Char('0'));
        return false;
    }
    if (!deviceFirmwareOlderThanManifest(fw, *found))
        return false;
    pendingFirmwareUpdate = true;
    if (!askToUpdateFirmware(*found)) {
        statusBar()->showMessage(tr("Firmware update available — open the Update tab to download the package."));
        return false;
    }
    // Opening the tab may already put the package in place.
    ui->tabWidget->setCurrentWidget(ui->tab_update);
    tryPopulatePendingFirmwareUpdate();
    if (firmwareFilePath.isEmpty())
        statusBar()->showMessage(tr("Firmware update recommended — download failed; choose a file manually or retry."));
    else
        onStartUpdateClicked();
    return true;
}

// A file already selected, by hand or otherwise, is never replaced; a failed
// download leaves the offer pending, so the next visit of the tab retries.
void MainWindow::tryPopulatePendingFirmwareUpdate()
{
    if (!pendingFirmwareUpdate || device_serial == kNoUnitSerial || !firmwareFilePath.isEmpty()
        || manifestLookupRunning)
        return;
    const QScopedValueRollback<bool> lookup(manifestLookupRunning, true);
    if (firmwareManifestEntries.isEmpty() && !loadManifestEntriesForDevice())
        return;
    const FirmwareManifestEntry* found = findFirmwareManifestEntry(firmwareManifestEntries, device_serial);
    if (found == nullptr || !deviceFirmwareOlderThanManifest(fw, *found)) {
        pendingFirmwareUpdate = false;
        return;
    }
    const FirmwareManifestEntry entry = *found;
    statusBar()->showMessage(tr("Downloading firmware package..."));
    QCoreApplication::processEvents();
    selectManifestFirmwareFile(entry);
    if (!firmwareFilePath.isEmpty())
        statusBar()->showMessage(tr("Firmware update available — file ready. Use \"Start Update\" when ready."));
    else
        statusBar()->showMessage(tr("Firmware update available — download failed; choose a file manually or retry."));
}

// The digest is checked again on the file in place. A package whose digest
// differs is rejected as a hand-picked one would be. A package that arrives
// while a firmware upload runs leaves that upload's file and controls alone.
void MainWindow::selectManifestFirmwareFile(const FirmwareManifestEntry& entry)
{
    QString local_path;
    QString error;
    bool digest_mismatch = false;
    const bool in_place = ensureFirmwarePackageOnDisk(manifestSources, entry, &local_path, &error, &digest_mismatch);
    if (firmwareUploadThread) {
        qDebug() << "Firmware package lookup ended during an upload; the upload's file stays selected";
        return;
    }
    if (in_place) {
        acceptFirmwareFileSelection(local_path, entry.sha256);
    } else if (digest_mismatch) {
        rejectFirmwareFile(error);
    } else {
        QMessageBox::warning(this, tr("Firmware Download Failed"), error);
        qDebug().noquote() << error;
        clearFirmwareFileSelection();
    }
}

// ---- The fetch buttons ---------------------------------------------------------------

// A start button stays off while its fetch runs, so no upload begins under a
// selection that is about to change; afterwards it follows the selection.
void MainWindow::onFetchFwClicked()
{
    if (firmwareUploadThread) {
        statusBar()->showMessage(tr("Finish firmware update before fetching a new package"));
        return;
    }
    if (manifestLookupRunning)
        return;
    const QScopedValueRollback<bool> lookup(manifestLookupRunning, true);
    ui->pushButton_fetch_fw->setEnabled(false);
    ui->pushButton_browse->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    statusBar()->showMessage(tr("Fetching firmware manifest..."));
    QCoreApplication::processEvents();
    fetchFirmwareForDevice();
    ui->pushButton_fetch_fw->setEnabled(true);
    ui->pushButton_browse->setEnabled(true);
    ui->pushButton_start_update->setEnabled(!firmwareFilePath.isEmpty());
}

// No version comparison here: the unit's package is fetched whether or not
// it is newer than what the unit runs.
void MainWindow::fetchFirmwareForDevice()
{
    if (!fetchFirmwareManifest())
        return;
    if (!linkConnected() || device_serial == kNoUnitSerial) {
        QMessageBox::warning(this, tr("Device Not Connected"),
                             tr("Connect to a device first so the correct firmware package can be selected from the "
                                "manifest."));
        statusBar()->showMessage(tr("Connect a device to fetch firmware"));
        return;
    }
    const FirmwareManifestEntry* found = findFirmwareManifestEntry(firmwareManifestEntries, device_serial);
    if (found == nullptr) {
        QMessageBox::warning(this, tr("Firmware Not Found"), tr("No firmware package in the manifest matches this device."));
        statusBar()->showMessage(tr("No matching firmware in manifest"));
        return;
    }
    const FirmwareManifestEntry entry = *found;
    statusBar()->showMessage(tr("Downloading firmware: %1").arg(entry.firmware_file));
    QCoreApplication::processEvents();
    selectManifestFirmwareFile(entry);
    if (firmwareFilePath.isEmpty())
        statusBar()->showMessage(tr("Firmware download failed"));
    else
        statusBar()->showMessage(tr("Firmware ready: %1").arg(QFileInfo(firmwareFilePath).fileName()));
}

// The firmware fetch wants the server's current manifest, never a stored copy.
bool MainWindow::fetchFirmwareManifest()
{
    QByteArray bytes;
    if (!refreshDownloadsManifestFromNetwork(manifestSources, &bytes, nullptr)) {
        if (askToSelectFirmwareManually())
            onBrowseClicked();
        statusBar()->showMessage(tr("Could not download firmware manifest"));
        return false;
    }
    QString error;
    if (!parseFirmwareManifestJson(bytes, &firmwareManifestEntries, &error)) {
        firmwareManifestEntries.clear();
        QMessageBox::warning(this, tr("Manifest Parse Failed"), error);
        statusBar()->showMessage(tr("Could not parse firmware manifest"));
        return false;
    }
    return true;
}

// True when the user chose to pick a file by hand instead.
bool MainWindow::askToSelectFirmwareManually()
{
    QMessageBox box(QMessageBox::Warning, tr("Manifest Unavailable"),
                    tr("Could not download the firmware manifest from the server."), QMessageBox::NoButton, this);
    box.setInformativeText(tr("Connect to the internet and try again, or select a firmware file manually using "
                              "\"Select Firmware File\"."));
    QPushButton* select = box.addButton(tr("Select Firmware File"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == select;
}

void MainWindow::onFetchAptDbClicked()
{
    if (airportUploadThread) {
        statusBar()->showMessage(tr("Finish airport transfer before fetching a new database"));
        return;
    }
    if (manifestLookupRunning)
        return;
    const QScopedValueRollback<bool> lookup(manifestLookupRunning, true);
    ui->pushButton_fetch_apt_db->setEnabled(false);
    ui->pushButton_browse_airports->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    statusBar()->showMessage(tr("Fetching airport database manifest..."));
    QCoreApplication::processEvents();
    fetchAirportDatabase();
    ui->pushButton_fetch_apt_db->setEnabled(true);
    ui->pushButton_browse_airports->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(!airportDbFilePath.isEmpty());
}

// No unit is needed to fetch a database; a failure keeps the earlier selection.
void MainWindow::fetchAirportDatabase()
{
    DatabaseManifestEntry entry;
    if (!fetchDatabaseEntry(&entry))
        return;
    const QString name = entry.display_name.isEmpty() ? entry.database_file : entry.display_name;
    statusBar()->showMessage(tr("Downloading airport database: %1").arg(name));
    QCoreApplication::processEvents();
    QString local_path;
    QString error;
    const bool in_place = ensureDatabasePackageOnDisk(manifestSources, entry, &local_path, &error);
    if (airportUploadThread) {
        qDebug() << "Airport database lookup ended during an upload; the upload's file stays selected";
        return;
    }
    if (!in_place) {
        QMessageBox::warning(this, tr("Airport Database Download Failed"), error);
        statusBar()->showMessage(tr("Airport database download failed"));
        return;
    }
    selectAirportDbFile(local_path);
    statusBar()->showMessage(tr("Airport database ready: %1").arg(QFileInfo(local_path).fileName()));
}

// The latest airport database of the manifest from the best source: the
// server, asked again since the user asked for the newest, or a stored copy
// when it cannot be reached.
bool MainWindow::fetchDatabaseEntry(DatabaseManifestEntry* entry_out)
{
    QByteArray bytes;
    QString error;
    if (!loadNewestDownloadsManifestBytes(manifestSources, &bytes, &error)) {
        QMessageBox::warning(this, tr("Manifest Unavailable"), error);
        statusBar()->showMessage(tr("Could not load downloads manifest"));
        return false;
    }
    QVector<DatabaseManifestEntry> entries;
    if (!parseDatabaseManifestJson(bytes, &entries, &error)) {
        QMessageBox::warning(this, tr("Manifest Parse Failed"), error);
        statusBar()->showMessage(tr("Could not parse database manifest"));
        return false;
    }
    const DatabaseManifestEntry* latest = findLatestDatabaseEntryByType(entries, QStringLiteral("airport"));
    if (latest == nullptr) {
        QMessageBox::warning(this, tr("Airport Database Not Found"),
                             tr("No airport database entry found in downloads_manifest.json."));
        statusBar()->showMessage(tr("No airport database in manifest"));
        return false;
    }
    *entry_out = *latest;
    return true;
}
