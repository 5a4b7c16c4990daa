// MainWindow: the firmware and airport database uploads. Each runs on a
// worker thread of its own, one at a time; the worker reports progress
// through queued calls, throttled so the window's thread stays free, and the
// window finishes the transfer when the worker has ended.

#include "mainwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QStatusBar>
#include <QThread>

#include "comms/comms.h"
#include "firmware_ops/firmware_ops.h"
#include "mainwindow_upload_progress.h"
#include "transfer_estimate.h"
#include "ui_mainwindow.h"

namespace {


// The status texts of one upload's progress reports: %1 done of %2.
struct ProgressTexts {
    const char* erasing;
    const char* uploading;
};

const ProgressTexts kFirmwareProgressTexts = {
    QT_TRANSLATE_NOOP("MainWindow", "Erasing: %1 / %2 blocks"),
    QT_TRANSLATE_NOOP("MainWindow", "Uploading: %1 / %2 bytes"),
};

const ProgressTexts kAirportProgressTexts = {
    QT_TRANSLATE_NOOP("MainWindow", "Erasing airport region: %1 / %2 blocks"),
    QT_TRANSLATE_NOOP("MainWindow", "Uploading airport database: %1 / %2 bytes"),
};

typedef void (MainWindow::*ApplyProgress)(int bar_0_10000, const QString& status);
typedef void (MainWindow::*ApplyBarText)(const QString& text);

// The bar's own text outside the write phase: its percentage.
const QString kPlainBarFormat = QStringLiteral("%p%");

// The bar's own text: its plain percentage while erasing; while writing,
// the estimate, which starts with the phase's first report.
QString bar_format(ThrottledUploadProgressCtx* ctx, uint32_t current, uint32_t total, int phase, bool new_phase,
                   ThrottledUploadProgressCtx::Clock::time_point now)
{
    if (phase == FW_PROGRESS_ERASE)
        return kPlainBarFormat;
    if (new_phase)
        ctx->estimate.start(now);
    ctx->estimate.update(current, total, now);
    return ctx->estimate.text();
}

// On the worker thread: only reports that pass the throttle are formatted
// and posted, and the worker never waits for the window.
void post_progress(uint32_t current, uint32_t total, int phase, void* user_data, const ProgressTexts& texts,
                   ApplyProgress apply, ApplyBarText apply_bar_text)
{
    auto* ctx = static_cast<ThrottledUploadProgressCtx*>(user_data);
    if (ctx->window == nullptr)
        return;
    const auto now = ThrottledUploadProgressCtx::Clock::now();
    const uint32_t bar = ThrottledUploadProgressCtx::compute_bar(current, total, phase);
    const bool new_phase = phase != ctx->last_phase;
    if (!ctx->should_emit(bar, phase, current, total, now))
        return;
    const QString format = bar_format(ctx, current, total, phase, new_phase, now);
    const char* text = phase == FW_PROGRESS_ERASE ? texts.erasing : texts.uploading;
    const QString status = QCoreApplication::translate("MainWindow", text).arg(current).arg(total);
    const int bar_value = static_cast<int>(bar);
    ctx->window->post([apply, apply_bar_text, bar_value, status, format](MainWindow* window) {
        (window->*apply_bar_text)(format);
        (window->*apply)(bar_value, status);
    });
}

void fw_progress_callback(uint32_t current, uint32_t total, int phase, void* user_data)
{
    post_progress(current, total, phase, user_data, kFirmwareProgressTexts, &MainWindow::applyFirmwareUploadProgress,
                  &MainWindow::applyFirmwareUploadBarText);
}

void airport_progress_callback(uint32_t current, uint32_t total, int phase, void* user_data)
{
    post_progress(current, total, phase, user_data, kAirportProgressTexts, &MainWindow::applyAirportUploadProgress,
                  &MainWindow::applyAirportUploadBarText);
}

// A new transfer's bar starts from its plain percentage.
void reset_upload_bar(QProgressBar* bar, QStatusBar* status_bar, const QString& status)
{
    bar->setEnabled(true);
    bar->setFormat(kPlainBarFormat);
    bar->setRange(0, static_cast<int>(kUploadBarMax));
    bar->setValue(0);
    status_bar->showMessage(status);
}

void show_upload_progress(QProgressBar* bar, QStatusBar* status_bar, int value, const QString& status)
{
    bar->setRange(0, static_cast<int>(kUploadBarMax));
    bar->setValue(value);
    status_bar->showMessage(status);
}

} // namespace

bool MainWindow::uploadRunning() const
{
    return !firmwareUploadThread.isNull() || !airportUploadThread.isNull();
}

// ---- Starting ------------------------------------------------------------------

// Shows why a firmware update cannot start now; false when it may.
bool MainWindow::refuseFirmwareUpload()
{
    if (firmwareFilePath.isEmpty()) {
        statusBar()->showMessage(tr("No firmware file selected"));
        return true;
    }
    // Asked before the file is checked again: a file that passes the check
    // is selected anew, which would wake the controls of the running update.
    if (firmwareUploadThread) {
        statusBar()->showMessage(tr("Firmware update already in progress"));
        return true;
    }
    // The file may have changed or gone since it was chosen.
    if (!acceptFirmwareFileSelection(firmwareFilePath, QString()))
        return true;
    if (!linkConnected()) {
        statusBar()->showMessage(tr("Device not connected. Please connect to device first."));
        qDebug() << "Firmware update failed: CommsManager not connected";
        return true;
    }
    if (airportUploadThread) {
        statusBar()->showMessage(tr("Finish airport transfer before firmware update"));
        return true;
    }
    return false;
}

bool MainWindow::refuseAirportUpload()
{
    if (airportDbFilePath.isEmpty()) {
        statusBar()->showMessage(tr("No airport database file selected"));
        return true;
    }
    if (!linkConnected()) {
        statusBar()->showMessage(tr("Device not connected. Please connect to device first."));
        qDebug() << "Airport upload failed: CommsManager not connected";
        return true;
    }
    if (airportUploadThread) {
        statusBar()->showMessage(tr("Airport transfer already in progress"));
        return true;
    }
    if (firmwareUploadThread) {
        statusBar()->showMessage(tr("Finish firmware update before airport transfer"));
        return true;
    }
    return false;
}

void MainWindow::setFirmwareControlsEnabled(bool enabled)
{
    ui->pushButton_browse->setEnabled(enabled);
    ui->pushButton_fetch_fw->setEnabled(enabled);
    ui->pushButton_start_update->setEnabled(enabled);
    ui->text_firmware_file->setEnabled(enabled);
}

void MainWindow::setAirportControlsEnabled(bool enabled)
{
    ui->pushButton_browse_airports->setEnabled(enabled);
    ui->pushButton_fetch_apt_db->setEnabled(enabled);
    ui->pushButton_start_airport->setEnabled(enabled);
    ui->text_firmware_file_2->setEnabled(enabled);
}

// The worker holds its own share of the link and of the window's reporting
// address, and nothing of the window by reference. The finish handler runs
// on the window's thread; the thread object then deletes itself.
QThread* MainWindow::startUploadWorker(std::shared_ptr<UploadShare>* share_out, UploadTransfer transfer,
                                       UploadFinished finished)
{
    *share_out = std::make_shared<UploadShare>(this, commsOwner);
    const std::shared_ptr<UploadShare> share = *share_out;
    QThread* thread = QThread::create([share, transfer] {
        ThrottledUploadProgressCtx ctx;
        ctx.window = share.get();
        share->setCompleted(transfer(share->comms(), &ctx));
    });
    connect(thread, &QThread::finished, this, [this, share, finished] { (this->*finished)(share->completed()); });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
    return thread;
}

void MainWindow::onStartUpdateClicked()
{
    if (refuseFirmwareUpload())
        return;
    setFirmwareControlsEnabled(false);
    reset_upload_bar(ui->progressBar_firmware, statusBar(), tr("Starting firmware update..."));
    qDebug().noquote() << "Starting firmware update with file:" << firmwareFilePath;

    const QByteArray path = QFile::encodeName(firmwareFilePath);
    const uint8_t packet_len = firmware_packet_len(fw);
    firmwareUploadThread = startUploadWorker(
        &firmwareUploadShare,
        [path, packet_len](CommsManager* link, ThrottledUploadProgressCtx* ctx) {
            return send_fw(link, path.constData(), packet_len, fw_progress_callback, ctx);
        },
        &MainWindow::onFirmwareUploadFinished);
}

void MainWindow::onStartAirportClicked()
{
    if (refuseAirportUpload())
        return;
    setAirportControlsEnabled(false);
    reset_upload_bar(ui->progressBar_airports, statusBar(), tr("Starting airport database transfer..."));
    qDebug().noquote() << "Airport database upload:" << airportDbFilePath;

    const QByteArray path = QFile::encodeName(airportDbFilePath);
    airportUploadThread = startUploadWorker(
        &airportUploadShare,
        [path](CommsManager* link, ThrottledUploadProgressCtx* ctx) {
            return send_airport_db(link, path.constData(), airport_progress_callback, ctx);
        },
        &MainWindow::onAirportUploadFinished);
}

// ---- Progress and the end of a transfer -------------------------------------------

void MainWindow::applyFirmwareUploadProgress(int bar_0_10000, const QString& status)
{
    show_upload_progress(ui->progressBar_firmware, statusBar(), bar_0_10000, status);
}

void MainWindow::applyAirportUploadProgress(int bar_0_10000, const QString& status)
{
    show_upload_progress(ui->progressBar_airports, statusBar(), bar_0_10000, status);
}

void MainWindow::applyFirmwareUploadBarText(const QString& text)
{
    ui->progressBar_firmware->setFormat(text);
}

void MainWindow::applyAirportUploadBarText(const QString& text)
{
    ui->progressBar_airports->setFormat(text);
}

// Only a completed image may be booted: after a failed transfer the unit is
// not rebooted and the program stays, so the user can try again. The bar
// stays where the transfer stopped.
void MainWindow::onFirmwareUploadFinished(bool completed)
{
    setFirmwareControlsEnabled(true);
    if (!completed) {
        statusBar()->showMessage(tr("Firmware update failed — the device was not rebooted; see the send_fw "
                                    "lines on standard output and try again"));
        qDebug() << "Firmware update failed; no reboot command sent";
    } else {
        ui->progressBar_firmware->setValue(static_cast<int>(kUploadBarMax));
        const QString took = tr("The firmware was transferred in %1.")
                                 .arg(formatTransferDuration(firmwareUploadShare->elapsed()));
        if (sendDeviceReboot(took)) {
            statusBar()->showMessage(tr("Firmware update completed — device rebooting"));
            qDebug() << "Firmware update finished; reboot command sent";
        } else {
            statusBar()->showMessage(tr("Firmware update completed — reboot failed; use Reboot button"));
            qDebug() << "Firmware update finished; reboot command failed";
        }
    }
    firmwareUploadThread = nullptr;
}

void MainWindow::onAirportUploadFinished(bool completed)
{
    setAirportControlsEnabled(true);
    if (!completed) {
        statusBar()->showMessage(tr("Airport database transfer failed — see the send_airport_db lines on "
                                    "standard output and try again"));
        qDebug() << "Airport database transfer failed";
    } else {
        ui->progressBar_airports->setValue(static_cast<int>(kUploadBarMax));
        statusBar()->showMessage(tr("Airport database transfer finished in %1")
                                     .arg(formatTransferDuration(airportUploadShare->elapsed())));
    }
    airportUploadThread = nullptr;
}
