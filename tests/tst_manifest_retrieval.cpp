// Manifest retrieval from an HTTPS server on 127.0.0.1 with a test
// certificate: what is fetched, what is refused, and the order of the copies
// that stand in for the server, none of which a failed fetch may lose.

#include <QtTest>

#include "file_size_limit.h"
#include "manifest_scratch.h"

namespace {

const QString kPath = QLatin1String(kTestManifestPath);
const QString kUnavailable = QStringLiteral("Online downloads manifest unavailable: ");

// A firmware manifest whose one package carries `name` as its product name,
// so each source's copy can be told apart.
QByteArray manifestNamed(const QString& name)
{
    return QStringLiteral(R"({"firmware_packages": [{"device_type": "AE", "display_name": "%1",)"
                          R"( "firmware_file": "efis.bin", "firmware_version": "1.4.0"}]})")
        .arg(name)
        .toUtf8();
}

} // namespace

Q_DECLARE_METATYPE(TestHttpResponse)

class ManifestRetrievalTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init() { QVERIFY(scratch_.reset()); }
    void cleanup() { scratch_.leave(); }

    void fixedPlaces();
    void goodManifestReplacesStoredCopies();
    void failedCacheWriteKeepsPreviousCopy();
    void failedFetchKeepsStoredCopies_data();
    void failedFetchKeepsStoredCopies();
    void sourcesInOrder_data();
    void sourcesInOrder();
    void firmwareListForDevice();

private:
    ManifestScratch scratch_;
};

void ManifestRetrievalTest::fixedPlaces()
{
    QCOMPARE(firmwareManifestUrl(), QStringLiteral(EFIS_MANIFEST_URL));
    QCOMPARE(defaultManifestSources().manifest_url, firmwareManifestUrl());
    QCOMPARE(firmwareCacheDirectory(), QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/firmware");
    QVERIFY(QFileInfo(firmwareCacheDirectory()).isDir());
}

// Asked once per run: later lookups take the memory copy, while asking for
// the newest asks the server again.
void ManifestRetrievalTest::goodManifestReplacesStoredCopies()
{
    scratch_.memoryCopy() = manifestNamed("old");
    QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed("old")));
    scratch_.server().serve(kPath, manifestNamed("new"));

    QByteArray bytes;
    QString error = QStringLiteral("untouched");
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(bytes, manifestNamed("new"));
    QCOMPARE(scratch_.memoryCopy(), bytes);
    QCOMPARE(readWholeFile(cachedManifestFile()), bytes);
    QCOMPARE(scratch_.server().requests().first().header("User-Agent"), QByteArray("Tarvex"));

    scratch_.server().serve(kPath, manifestNamed("newer"));
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed("new"));
    QVERIFY(loadNewestDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed("newer"));
    QCOMPARE(scratch_.server().requestCount(kPath), 2);
}

// The disk fills up while the new manifest is cached: the old cached copy
// stays whole, and the new one still serves from memory.
void ManifestRetrievalTest::failedCacheWriteKeepsPreviousCopy()
{
    QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed("stored")));
    scratch_.server().serve(kPath, manifestNamed(QString(200000, QLatin1Char('x'))));
    {
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.isActive() && refreshDownloadsManifestFromNetwork(scratch_.sources(), nullptr, nullptr));
    }
    QCOMPARE(scratch_.memoryCopy(), manifestNamed(QString(200000, QLatin1Char('x'))));
    QCOMPARE(QDir(firmwareCacheDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"downloads_manifest.json"}));
    QCOMPARE(readWholeFile(cachedManifestFile()), manifestNamed("stored"));
}

void ManifestRetrievalTest::failedFetchKeepsStoredCopies_data()
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
    QTest::newRow("partial content") << "trusted" << answer(206, "Partial Content", good.body) << net + "HTTP status 206";
    QTest::newRow("empty body") << "trusted" << answer(200, "OK", "") << "Downloaded file is empty: %1";
    QTest::newRow("login page") << "trusted" << answer(200, "OK", "<html>Sign in to the hotel network</html>")
                                << "Invalid manifest JSON: illegal value";
    QTest::newRow("stall after headers") << "trusted" << answer(200, "OK", good.body, ResponseEnding::StallAfterHeaders)
                                         << "Timed out fetching %1";
    QTest::newRow("closed mid-body") << "trusted" << answer(200, "OK", good.body, ResponseEnding::CloseMidBody)
                                     << net + "Connection closed";
    QTest::newRow("announced too large")
        << "trusted" << answer(200, "OK", good.body, ResponseEnding::StallAfterHeaders, 4 * 1024 * 1024 + 1) << too_large;
    QTest::newRow("too large, no length announced")
        << "trusted" << answer(200, "OK", manifestNamed(QString(4 << 20, 'x')), ResponseEnding::CloseUnannounced) << too_large;
    QTest::newRow("redirect to plain http") << "redirect to plain" << good << net + "Insecure redirect";
    QTest::newRow("untrusted certificate")
        << "untrusted" << good << net + "SSL handshake failed: The certificate is self-signed, and untrusted";
    QTest::newRow("plain http address") << "plain" << good << "Refusing to fetch %1: not an HTTPS address";
    QTest::newRow("nobody listening") << "closed port" << good << net + "Connection refused";
}

// Whatever goes wrong, no stored copy changes and the cached one serves.
void ManifestRetrievalTest::failedFetchKeepsStoredCopies()
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
    const QByteArray stored = manifestNamed("stored");
    QVERIFY(writeWholeFile(cachedManifestFile(), stored));

    QTest::ignoreMessage(QtDebugMsg, qPrintable(kUnavailable + QString(message).replace("%1", scratch_.manifest_url)));
    QByteArray bytes;
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(fetchTimeoutFor(QTest::currentDataTag())), &bytes, nullptr));
    QCOMPARE(bytes, stored);
    QCOMPARE(scratch_.memoryCopy(), stored);
    QCOMPARE(readWholeFile(cachedManifestFile()), stored);
    QCOMPARE(scratch_.plainServer().requests().size() + scratch_.untrustedServer().requests().size(), 0);
}

// Local manifests are named by their folder in the scratch tree: the
// program is in install/bin, the working directory is work.
void ManifestRetrievalTest::sourcesInOrder_data()
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
        << QStringList{"corrupt disk", "install/bin/firmware/downloads_manifest.json", "work/firmware"} << "work/firmware";
}

void ManifestRetrievalTest::sourcesInOrder()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);

    for (const QString& source : present) {
        const QString path = source.endsWith("disk") ? cachedManifestFile() : scratch_.scratchPath(source + "/downloads_manifest.json");
        if (source == "network") { // by way of a redirect between HTTPS addresses
            scratch_.server().redirect(kPath, scratch_.server().url("/moved"));
            scratch_.server().serve("/moved", manifestNamed(source));
        } else if (source == "memory") {
            scratch_.memoryCopy() = manifestNamed(source);
        } else {
            QVERIFY(source.endsWith(".json") ? QDir().mkpath(path)
                                             : writeWholeFile(path, source == "corrupt disk" ? "{\"firm" : manifestNamed(source)));
        }
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
void ManifestRetrievalTest::firmwareListForDevice()
{
    const QString message =
        QStringLiteral("Network error fetching %1: Error transferring %1 - server replied: Not Found").arg(scratch_.manifest_url);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(kUnavailable + message));
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Firmware manifest unavailable: " + message));
    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, message);

    QVERIFY(writeWholeFile(scratch_.scratchPath("work/firmware/downloads_manifest.json"), manifestNamed("local")));
    QVERIFY(loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(entries.value(0).display_name, QStringLiteral("local"));
    QCOMPARE(scratch_.server().requestCount(kPath), 1);

    // A stored manifest that lists only databases serves, but has no firmware list.
    scratch_.memoryCopy() = R"({"database_files": [{"db_type": "airport", "database_file": "airports.db"}]})";
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));
}

QTEST_GUILESS_MAIN(ManifestRetrievalTest)
#include "tst_manifest_retrieval.moc"
