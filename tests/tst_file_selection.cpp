// The firmware and airport file selection of the Device Updates tab: the
// file dialogs, the SHA-256 gate against the downloads manifest, and the
// controls that follow the selection.

#include <QtTest>

#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

#include <memory>

#include "EFIS_shared/can_export.h"
#include "comms/comms.h"
#include "manifest_scratch.h"
#include "output_capture.h"
#include "update_tab.h"
#include "window_harness.h"

using harness::child;
using harness::statusText;

namespace {

const char kPackageName[] = "halcyra-1.4.0.bin";

QByteArray packageImage()
{
    return updates::firmwareImage(2000, 11);
}

QByteArray manifestListing(const QString& sha256)
{
    return QStringLiteral(R"({"firmware_packages": [
        {"device_type": "AE", "display_name": "Halcyra EFIS 10", "firmware_version": "1.4.0",
         "firmware_file": "firmware/%1", "sha256": "%2"}]})")
        .arg(QLatin1String(kPackageName), sha256)
        .toUtf8();
}

} // namespace

class TestFileSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void handPickedFirmware_data();
    void handPickedFirmware();
    void cancelledDialogChangesNothing();
    void fileDeletedBeforeStartIsMissing();
    void airportFileTakenAsItIs();

private:
    std::unique_ptr<MainWindow> loadedWindow();
    void pick(MainWindow& window, const char* button, const QString& path);
    bool firmwareSelectionEmpty(const MainWindow& window);

    ManifestScratch scratch;
};

void TestFileSelection::initTestCase()
{
    QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls")));
}

// The unit already runs the manifest's version, so nothing is offered.
void TestFileSelection::init()
{
    sim::unit().reset();
    sim::unit().setFirmware(1, 4, 0);
    QVERIFY(scratch.reset());
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestFileSelection::cleanup()
{
    scratch.leave();
}

std::unique_ptr<MainWindow> TestFileSelection::loadedWindow()
{
    auto window = std::make_unique<MainWindow>(scratch.sources());
    window->show();
    if (!harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)))
        qWarning("the window never loaded the settings: %s", qPrintable(statusText(*window)));
    return window;
}

void TestFileSelection::pick(MainWindow& window, const char* button, const QString& path)
{
    harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, path); });
    child<QPushButton>(window, button)->click();
    QVERIFY(!dialog.titles.isEmpty());
}

bool TestFileSelection::firmwareSelectionEmpty(const MainWindow& window)
{
    return child<QTextEdit>(window, "text_firmware_file")->toPlainText().isEmpty()
           && !child<QTextEdit>(window, "text_firmware_file")->isEnabled()
           && !child<QPushButton>(window, "pushButton_start_update")->isEnabled()
           && !child<QProgressBar>(window, "progressBar_firmware")->isEnabled();
}

void TestFileSelection::handPickedFirmware_data()
{
    QTest::addColumn<bool>("manifestServed");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("samePackage");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("listed, same content") << true << kPackageName << true << true;
    QTest::newRow("listed, other content") << true << kPackageName << false << false;
    QTest::newRow("not listed") << true << "own-build.bin" << false << true;
    QTest::newRow("markup in the name") << true << "<b>own&lt;build.bin" << false << true;
    QTest::newRow("no manifest loaded") << false << kPackageName << false << true;
}

// A rejected file also empties a selection made before it.
void TestFileSelection::handPickedFirmware()
{
    QFETCH(bool, manifestServed);
    QFETCH(QString, fileName);
    QFETCH(bool, samePackage);
    QFETCH(bool, accepted);
    const QByteArray package = packageImage();
    const QByteArray content = samePackage ? package : updates::firmwareImage(2000, 12);
    if (manifestServed)
        scratch.server().serve(QLatin1String(kTestManifestPath), manifestListing(updates::sha256Hex(package).toUpper()));
    auto window = loadedWindow();
    const QString earlier = scratch.scratchPath(QStringLiteral("earlier.bin"));
    QVERIFY(writeWholeFile(earlier, updates::firmwareImage(100, 1)));
    pick(*window, "pushButton_browse", earlier);
    const QString path = scratch.scratchPath(QStringLiteral("picked/") + fileName);
    QVERIFY(writeWholeFile(path, content));

    harness::ModalAnswers boxes([&](QWidget* modal) { updates::chooseFileOrConfirm(modal, path); });
    OutputCapture err(stderr);
    child<QPushButton>(*window, "pushButton_browse")->click();
    const QString log = err.text();

    if (accepted) {
        QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), fileName);
        QVERIFY(child<QTextEdit>(*window, "text_firmware_file")->isReadOnly());
        QVERIFY(child<QPushButton>(*window, "pushButton_start_update")->isEnabled());
        QVERIFY(child<QProgressBar>(*window, "progressBar_firmware")->isEnabled());
        QVERIFY(!boxes.titles.contains(QStringLiteral("Firmware Verification Failed")));
        return;
    }
    const QString mismatch = QStringLiteral("Firmware file SHA-256 does not match the manifest.\nExpected: %1\nActual:   %2")
                                 .arg(updates::sha256Hex(package), updates::sha256Hex(content));
    QVERIFY(boxes.titles.contains(QStringLiteral("Firmware Verification Failed")));
    QCOMPARE(boxes.texts.last(), mismatch);
    QVERIFY(firmwareSelectionEmpty(*window));
    QCOMPARE(statusText(*window), QStringLiteral("Firmware file rejected (SHA-256 mismatch)"));
    // The message spans three lines of the log.
    QVERIFY(log.contains(QStringLiteral("Debug: ") + mismatch + QStringLiteral(" (")));
}

void TestFileSelection::cancelledDialogChangesNothing()
{
    auto window = loadedWindow();
    const QString status = statusText(*window);
    harness::ModalAnswers dialog([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    child<QPushButton>(*window, "pushButton_browse")->click();
    QVERIFY(!dialog.titles.isEmpty());
    QCOMPARE(dialog.titles.value(0), QStringLiteral("Select Firmware File"));
    QVERIFY(firmwareSelectionEmpty(*window));
    QCOMPARE(statusText(*window), status);
}

void TestFileSelection::fileDeletedBeforeStartIsMissing()
{
    auto window = loadedWindow();
    const QString path = scratch.scratchPath(QStringLiteral("gone.bin"));
    QVERIFY(writeWholeFile(path, updates::firmwareImage(100, 2)));
    pick(*window, "pushButton_browse", path);
    QVERIFY(QFile::remove(path));
    sim::unit().clearRecords();

    harness::ModalAnswers box([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    child<QPushButton>(*window, "pushButton_start_update")->click();
    QVERIFY(!box.titles.isEmpty());
    QCOMPARE(box.titles.value(0), QStringLiteral("Firmware File Missing"));
    QVERIFY(firmwareSelectionEmpty(*window));
    QVERIFY(sim::unit().receivedFrames().empty());
}

void TestFileSelection::airportFileTakenAsItIs()
{
    auto window = loadedWindow();
    const QString name = QStringLiteral("<i>any&amp;thing.txt");
    const QString path = scratch.scratchPath(name);
    QVERIFY(writeWholeFile(path, "not a database"));
    harness::ModalAnswers boxes([&](QWidget* modal) { updates::chooseFile(modal, path); });
    child<QPushButton>(*window, "pushButton_browse_airports")->click();
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Select Airport Database")});
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file_2")->toPlainText(), name);
    QVERIFY(child<QTextEdit>(*window, "text_firmware_file_2")->isReadOnly());
    for (const char* name : {"text_firmware_file_2", "pushButton_start_airport", "progressBar_airports"})
        QVERIFY2(child<QWidget>(*window, name)->isEnabled(), name);
}

QTEST_MAIN(TestFileSelection)
#include "tst_file_selection.moc"
