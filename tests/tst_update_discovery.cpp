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

namespace {

const char kOffer[] = "Firmware Update Available";
const char kDownloadFailed[] = "Firmware Download Failed";
const char kPackagePath[] = "/packages/halcyra-1.4.0.bin";
const char kRecommended[] = "Firmware update recommended — download failed; choose a file manually or retry.";

const QByteArray kHalcyraPackage = updates::firmwareImage(2500, 21);

// AE: the package served; ED: a package the server does not have; FF: a
// package from the local firmware folder whose content is not what the manifest says.
QByteArray discoveryManifest(TestHttpServer& server)
{
    return QStringLiteral(R"({"firmware_packages": [
        {"device_type": "AE", "display_name": "Halcyra EFIS 10", "firmware_version": "1.4.0",
         "firmware_file": "releases/halcyra-1.4.0.bin", "download_url": "%1", "sha256": "%2"},
        {"device_type": "ED", "firmware_version": "2.0.0", "firmware_file": "mirrow-2.0.0.bin", "download_url": "%3", "sha256": "%2"},
        {"device_type": "FF", "firmware_version": "3.0.0", "firmware_file": "sondrel-3.0.0.bin", "sha256": "%2"}],
      "database_files": [{"db_type": "airport", "format_version": 1, "cycle_effective_date": "2025-07-10",
         "database_file": "airports-2025-07.db", "download_url": "%4"}]})")
        .arg(server.url(QLatin1String(kPackagePath)), updates::sha256Hex(kHalcyraPackage),
             server.url(QStringLiteral("/packages/missing.bin")),
             server.url(QStringLiteral("/packages/airports-2025-07.db")))
        .toUtf8();
}

// A message box gets the button of this text, else OK; a file dialog gets `path`.
void answerWith(QWidget* modal, const QString& answer, const QString& path)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr)
        return updates::chooseFile(modal, path);
    const QList<QAbstractButton*> buttons = box->buttons();
    const auto named = std::find_if(buttons.begin(), buttons.end(),
                                    [&](QAbstractButton* b) { return b->text().remove(QLatin1Char('&')) == answer; });
    (named == buttons.end() ? box->button(QMessageBox::Ok) : *named)->click();
}

} // namespace

class TestUpdateDiscovery : public QObject
{
    Q_OBJECT

    ManifestScratch scratch;

private slots:
    void initTestCase() { QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }

    void init()
    {
        sim::unit().reset();
        QVERIFY(scratch.reset());
        scratch.server().serve(QLatin1String(kTestManifestPath), discoveryManifest(scratch.server()));
        scratch.server().serve(QLatin1String(kPackagePath), kHalcyraPackage);
        scratch.server().serve(QStringLiteral("/packages/airports-2025-07.db"), "airports");
        QVERIFY(writeWholeFile(scratch.applicationDir() + QStringLiteral("/firmware/sondrel-3.0.0.bin"), "differs"));
        for (const char* name : {"earlier.bin", "earlier.db"})
            QVERIFY(writeWholeFile(scratch.scratchPath(QLatin1String(name)), updates::firmwareImage(100, 24)));
        device_serial = 0xFFFFFFFF;
        fw.version = 0;
    }

    void decision_data()
    {
        QTest::addColumn<uint32_t>("serial");
        QTest::addColumn<int>("firmware"); // 0xMMmmpp: 1.3.0 is older than the manifest's, 9.9.9 newer than all
        // Served from the start; "silent": a server that accepts and never answers; "offline" after the load.
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("action"); // visits of the tab, then this fetch button clicked
        QTest::addColumn<QStringList>("titles"); // after the earlier file's dialog
        QTest::addColumn<QString>("text"); // of the first box, when given
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("downloads");
        const QString fw = QStringLiteral("pushButton_fetch_fw");
        const QString db = QStringLiteral("pushButton_fetch_apt_db");
        const QString ready = QStringLiteral("halcyra-1.4.0.bin");
        const uint32_t ae = 0xAE020457, ed = 0xED000001;
        const int older = 0x010300, same = 0x010400, newest = 0x090909;
        const auto row = [](const char* name, uint32_t serial, int firmware, const QByteArray& manifest,
                            const QString& answer, const QString& action, const QStringList& titles,
                            const QString& text, const QString& status, const QString& file, int downloads) {
            QTest::newRow(name) << serial << firmware << manifest << answer << action << titles << text << status
                                << file << downloads;
        };
        row("offer accepted", ae, older, "", "Yes", "", {kOffer, "Reconnect After Reboot"},
            "Connected Halcyra EFIS 10 is running firmware 1.3.0.\n\nVersion 1.4.0 is available "
            "(releases/halcyra-1.4.0.bin).\n\nPerform firmware update now?",
            "Firmware update completed — device rebooting", ready, 1);
        // The tab change's attempt and the offer's own.
        row("offer accepted, package missing", ed, older, "", "Yes", "", {kOffer, kDownloadFailed, kDownloadFailed}, "",
            kRecommended, "", 2);
        row("offer declined, fulfilled on the tab", ae, older, "", "No", "tab", {kOffer}, "",
            "Firmware update available — file ready. Use \"Start Update\" when ready.", ready, 1);
        // Each visit of the tab tries again.
        row("offer declined, package missing", ed, older, "", "No", "tab", {kOffer, kDownloadFailed, kDownloadFailed},
            "", "Firmware update available — download failed; choose a file manually or retry.", "", 2);
        row("list with a bad package offers nothing", ae, older,
            R"({"firmware_packages": [{"device_type": "AE", "firmware_version": "9.9.9", "firmware_file": "p.bin"},
                {"device_type": "ED", "firmware_version": "2.0"}]})",
            "Yes", "tab", {}, "", harness::kLoadedStatus, "", 0);
        // The one wait: the unit stays, and no later lookup asks again.
        row("silent server", ae, older, "silent", "Yes", "tab", {}, "", harness::kLoadedStatus, "", 0);
        row("nothing newer, fetched", ae, same, "", "OK", fw, {}, "", "Firmware ready: halcyra-1.4.0.bin", ready, 1);
        row("no unit", 0, newest, "", "OK", fw, {"Device Not Connected"},
            "Connect to a device first so the correct firmware package can be selected from the manifest.",
            "Connect a device to fetch firmware", "earlier.bin", 0);
        row("no matching entry", 0x42000001, newest, "", "OK", fw, {"Firmware Not Found"},
            "No firmware package in the manifest matches this device.", "No matching firmware in manifest",
            "earlier.bin", 0);
        row("local package differs", 0xFF000001, newest, "", "OK", fw, {"Firmware Verification Failed"}, "",
            "Firmware download failed", "", 0);
        row("manifest unavailable, file picked", ae, same, "offline", "Select Firmware File", fw,
            {"Manifest Unavailable", "Select Firmware File"},
            "Could not download the firmware manifest from the server.", "Could not download firmware manifest",
            "earlier.bin", 0);
        row("manifest unavailable", ae, same, "offline", "OK", fw, {"Manifest Unavailable"}, "",
            "Could not download firmware manifest", "earlier.bin", 0);
        row("airport database from the stored manifest", ae, same, "offline", "OK", db, {}, "",
            "Airport database ready: airports-2025-07.db", "airports-2025-07.db", 1);
        row("airport: none in the list", ae, same,
            R"({"database_files": [{"db_type": "obstacle", "database_file": "obst.db"}]})", "OK", db,
            {"Airport Database Not Found"}, "No airport database entry found in downloads_manifest.json.",
            "No airport database in manifest", "earlier.db", 0);
        row("airport download fails", ae, same,
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
        sim::unit().setPresent(serial != 0);
        sim::unit().setSerial(serial);
        sim::unit().setFirmware(firmware >> 16, (firmware >> 8) & 0xFF, firmware & 0xFF);
        if (manifest.startsWith('{'))
            scratch.server().serve(QLatin1String(kTestManifestPath), manifest);
        const bool airport = action == QLatin1String("pushButton_fetch_apt_db");
        const QString earlier = scratch.scratchPath(airport ? "earlier.db" : "earlier.bin");
        harness::ModalAnswers boxes([&](QWidget* modal) { answerWith(modal, answer, earlier); });
        scratch.manifest_url = manifest == "silent" ? scratch.silentUrl() : scratch.manifest_url;
        MainWindow window(scratch.sources(manifest == "silent" ? ManifestScratch::kStallTimeoutMs
                                                               : ManifestScratch::kGenerousTimeoutMs));
        window.show();
        updates::runApplicationUntil([&] {
            const QString shown = harness::statusText(window);
            return shown == QLatin1String(harness::kLoadedStatus) || shown == QLatin1String(kRecommended)
                   || shown.startsWith(QLatin1String("Failed to connect"));
        });
        const bool fetches = action.startsWith(QLatin1String("pushButton"));
        if (fetches)
            child<QPushButton>(window, airport ? "pushButton_browse_airports" : "pushButton_browse")->click();
        if (manifest == "offline") {
            scratch.server().answerStatus(QLatin1String(kTestManifestPath), 503, "Service Unavailable");
            scratch.memoryCopy().clear(); // only the copy on disk is left
        }
        auto* tabs = child<QTabWidget>(window, "tabWidget");
        const auto visit = [&] {
            tabs->setCurrentIndex(0);
            tabs->setCurrentWidget(child<QWidget>(window, "tab_update"));
        };
        if (!action.isEmpty()) {
            // Back on the tab while the first visit's lookup still runs: no second lookup starts.
            QTimer::singleShot(0, tabs, visit);
            visit();
            visit();
        }
        if (fetches)
            child<QPushButton>(window, qPrintable(action))->click();
        QStringList titles = boxes.titles;
        titles.removeOne(airport ? "Select Airport Database" : "Select Firmware File"); // the earlier file's dialog
        QTEST(titles, "titles");
        QVERIFY2(text.isEmpty() || boxes.texts.contains(text), qPrintable(boxes.texts.join(" | ")));
        QTEST(harness::statusText(window), "status");
        const QString file
            = child<QTextEdit>(window, airport ? "text_firmware_file_2" : "text_firmware_file")->toPlainText();
        QTEST(file, "file");
        QCOMPARE(
            child<QPushButton>(window, airport ? "pushButton_start_airport" : "pushButton_start_update")->isEnabled(),
            !file.isEmpty());
        QTEST(int(scratch.server().requests().size() - scratch.server().requestCount(QLatin1String(kTestManifestPath))),
              "downloads");
        QCOMPARE(scratch.silentConnections(), manifest == "silent" ? 1 : 0);
        QCOMPARE(child<QTableWidget>(window, "table_devices")->rowCount(), serial != 0);
        if (sim::unit().rebootRequested())
            QCOMPARE(flashBytes(updates::kBank1Address, kHalcyraPackage.size()), kHalcyraPackage);
    }
};

QTEST_MAIN(TestUpdateDiscovery)
#include "tst_update_discovery.moc"
