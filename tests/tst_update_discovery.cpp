// Update discovery through the real window: the offer at connection, the
// pending update fulfilled on the Device Updates tab, and the two fetch
// buttons with each of their failures. The manifest and the packages come
// from a loopback server; the unit is varied against one manifest.

#include <QtTest>

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
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

const char kOfferTitle[] = "Firmware Update Available";
const char kPackagePath[] = "/packages/halcyra-1.4.0.bin";
const char kDatabasePath[] = "/packages/airports-2025-07.db";
const char kReadyStatus[] = "Firmware update available — file ready. Use \"Start Update\" when ready.";

QByteArray halcyraPackage()
{
    return updates::firmwareImage(2500, 21);
}

QByteArray airportDatabase()
{
    return patternBytes(9000, 22);
}

// AE: a package served; ED: a package the server does not have; FF: a
// package from the local firmware folder whose content is not what the
// manifest says.
QByteArray discoveryManifest(TestHttpServer& server)
{
    return QStringLiteral(R"({
      "firmware_packages": [
        {"device_type": "AE", "display_name": "Halcyra EFIS 10", "firmware_version": "1.4.0",
         "firmware_file": "releases/halcyra-1.4.0.bin", "download_url": "%1", "sha256": "%2"},
        {"device_type": "ED", "display_name": "", "firmware_version": "2.0.0",
         "firmware_file": "mirrow-2.0.0.bin", "download_url": "%3", "sha256": "%2"},
        {"device_type": "FF", "display_name": "Sondrel", "firmware_version": "3.0.0",
         "firmware_file": "sondrel-3.0.0.bin", "sha256": "%2"}
      ],
      "database_files": [
        {"db_type": "airport", "display_name": "", "format_version": 1, "cycle_effective_date": "2025-07-10",
         "database_file": "airports-2025-07.db", "download_url": "%4", "sha256": "%5"},
        {"db_type": "airport", "display_name": "Airports 2025-06", "format_version": 1,
         "cycle_effective_date": "2025-06-12", "database_file": "airports-2025-06.db", "download_url": "%3"}
      ]
    })")
        .arg(server.url(QLatin1String(kPackagePath)), updates::sha256Hex(halcyraPackage()),
             server.url(QStringLiteral("/packages/missing.bin")), server.url(QLatin1String(kDatabasePath)),
             updates::sha256Hex(airportDatabase()))
        .toUtf8();
}

QString offerText(const QString& installed)
{
    return QStringLiteral("Connected Halcyra EFIS 10 is running firmware %1.\n\nVersion 1.4.0 is available "
                          "(releases/halcyra-1.4.0.bin).\n\nPerform firmware update now?")
        .arg(installed);
}

} // namespace

class TestUpdateDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void offerAcceptedUpdatesAndQuits();
    void offerAcceptedWithoutPackageServer();
    void offerDeclinedIsFulfilledOnFirstTabVisit();
    void sameVersionIsNotOfferedButFetched();
    void firmwareFetchFailures_data();
    void firmwareFetchFailures();
    void unavailableManifestLetsUserPickAFile();
    void airportFetchFromCachedManifestWhileOffline();
    void airportFetchFailures_data();
    void airportFetchFailures();
    void silentServerCostsOneWait();
    void partialManifestIsNotUsed();
    void tabSwitchDuringPendingFetch();

private:
    std::unique_ptr<MainWindow> startWindow(int timeout_ms = ManifestScratch::kGenerousTimeoutMs);
    std::unique_ptr<MainWindow> loadedWindow();

    ManifestScratch scratch;
};

void TestUpdateDiscovery::initTestCase()
{
    QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls")));
}

void TestUpdateDiscovery::init()
{
    sim::unit().reset();
    QVERIFY(scratch.reset());
    scratch.server().serve(QLatin1String(kTestManifestPath), discoveryManifest(scratch.server()));
    scratch.server().serve(QLatin1String(kPackagePath), halcyraPackage());
    scratch.server().serve(QLatin1String(kDatabasePath), airportDatabase());
    QVERIFY(writeWholeFile(scratch.applicationDir() + QStringLiteral("/firmware/sondrel-3.0.0.bin"),
                           updates::firmwareImage(100, 23)));
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestUpdateDiscovery::cleanup()
{
    scratch.leave();
}

std::unique_ptr<MainWindow> TestUpdateDiscovery::startWindow(int timeout_ms)
{
    auto window = std::make_unique<MainWindow>(scratch.sources(timeout_ms));
    window->show();
    return window;
}

std::unique_ptr<MainWindow> TestUpdateDiscovery::loadedWindow()
{
    auto window = startWindow();
    if (!harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)))
        qWarning("the window never loaded the settings: %s", qPrintable(statusText(*window)));
    return window;
}

// ---- The offer -------------------------------------------------------------------

void TestUpdateDiscovery::offerAcceptedUpdatesAndQuits()
{
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    harness::ModalAnswers boxes([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box->windowTitle() == QLatin1String(kOfferTitle)) {
            defaultButton = box->standardButton(box->defaultButton());
            updates::clickBoxButton(modal, QMessageBox::Yes);
        } else {
            updates::clickBoxButton(modal, QMessageBox::Ok);
        }
    });
    auto window = startWindow();
    QCOMPARE(updates::runApplicationUntil([] { return false; }), updates::LOOP_QUIT);

    const QStringList expectedTitles{kOfferTitle, "Reconnect After Reboot"};
    QCOMPARE(boxes.titles, expectedTitles);
    QCOMPARE(boxes.texts.first(), offerText("1.3.0"));
    QCOMPARE(defaultButton, QMessageBox::Yes);
    QCOMPARE(child<QTabWidget>(*window, "tabWidget")->currentWidget()->objectName(), QStringLiteral("tab_update"));
    QCOMPARE(flashBytes(updates::kBank1Address, halcyraPackage().size()), halcyraPackage());
    QVERIFY(sim::unit().rebootRequested());
    QVERIFY(harness::framesWithId(CANMSG_REQUEST_SETTINGS_VALUE).empty());
}

// Two download attempts, the tab change's and the offer's own, each with its box.
void TestUpdateDiscovery::offerAcceptedWithoutPackageServer()
{
    sim::unit().setSerial(0xED000001);
    sim::unit().setFirmware(1, 0, 0);
    harness::ModalAnswers boxes([&](QWidget* modal) {
        updates::clickBoxButton(modal, modal->windowTitle() == QLatin1String(kOfferTitle) ? QMessageBox::Yes
                                                                                         : QMessageBox::Ok);
    });
    auto window = startWindow();
    const QString recommended =
        QStringLiteral("Firmware update recommended — download failed; choose a file manually or retry.");
    QTRY_COMPARE_WITH_TIMEOUT(statusText(*window), recommended, harness::kStatusWaitMs);
    const QStringList expectedTitles{kOfferTitle, "Firmware Download Failed", "Firmware Download Failed"};
    QCOMPARE(boxes.titles, expectedTitles);
    QCOMPARE(scratch.server().requestCount(QStringLiteral("/packages/missing.bin")), 2);
    QVERIFY(harness::framesWithId(CANMSG_REQUEST_SETTINGS_VALUE).empty());
    QVERIFY(child<QTextEdit>(*window, "text_firmware_file")->toPlainText().isEmpty());
}

void TestUpdateDiscovery::offerDeclinedIsFulfilledOnFirstTabVisit()
{
    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::No); });
    auto window = startWindow();
    updates::ShownProgress shown(*window, "progressBar_firmware");
    QVERIFY(harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)));
    QCOMPARE(boxes.titles, QStringList{kOfferTitle});
    QVERIFY(shown.statuses.contains(
        QStringLiteral("Firmware update available — open the Update tab to download the package.")));
    QCOMPARE(scratch.server().requestCount(QLatin1String(kPackagePath)), 0);

    auto* tabs = child<QTabWidget>(*window, "tabWidget");
    tabs->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    QCOMPARE(statusText(*window), QString::fromUtf8(kReadyStatus));
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), QStringLiteral("halcyra-1.4.0.bin"));
    QVERIFY(child<QPushButton>(*window, "pushButton_start_update")->isEnabled());
    QCOMPARE(scratch.server().requestCount(QLatin1String(kPackagePath)), 1);

    tabs->setCurrentIndex(0);
    tabs->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    QCOMPARE(scratch.server().requestCount(QLatin1String(kPackagePath)), 1);
    QCOMPARE(boxes.titles, QStringList{kOfferTitle});
}

void TestUpdateDiscovery::sameVersionIsNotOfferedButFetched()
{
    sim::unit().setFirmware(1, 4, 0);
    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    auto window = loadedWindow();
    child<QTabWidget>(*window, "tabWidget")->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    QCOMPARE(scratch.server().requestCount(QLatin1String(kPackagePath)), 0);

    child<QPushButton>(*window, "pushButton_fetch_fw")->click();
    QCOMPARE(statusText(*window), QStringLiteral("Firmware ready: halcyra-1.4.0.bin"));
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), QStringLiteral("halcyra-1.4.0.bin"));
    QVERIFY(boxes.titles.isEmpty());
    for (const char* name : {"pushButton_fetch_fw", "pushButton_browse", "pushButton_start_update"})
        QVERIFY2(child<QPushButton>(*window, name)->isEnabled(), name);
}

// ---- Firmware fetch failures ---------------------------------------------------------

enum ServerState {
    MANIFEST_SERVED,
    MANIFEST_UNREACHABLE,
    MANIFEST_GARBLED,
};

void TestUpdateDiscovery::firmwareFetchFailures_data()
{
    QTest::addColumn<uint32_t>("serial");
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    const uint32_t halcyra = sim::SimulatedUnit::kDefaultSerial;
    QTest::newRow("manifest unavailable") << halcyra << int(MANIFEST_UNREACHABLE) << "Manifest Unavailable"
                                          << "Could not download the firmware manifest from the server."
                                          << "Could not download firmware manifest";
    QTest::newRow("manifest unparsable") << halcyra << int(MANIFEST_GARBLED) << "Manifest Parse Failed" << "*"
                                         << "Could not parse firmware manifest";
    QTest::newRow("no unit") << 0u << int(MANIFEST_SERVED) << "Device Not Connected"
                             << "Connect to a device first so the correct firmware package can be selected from the "
                                "manifest."
                             << "Connect a device to fetch firmware";
    QTest::newRow("no matching entry") << 0x42000001u << int(MANIFEST_SERVED) << "Firmware Not Found"
                                       << "No firmware package in the manifest matches this device."
                                       << "No matching firmware in manifest";
    QTest::newRow("package download fails") << 0xED000001u << int(MANIFEST_SERVED) << "Firmware Download Failed"
                                            << "*" << "Firmware download failed";
    // A package from the local firmware folder that differs from its digest
    // is rejected as a download that differs would be.
    QTest::newRow("local package differs") << 0xFF000001u << int(MANIFEST_SERVED) << "Firmware Verification Failed"
                                           << "*" << "Firmware download failed";
}

// An earlier selection stays through the manifest's failures and goes with
// a failed package.
void TestUpdateDiscovery::firmwareFetchFailures()
{
    QFETCH(uint32_t, serial);
    QFETCH(int, server);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, status);
    sim::unit().setPresent(serial != 0);
    sim::unit().setSerial(serial);
    sim::unit().setFirmware(9, 9, 9);
    auto window = startWindow();
    QTRY_VERIFY_WITH_TIMEOUT(statusText(*window) == QLatin1String(harness::kLoadedStatus)
                                 || statusText(*window).startsWith(QStringLiteral("Failed to connect")),
                             harness::kStatusWaitMs);
    const QString earlier = scratch.scratchPath(QStringLiteral("earlier.bin"));
    QVERIFY(writeWholeFile(earlier, updates::firmwareImage(100, 24)));
    {
        harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, earlier); });
        child<QPushButton>(*window, "pushButton_browse")->click();
    }
    if (server == MANIFEST_UNREACHABLE)
        scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
    // A manifest the server may hand out (its database list is good) whose
    // firmware list cannot be read.
    if (server == MANIFEST_GARBLED)
        scratch.server().serve(QLatin1String(kTestManifestPath),
                               R"({"database_files": [{"db_type": "airport", "database_file": "a.db"}]})");

    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    child<QPushButton>(*window, "pushButton_fetch_fw")->click();

    QCOMPARE(boxes.titles, QStringList{title});
    if (text != QLatin1String("*"))
        QCOMPARE(boxes.texts.first(), text);
    QCOMPARE(statusText(*window), status);
    const bool packageFailed = status == QLatin1String("Firmware download failed");
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(),
             packageFailed ? QString() : QStringLiteral("earlier.bin"));
    QVERIFY(child<QPushButton>(*window, "pushButton_fetch_fw")->isEnabled());
    QVERIFY(child<QPushButton>(*window, "pushButton_browse")->isEnabled());
}

void TestUpdateDiscovery::unavailableManifestLetsUserPickAFile()
{
    sim::unit().setFirmware(1, 4, 0);
    auto window = loadedWindow();
    scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
    const QString path = scratch.scratchPath(QStringLiteral("own.bin"));
    QVERIFY(writeWholeFile(path, updates::firmwareImage(100, 25)));
    QString informative;
    QStringList buttons;
    harness::ModalAnswers boxes([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            updates::chooseFile(modal, path);
            return;
        }
        informative = box->informativeText();
        for (QAbstractButton* button : box->buttons())
            buttons.append(button->text());
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("Select Firmware File"))
                button->click();
        }
    });
    child<QPushButton>(*window, "pushButton_fetch_fw")->click();
    const QStringList expectedTitles{"Manifest Unavailable", "Select Firmware File"};
    QCOMPARE(boxes.titles, expectedTitles);
    QCOMPARE(informative, QStringLiteral("Connect to the internet and try again, or select a firmware file manually "
                                         "using \"Select Firmware File\"."));
    QCOMPARE(buttons.size(), 2);
    QVERIFY(buttons.contains(QStringLiteral("Select Firmware File")));
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file")->toPlainText(), QStringLiteral("own.bin"));
    QCOMPARE(statusText(*window), QStringLiteral("Could not download firmware manifest"));
}

// ---- Airport database fetch -------------------------------------------------------------

void TestUpdateDiscovery::airportFetchFromCachedManifestWhileOffline()
{
    sim::unit().setFirmware(1, 4, 0);
    auto window = loadedWindow();
    scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
    scratch.memoryCopy().clear(); // only the copy on disk is left

    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    child<QPushButton>(*window, "pushButton_fetch_apt_db")->click();
    QVERIFY(boxes.titles.isEmpty());
    QCOMPARE(statusText(*window), QStringLiteral("Airport database ready: airports-2025-07.db"));
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file_2")->toPlainText(), QStringLiteral("airports-2025-07.db"));
    for (const char* name : {"pushButton_start_airport", "pushButton_fetch_apt_db", "pushButton_browse_airports"})
        QVERIFY2(child<QPushButton>(*window, name)->isEnabled(), name);

    child<QPushButton>(*window, "pushButton_fetch_fw")->click();
    QCOMPARE(boxes.titles, QStringList{"Manifest Unavailable"});
}

void TestUpdateDiscovery::airportFetchFailures_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("no manifest anywhere") << QByteArray() << "Manifest Unavailable" << "*"
                                          << "Could not load downloads manifest";
    QTest::newRow("no database list")
        << QByteArray(R"({"firmware_packages": [{"device_type": "AE", "firmware_version": "1.0.0",
                          "firmware_file": "a.bin"}]})")
        << "Manifest Parse Failed" << "*" << "Could not parse database manifest";
    QTest::newRow("no airport database")
        << QByteArray(R"({"database_files": [{"db_type": "obstacle", "database_file": "obst.db"}]})")
        << "Airport Database Not Found" << "No airport database entry found in downloads_manifest.json."
        << "No airport database in manifest";
    QTest::newRow("download fails")
        << QByteArray(R"({"database_files": [{"db_type": "airport", "database_file": "a.db",
                          "cycle_effective_date": "2025-08-07", "download_url": "https://127.0.0.1:1/a.db"}]})")
        << "Airport Database Download Failed" << "*" << "Airport database download failed";
}

// A failed fetch keeps the airport file chosen before it.
void TestUpdateDiscovery::airportFetchFailures()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, status);
    sim::unit().setFirmware(1, 4, 0);
    auto window = loadedWindow();
    const QString earlier = scratch.scratchPath(QStringLiteral("earlier.db"));
    QVERIFY(writeWholeFile(earlier, "db"));
    {
        harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, earlier); });
        child<QPushButton>(*window, "pushButton_browse_airports")->click();
    }
    if (manifest.isEmpty()) {
        scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
        scratch.memoryCopy().clear();
        QVERIFY(QFile::remove(cachedManifestFile()));
    } else {
        scratch.server().serve(QLatin1String(kTestManifestPath), manifest);
    }

    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
    child<QPushButton>(*window, "pushButton_fetch_apt_db")->click();
    QCOMPARE(boxes.titles, QStringList{title});
    if (text != QLatin1String("*"))
        QCOMPARE(boxes.texts.first(), text);
    QCOMPARE(statusText(*window), status);
    QCOMPARE(child<QTextEdit>(*window, "text_firmware_file_2")->toPlainText(), QStringLiteral("earlier.db"));
    QVERIFY(child<QPushButton>(*window, "pushButton_start_airport")->isEnabled());
}

// ---- Real networks -----------------------------------------------------------------------

// A server that accepts and never answers: the window is up at once, the
// unit stays listed through the one wait, and no later lookup asks again.
void TestUpdateDiscovery::silentServerCostsOneWait()
{
    scratch.manifest_url = scratch.silentUrl();
    auto window = std::make_unique<MainWindow>(scratch.sources(ManifestScratch::kStallTimeoutMs));
    QCOMPARE(scratch.silentConnections(), 0);
    auto* table = child<QTableWidget>(*window, "table_devices");
    bool emptied = false;
    connect(table->model(), &QAbstractItemModel::rowsRemoved, table, [&] { emptied = true; });
    window->show();
    QVERIFY(harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)));
    QCOMPARE(table->rowCount(), 1);
    QVERIFY(!emptied);
    child<QTabWidget>(*window, "tabWidget")->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    QCOMPARE(scratch.silentConnections(), 1);
}

// One bad package spoils the list: none of it is offered or shown.
void TestUpdateDiscovery::partialManifestIsNotUsed()
{
    QByteArray manifest = discoveryManifest(scratch.server());
    manifest.replace(R"("firmware_packages": [)", R"("firmware_packages": [{"device_type": "AE", "display_name": )"
                                                  R"("Halcyra Partial", "firmware_version": "9.9.9", "firmware_file": )"
                                                  R"("p.bin"}, {"device_type": "ED", "firmware_version": "2.0"},)");
    scratch.server().serve(QLatin1String(kTestManifestPath), manifest);
    harness::ModalAnswers boxes([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Yes); });
    auto window = loadedWindow();
    QVERIFY(boxes.titles.isEmpty());
    auto* table = child<QTableWidget>(*window, "table_devices");
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Halcyra"));
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Unknown"));
}

// A second visit of the tab while the offered package is on its way starts
// no second download.
void TestUpdateDiscovery::tabSwitchDuringPendingFetch()
{
    TestHttpResponse stalled;
    stalled.body = halcyraPackage();
    stalled.ending = ResponseEnding::StallAfterHeaders;
    scratch.server().setResponse(QLatin1String(kPackagePath), stalled);
    harness::ModalAnswers boxes([](QWidget* modal) {
        updates::clickBoxButton(modal, modal->windowTitle() == QLatin1String(kOfferTitle) ? QMessageBox::No
                                                                                         : QMessageBox::Ok);
    });
    auto window = startWindow(ManifestScratch::kStallTimeoutMs);
    QVERIFY(harness::waitForStatus(*window, QLatin1String(harness::kLoadedStatus)));
    auto* tabs = child<QTabWidget>(*window, "tabWidget");
    // Once the download has been asked for, the user leaves the tab and comes back.
    QTimer revisit;
    connect(&revisit, &QTimer::timeout, tabs, [&] {
        if (scratch.server().requestCount(QLatin1String(kPackagePath)) == 0)
            return;
        revisit.stop();
        tabs->setCurrentIndex(0);
        tabs->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    });
    revisit.start(5);
    tabs->setCurrentWidget(child<QWidget>(*window, "tab_update"));
    QVERIFY(!revisit.isActive());
    QCOMPARE(scratch.server().requestCount(QLatin1String(kPackagePath)), 1);
    const QStringList expectedTitles{kOfferTitle, "Firmware Download Failed"};
    QCOMPARE(boxes.titles, expectedTitles);
}

QTEST_MAIN(TestUpdateDiscovery)
#include "tst_update_discovery.moc"
