// Responsiveness of the window's thread during a firmware upload: a whole
// 4 MiB image goes to the simulated unit over a modelled link (a fixed delay
// on every report in each direction) through the real window, from the
// Start Update button to the reboot request. Meanwhile a zero-interval timer
// measures each turn of the window's event loop.
//
// Prints the longest gap between two turns of the event loop (and how many
// gaps exceeded 5 and 20 ms), the number of progress updates the window showed per
// second, and the transfer time.
//
// Usage: bench_window_responsiveness [--link-delay-us N]   (default 250)

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "mainwindow.h"
#include "simulated_unit.h"

namespace {

const char kLoadedStatus[] = "Configuration successfully loaded from device";
const int kPollMs = 5;

QByteArray fullBankImage()
{
    const uint32_t payload = FW_BANK_SIZE - uint32_t(sizeof(firmware_header_t));
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.total_size = FW_BANK_SIZE;
    header.plaintext_size = payload;
    header.encrypted_size = payload;
    QByteArray image(reinterpret_cast<const char*>(&header), sizeof header);
    image.append(QByteArray(int(payload), char(0x5A)));
    return image;
}

// Answers every modal dialog: the file dialog with the image, boxes with OK.
void answerDialogs(const QString& image_path)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible())
        return;
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        dialog->selectFile(image_path);
        QMetaObject::invokeMethod(dialog, "accept");
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        box->button(QMessageBox::Ok)->click();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    long link_delay_us = 250;
    if (argc == 3 && strcmp(argv[1], "--link-delay-us") == 0)
        link_delay_us = strtol(argv[2], nullptr, 10);
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    // Nothing of the transfer's own lines: only the figures.
    fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);

    const QString image_path = home.filePath(QStringLiteral("image.bin"));
    QFile file(image_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(fullBankImage()) != FW_BANK_SIZE)
        return 1;
    file.close();

    MainWindow window;
    window.show();
    QTimer dialogs;
    QObject::connect(&dialogs, &QTimer::timeout, [&] { answerDialogs(image_path); });
    dialogs.start(kPollMs);

    QElapsedTimer clock;
    // Counted, not stored: a growing list of millions of gaps would itself
    // stall the loop it measures while it is copied.
    long turns_counted = 0;
    long gaps_over_5ms = 0;
    long gaps_over_20ms = 0;
    double longest_gap_ms = 0.0;
    double longest_gap_at_s = 0.0; // when it ended, from the start of the transfer
    qint64 last_turn_ns = 0;
    int progress_updates = 0;
    bool uploading = false;
    qint64 upload_start_ns = 0;
    qint64 upload_end_ns = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (uploading) {
            const double gap_ms = double(now - last_turn_ns) / 1e6;
            turns_counted++;
            gaps_over_5ms += gap_ms > 5.0 ? 1 : 0;
            gaps_over_20ms += gap_ms > 20.0 ? 1 : 0;
            if (gap_ms > longest_gap_ms) {
                longest_gap_ms = gap_ms;
                longest_gap_at_s = double(now - upload_start_ns) / 1e9;
            }
        }
        last_turn_ns = now;
    });
    QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
        if (text.startsWith(QStringLiteral("Erasing")) || text.startsWith(QStringLiteral("Uploading")))
            progress_updates++;
        if (text == QLatin1String(kLoadedStatus) && !uploading) {
            sim::unit().setReportDelay(std::chrono::microseconds(link_delay_us));
            QTimer::singleShot(0, [&] {
                window.findChild<QPushButton*>(QStringLiteral("pushButton_browse"))->click();
                uploading = true;
                upload_start_ns = clock.nsecsElapsed();
                last_turn_ns = upload_start_ns;
                window.findChild<QPushButton*>(QStringLiteral("pushButton_start_update"))->click();
            });
        }
        if (text.startsWith(QStringLiteral("Firmware update completed")) && uploading) {
            uploading = false;
            upload_end_ns = clock.nsecsElapsed();
        }
    });
    clock.start();
    turns.start(0);
    app.exec();
    fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);

    const double seconds = double(upload_end_ns - upload_start_ns) / 1e9;
    printf("link delay per report: %ld us, image: %u bytes in 64-byte packets\n", link_delay_us, FW_BANK_SIZE);
    printf("transfer (Start Update to the reboot notice): %.1f s\n", seconds);
    printf("event loop turns during the transfer: %ld\n", turns_counted);
    printf("longest gap between two turns: %.2f ms, %.2f s into the transfer; gaps over 5 ms: %ld, over 20 ms: %ld\n",
           longest_gap_ms, longest_gap_at_s, gaps_over_5ms, gaps_over_20ms);
    printf("progress updates shown: %d, %.1f per second\n", progress_updates, double(progress_updates) / seconds);
    return 0;
}
