// Update discovery through the real window, as a wiring table: the offer at
// connection, the pending update fulfilled on the Device Updates tab, and the
// two fetch buttons, each decision with its success and its failures. The
// manifest and the packages come from a loopback server.

#include <QtTest>

#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>

#include "comms/comms.h"
#include "manifest_scratch.h"
#include "update_tab.h"

using harness::child;
using harness::statusText;

namespace {

const char kOffer[] = "Firmware Update Available";
const char kDownloadFailed[] = "Firmware Download Failed";
const char kPackagePath[] = "/packages/halcyra-1.4.0.bin";
const char kDatabasePath[] = "/packages/airports-2025-07.db";
const char kRecommended[] = "Firmware update recommended — download failed; choose a file manually or retry.";
const uint32_t kHalcyra = sim::SimulatedUnit::kDefaultSerial;
// ED: a package the server does not have; FF: a package from the local
// firmware folder whose content is not what the manifest says.
const uint32_t kMirrow = 0xED000001;
const uint32_t kSondrel = 0xFF000001;
// Firmware versions as 0xMMmmpp: older than the manifest's 1.4.0, the same, newer than every entry.
const int kOlder = 0x010300;
const int kSame = 0x010400;
const int kNewest = 0x090909;

QByteArray halcyraPackage()
{
    return updates::firmwareImage(2500, 21);
}

QByteArray discoveryManifest(TestHttpServer& server)
{
    return QStringLiteral(R"({"firmware_packages": [
        {"device_type": "AE", "display_name": "Halcyra EFIS 10", "firmware_version": "1.4.0",
         "firmware_file": "releases/halcyra-1.4.0.bin", "download_url": "%1", "sha256": "%2"},
        {"device_type": "ED", "firmware_version": "2.0.0", "firmware_file": "mirrow-2.0.0.bin", "download_url": "%3", "sha256": "%2"},
        {"device_type": "FF", "firmware_version": "3.0.0", "firmware_file": "sondrel-3.0.0.bin", "sha256": "%2"}],
      "database_files": [{"db_type": "airport", "format_version": 1, "cycle_effective_date": "2025-07-10",
         "database_file": "airports-2025-07.db", "download_url": "%4", "sha256": "%5"}]})")
        .arg(server.url(QLatin1String(kPackagePath)), updates::sha256Hex(halcyraPackage()),
             server.url(QStringLiteral("/packages/missing.bin")), server.url(QLatin1String(kDatabasePath)),
             updates::sha256Hex(patternBytes(9000, 22)))
        .toUtf8();
}

// Answers a message box with the button of this text, else OK; a file dialog with `path`.
void answerWith(QWidget* modal, const QString& answer, const QString& path)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr)
        return updates::chooseFile(modal, path);
    QAbstractButton* chosen = box->button(QMessageBox::Ok);
    for (QAbstractButton* button : box->buttons())
        chosen = button->text().remove(QLatin1Char('&')) == answer ? button : chosen;
    chosen->click();
}

} // namespace

class TestUpdateDiscovery : public QObject
{
    Q_OBJECT

    ManifestScratch scratch;

    int packageDownloads()
    {
        return int(scratch.server().requests().size()) - scratch.server().requestCount(QLatin1String(kTestManifestPath));
    }

private slots:
    void initTestCase() { QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }

    void init()
    {
        sim::unit().reset();
        QVERIFY(scratch.reset());
        scratch.server().serve(QLatin1String(kTestManifestPath), discoveryManifest(scratch.server()));
        scratch.server().serve(QLatin1String(kPackagePath), halcyraPackage());
        scratch.server().serve(QLatin1String(kDatabasePath), patternBytes(9000, 22));
        QVERIFY(writeWholeFile(scratch.applicationDir() + QStringLiteral("/firmware/sondrel-3.0.0.bin"), "differs"));
        device_serial = 0xFFFFFFFF;
        fw.version = 0;
    }

    void cleanup() { scratch.leave(); }

    void decision_data()
    {
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<int>("firmware");
        QTest::addColumn<QByteArray>("manifest"); // served from the start, or "offline" / "nowhere" after the load
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("action"); // a visit of the tab, or the fetch button clicked after one
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QString>("text"); // of the first box, when given
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("downloads");
        const QString loaded = QLatin1String(harness::kLoadedStatus);
        const QString fw = QStringLiteral("pushButton_fetch_fw");
        const QString db = QStringLiteral("pushButton_fetch_apt_db");
        const QString ready = QStringLiteral("halcyra-1.4.0.bin");
        const auto row = [](const char* name, uint32_t serial, int firmware, const QByteArray& manifest, const QString& answer,
                            const QString& action, const QStringList& titles, const QString& text, const QString& status,
                            const QString& file, int downloads) {
            QTest::newRow(name) << serial << firmware << manifest << answer << action << titles << text << status << file
                                << downloads;
        };
        row("offer accepted", kHalcyra, kOlder, "", "Yes", "", {kOffer, "Reconnect After Reboot"},
            "Connected Halcyra EFIS 10 is running firmware 1.3.0.\n\nVersion 1.4.0 is available "
            "(releases/halcyra-1.4.0.bin).\n\nPerform firmware update now?",
            "Firmware update completed — device rebooting", ready, 1);
        // The tab change's attempt and the offer's own.
        row("offer accepted, package missing", kMirrow, kOlder, "", "Yes", "", {kOffer, kDownloadFailed, kDownloadFailed}, "",
            kRecommended, "", 2);
        row("offer declined, fulfilled on the tab", kHalcyra, kOlder, "", "No", "tab", {kOffer}, "",
            "Firmware update available — file ready. Use \"Start Update\" when ready.", ready, 1);
        // Each visit of the tab tries again.
        row("offer declined, package missing", kMirrow, kOlder, "", "No", "tab", {kOffer, kDownloadFailed, kDownloadFailed}, "",
            "Firmware update available — download failed; choose a file manually or retry.", "", 2);
        row("list with a bad package offers nothing", kHalcyra, kOlder,
            R"({"firmware_packages": [{"device_type": "AE", "firmware_version": "9.9.9", "firmware_file": "p.bin"},
                {"device_type": "ED", "firmware_version": "2.0"}]})",
            "Yes", "tab", {}, "", loaded, "", 0);
        row("nothing newer, fetched", kHalcyra, kSame, "", "OK", fw, {}, "", "Firmware ready: halcyra-1.4.0.bin", ready, 1);
        row("no unit", 0, kNewest, "", "OK", fw, {"Device Not Connected"},
            "Connect to a device first so the correct firmware package can be selected from the manifest.",
            "Connect a device to fetch firmware", "earlier.bin", 0);
        row("no matching entry", 0x42000001, kNewest, "", "OK", fw, {"Firmware Not Found"},
            "No firmware package in the manifest matches this device.", "No matching firmware in manifest", "earlier.bin", 0);
        row("firmware list unreadable", kHalcyra, kNewest, R"({"database_files": [{"db_type": "airport", "database_file": "a.db"}]})",
            "OK", fw, {"Manifest Parse Failed"}, "", "Could not parse firmware manifest", "earlier.bin", 0);
        row("package download fails", kMirrow, kNewest, "", "OK", fw, {kDownloadFailed}, "", "Firmware download failed", "", 1);
        row("local package differs", kSondrel, kNewest, "", "OK", fw, {"Firmware Verification Failed"}, "",
            "Firmware download failed", "", 0);
        row("manifest unavailable, file picked", kHalcyra, kSame, "offline", "Select Firmware File", fw,
            {"Manifest Unavailable", "Select Firmware File"}, "Could not download the firmware manifest from the server.",
            "Could not download firmware manifest", "own.bin", 0);
        row("manifest unavailable", kHalcyra, kSame, "offline", "OK", fw, {"Manifest Unavailable"}, "",
            "Could not download firmware manifest", "earlier.bin", 0);
        row("airport database from the stored manifest", kHalcyra, kSame, "offline", "OK", db, {}, "",
            "Airport database ready: airports-2025-07.db", "airports-2025-07.db", 1);
        row("airport: no manifest anywhere", kHalcyra, kSame, "nowhere", "OK", db, {"Manifest Unavailable"}, "",
            "Could not load downloads manifest", "earlier.db", 0);
        row("airport: no database list", kHalcyra, kSame,
            R"({"firmware_packages": [{"device_type": "AE", "firmware_version": "1.0.0", "firmware_file": "a.bin"}]})", "OK",
            db, {"Manifest Parse Failed"}, "", "Could not parse database manifest", "earlier.db", 0);
        row("airport: none in the list", kHalcyra, kSame, R"({"database_files": [{"db_type": "obstacle", "database_file": "o.db"}]})",
            "OK", db, {"Airport Database Not Found"}, "No airport database entry found in downloads_manifest.json.",
            "No airport database in manifest", "earlier.db", 0);
        row("airport download fails", kHalcyra, kSame,
            R"({"database_files": [{"db_type": "airport", "database_file": "a.db", "download_url": "https://127.0.0.1:1/a.db"}]})",
            "OK", db, {"Airport Database Download Failed"}, "", "Airport database download failed", "earlier.db", 0);
    }

    // A failed fetch keeps an earlier selection through the manifest's
    // failures; a failed package takes it away.
    void decision()
    {
        QFETCH(uint32_t, serial);
        QFETCH(int, firmware);
        QFETCH(QByteArray, manifest);
        QFETCH(QString, answer);
        QFETCH(QString, action);
        QFETCH(QString, text);
        QFETCH(QString, status);
        QFETCH(QString, file);
        sim::unit().setPresent(serial != 0);
        sim::unit().setSerial(serial);
        sim::unit().setFirmware(firmware >> 16, (firmware >> 8) & 0xFF, firmware & 0xFF);
        if (manifest.startsWith('{'))
            scratch.server().serve(QLatin1String(kTestManifestPath), manifest);
        const QString own = scratch.scratchPath(QStringLiteral("own.bin"));
        QVERIFY(writeWholeFile(own, updates::firmwareImage(100, 25)));
        QStringList titles;
        QStringList texts;
        std::unique_ptr<MainWindow> window;
        {
            harness::ModalAnswers boxes([&](QWidget* modal) { answerWith(modal, answer, own); });
            window = std::make_unique<MainWindow>(scratch.sources());
            window->show();
            updates::runApplicationUntil([&] {
                const QString shown = statusText(*window);
                return shown == QLatin1String(harness::kLoadedStatus) || shown == QLatin1String(kRecommended)
                       || shown.startsWith(QLatin1String("Failed to connect"));
            });
            std::tie(titles, texts) = std::tie(boxes.titles, boxes.texts);
        }
        const bool airport = action == QLatin1String("pushButton_fetch_apt_db");
        if (action.startsWith(QLatin1String("pushButton"))) {
            const QString earlier = scratch.scratchPath(airport ? QStringLiteral("earlier.db") : QStringLiteral("earlier.bin"));
            QVERIFY(writeWholeFile(earlier, updates::firmwareImage(100, 24)));
            harness::ModalAnswers dialog([&](QWidget* modal) { updates::chooseFile(modal, earlier); });
            child<QPushButton>(*window, airport ? "pushButton_browse_airports" : "pushButton_browse")->click();
        }
        if (!manifest.isEmpty() && !manifest.startsWith('{')) {
            scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
            scratch.memoryCopy().clear();
            QVERIFY(manifest == "offline" || QFile::remove(cachedManifestFile()));
        }
        if (!action.isEmpty()) {
            harness::ModalAnswers boxes([&](QWidget* modal) { answerWith(modal, answer, own); });
            auto* tabs = child<QTabWidget>(*window, "tabWidget");
            const auto visit = [&] {
                tabs->setCurrentIndex(0);
                tabs->setCurrentWidget(child<QWidget>(*window, "tab_update"));
            };
            // Back on the tab while the first visit's lookup still runs: no second lookup starts.
            QTimer::singleShot(0, tabs, visit);
            visit();
            visit();
            if (action != QLatin1String("tab"))
                child<QPushButton>(*window, qPrintable(action))->click();
            titles += boxes.titles;
            texts += boxes.texts;
        }
        QTEST(titles, "titles");
        if (!text.isEmpty())
            QCOMPARE(texts.value(0), text);
        QCOMPARE(statusText(*window), status);
        QCOMPARE(child<QTextEdit>(*window, airport ? "text_firmware_file_2" : "text_firmware_file")->toPlainText(), file);
        QCOMPARE(child<QPushButton>(*window, airport ? "pushButton_start_airport" : "pushButton_start_update")->isEnabled(),
                 !file.isEmpty());
        QTEST(packageDownloads(), "downloads");
        if (status.startsWith(QLatin1String("Firmware update completed")))
            QCOMPARE(flashBytes(updates::kBank1Address, halcyraPackage().size()), halcyraPackage());
    }

    // A server that accepts and never answers: the window is up at once, the
    // unit stays listed through the one wait, and no later lookup asks again.
    void silentServerCostsOneWait()
    {
        scratch.manifest_url = scratch.silentUrl();
        MainWindow window(scratch.sources(ManifestScratch::kStallTimeoutMs));
        QCOMPARE(scratch.silentConnections(), 0);
        auto* table = child<QTableWidget>(window, "table_devices");
        QSignalSpy removed(table->model(), &QAbstractItemModel::rowsRemoved);
        window.show();
        QVERIFY(harness::waitForStatus(window, QLatin1String(harness::kLoadedStatus)));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(removed.count(), 0);
        child<QTabWidget>(window, "tabWidget")->setCurrentWidget(child<QWidget>(window, "tab_update"));
        QCOMPARE(scratch.silentConnections(), 1);
    }
};

QTEST_MAIN(TestUpdateDiscovery)
#include "tst_update_discovery.moc"
