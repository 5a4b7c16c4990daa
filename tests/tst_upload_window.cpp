// The main window against the simulated unit: the devices table and the link
// found at start-up, the About box, and the Device Updates tab (the files chosen and the
// digest gate, the worker writing them into the unit's flash, the progress
// shown, the end of a transfer, refused commands, failed transfers, and
// closing the window while a transfer runs).

#include <QtTest>

#include <hidapi.h>

#include <QAction>
#include <QDesktopServices>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextEdit>

#include "can_standin.h"
#include "efis_version.h"
#include "hidapi_standin.h"
#include "manifest_scratch.h"
#include "output_capture.h"
#include "update_tab.h"

using harness::child;
using harness::statusText;

namespace {

// A modelled link slow enough that a transfer is still running while the
// test acts on the window, fast enough that it ends soon after.
const std::chrono::microseconds kSlowLink(1500);
const uint32_t kLongPayload = 32 * 1024;
const QRegularExpression kAirportFinished("^Airport database transfer finished in \\d+ s$");

enum Situation { IDLE, NO_UNIT, FIRMWARE_RUNNING, AIRPORT_RUNNING };

// The listed firmware package is firmwareImage(2000, 11).
QByteArray manifest()
{
    return QStringLiteral(R"json({"firmware_packages": [
        {"device_type": "AE", "display_name": "Halcyra EFIS (demonstration)", "firmware_version": "1.4.0",
         "firmware_file": "firmware/halcyra-1.4.0.bin", "sha256": "%1"},
        {"device_type": "ED", "display_name": "", "firmware_version": "2.0.0", "firmware_file": "m.bin"}]})json")
        .arg(updates::sha256Hex(updates::firmwareImage(2000, 11)).toUpper()).toUtf8();
}

} // namespace

class TestUploadWindow : public QObject
{
    Q_OBJECT

    ManifestScratch scratch;
    QList<QUrl> openedUrls;

    // A shown window once it has loaded the settings or found no unit.
    std::unique_ptr<MainWindow> startedWindow()
    {
        auto window = std::make_unique<MainWindow>(scratch.sources());
        window->show();
        if (!QTest::qWaitFor(
                [&] {
                    return statusText(*window).startsWith(harness::kLoadedStatus)
                        || statusText(*window)
                        == "Failed to connect to EFIS via USB or CAN FD - please check connections";
                },
                harness::kStatusWaitMs))
            qWarning("the window never settled: %s", qPrintable(statusText(*window)));
        return window;
    }

    // Writes the file and chooses it in the button's file dialog.
    QString pick(MainWindow& window, const char* button, const QString& name, const QByteArray& bytes)
    {
        const QString path = scratch.scratchPath(QStringLiteral("picked/") + name);
        if (!writeWholeFile(path, bytes))
            qWarning("could not write %s", qPrintable(path));
        harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, path); });
        child<QPushButton>(window, button)->click();
        return path;
    }

    // Chooses the file and starts its upload over the slow link.
    void startSlowUpload(MainWindow& window, bool firmware, const QByteArray& bytes)
    {
        pick(window, firmware ? "pushButton_browse" : "pushButton_browse_airports", "upload.bin", bytes);
        sim::unit().setReportDelay(kSlowLink);
        child<QPushButton>(window, firmware ? "pushButton_start_update" : "pushButton_start_airport")->click();
        QTRY_VERIFY_WITH_TIMEOUT(statusText(window).startsWith("Uploading"), harness::kStatusWaitMs);
    }

public slots:
    void recordOpenedUrl(const QUrl& url) { openedUrls.append(url); }

private slots:
    void initTestCase() { QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }

    // No manifest anywhere unless a test serves one: nothing is offered.
    void init()
    {
        sim::unit().reset();
        QVERIFY(scratch.reset());
    }

    void cleanup()
    {
        qunsetenv("EFIS_SIM_LINK");
        sim::can_node().reset();
        scratch.leave();
    }

    // ---- Start-up ----------------------------------------------------------------

    void listsTheUnit_data()
    {
        QTest::addColumn<bool>("manifest");
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("update"); // the unit runs 1.3.0, or 1.4.0 where it is "No"
        QTest::newRow("listed, newer") << true << 0xAE020457u << "Halcyra EFIS (demonstration)" << "Yes";
        QTest::newRow("listed without a name") << true << 0xED000001u << "ED" << "Yes";
        QTest::newRow("not listed") << true << 0x0C00ABCDu << "Unknown (0x0c)" << "Unknown";
        QTest::newRow("no manifest, Halcyra") << false << 0xAE020457u << "Halcyra" << "Unknown";
        QTest::newRow("no manifest, Mirrow") << false << 0xED00BEEFu << "Mirrow" << "Unknown";
        QTest::newRow("no manifest, Sondrel") << false << 0xFF000001u << "Sondrel" << "Unknown";
        QTest::newRow("same as listed") << true << 0xAE020457u << "Halcyra EFIS (demonstration)" << "No";
    }

    // The unit's row is read-only, its name never cut; an offered update is
    // declined, and the load follows.
    void listsTheUnit()
    {
        QFETCH(bool, manifest);
        QFETCH(uint32_t, serial);
        QFETCH(QString, name);
        QFETCH(QString, update);
        if (manifest)
            scratch.server().serve(QLatin1String(kTestManifestPath), ::manifest());
        sim::unit().setSerial(serial);
        sim::unit().setFirmware(1, update == "No" ? 4 : 3, 0);
        harness::ModalAnswers decline([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::No); });
        auto window = startedWindow();
        QCOMPARE(decline.titles.size(), int(update == "Yes"));
        auto* table = child<QTableWidget>(*window, "table_devices");
        QCOMPARE(table->rowCount(), 1);
        const QStringList cells{name, "0x" + QString::number(serial, 16).toUpper().rightJustified(8, '0'),
                                update == "No" ? "1.4.0" : "1.3.0", update};
        for (int column = 0; column < 4; column++) {
            QCOMPARE(table->item(0, column)->text(), cells[column]);
            QVERIFY(!(table->item(0, column)->flags() & Qt::ItemIsEditable));
        }
        QVERIFY(table->columnWidth(0) > table->fontMetrics().horizontalAdvance(name));
    }

    // With the unit only on CAN FD the window connects there, says so, and
    // its settings go over that link.
    void configuresTheUnitOverCanFd()
    {
        sim::unit().setPresent(false);
        qputenv("EFIS_SIM_LINK", "canfd");
        QStringList statuses;
        auto window = std::make_unique<MainWindow>(scratch.sources());
        connect(window->statusBar(), &QStatusBar::messageChanged, [&](const QString& text) { statuses.append(text); });
        QVERIFY(harness::waitForLoaded(*window));
        QVERIFY(statuses.contains("Connected via CAN FD"));
        QCOMPARE(child<QTableWidget>(*window, "table_devices")->item(0, 1)->text(), QString("0xAE020457"));
        child<QSpinBox>(*window, "spinBox_vne")->setValue(201);
        child<QPushButton>(*window, "pushButton_update")->click();
        QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 201u);
        QCOMPARE(int(sim::unit().receivedFrames().back().iface), int(CAN_FD));
    }

    // What support asks first: the version, the manifest address, the libraries.
    void aboutNamesVersionManifestAndLibraries()
    {
        auto window = startedWindow();
        harness::ModalAnswers about([](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });
        child<QAction>(*window, "actionAbout")->trigger();
        QCOMPARE(about.titles, QStringList{"About Corvane EFIS Config"});
        QCOMPARE(about.texts.value(0),
                 QString("Corvane EFIS Config " EFIS_VERSION "\nDownloads manifest: %1\nQt %2\nhidapi %3")
                     .arg(firmwareManifestUrl(), qVersion(), HID_API_VERSION_STR " (simulated)"));
    }

    // Open Log Folder hands the support log's folder, made first, to the desktop.
    void openLogFolderOpensTheLogsFolder()
    {
        auto window = startedWindow();
        QDesktopServices::setUrlHandler("file", this, "recordOpenedUrl");
        child<QAction>(*window, "actionOpenLogFolder")->trigger();
        QDesktopServices::unsetUrlHandler("file");
        const QString folder = QDir::homePath() + "/.local/state/" + QCoreApplication::applicationName();
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(folder)});
        QVERIFY(QFileInfo(folder).isDir());
    }

    // ---- Transfers -----------------------------------------------------------------

    void firmwareUpdateFromDialogToReboot()
    {
        auto window = startedWindow();
        const QByteArray image = updates::firmwareImage(160 * 1024, 1);
        const QString path = pick(*window, "pushButton_browse", "update.bin", image);
        sim::unit().clearRecords();
        QStringList statuses;
        QList<int> bars;
        QObject recorder; // ends the connections with the test
        connect(window->statusBar(), &QStatusBar::messageChanged, &recorder,
                [&](const QString& text) { statuses.append(text); });
        connect(child<QProgressBar>(*window, "progressBar_firmware"), &QProgressBar::valueChanged, &recorder,
                [&](int value) { bars.append(value); });
        harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
        OutputCapture err(stderr);
        QTimer::singleShot(0, child<QPushButton>(*window, "pushButton_start_update"), &QPushButton::click);
        QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);

        QCOMPARE(flashBytes(updates::kBank1Address, image.size()), image);
        QCOMPARE(int(dlc_code_to_bytes(harness::framesWithId(CANMSG_WRITE_MX25).front().msg_len)), 64);
        QVERIFY(harness::sameFrame(sim::unit().receivedFrames().back(),
                                   sim::make_frame(CANMSG_ENTER_BL, CAN_1_BYTES, {0x48})));
        QCOMPARE(rebootNotice.titles, QStringList{"Reconnect After Reboot"});
        QVERIFY2(QRegularExpression("^The firmware was transferred in \\d+ s\\.\n\nThe device will reboot\\.\n\n"
                                    "Please relaunch this application once the device has rebooted\\. $")
                     .match(rebootNotice.texts.value(0)).hasMatch(), qPrintable(rebootNotice.texts.value(0)));
        QVERIFY(harness::hasDebugLine(err.lines(), "Starting firmware update with file: " + path));
        // The erase fills the bar's first share, writing goes on from there.
        QVERIFY(bars.contains(1200));
        QCOMPARE(bars.last(), 10000);
        QVERIFY(std::is_sorted(bars.begin(), bars.end()));
        QCOMPARE(statuses.mid(0, 2), (QStringList{"Starting firmware update...", "Erasing: 1 / 3 blocks"}));
        QCOMPARE(statuses.mid(statuses.size() - 2),
                 (QStringList{"Uploading: 163840 / 163840 bytes", "Firmware update completed — device rebooting"}));
    }

    void failedTransfer_data()
    {
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("firmware") << true
                                  << "Firmware update failed — the device was not rebooted; see the send_fw lines on "
                                     "standard output and try again"
                                  << "Firmware update failed; no reboot command sent";
        QTest::newRow("airport database") << false
                                          << "Airport database transfer failed — see the send_airport_db lines on "
                                             "standard output and try again" << "Airport database transfer failed";
    }

    // The unit refuses a packet in the middle: no reboot, the program stays,
    // and the same file goes through at the second attempt (the firmware in
    // the short packets an older unit takes). Any file is taken for the
    // airport database; both names are shown as plain text.
    void failedTransfer()
    {
        QFETCH(bool, firmware);
        QFETCH(QString, failed);
        QFETCH(QString, logLine);
        sim::unit().setFirmware(0, 3, 1);
        auto window = startedWindow();
        const QByteArray bytes = updates::firmwareImage(3000, 4);
        pick(*window, firmware ? "pushButton_browse" : "pushButton_browse_airports", "<i>any&amp;thing.txt", bytes);
        QCOMPARE(child<QTextEdit>(*window, firmware ? "text_firmware_file" : "text_firmware_file_2")->toPlainText(),
                 QStringLiteral("<i>any&amp;thing.txt"));
        auto* startButton
            = child<QPushButton>(*window, firmware ? "pushButton_start_update" : "pushButton_start_airport");
        sim::unit().clearRecords();
        sim::FaultRule nack;
        nack.request_id = CANMSG_WRITE_MX25;
        nack.after = 20;
        nack.kind = sim::FAULT_NACK;
        sim::unit().addFault(nack);
        harness::ModalAnswers rebootNotice([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
        OutputCapture err(stderr);
        QTimer::singleShot(0, startButton, &QPushButton::click);
        QCOMPARE(updates::runApplicationUntil([&] { return statusText(*window) == failed; }), updates::LOOP_CONDITION);
        QVERIFY(harness::framesWithId(CANMSG_ENTER_BL).empty());
        QVERIFY(child<QProgressBar>(*window, firmware ? "progressBar_firmware" : "progressBar_airports")->value()
                < 10000);
        QVERIFY(harness::hasDebugLine(err.lines(), logLine));
        QVERIFY(startButton->isEnabled());

        QTimer::singleShot(0, startButton, &QPushButton::click);
        QCOMPARE(updates::runApplicationUntil([&] { return statusText(*window).contains(kAirportFinished); }),
                 firmware ? updates::LOOP_QUIT : updates::LOOP_CONDITION);
        QCOMPARE(flashBytes(firmware ? updates::kBank1Address : 0, bytes.size()), bytes);
        QCOMPARE(sim::unit().rebootRequested(), firmware);
        if (firmware)
            QCOMPARE(int(dlc_code_to_bytes(harness::framesWithId(CANMSG_WRITE_MX25).back().msg_len)), 8);
    }

    void refusedCommands_data()
    {
        QTest::addColumn<int>("situation");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("status");
        const QString noUnit = "Device not connected. Please connect to device first.";
        const QString busy = "Busy: wait until the upload to the device has finished";
        QTest::newRow("no firmware file") << int(IDLE) << "onStartUpdateClicked" << "No firmware file selected";
        QTest::newRow("no airport file") << int(IDLE) << "onStartAirportClicked" << "No airport database file selected";
        QTest::newRow("firmware without a unit") << int(NO_UNIT) << "onStartUpdateClicked" << noUnit;
        QTest::newRow("airport without a unit") << int(NO_UNIT) << "onStartAirportClicked" << noUnit;
        QTest::newRow("firmware twice") << int(FIRMWARE_RUNNING) << "onStartUpdateClicked"
                                        << "Firmware update already in progress";
        QTest::newRow("firmware during airport")
            << int(AIRPORT_RUNNING) << "onStartUpdateClicked" << "Finish airport transfer before firmware update";
        QTest::newRow("airport twice") << int(AIRPORT_RUNNING) << "onStartAirportClicked"
                                       << "Airport transfer already in progress";
        QTest::newRow("airport during firmware")
            << int(FIRMWARE_RUNNING) << "onStartAirportClicked" << "Finish firmware update before airport transfer";
        // The worker waits for the unit's replies on the link: the window's
        // own exchanges wait for it.
        QTest::newRow("load during an upload") << int(AIRPORT_RUNNING) << "onLoadClicked" << busy;
        QTest::newRow("update during an upload") << int(FIRMWARE_RUNNING) << "onUpdateClicked" << busy;
        QTest::newRow("save during an upload") << int(AIRPORT_RUNNING) << "onSaveClicked" << busy;
        QTest::newRow("reboot during an upload") << int(FIRMWARE_RUNNING) << "onRebootClicked" << busy;
    }

    void refusedCommands()
    {
        QFETCH(int, situation);
        QFETCH(QString, slot);
        QFETCH(QString, status);
        sim::unit().setPresent(situation != NO_UNIT);
        auto window = startedWindow();
        if (situation != IDLE) {
            pick(*window, "pushButton_browse", "small.bin", updates::firmwareImage(64, 2));
            pick(*window, "pushButton_browse_airports", "small.db", patternBytes(64, 2));
        }
        if (situation >= FIRMWARE_RUNNING)
            startSlowUpload(*window, situation == FIRMWARE_RUNNING, updates::firmwareImage(kLongPayload, 3));
        harness::ModalAnswers noBox([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        QMetaObject::invokeMethod(window.get(), qPrintable(slot));
        const QString shown = statusText(*window);
        sim::unit().setReportDelay(std::chrono::microseconds(0));
        QCOMPARE(shown, status);
        QVERIFY(noBox.titles.isEmpty());
    }

    void closingDuringAnUpload_data()
    {
        QTest::addColumn<bool>("waits");
        QTest::newRow("the window waits for the worker") << true;
        QTest::newRow("past the wait the worker keeps its link") << false;
    }

    // The link is closed once the worker has ended, never under it, and a
    // transfer cut short by the window's end reboots nothing.
    void closingDuringAnUpload()
    {
        QFETCH(bool, waits);
        auto window = startedWindow();
        if (!waits)
            window->setUploadCloseWait(std::chrono::milliseconds(0));
        const QByteArray image = updates::firmwareImage(kLongPayload, 8);
        startSlowUpload(*window, true, image);
        QVERIFY(flashBytes(updates::kBank1Address, image.size()) != image);

        window.reset();
        QCOMPARE(flashBytes(updates::kBank1Address, image.size()) == image, waits);
        QVERIFY(waits || sim::open_hid_devices() == 1);
        QTRY_COMPARE_WITH_TIMEOUT(flashBytes(updates::kBank1Address, image.size()), image, harness::kStatusWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(sim::open_hid_devices(), 0, harness::kStatusWaitMs);
        QVERIFY(!sim::unit().rebootRequested());
    }

    // ---- The firmware file's digest gate ----------------------------------------------

    void handPickedFirmware_data()
    {
        QTest::addColumn<bool>("manifestServed");
        QTest::addColumn<QString>("fileName"); // empty: the dialog is cancelled
        QTest::addColumn<int>("seed");         // 11: the listed package
        QTest::addColumn<QString>("selection"); // empty: rejected
        const QString listed = "halcyra-1.4.0.bin";
        QTest::newRow("listed, same content") << true << listed << 11 << listed;
        QTest::newRow("listed, other content") << true << listed << 12 << "";
        QTest::newRow("not listed") << true << "own-build.bin" << 12 << "own-build.bin";
        QTest::newRow("no manifest loaded") << false << listed << 12 << listed;
        QTest::newRow("dialog cancelled") << true << "" << 12 << "earlier.bin";
    }

    // The manifest entry of the same file name supplies the digest; a
    // rejected file also empties a selection made before it.
    void handPickedFirmware()
    {
        QFETCH(bool, manifestServed);
        QFETCH(QString, fileName);
        QFETCH(int, seed);
        QFETCH(QString, selection);
        if (manifestServed)
            scratch.server().serve(QLatin1String(kTestManifestPath), manifest());
        sim::unit().setFirmware(1, 4, 0); // nothing to offer
        auto window = startedWindow();
        pick(*window, "pushButton_browse", "earlier.bin", updates::firmwareImage(100, 1));
        const QString path = scratch.scratchPath("picked/other/" + fileName);
        QVERIFY(fileName.isEmpty() || writeWholeFile(path, updates::firmwareImage(2000, seed)));

        harness::ModalAnswers boxes([&](QWidget* modal) {
            if (qobject_cast<QMessageBox*>(modal) != nullptr)
                updates::clickBoxButton(modal, QMessageBox::Ok);
            else if (fileName.isEmpty())
                qobject_cast<QDialog*>(modal)->reject();
            else
                updates::chooseFile(modal, path);
        });
        child<QPushButton>(*window, "pushButton_browse")->click();
        QCOMPARE(boxes.titles.value(0), QStringLiteral("Select Firmware File"));
        QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), selection);
        QCOMPARE(child<QPushButton>(*window, "pushButton_start_update")->isEnabled(), !selection.isEmpty());
        if (selection.isEmpty()) {
            QCOMPARE(boxes.titles.value(1), QStringLiteral("Firmware Verification Failed"));
            QCOMPARE(statusText(*window), QStringLiteral("Firmware file rejected (SHA-256 mismatch)"));
        }
    }

    // The file is looked at again when the update starts.
    void fileGoneBeforeStartIsMissing()
    {
        auto window = startedWindow();
        QVERIFY(QFile::remove(pick(*window, "pushButton_browse", "gone.bin", updates::firmwareImage(100, 2))));
        sim::unit().clearRecords();
        harness::ModalAnswers box([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
        child<QPushButton>(*window, "pushButton_start_update")->click();
        QCOMPARE(box.titles, QStringList{"Firmware File Missing"});
        QVERIFY(child<QTextEdit>(*window, "text_firmware_file")->toPlainText().isEmpty());
        QVERIFY(sim::unit().receivedFrames().empty());
    }
};

QTEST_MAIN(TestUploadWindow)
#include "tst_upload_window.moc"
