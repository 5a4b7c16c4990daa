// The downloads manifest: both parsers on good and hostile input, version
// texts and their order, the lookups the window makes, and its retrieval from
// an HTTPS server on 127.0.0.1 with a test certificate: what is fetched, what
// is refused, and the order of the copies that stand in for the server, none
// of which a failed fetch may lose.

#include <QtTest>

#include "file_size_limit.h"
#include "manifest_scratch.h"

namespace {

const QString kPath = QLatin1String(kTestManifestPath);
const QString kUnavailable = QStringLiteral("Online downloads manifest unavailable: ");

QByteArray firmwareList(const QByteArray& elements)
{
    return R"({"firmware_packages": [)" + elements + "]}";
}

// A firmware manifest whose one package carries `name` as its product name,
// so each source's copy can be told apart.
QByteArray manifestNamed(const QString& name)
{
    return firmwareList(
        R"({"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": "1.4.0", "display_name": ")"
        + name.toUtf8() + "\"}");
}

} // namespace

Q_DECLARE_METATYPE(TestHttpResponse)

class ManifestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init() { QVERIFY(scratch_.reset()); }
    void cleanup() { scratch_.leave(); }

    void hostileManifestRefused_data();
    void hostileManifestRefused();
    void everyFieldRead();
    void versionTexts_data();
    void versionTexts();
    void lookups();
    void goodManifestReplacesStoredCopies();
    void failedFetchKeepsStoredCopies_data();
    void failedFetchKeepsStoredCopies();
    void sourcesInOrder_data();
    void sourcesInOrder();
    void firmwareListForDevice();

private:
    ManifestScratch scratch_;
};

void ManifestTest::hostileManifestRefused_data()
{
    QTest::addColumn<bool>("firmware"); // which list is read
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    const QString missing = QStringLiteral("Manifest entry missing device_type or firmware_file");
    QTest::newRow("not JSON") << true << QByteArray("{\"firmware_packages\": [")
                              << "Invalid manifest JSON: unterminated array";
    QTest::newRow("top level array") << true << QByteArray("[]") << "Invalid manifest JSON: no error occurred";
    QTest::newRow("no objects") << true << firmwareList("1, \"efis.bin\", null")
                                << "No valid firmware packages in manifest";
    QTest::newRow("two-part version after a good one")
        << true << firmwareList(R"({"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": "1.2.3"}, )"
                                R"({"device_type": " ed ", "firmware_file": "e", "firmware_version": "1.2"})")
        << "Invalid firmware_version for device_type ED";
    QTest::newRow("version a number") << true << firmwareList(R"({"device_type": "AE", "firmware_version": 1.2})")
                                      << "Invalid firmware_version for device_type AE";
    QTest::newRow("blank device type")
        << true << firmwareList(R"({"device_type": "  ", "firmware_file": "e", "firmware_version": "1.2.3"})")
        << missing;
    QTest::newRow("firmware file an object")
        << true << firmwareList(R"({"device_type": "AE", "firmware_file": {}, "firmware_version": "1.2.3"})")
        << missing;
    QTest::newRow("database list an object")
        << false << QByteArray(R"({"database_files": {}})") << "database_files is empty";
    QTest::newRow("no usable database")
        << false << QByteArray(R"({"database_files": [1, {"db_type": "airport", "database_file": "airports.zip"},
                    {"db_type": " ", "database_file": "a.db"}, {"db_type": "airport", "database_file": 5}]})")
        << "No valid database packages in manifest";
}

void ManifestTest::hostileManifestRefused()
{
    QFETCH(bool, firmware);
    QFETCH(QByteArray, json);
    QFETCH(QString, message);

    // Nothing of what the output held before stays; only good entries before the fault may.
    QVector<FirmwareManifestEntry> packages(3);
    QVector<DatabaseManifestEntry> databases(3);
    QString error;
    QVERIFY(firmware ? !parseFirmwareManifestJson(json, &packages, &error)
                     : !parseDatabaseManifestJson(json, &databases, &error));
    QCOMPARE(error, message);
    QVERIFY(firmware ? packages.size() <= 1 : databases.isEmpty());
}

void ManifestTest::everyFieldRead()
{
    QByteArray json = R"({"firmware_packages": ["not an object", {"device_type": " ae ", "display_name": " Halcyra ",
        "firmware_file": " builds/efis 1.bin ", "download_url": "https://x.invalid/efis.bin", "sha256": " ABCDEF ",
        "minimum_bootloader_version": "0.9", "hardware_revisions": ["1", 10], "firmware_version": " 2.10.255 "},
        {"device_type": "ED", "display_name": 7, "firmware_file": "ed.bin", "sha256": ["ab"], "firmware_version": "0.0.0"}],
      "database_files": [{"db_type": " Airport ", "display_name": "Airports", "format_version": 3, "sha256": "Ab12",
        "cycle_effective_date": "2025-02-20", "database_file": "AIRPORTS.DB", "download_url": "https://x.invalid/a.db"})";
    // The format version is a whole number that fits 32 bits, else 0.
    for (const char* number : {"-2", "4.0", "3.5", "\"3\"", "1e20", "-3000000000", "2147483647"})
        json += R"(, {"db_type": "terrain", "database_file": "t.db", "format_version": )" + QByteArray(number) + "}";

    QVector<FirmwareManifestEntry> packages;
    QVector<DatabaseManifestEntry> databases;
    QString error = QStringLiteral("untouched");
    QVERIFY(parseFirmwareManifestJson(json + "]}", &packages, &error)
            && parseDatabaseManifestJson(json + "]}", &databases, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QStringList read;
    for (const FirmwareManifestEntry& e : packages)
        read << e.device_type << e.display_name << e.firmware_file << e.download_url << e.sha256
             << e.minimum_bootloader_version << e.hardware_revisions.join(QLatin1Char(','))
             << QStringLiteral("%1.%2.%3").arg(e.firmware_major).arg(e.firmware_minor).arg(e.firmware_patch);
    const DatabaseManifestEntry& a = databases.at(0);
    read << a.db_type << a.display_name << a.cycle_effective_date << a.database_file << a.download_url << a.sha256;
    for (const DatabaseManifestEntry& e : databases)
        read << QString::number(e.format_version);
    QCOMPARE(read,
             QStringList({"AE",
                          " Halcyra ",
                          " builds/efis 1.bin ",
                          "https://x.invalid/efis.bin",
                          " ABCDEF ",
                          "0.9",
                          "1,",
                          "2.10.255",
                          "ED",
                          "",
                          "ed.bin",
                          "",
                          "",
                          "",
                          "",
                          "0.0.0",
                          "airport",
                          "Airports",
                          "2025-02-20",
                          "AIRPORTS.DB",
                          "https://x.invalid/a.db",
                          "Ab12",
                          "3",
                          "-2",
                          "4",
                          "0",
                          "0",
                          "0",
                          "0",
                          "2147483647"}));
}

// What a manifest's version text reads as, and whether a unit at 1.4.0 is
// older than it.
void ManifestTest::versionTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reads_as"); // empty: refused
    QTest::addColumn<bool>("newer");

    QTest::newRow("same") << "1.4.0" << "1.4.0" << false;
    QTest::newRow("patch ahead") << " \t1.4.1\n" << "1.4.1" << true;
    QTest::newRow("minor ahead by number") << "1.10.0" << "1.10.0" << true;
    QTest::newRow("minor before patch") << "1.3.255" << "1.3.255" << false;
    QTest::newRow("major before the rest") << "0.255.255" << "0.255.255" << false;
    QTest::newRow("leading zeros") << "01.004.01" << "1.4.1" << true;
    QTest::newRow("two numbers") << "1.5" << "" << false;
    QTest::newRow("four numbers") << "1.5.0.0" << "" << false;
    QTest::newRow("out of range") << "1.5.256" << "" << false;
    QTest::newRow("huge") << "99999999999.0.0" << "" << false;
    QTest::newRow("sign") << "+1.5.0" << "" << false;
    QTest::newRow("inner space") << "1. 5.0" << "" << false;
}

void ManifestTest::versionTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, reads_as);
    QFETCH(bool, newer);

    FirmwareManifestEntry entry; // 0.0.0, kept as it is when the text is refused
    QCOMPARE(parseFirmwareVersionString(text, &entry.firmware_major, &entry.firmware_minor, &entry.firmware_patch),
             !reads_as.isEmpty());
    const fwversion_t read
        = {uint32_t(entry.firmware_major) << 24 | entry.firmware_minor << 16 | entry.firmware_patch << 8 | 0x77};
    QCOMPARE(firmwareVersionToString(read), reads_as.isEmpty() ? QStringLiteral("0.0.0") : reads_as);
    const fwversion_t unit = {0x010400FFu}; // 1.4.0, its rc byte plays no part
    QCOMPARE(deviceFirmwareOlderThanManifest(unit, entry), newer);
}

void ManifestTest::lookups()
{
    const auto package = [](const char* type, const QStringList& revisions = {}, const char* file = "") {
        FirmwareManifestEntry entry;
        entry.device_type = QLatin1String(type);
        entry.hardware_revisions = revisions;
        entry.firmware_file = QLatin1String(file);
        return entry;
    };
    // A serial number 0xTTRR.... names device type TT and hardware revision RR (decimal).
    const QVector<FirmwareManifestEntry> firmware = {package("ED", {"5"}),
                                                     package("ED", {"6"}),
                                                     package("AE", {"01", "3"}),
                                                     package("AE", {"2", "10"}),
                                                     package("AE"),
                                                     package("AE", {"4"}),
                                                     package("A"),
                                                     package("0A")};
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE021234u), &firmware[3]); // its revision, after another of its type
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE0A0000u), &firmware[3]);
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE010000u), &firmware[4]); // "01" is no revision: every revision
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE040000u),
             &firmware[4]); // every revision, before the one naming it
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xED020000u), &firmware[0]); // none fits: the first of its type
    QCOMPARE(findFirmwareManifestEntry(firmware, 0x0A000000u), &firmware[7]);
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xFF000000u), nullptr);

    QVector<DatabaseManifestEntry> databases(4);
    for (int i = 0; i < 4; ++i) {
        databases[i].db_type = QLatin1String(i < 3 ? "airport" : "obstacle");
        databases[i].cycle_effective_date = QLatin1String(i == 0 ? "2025-01-23" : i < 3 ? "2025-02-20" : "2099-01-01");
    }
    QCOMPARE(findLatestDatabaseEntryByType(databases, " Airport "), &databases[1]); // the first of the latest date
    QCOMPARE(findLatestDatabaseEntryByType(databases, "terrain"), nullptr);

    // By the file-name part, compared exactly; a directory names no file.
    const QVector<FirmwareManifestEntry> files = {package("AE", {}, "builds/efis.bin"), package("ED", {}, "ed.bin"),
                                                  package("FF", {}, "builds/")};
    QCOMPARE(findManifestEntryByFirmwareFileName(files, "/home/pilot/efis.bin"), &files[0]);
    QCOMPARE(findManifestEntryByFirmwareFileName(files, "C:\\Firmware\\ed.bin"), &files[1]);
    QCOMPARE(findManifestEntryByFirmwareFileName(files, "EFIS.bin"), nullptr);
    QCOMPARE(findManifestEntryByFirmwareFileName(files, "/home/pilot/"), nullptr);
}

// Asked once per run: later lookups take the memory copy, while a refresh or
// asking for the newest asks the server again. A full disk keeps the cached
// copy whole.
void ManifestTest::goodManifestReplacesStoredCopies()
{
    QCOMPARE(defaultManifestSources().manifest_url, QStringLiteral(EFIS_MANIFEST_URL));
    QCOMPARE(firmwareCacheDirectory(), QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/firmware");
    const QByteArray large = manifestNamed(QString(200000, QLatin1Char('x')));
    scratch_.memoryCopy() = manifestNamed("old");
    QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed("old")));
    scratch_.server().serve(kPath, large);
    QByteArray bytes;
    {
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.isActive() && loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    }
    QCOMPARE(bytes, large);
    QCOMPARE(readWholeFile(cachedManifestFile()), manifestNamed("old"));
    QCOMPARE(scratch_.server().requests().first().header("User-Agent"), QByteArray("Tarvex"));

    scratch_.server().serve(kPath, manifestNamed("newer"));
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, large);
    QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), nullptr, nullptr));
    QCOMPARE(scratch_.memoryCopy(), manifestNamed("newer"));
    QCOMPARE(readWholeFile(cachedManifestFile()), manifestNamed("newer"));
    QVERIFY(loadNewestDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(scratch_.server().requestCount(kPath), 3);
}

void ManifestTest::failedFetchKeepsStoredCopies_data()
{
    QTest::addColumn<QString>("server"); // the one that answers; the trusted one is asked unless named otherwise
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<QString>("message"); // %1 stands for the address fetched

    const auto answer = [](int status, const QByteArray& reason, const QByteArray& body,
                           ResponseEnding ending = ResponseEnding::Complete, qint64 announced_length = -1) {
        return TestHttpResponse{status, reason, body, {}, ending, announced_length};
    };
    const TestHttpResponse good = answer(200, "OK", manifestNamed("unseen"));
    const QString net = QStringLiteral("Network error fetching %1: ");
    const QString too_large = QStringLiteral("Download too large: %1 (more than 4194304 bytes)");
    QTest::newRow("not found") << "trusted" << answer(404, "Not Found", good.body)
                               << net + "Error transferring %1 - server replied: Not Found";
    QTest::newRow("partial content") << "trusted" << answer(206, "Partial Content", good.body)
                                     << net + "HTTP status 206";
    QTest::newRow("empty body") << "trusted" << answer(200, "OK", "") << "Downloaded file is empty: %1";
    QTest::newRow("login page") << "trusted" << answer(200, "OK", "<html>Sign in to the hotel network</html>")
                                << "Invalid manifest JSON: illegal value";
    QTest::newRow("stall after headers") << "trusted" << answer(200, "OK", good.body, ResponseEnding::StallAfterHeaders)
                                         << "Timed out fetching %1";
    QTest::newRow("closed mid-body") << "trusted" << answer(200, "OK", good.body, ResponseEnding::CloseMidBody)
                                     << net + "Connection closed";
    QTest::newRow("announced too large") << "trusted"
                                         << answer(200, "OK", good.body, ResponseEnding::StallAfterHeaders,
                                                   4 * 1024 * 1024 + 1)
                                         << too_large;
    QTest::newRow("too large, no length announced")
        << "trusted" << answer(200, "OK", QByteArray(1 << 20, 'x'), ResponseEnding::EndlessUnannounced) << too_large;
    QTest::newRow("redirect to plain http") << "redirect to plain" << good << net + "Insecure redirect";
    QTest::newRow("untrusted certificate")
        << "untrusted" << good << net + "SSL handshake failed: The certificate is self-signed, and untrusted";
    QTest::newRow("plain http address") << "plain" << good << "Refusing to fetch %1: not an HTTPS address";
    QTest::newRow("nobody listening") << "closed port" << good << net + "Connection refused";
}

// Whatever goes wrong, no stored copy changes and the cached one serves.
void ManifestTest::failedFetchKeepsStoredCopies()
{
    QFETCH(QString, server);
    QFETCH(TestHttpResponse, response);
    QFETCH(QString, message);

    TestHttpServer& answering = server == "trusted" ? scratch_.server()
                                : server == "untrusted" ? scratch_.untrustedServer() : scratch_.plainServer();
    answering.setResponse(kPath, response);
    if (server == "redirect to plain")
        scratch_.server().redirect(kPath, answering.url(kPath));
    else
        scratch_.manifest_url = server == "closed port" ? "https://127.0.0.1:1" + kPath : answering.url(kPath);
    QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed("stored")));

    QTest::ignoreMessage(QtDebugMsg, qPrintable(kUnavailable + QString(message).replace("%1", scratch_.manifest_url)));
    QByteArray bytes;
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(fetchTimeoutFor(QTest::currentDataTag())), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed("stored"));
    QCOMPARE(readWholeFile(cachedManifestFile()), manifestNamed("stored"));
}

// Local manifests are named by their folder in the scratch tree: the
// program is in install/bin, the working directory is work.
void ManifestTest::sourcesInOrder_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");

    const QStringList locals = {"install/bin/firmware", "install/firmware", "work/firmware"};
    QTest::newRow("network first") << QStringList{"network", "memory", "disk"} + locals << "network";
    QTest::newRow("memory next") << QStringList{"memory", "disk"} + locals << "memory";
    QTest::newRow("disk cache next") << QStringList{"disk"} + locals << "disk";
    QTest::newRow("beside the program") << locals << "install/bin/firmware";
    QTest::newRow("one level up") << locals.mid(1) << "install/firmware";
    QTest::newRow("working directory") << locals.mid(2) << "work/firmware";
    QTest::newRow("corrupt cache, a directory passed over")
        << QStringList{"corrupt disk", "install/bin/firmware/downloads_manifest.json", "work/firmware"}
        << "work/firmware";
}

void ManifestTest::sourcesInOrder()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);

    scratch_.server().serve("/moved", manifestNamed("network")); // reached by way of a redirect between HTTPS addresses
    for (const QString& source : present) {
        if (source == "network")
            scratch_.server().redirect(kPath, scratch_.server().url("/moved"));
        else if (source == "memory")
            scratch_.memoryCopy() = manifestNamed(source);
        else if (source.endsWith(".json")) // a directory that carries the manifest's name
            QVERIFY(QDir().mkpath(scratch_.scratchPath(source)));
        else
            QVERIFY(writeWholeFile(source.endsWith("disk") ? cachedManifestFile()
                                                           : scratch_.scratchPath(source + "/downloads_manifest.json"),
                                   source == "corrupt disk" ? "{\"firm" : manifestNamed(source)));
    }
    const QByteArray disk_before = readWholeFile(cachedManifestFile());
    if (expected != "network")
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Online downloads manifest unavailable: Network error"));
    QByteArray bytes;
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(expected));
    QCOMPARE(scratch_.memoryCopy(), bytes);
    // Only the server's copy is written to the cache; a local manifest never is.
    QCOMPARE(readWholeFile(cachedManifestFile()), expected == "network" ? bytes : disk_before);
}

// With nothing stored the server's failure is the reason, logged for each
// lookup; the server is not asked again in the run.
void ManifestTest::firmwareListForDevice()
{
    const QString message
        = QStringLiteral("Network error fetching %1: Error transferring %1 - server replied: Not Found")
              .arg(scratch_.manifest_url);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(kUnavailable + message));
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Firmware manifest unavailable: " + message));
    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, message);

    QVERIFY(writeWholeFile(scratch_.scratchPath("work/firmware/downloads_manifest.json"), manifestNamed("local")));
    QVERIFY(loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(entries.value(0).display_name, QStringLiteral("local"));

    // A stored manifest that lists only databases serves, but has no firmware list.
    scratch_.memoryCopy() = R"({"database_files": [{"db_type": "airport", "database_file": "airports.db"}]})";
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));
}

QTEST_GUILESS_MAIN(ManifestTest)
#include "tst_manifest_retrieval.moc"
