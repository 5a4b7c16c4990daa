// The Device Updates tab through the real window against the simulated unit:
// the files chosen (and the digest gate a firmware file passes), the worker
// writing them into the unit's flash, the progress shown, the end of a
// transfer, the refused starts, a failed transfer, the link kept for the
// worker, and closing the window while a transfer runs.

#include <QtTest>

#include <QTextEdit>
#include <QSpinBox>

#include <chrono>
#include <memory>

#include "EFIS_shared/can_export.h"
#include "comms/comms.h"
#include "hidapi_standin.h"
#include "manifest_scratch.h"
#include "output_capture.h"
#include "update_tab.h"

using harness::child;
using harness::hasDebugLine;
using harness::statusText;

namespace {

const char* const kRebootingStatus = "Firmware update completed — device rebooting";
const char* const kFirmwareFailedStatus =
    "Firmware update failed — the device was not rebooted; see the send_fw lines on standard output and try again";
const QRegularExpression kAirportFinishedStatus("^Airport database transfer finished in \\d+ s$");
const char* const kNoUnitStatus = "Device not connected. Please connect to device first.";
const char* const kNoLinkStatus = "Failed to connect to EFIS via USB or CAN FD - please check connections";

// A modelled link slow enough that a transfer is still running while the
// test acts on the window, fast enough that it ends soon after.
const std::chrono::microseconds kSlowLink(1500);
const uint32_t kLongPayload = 32 * 1024;

void nackWriteAfter(int after)
{
    sim::FaultRule rule;
    rule.request_id = CANMSG_WRITE_MX25;
    rule.after = after;
    rule.kind = sim::FAULT_NACK;
    sim::unit().addFault(rule);
}

bool uploading(const MainWindow& window)
{
    return statusText(window).startsWith(QStringLiteral("Uploading"));
}

bool firmwareSelectionEmpty(const MainWindow& window)
{
    return child<QTextEdit>(window, "text_firmware_file")->toPlainText().isEmpty()
           && !child<QTextEdit>(window, "text_firmware_file")->isEnabled()
           && !child<QPushButton>(window, "pushButton_start_update")->isEnabled()
           && !child<QProgressBar>(window, "progressBar_firmware")->isEnabled();
}

QList<bool> buttonsEnabled(const MainWindow& window)
{
    QList<bool> enabled;
    for (const QPushButton* button : window.findChildren<QPushButton*>())
        enabled.append(button->isEnabled());
    return enabled;
}

} // namespace

class TestUploadWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init();
    void cleanup() { scratch.leave(); }

    void firmwareUpdateFromDialogToReboot();
    void failedUpdateNeitherRebootsNorQuits();
    void airportDatabaseTakenAsItIsAndTransferred();
    void failedAirportTransferIsReported();
    void refusedCommands_data();
    void refusedCommands();
    void closingDuringAnUpload_data();
    void closingDuringAnUpload();
    void handPickedFirmware_data();
    void handPickedFirmware();
    void fileGoneBeforeStartIsMissing();

private:
    std::unique_ptr<MainWindow> startedWindow();
    QString pick(MainWindow& window, const char* button, const QString& name, const QByteArray& bytes);
    void start(MainWindow& window, bool firmware, const QByteArray& bytes);

    ManifestScratch scratch;
};

// No manifest anywhere: the window offers nothing and loads the settings.
void TestUploadWindow::init()
{
    sim::unit().reset();
    QVERIFY(scratch.reset());
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

std::unique_ptr<MainWindow> TestUploadWindow::startedWindow()
{
    auto window = std::make_unique<MainWindow>(scratch.sources());
    window->show();
    if (!QTest::qWaitFor([&] { return statusText(*window).startsWith(harness::kLoadedStatus)
                                      || statusText(*window) == kNoLinkStatus; }, harness::kStatusWaitMs))
        qWarning("the window never settled: %s", qPrintable(statusText(*window)));
    return window;
}

// Writes the file and chooses it in the button's file dialog.
QString TestUploadWindow::pick(MainWindow& window, const char* button, const QString& name, const QByteArray& bytes)
{
    const QString path = scratch.scratchPath(QStringLiteral("picked/") + name);
    if (!writeWholeFile(path, bytes))
        qWarning("could not write %s", qPrintable(path));
    harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, path); });
    child<QPushButton>(window, button)->click();
    return path;
}

void TestUploadWindow::start(MainWindow& window, bool firmware, const QByteArray& bytes)
{
    if (firmware)
        pick(window, "pushButton_browse", "update.bin", bytes);
    else
        pick(window, "pushButton_browse_airports", "airports.db", bytes);
    child<QPushButton>(window, firmware ? "pushButton_start_update" : "pushButton_start_airport")->click();
}

// ---- Firmware -------------------------------------------------------------------

// Over a modelled link the write phase runs long enough for the bar to add
// the rate and the time left to its percentage.
void TestUploadWindow::firmwareUpdateFromDialogToReboot()
{
    auto window = startedWindow();
    const QByteArray image = updates::firmwareImage(160 * 1024, 1);
    const QString path = pick(*window, "pushButton_browse", "update.bin", image);
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), QStringLiteral("update.bin"));
    sim::unit().clearRecords();
    sim::unit().setReportDelay(std::chrono::microseconds(1000));
    updates::ShownProgress shown(*window, "progressBar_firmware");
    harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    OutputCapture err(stderr);
    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);

    QCOMPARE(flashBytes(updates::kBank1Address, image.size()), image);
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(CANMSG_WRITE_MX25);
    QCOMPARE(int(writes.size()), image.size() / 64);
    QCOMPARE(int(dlc_code_to_bytes(writes.front().msg_len)), 64);
    QVERIFY(harness::sameFrame(sim::unit().receivedFrames().back(), sim::make_frame(CANMSG_ENTER_BL, CAN_1_BYTES, {0x48})));
    QCOMPARE(rebootNotice.titles, QStringList{"Reconnect After Reboot"});
    QVERIFY2(QRegularExpression("^The firmware was transferred in \\d+ s\\.\n\nThe device will reboot\\.\n\n"
                                 "Please relaunch this application once the device has rebooted\\. $")
                 .match(rebootNotice.texts.value(0)).hasMatch(), qPrintable(rebootNotice.texts.value(0)));
    QVERIFY(hasDebugLine(err.lines(), "Starting firmware update with file: " + path));

    // The erase fills the bar's first share, writing goes on from there, and
    // the bar's text adds the rate and the time left once they are known.
    QVERIFY(shown.bars.contains(1200));
    QCOMPARE(shown.bars.last(), 10000);
    QVERIFY(std::is_sorted(shown.bars.begin(), shown.bars.end()));
    QCOMPARE(shown.statuses.mid(0, 2), (QStringList{"Starting firmware update...", "Erasing: 1 / 3 blocks"}));
    QCOMPARE(shown.statuses.mid(shown.statuses.size() - 2),
             (QStringList{"Uploading: 163840 / 163840 bytes", kRebootingStatus}));
    const QRegularExpression estimate("^\\d+ % · \\d+\\.\\d KiB/s · (\\d+ min )?\\d+ s left$");
    const qsizetype first = shown.barTexts.indexOf(estimate);
    QVERIFY2(first > 0, qPrintable(shown.barTexts.join('|')));
    for (qsizetype i = 0; i < shown.barTexts.size(); ++i)
        QVERIFY2(i < first ? shown.barTexts.at(i).contains(QRegularExpression("^\\d+ ?%$"))
                           : shown.barTexts.at(i).contains(estimate), qPrintable(shown.barTexts.at(i)));
}

// The unit refuses a packet in the middle: no reboot, the program stays,
// and the same file goes through at the second attempt, in the short
// packets an older unit takes.
void TestUploadWindow::failedUpdateNeitherRebootsNorQuits()
{
    sim::unit().setFirmware(0, 3, 1);
    auto window = startedWindow();
    const QByteArray image = updates::firmwareImage(3000, 4);
    pick(*window, "pushButton_browse", "update.bin", image);
    sim::unit().clearRecords();
    nackWriteAfter(20);
    harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    OutputCapture err(stderr);
    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([&] { return statusText(*window) == QString::fromUtf8(kFirmwareFailedStatus); }),
             updates::LOOP_CONDITION);
    QVERIFY(harness::framesWithId(CANMSG_ENTER_BL).empty());
    QVERIFY(child<QProgressBar>(*window, "progressBar_firmware")->value() < 10000);
    QVERIFY(hasDebugLine(err.lines(), "Firmware update failed; no reboot command sent"));
    for (const char* name : {"pushButton_browse", "pushButton_fetch_fw", "pushButton_start_update"})
        QVERIFY2(child<QPushButton>(*window, name)->isEnabled(), name);

    QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);
    QCOMPARE(flashBytes(updates::kBank1Address, image.size()), image);
    QCOMPARE(int(dlc_code_to_bytes(harness::framesWithId(CANMSG_WRITE_MX25).back().msg_len)), 8);
    QVERIFY(sim::unit().rebootRequested());
}

// ---- Airport database -------------------------------------------------------------

// Any file is taken, its name shown as plain text.
void TestUploadWindow::airportDatabaseTakenAsItIsAndTransferred()
{
    auto window = startedWindow();
    const QByteArray database = patternBytes(70000, 5);
    const QString name = QStringLiteral("<i>any&amp;thing.txt");
    const QString path = pick(*window, "pushButton_browse_airports", name, database);
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file_2")->toPlainText(), name);
    updates::ShownProgress shown(*window, "progressBar_airports");
    OutputCapture err(stderr);
    child<QPushButton>(*window, "pushButton_start_airport")->click();
    QVERIFY(!child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());

    QVERIFY(QTest::qWaitFor([&] { return kAirportFinishedStatus.match(statusText(*window)).hasMatch(); },
                            harness::kStatusWaitMs));
    QCOMPARE(flashBytes(0, database.size()), database);
    QVERIFY(sim::unit().flash().airportDbOpen());
    QCOMPARE(shown.bars.last(), 10000);
    QCOMPARE(shown.statuses.mid(0, 2),
             (QStringList{"Starting airport database transfer...", "Erasing airport region: 1 / 2 blocks"}));
    QCOMPARE(shown.statuses.at(shown.statuses.size() - 2), QStringLiteral("Uploading airport database: 70000 / 70000 bytes"));
    QVERIFY(child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());
    QVERIFY(hasDebugLine(err.lines(), "Airport database upload: " + path));
}

void TestUploadWindow::failedAirportTransferIsReported()
{
    auto window = startedWindow();
    nackWriteAfter(20);
    OutputCapture err(stderr);
    start(*window, false, patternBytes(5000, 6));
    QVERIFY(harness::waitForStatus(*window, "Airport database transfer failed — see the send_airport_db lines on "
                                            "standard output and try again"));
    QVERIFY(child<QProgressBar>(*window, "progressBar_airports")->value() < 10000);
    QVERIFY(child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());
    QVERIFY(hasDebugLine(err.lines(), "Airport database transfer failed"));
}

// ---- Refusals -----------------------------------------------------------------------

enum Situation { IDLE, NO_UNIT, FIRMWARE_RUNNING, AIRPORT_RUNNING };

void TestUploadWindow::refusedCommands_data()
{
    QTest::addColumn<int>("situation");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("status");
    const QString busy = "Busy: wait until the upload to the device has finished";
    QTest::newRow("no firmware file") << int(IDLE) << "onStartUpdateClicked" << "No firmware file selected";
    QTest::newRow("no airport file") << int(IDLE) << "onStartAirportClicked" << "No airport database file selected";
    QTest::newRow("firmware without a unit") << int(NO_UNIT) << "onStartUpdateClicked" << kNoUnitStatus;
    QTest::newRow("airport without a unit") << int(NO_UNIT) << "onStartAirportClicked" << kNoUnitStatus;
    QTest::newRow("firmware twice") << int(FIRMWARE_RUNNING) << "onStartUpdateClicked" << "Firmware update already in progress";
    QTest::newRow("firmware during airport")
        << int(AIRPORT_RUNNING) << "onStartUpdateClicked" << "Finish airport transfer before firmware update";
    QTest::newRow("airport twice") << int(AIRPORT_RUNNING) << "onStartAirportClicked" << "Airport transfer already in progress";
    QTest::newRow("airport during firmware")
        << int(FIRMWARE_RUNNING) << "onStartAirportClicked" << "Finish firmware update before airport transfer";
    // The worker waits for the unit's replies on the link: the window's own
    // exchanges wait for it.
    QTest::newRow("load during an upload") << int(AIRPORT_RUNNING) << "onLoadClicked" << busy;
    QTest::newRow("update during an upload") << int(FIRMWARE_RUNNING) << "onUpdateClicked" << busy;
    QTest::newRow("save during an upload") << int(AIRPORT_RUNNING) << "onSaveClicked" << busy;
    QTest::newRow("reboot during an upload") << int(FIRMWARE_RUNNING) << "onRebootClicked" << busy;
}

// A refused command shows its status and leaves every control as it was.
void TestUploadWindow::refusedCommands()
{
    QFETCH(int, situation);
    QFETCH(QString, slot);
    QFETCH(QString, status);
    sim::unit().setPresent(situation != NO_UNIT);
    auto window = startedWindow();
    child<QSpinBox>(*window, "spinBox_vne")->setValue(180); // something for an update to send
    if (situation != IDLE) {
        pick(*window, "pushButton_browse", "small.bin", updates::firmwareImage(64, 2));
        pick(*window, "pushButton_browse_airports", "small.db", patternBytes(64, 2));
    }
    sim::unit().setReportDelay(kSlowLink);
    if (situation == FIRMWARE_RUNNING)
        start(*window, true, updates::firmwareImage(kLongPayload, 3));
    if (situation == AIRPORT_RUNNING)
        start(*window, false, patternBytes(int(kLongPayload), 3));
    QTRY_VERIFY_WITH_TIMEOUT(situation < FIRMWARE_RUNNING || uploading(*window), harness::kStatusWaitMs);
    const QList<bool> enabledBefore = buttonsEnabled(*window);
    harness::ModalAnswers noBox([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QMetaObject::invokeMethod(window.get(), qPrintable(slot));
    const QString shown = statusText(*window);
    sim::unit().setReportDelay(std::chrono::microseconds(0));

    QCOMPARE(shown, status);
    QVERIFY(noBox.titles.isEmpty());
    QCOMPARE(buttonsEnabled(*window), enabledBefore);
}

// ---- Closing during a transfer ---------------------------------------------------------

void TestUploadWindow::closingDuringAnUpload_data()
{
    QTest::addColumn<bool>("waits");
    QTest::newRow("the window waits for the worker") << true;
    QTest::newRow("past the wait the worker keeps its link") << false;
}

// The link is closed once the worker has ended, never under it, and a
// transfer cut short by the window's end reboots nothing.
void TestUploadWindow::closingDuringAnUpload()
{
    QFETCH(bool, waits);
    auto window = startedWindow();
    if (!waits)
        window->setUploadCloseWait(std::chrono::milliseconds(0));
    const QByteArray image = updates::firmwareImage(kLongPayload, 8);
    sim::unit().setReportDelay(kSlowLink);
    start(*window, true, image);
    QTRY_VERIFY_WITH_TIMEOUT(uploading(*window), harness::kStatusWaitMs);
    QVERIFY(flashBytes(updates::kBank1Address, image.size()) != image);

    window.reset();
    QCOMPARE(flashBytes(updates::kBank1Address, image.size()) == image, waits);
    if (!waits)
        QCOMPARE(sim::open_hid_devices(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(flashBytes(updates::kBank1Address, image.size()), image, harness::kStatusWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(sim::open_hid_devices(), 0, harness::kStatusWaitMs);
    QVERIFY(!sim::unit().rebootRequested());
}

// ---- The firmware file's digest gate -----------------------------------------------------

void TestUploadWindow::handPickedFirmware_data()
{
    QTest::addColumn<bool>("manifestServed");
    QTest::addColumn<QString>("fileName"); // empty: the dialog is cancelled
    QTest::addColumn<bool>("samePackage");
    QTest::addColumn<QString>("selection"); // empty: rejected
    const QString listed = "halcyra-1.4.0.bin";
    QTest::newRow("listed, same content") << true << listed << true << listed;
    QTest::newRow("listed, other content") << true << listed << false << "";
    QTest::newRow("not listed") << true << "own-build.bin" << false << "own-build.bin";
    QTest::newRow("markup in the name") << true << "<b>own&lt;build.bin" << false << "<b>own&lt;build.bin";
    QTest::newRow("no manifest loaded") << false << listed << false << listed;
    QTest::newRow("dialog cancelled") << true << "" << false << "earlier.bin";
}

// A rejected file also empties a selection made before it.
void TestUploadWindow::handPickedFirmware()
{
    QFETCH(bool, manifestServed);
    QFETCH(QString, fileName);
    QFETCH(bool, samePackage);
    QFETCH(QString, selection);
    const QByteArray package = updates::firmwareImage(2000, 11);
    const QByteArray content = samePackage ? package : updates::firmwareImage(2000, 12);
    if (manifestServed)
        scratch.server().serve(QLatin1String(kTestManifestPath), QStringLiteral(R"({"firmware_packages": [
            {"device_type": "AE", "display_name": "Halcyra EFIS 10", "firmware_version": "1.4.0",
             "firmware_file": "firmware/halcyra-1.4.0.bin", "sha256": "%1"}]})").arg(updates::sha256Hex(package).toUpper()).toUtf8());
    sim::unit().setFirmware(1, 4, 0); // nothing to offer
    auto window = startedWindow();
    pick(*window, "pushButton_browse", "earlier.bin", updates::firmwareImage(100, 1));
    const QString path = scratch.scratchPath("picked/other/" + fileName);
    QVERIFY(fileName.isEmpty() || writeWholeFile(path, content));

    harness::ModalAnswers boxes([&](QWidget* modal) {
        if (fileName.isEmpty())
            qobject_cast<QDialog*>(modal)->reject();
        else
            updates::chooseFileOrConfirm(modal, path);
    });
    OutputCapture err(stderr);
    child<QPushButton>(*window, "pushButton_browse")->click();
    const QString log = err.text();

    QCOMPARE(boxes.titles.value(0), QStringLiteral("Select Firmware File"));
    if (!selection.isEmpty()) {
        QCOMPARE(boxes.titles.size(), 1);
        QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), selection);
        QVERIFY(child<QPushButton>(*window, "pushButton_start_update")->isEnabled());
        return;
    }
    const QString mismatch = QStringLiteral("Firmware file SHA-256 does not match the manifest.\nExpected: %1\nActual:   %2")
                                 .arg(updates::sha256Hex(package), updates::sha256Hex(content));
    QCOMPARE(boxes.titles.value(1), QStringLiteral("Firmware Verification Failed"));
    QCOMPARE(boxes.texts.value(1), mismatch);
    QVERIFY(firmwareSelectionEmpty(*window));
    QCOMPARE(statusText(*window), QStringLiteral("Firmware file rejected (SHA-256 mismatch)"));
    // The message spans three lines of the log.
    QVERIFY(log.contains("Debug: " + mismatch + " ("));
}

void TestUploadWindow::fileGoneBeforeStartIsMissing()
{
    auto window = startedWindow();
    QVERIFY(QFile::remove(pick(*window, "pushButton_browse", "gone.bin", updates::firmwareImage(100, 2))));
    sim::unit().clearRecords();

    harness::ModalAnswers box([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    child<QPushButton>(*window, "pushButton_start_update")->click();
    QCOMPARE(box.titles, QStringList{"Firmware File Missing"});
    QVERIFY(firmwareSelectionEmpty(*window));
    QVERIFY(sim::unit().receivedFrames().empty());
}

QTEST_MAIN(TestUploadWindow)
#include "tst_upload_window.moc"
