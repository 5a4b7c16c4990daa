// MainWindow: the two files the Device Updates tab uploads. Every firmware
// file passes one gate, the manifest's SHA-256 digest, before it becomes the
// selection; a file that fails leaves no selection at all. The two name
// fields show the name as plain text and cannot be edited, so the name shown
// is always that of the file that will be uploaded.

#include "mainwindow.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>

#include "ui_mainwindow.h"

void MainWindow::onBrowseClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Firmware File"), QString(),
                                                      tr("Firmware Files (*.bin);;All Files (*)"));
    if (!path.isEmpty())
        acceptFirmwareFileSelection(path, QString());
}

void MainWindow::onBrowseAirportsClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Airport Database"), QString(),
                                                      tr("Database Files (*.db);;All Files (*)"));
    if (!path.isEmpty())
        selectAirportDbFile(path);
}

// The database file is taken as it is: a downloaded one was checked on its
// way in, and the transfer reports a file it cannot use.
void MainWindow::selectAirportDbFile(const QString& path)
{
    airportDbFilePath = path;
    ui->text_firmware_file_2->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file_2->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->progressBar_airports->setEnabled(true);
}

// A file picked by hand carries no digest of its own: the manifest entry of
// the same file name supplies it, and a name the manifest does not list is
// taken unchecked.
QString MainWindow::manifestDigestFor(const QString& path) const
{
    if (firmwareManifestEntries.isEmpty())
        return QString();
    const FirmwareManifestEntry* entry = findManifestEntryByFirmwareFileName(firmwareManifestEntries,
                                                                             QFileInfo(path).fileName());
    return entry != nullptr ? entry->sha256 : QString();
}

bool MainWindow::acceptFirmwareFileSelection(const QString& path, const QString& expected_sha256)
{
    if (!QFileInfo::exists(path)) {
        QMessageBox::warning(this, tr("Firmware File Missing"), tr("Firmware file was not found:\n%1").arg(path));
        clearFirmwareFileSelection();
        return false;
    }
    const QString digest = expected_sha256.isEmpty() ? manifestDigestFor(path) : expected_sha256;
    QString error;
    if (!firmwareFileSha256Matches(path, digest, &error)) {
        rejectFirmwareFile(error);
        return false;
    }
    firmwareFilePath = path;
    ui->text_firmware_file->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->progressBar_firmware->setEnabled(true);
    return true;
}

// A file that fails its digest (or cannot be read for it) is no selection.
void MainWindow::rejectFirmwareFile(const QString& reason)
{
    QMessageBox::critical(this, tr("Firmware Verification Failed"), reason);
    qDebug().noquote() << reason;
    clearFirmwareFileSelection();
    statusBar()->showMessage(tr("Firmware file rejected (SHA-256 mismatch)"));
}

void MainWindow::clearFirmwareFileSelection()
{
    firmwareFilePath.clear();
    ui->text_firmware_file->clear();
    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);
}
