// The uploads through the real window against the simulated unit: a file
// chosen in the dialog, the worker writing it into the unit's flash, the
// progress the window shows, the end of the transfer, the refused starts,
// a failed transfer, the link kept for the worker, and closing the window
// while a transfer runs.

#include <QtTest>

#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>

#include <chrono>
#include <memory>

#include "EFIS_shared/can_export.h"
#include "comms/comms.h"
#include "hidapi_standin.h"
#include "manifest_scratch.h"
#include "output_capture.h"
#include "update_tab.h"
#include "window_harness.h"

using harness::child;
using harness::hasDebugLine;
using harness::statusText;

namespace {

const char* const kRebootingStatus = "Firmware update completed — device rebooting";
const char* const kFirmwareFailedStatus =
    "Firmware update failed — the device was not rebooted; see the send_fw lines on standard output and try again";
// The finish says how long the whole transfer took.
const QRegularExpression kAirportFinishedStatus(QStringLiteral("^Airport database transfer finished in \\d+ s$"));
const char* const kBusyStatus = "Busy: wait until the upload to the device has finished";
const char* const kNoUnitStatus = "Device not connected. Please connect to device first.";

// A modelled link slow enough that a transfer is still running while the
// test acts on the window, fast enough that it ends soon after.
const std::chrono::microseconds kSlowLink(1500);
const uint32_t kLongPayload = 32 * 1024;

sim::FaultRule nackAfter(uint32_t request_id, int after)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.after = after;
    rule.kind = sim::FAULT_NACK;
    return rule;
}

bool uploading(const MainWindow& window)
{
    return statusText(window).startsWith(QStringLiteral("Uploading"));
}

bool waitForAirportFinished(const MainWindow& window)
{
    return QTest::qWaitFor([&] { return kAirportFinishedStatus.match(statusText(window)).hasMatch(); },
                           harness::kStatusWaitMs);
}

} // namespace

class TestUploadWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firmwareUpdateFromDialogToReboot_data();
    void firmwareUpdateFromDialogToReboot();
    void barTellsRateAndTimeLeft();
    void airportTransferFromDialogToFinish();
    void refusedStarts_data();
    void refusedStarts();
    void failedTransferKeepsProgramAndRetryWorks();
    void failedAirportTransferIsReported();
    void settingsExchangesWaitForTheUpload_data();
    void settingsExchangesWaitForTheUpload();
    void closingWaitsForTheUpload();
    void closingAfterTheWaitLeavesTheWorkerItsLink();

private:
    std::unique_ptr<MainWindow> loadedWindow();
    QString writeImage(const QString& name, const QByteArray& bytes);
    void browse(MainWindow& window, const char* button, const QString& path);
    void startFirmwareUpload(MainWindow& window, const QByteArray& image);
    void startAirportUpload(MainWindow& window, const QByteArray& database);

    ManifestScratch scratch;
};

void TestUploadWindow::initTestCase()
{
    QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls")));
}

// No manifest anywhere: the window offers nothing and loads the settings.
void TestUploadWindow::init()
{
    sim::unit().reset();
    QVERIFY(scratch.reset());
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestUploadWindow::cleanup()
{
    scratch.leave();
}

std::unique_ptr<MainWindow> TestUploadWindow::loadedWindow()
{
    auto window = std::make_unique<MainWindow>(scratch.sources());
    window->show();
    if (!harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)))
        qWarning("the window never loaded the settings: %s", qPrintable(statusText(*window)));
    return window;
}

QString TestUploadWindow::writeImage(const QString& name, const QByteArray& bytes)
{
    const QString path = scratch.scratchPath(QStringLiteral("images/") + name);
    if (!writeWholeFile(path, bytes))
        qWarning("could not write %s", qPrintable(path));
    return path;
}

void TestUploadWindow::browse(MainWindow& window, const char* button, const QString& path)
{
    harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, path); });
    child<QPushButton>(window, button)->click();
    QVERIFY(!dialog.titles.isEmpty());
}

void TestUploadWindow::startFirmwareUpload(MainWindow& window, const QByteArray& image)
{
    browse(window, "pushButton_browse", writeImage(QStringLiteral("update.bin"), image));
    child<QPushButton>(window, "pushButton_start_update")->click();
}

void TestUploadWindow::startAirportUpload(MainWindow& window, const QByteArray& database)
{
    browse(window, "pushButton_browse_airports", writeImage(QStringLiteral("airports.db"), database));
    child<QPushButton>(window, "pushButton_start_airport")->click();
}

// ---- Firmware -------------------------------------------------------------------

void TestUploadWindow::firmwareUpdateFromDialogToReboot_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<uint32_t>("partition");
    QTest::addColumn<uint32_t>("bank");
    QTest::addColumn<int>("packet");
    QTest::newRow("1.3.0 into bank 1") << 1 << 3 << 0 << uint32_t(partition_1) << updates::kBank1Address << 64;
    QTest::newRow("0.3.2 into bank 2") << 0 << 3 << 2 << uint32_t(partition_2) << updates::kBank2Address << 64;
    QTest::newRow("0.3.1, 8-byte packets") << 0 << 3 << 1 << uint32_t(partition_1) << updates::kBank1Address << 8;
}

void TestUploadWindow::firmwareUpdateFromDialogToReboot()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(uint32_t, partition);
    QFETCH(uint32_t, bank);
    QFETCH(int, packet);
    sim::unit().setFirmware(uint8_t(major), uint8_t(minor), uint8_t(patch));
    sim::unit().flash().setPartitionAnswer(partition);
    auto window = loadedWindow();
    const uint32_t payload = 3000;
    const QByteArray image = updates::firmwareImage(payload, 1);
    const QString path = writeImage(QStringLiteral("halcyra-update.bin"), image);

    browse(*window, "pushButton_browse", path);
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), QStringLiteral("halcyra-update.bin"));
    QVERIFY(child<QPushButton>(*window, "pushButton_start_update")->isEnabled());

    sim::unit().clearRecords();
    updates::ShownProgress shown(*window, "progressBar_firmware");
    QString notice;
    harness::ModalAnswers rebootNotice([&](QWidget* modal) {
        notice = qobject_cast<QMessageBox*>(modal)->text();
        updates::clickBoxButton(modal, QMessageBox::Ok);
    });
    OutputCapture err(stderr);
    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);

    const QStringList log = err.lines();
    QCOMPARE(flashBytes(bank, image.size()), image);
    QCOMPARE(rebootNotice.titles.value(0), QStringLiteral("Reconnect After Reboot"));
    QVERIFY2(QRegularExpression(QStringLiteral("^The firmware was transferred in \\d+ s\\.\n\nThe device will reboot\\."))
                 .match(notice).hasMatch(), qPrintable(notice));
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    QVERIFY(harness::sameFrame(frames.back(), sim::make_frame(CANMSG_ENTER_BL, CAN_1_BYTES, {0x48})));

    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(CANMSG_WRITE_MX25);
    const int packets = 64 / packet + int((payload + uint32_t(packet) - 1) / uint32_t(packet));
    QCOMPARE(int(writes.size()), packets);
    QCOMPARE(int(dlc_code_to_bytes(writes.front().msg_len)), packet);

    QVERIFY(shown.bars.contains(1200));
    QCOMPARE(shown.bars.last(), 10000);
    QVERIFY(std::is_sorted(shown.bars.begin(), shown.bars.end()));
    const QStringList expectedStart{"Starting firmware update...", "Erasing: 1 / 1 blocks",
                                    QStringLiteral("Uploading: %1 / 3000 bytes").arg(packet)};
    QCOMPARE(shown.statuses.mid(0, 3), expectedStart);
    const QStringList expectedEnd{"Uploading: 3000 / 3000 bytes", kRebootingStatus};
    QCOMPARE(shown.statuses.mid(shown.statuses.size() - 2), expectedEnd);
    for (const QString& status : shown.statuses.mid(3, shown.statuses.size() - 5))
        QVERIFY2(status.startsWith("Uploading: ") && status.endsWith(" / 3000 bytes"), qPrintable(status));
    QVERIFY(hasDebugLine(log, QStringLiteral("Starting firmware update with file: ") + path));
    QVERIFY(hasDebugLine(log, QStringLiteral("Firmware update finished; reboot command sent")));
}

// Over a modelled link the write phase runs long enough for the bar to add
// the rate and the time left to its percentage.
void TestUploadWindow::barTellsRateAndTimeLeft()
{
    auto window = loadedWindow();
    auto* bar = child<QProgressBar>(*window, "progressBar_firmware");
    QStringList texts;
    connect(bar, &QProgressBar::valueChanged, bar, [&] { texts.append(bar->text()); });
    browse(*window, "pushButton_browse", writeImage(QStringLiteral("update.bin"), updates::firmwareImage(160 * 1024, 8)));
    harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    sim::unit().setReportDelay(std::chrono::microseconds(1000));
    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);

    const QRegularExpression plain(QStringLiteral("^\\d+ ?%$"));
    const QRegularExpression estimate(QStringLiteral("^\\d+ % · \\d+\\.\\d KiB/s · (\\d+ min )?\\d+ s left$"));
    QVERIFY(!texts.isEmpty());
    const qsizetype first = texts.indexOf(QRegularExpression(estimate));
    QVERIFY2(first > 0, qPrintable(texts.join(QLatin1Char('|'))));
    for (qsizetype i = 0; i < texts.size(); ++i)
        QVERIFY2((i < first ? plain : estimate).match(texts.at(i)).hasMatch(), qPrintable(texts.at(i)));
}

// ---- Airport database -------------------------------------------------------------

void TestUploadWindow::airportTransferFromDialogToFinish()
{
    auto window = loadedWindow();
    const QByteArray database = patternBytes(70000, 5);
    updates::ShownProgress shown(*window, "progressBar_airports");
    OutputCapture err(stderr);
    startAirportUpload(*window, database);
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file_2")->toPlainText(), QStringLiteral("airports.db"));
    QVERIFY(!child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());

    QVERIFY(waitForAirportFinished(*window));
    QCOMPARE(flashBytes(0, database.size()), database);
    QVERIFY(sim::unit().flash().airportDbOpen());
    QCOMPARE(shown.bars.last(), 10000);
    const QStringList expectedStart{"Starting airport database transfer...", "Erasing airport region: 1 / 2 blocks"};
    QCOMPARE(shown.statuses.mid(0, 2), expectedStart);
    QCOMPARE(shown.statuses.at(shown.statuses.size() - 2), QStringLiteral("Uploading airport database: 70000 / 70000 bytes"));
    for (const char* name : {"pushButton_browse_airports", "pushButton_fetch_apt_db", "pushButton_start_airport"})
        QVERIFY2(child<QPushButton>(*window, name)->isEnabled(), name);
    QVERIFY(hasDebugLine(err.lines(), QStringLiteral("Airport database upload: ")
                                          + scratch.scratchPath(QStringLiteral("images/airports.db"))));
}

// ---- Refusals -----------------------------------------------------------------------

enum Situation {
    IDLE,
    NO_UNIT,
    FIRMWARE_RUNNING,
    AIRPORT_RUNNING,
};

void TestUploadWindow::refusedStarts_data()
{
    QTest::addColumn<int>("situation");
    QTest::addColumn<bool>("firmware");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("debugLine");
    QTest::newRow("no firmware file") << int(IDLE) << true << "No firmware file selected" << "";
    QTest::newRow("no airport file") << int(IDLE) << false << "No airport database file selected" << "";
    QTest::newRow("firmware without a unit")
        << int(NO_UNIT) << true << kNoUnitStatus << "Firmware update failed: CommsManager not connected";
    QTest::newRow("airport without a unit")
        << int(NO_UNIT) << false << kNoUnitStatus << "Airport upload failed: CommsManager not connected";
    QTest::newRow("firmware twice") << int(FIRMWARE_RUNNING) << true << "Firmware update already in progress" << "";
    QTest::newRow("firmware during airport")
        << int(AIRPORT_RUNNING) << true << "Finish airport transfer before firmware update" << "";
    QTest::newRow("airport twice") << int(AIRPORT_RUNNING) << false << "Airport transfer already in progress" << "";
    QTest::newRow("airport during firmware")
        << int(FIRMWARE_RUNNING) << false << "Finish firmware update before airport transfer" << "";
}

// A refused start shows its status and leaves the tab as it was; the
// transfer that runs goes on untouched.
void TestUploadWindow::refusedStarts()
{
    QFETCH(int, situation);
    QFETCH(bool, firmware);
    QFETCH(QString, status);
    QFETCH(QString, debugLine);
    sim::unit().setPresent(situation != NO_UNIT);
    std::unique_ptr<MainWindow> window;
    if (situation == NO_UNIT) {
        window = std::make_unique<MainWindow>(scratch.sources());
        window->show();
        QVERIFY(harness::waitForStatus(*window, "Failed to connect to EFIS via USB or CAN FD - please check connections"));
        browse(*window, "pushButton_browse", writeImage(QStringLiteral("update.bin"), updates::firmwareImage(64, 2)));
        browse(*window, "pushButton_browse_airports", writeImage(QStringLiteral("airports.db"), patternBytes(64, 2)));
    } else {
        window = loadedWindow();
    }
    if (situation == FIRMWARE_RUNNING)
        browse(*window, "pushButton_browse_airports", writeImage(QStringLiteral("airports.db"), patternBytes(64, 2)));
    if (situation == AIRPORT_RUNNING)
        browse(*window, "pushButton_browse", writeImage(QStringLiteral("update.bin"), updates::firmwareImage(64, 2)));
    sim::unit().setReportDelay(kSlowLink);
    if (situation == FIRMWARE_RUNNING)
        startFirmwareUpload(*window, updates::firmwareImage(kLongPayload, 3));
    if (situation == AIRPORT_RUNNING)
        startAirportUpload(*window, patternBytes(int(kLongPayload), 3));
    if (situation == FIRMWARE_RUNNING || situation == AIRPORT_RUNNING)
        QTRY_VERIFY_WITH_TIMEOUT(uploading(*window), harness::kStatusWaitMs);

    const char* const controls[] = {"pushButton_browse", "pushButton_fetch_fw", "pushButton_start_update",
                                    "pushButton_browse_airports", "pushButton_fetch_apt_db",
                                    "pushButton_start_airport"};
    QList<bool> enabledBefore;
    for (const char* name : controls)
        enabledBefore.append(child<QPushButton>(*window, name)->isEnabled());
    const int firmwareBar = child<QProgressBar>(*window, "progressBar_firmware")->value();
    OutputCapture err(stderr);
    QMetaObject::invokeMethod(window.get(), firmware ? "onStartUpdateClicked" : "onStartAirportClicked");
    const QStringList log = err.lines();
    const QString shown = statusText(*window);
    sim::unit().setReportDelay(std::chrono::microseconds(0));

    QCOMPARE(shown, status);
    if (!debugLine.isEmpty())
        QVERIFY(hasDebugLine(log, debugLine));
    QList<bool> enabledAfter;
    for (const char* name : controls)
        enabledAfter.append(child<QPushButton>(*window, name)->isEnabled());
    QCOMPARE(enabledAfter, enabledBefore);
    if (situation != FIRMWARE_RUNNING)
        QCOMPARE(child<QProgressBar>(*window, "progressBar_firmware")->value(), firmwareBar);
}

// ---- A transfer that fails ---------------------------------------------------------

// The unit refuses a packet in the middle: no reboot, the program stays,
// and the same file goes through at the second attempt.
void TestUploadWindow::failedTransferKeepsProgramAndRetryWorks()
{
    auto window = loadedWindow();
    const QByteArray image = updates::firmwareImage(3000, 4);
    sim::unit().clearRecords();
    sim::unit().addFault(nackAfter(CANMSG_WRITE_MX25, 20));
    OutputCapture err(stderr);
    QTimer::singleShot(0, [&] { startFirmwareUpload(*window, image); });
    const updates::LoopEnd end =
        updates::runApplicationUntil([&] { return statusText(*window) == QString::fromUtf8(kFirmwareFailedStatus); });
    const QStringList log = err.lines();

    QCOMPARE(end, updates::LOOP_CONDITION);
    QVERIFY(harness::framesWithId(CANMSG_ENTER_BL).empty());
    QVERIFY(!sim::unit().rebootRequested());
    QVERIFY(child<QProgressBar>(*window, "progressBar_firmware")->value() < 10000);
    QVERIFY(hasDebugLine(log, QStringLiteral("Firmware update failed; no reboot command sent")));
    for (const char* name : {"pushButton_browse", "pushButton_fetch_fw", "pushButton_start_update"})
        QVERIFY2(child<QPushButton>(*window, name)->isEnabled(), name);
    QVERIFY(child<QTextEdit>(*window, "text_firmware_file")->isEnabled());

    harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);
    QCOMPARE(flashBytes(updates::kBank1Address, image.size()), image);
    QCOMPARE(statusText(*window), QString::fromUtf8(kRebootingStatus));
    QVERIFY(sim::unit().rebootRequested());
}

void TestUploadWindow::failedAirportTransferIsReported()
{
    auto window = loadedWindow();
    sim::unit().addFault(nackAfter(CANMSG_WRITE_MX25, 20));
    OutputCapture err(stderr);
    startAirportUpload(*window, patternBytes(5000, 6));
    QVERIFY(harness::waitForStatus(*window, "Airport database transfer failed — see the send_airport_db lines on "
                                            "standard output and try again"));
    QVERIFY(child<QProgressBar>(*window, "progressBar_airports")->value() < 10000);
    QVERIFY(child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());
    QVERIFY(hasDebugLine(err.lines(), QStringLiteral("Airport database transfer failed")));
}

// ---- The link belongs to the worker while it runs -----------------------------------

void TestUploadWindow::settingsExchangesWaitForTheUpload_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<uint32_t>("request");
    QTest::newRow("load") << "pushButton_load" << uint32_t(CANMSG_REQUEST_SETTINGS_VALUE);
    QTest::newRow("update") << "pushButton_update" << uint32_t(CANMSG_GLOBAL_SET_SETTING);
    QTest::newRow("save") << "pushButton_save" << uint32_t(CANMSG_SAVE_USER_SETTINGS);
    QTest::newRow("reboot") << "pushButton_reboot" << uint32_t(CANMSG_ENTER_BL);
}

void TestUploadWindow::settingsExchangesWaitForTheUpload()
{
    QFETCH(QString, button);
    QFETCH(uint32_t, request);
    auto window = loadedWindow();
    child<QSpinBox>(*window, "spinBox_vne")->setValue(180); // something for the update to send
    sim::unit().setReportDelay(kSlowLink);
    sim::unit().clearRecords();
    startAirportUpload(*window, patternBytes(int(kLongPayload), 7));
    QTRY_VERIFY_WITH_TIMEOUT(uploading(*window), harness::kStatusWaitMs);

    child<QPushButton>(*window, qPrintable(button))->click();
    const QString shown = statusText(*window);
    sim::unit().setReportDelay(std::chrono::microseconds(0));
    QCOMPARE(shown, QString::fromUtf8(kBusyStatus));
    QVERIFY(waitForAirportFinished(*window));
    QVERIFY(harness::framesWithId(request).empty());
}

// ---- Closing during a transfer ---------------------------------------------------------

// The window waits for the worker before it lets go of the link.
void TestUploadWindow::closingWaitsForTheUpload()
{
    auto window = loadedWindow();
    const QByteArray image = updates::firmwareImage(kLongPayload, 8);
    sim::unit().setReportDelay(kSlowLink);
    startFirmwareUpload(*window, image);
    QTRY_VERIFY_WITH_TIMEOUT(uploading(*window), harness::kStatusWaitMs);
    QVERIFY(flashBytes(updates::kBank1Address, image.size()) != image);

    window.reset();
    QCOMPARE(flashBytes(updates::kBank1Address, image.size()), image);
    QVERIFY(!sim::unit().rebootRequested());
    QTRY_COMPARE_WITH_TIMEOUT(sim::open_hid_devices(), 0, harness::kStatusWaitMs);
}

// Past the wait the window goes, and the worker finishes with the link it
// holds; the link is closed once the worker has ended.
void TestUploadWindow::closingAfterTheWaitLeavesTheWorkerItsLink()
{
    auto window = loadedWindow();
    window->setUploadCloseWait(std::chrono::milliseconds(0));
    const QByteArray image = updates::firmwareImage(kLongPayload, 9);
    sim::unit().setReportDelay(kSlowLink);
    startFirmwareUpload(*window, image);
    QTRY_VERIFY_WITH_TIMEOUT(uploading(*window), harness::kStatusWaitMs);

    window.reset();
    QCOMPARE(sim::open_hid_devices(), 1);
    QVERIFY(flashBytes(updates::kBank1Address, image.size()) != image);
    QTRY_COMPARE_WITH_TIMEOUT(flashBytes(updates::kBank1Address, image.size()), image, harness::kStatusWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(sim::open_hid_devices(), 0, harness::kStatusWaitMs);
    QVERIFY(!sim::unit().rebootRequested());
}

QTEST_MAIN(TestUploadWindow)
#include "tst_upload_window.moc"
