// Manifest retrieval against an HTTPS server on 127.0.0.1 with a test
// certificate: what is fetched, what is refused, and the order of the copies
// that stand in for the server, none of which a failed fetch may lose.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>
#include <QTcpServer>
#include <QUrl>
#include <QtTest>

#include "file_size_limit.h"
#include "firmware_manifest.h"
#include "manifest_scratch.h"

namespace {

const QString kManifestPath = QLatin1String(kTestManifestPath);

// A firmware manifest whose one package carries `name` as its product name,
// so each source's copy can be told apart.
QByteArray manifestNamed(const QString& name)
{
    return QStringLiteral(R"({"firmware_packages": [{"device_type": "AE", "display_name": "%1",)"
                          R"( "firmware_file": "efis.bin", "firmware_version": "1.4.0"}]})")
        .arg(name)
        .toUtf8();
}

QString jsonErrorText(const QByteArray& bytes)
{
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    return error.errorString();
}

} // namespace

class ManifestRetrievalTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cacheDirectoryIsPerUser();
    void addressIsTheOneTheBuildChose();
    void goodManifestRefreshesStoredCopies();
    void interruptedCacheWriteKeepsPreviousCopy();
    void requestCarriesOnlyOurUserAgent();
    void redirectBetweenHttpsAddressesIsFollowed();
    void failedFetchKeepsStoredCopies_data();
    void failedFetchKeepsStoredCopies();
    void sourcesInOrder_data();
    void sourcesInOrder();
    void emptyBodyWithNothingStored();
    void memoryCopyOutlivesDeletedCache();
    void silentServerIsWaitedForOnce();
    void prefetchFillsStoredCopies();
    void prefetchReportsWhyNothingWasFound();
    void firmwareListForDevice();
    void firmwareListForDeviceWhenNothingAnswers();
    void firmwareListFromFile();
    void localManifestLocations();

private:
    // The paths a local manifest may lie at, by the names the rows use.
    QString localManifestPath(const QString& place) const;
    void placeSource(const QString& source);
    QString arrangeFailure(const QString& behaviour);

    ManifestScratch scratch_;
};

void ManifestRetrievalTest::initTestCase()
{
    QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls")));
}

void ManifestRetrievalTest::init()
{
    QVERIFY(scratch_.reset());
}

void ManifestRetrievalTest::cleanup()
{
    scratch_.leave();
}

QString ManifestRetrievalTest::localManifestPath(const QString& place) const
{
    if (place == QLatin1String("local beside program"))
        return scratch_.applicationDir() + QStringLiteral("/firmware/downloads_manifest.json");
    if (place == QLatin1String("local one level up"))
        return scratch_.applicationDir() + QStringLiteral("/../firmware/downloads_manifest.json");
    return QDir::currentPath() + QStringLiteral("/firmware/downloads_manifest.json");
}

void ManifestRetrievalTest::placeSource(const QString& source)
{
    if (source == QLatin1String("network"))
        scratch_.server().serve(kManifestPath, manifestNamed(source));
    else if (source == QLatin1String("memory"))
        scratch_.memoryCopy() = manifestNamed(source);
    else if (source == QLatin1String("disk"))
        QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed(source)));
    else if (source == QLatin1String("corrupt disk"))
        QVERIFY(writeWholeFile(cachedManifestFile(), "{\"firmware_packages\": [{\"device_ty"));
    else if (source == QLatin1String("empty disk"))
        QVERIFY(writeWholeFile(cachedManifestFile(), QByteArray()));
    else
        QVERIFY(writeWholeFile(localManifestPath(source), manifestNamed(source)));
}

void ManifestRetrievalTest::cacheDirectoryIsPerUser()
{
    const QString directory = firmwareCacheDirectory();
    QCOMPARE(directory, QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware"));
    QVERIFY(directory.startsWith(scratch_.homePath() + QLatin1Char('/')));
    QVERIFY(QFileInfo(directory).isDir());
}

void ManifestRetrievalTest::addressIsTheOneTheBuildChose()
{
    QCOMPARE(firmwareManifestUrl(), QStringLiteral(EFIS_MANIFEST_URL));
    QCOMPARE(defaultManifestSources().manifest_url, firmwareManifestUrl());
}

void ManifestRetrievalTest::goodManifestRefreshesStoredCopies()
{
    scratch_.memoryCopy() = manifestNamed(QStringLiteral("old"));
    QVERIFY(writeWholeFile(cachedManifestFile(), manifestNamed(QStringLiteral("old"))));
    scratch_.server().serve(kManifestPath, manifestNamed(QStringLiteral("new")));

    QByteArray bytes;
    QString error = QStringLiteral("untouched");
    QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), &bytes, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("new")));
    QCOMPARE(scratch_.memoryCopy(), bytes);
    QCOMPARE(readWholeFile(cachedManifestFile()), bytes);
    QCOMPARE(scratch_.server().requestCount(kManifestPath), 1);
    QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), nullptr, nullptr));
}

// The disk fills up while the new manifest is cached: the old cached copy
// stays whole, and the new one still serves from memory.
void ManifestRetrievalTest::interruptedCacheWriteKeepsPreviousCopy()
{
    const QByteArray stored = manifestNamed(QStringLiteral("stored"));
    const QByteArray large = manifestNamed(QString(200000, QLatin1Char('x')));
    QVERIFY(writeWholeFile(cachedManifestFile(), stored));
    scratch_.server().serve(kManifestPath, large);

    QByteArray bytes;
    {
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.isActive());
        QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), &bytes, nullptr));
    }
    QCOMPARE(bytes, large);
    QCOMPARE(scratch_.memoryCopy(), large);
    QCOMPARE(readWholeFile(cachedManifestFile()), stored);
    QCOMPARE(QDir(firmwareCacheDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("downloads_manifest.json")}));
}

void ManifestRetrievalTest::requestCarriesOnlyOurUserAgent()
{
    scratch_.server().serve(kManifestPath, manifestNamed(QStringLiteral("network")));
    QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), nullptr, nullptr));

    QCOMPARE(scratch_.server().requests().size(), 1);
    const TestHttpRequest request = scratch_.server().requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.header("User-Agent"), QByteArray("Tarvex"));
    // Everything else is what the network library itself sends with any request.
    const QList<QByteArray> library_headers = {"host", "connection", "accept-encoding", "accept-language", "user-agent"};
    for (const auto& header : request.headers)
        QVERIFY2(library_headers.contains(header.first.toLower()), header.first.constData());
}

void ManifestRetrievalTest::redirectBetweenHttpsAddressesIsFollowed()
{
    scratch_.server().redirect(kManifestPath, scratch_.server().url(QStringLiteral("/moved/downloads_manifest.json")));
    scratch_.server().serve(QStringLiteral("/moved/downloads_manifest.json"), manifestNamed(QStringLiteral("moved")));

    QByteArray bytes;
    QVERIFY(refreshDownloadsManifestFromNetwork(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("moved")));
}

// Sets up one way for the fetch to fail; returns the address to fetch.
QString ManifestRetrievalTest::arrangeFailure(const QString& behaviour)
{
    const QByteArray good = manifestNamed(QStringLiteral("unseen"));
    TestHttpResponse response;
    response.body = good;
    if (behaviour == QLatin1String("not found")) {
        scratch_.server().answerStatus(kManifestPath, 404, "Not Found");
    } else if (behaviour == QLatin1String("server error")) {
        scratch_.server().answerStatus(kManifestPath, 500, "Internal Server Error");
    } else if (behaviour == QLatin1String("partial content")) {
        response.status = 206;
        response.reason = "Partial Content";
        scratch_.server().setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("empty body")) {
        scratch_.server().serve(kManifestPath, QByteArray());
    } else if (behaviour == QLatin1String("login page")) {
        scratch_.server().serve(kManifestPath, "<html>Sign in to the hotel network</html>");
    } else if (behaviour == QLatin1String("no lists")) {
        scratch_.server().serve(kManifestPath, "{\"notice\": \"maintenance\"}");
    } else if (behaviour == QLatin1String("stall after headers")) {
        response.ending = ResponseEnding::StallAfterHeaders;
        scratch_.server().setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("larger than a manifest can be")) {
        response.announced_length = 4 * 1024 * 1024 + 1;
        response.ending = ResponseEnding::StallAfterHeaders;
        scratch_.server().setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("closed mid-body")) {
        response.ending = ResponseEnding::CloseMidBody;
        scratch_.server().setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("redirect to plain http")) {
        scratch_.plainServer().serve(kManifestPath, good);
        scratch_.server().redirect(kManifestPath, scratch_.plainServer().url(kManifestPath));
    } else if (behaviour == QLatin1String("untrusted certificate")) {
        scratch_.untrustedServer().serve(kManifestPath, good);
        return scratch_.untrustedServer().url(kManifestPath);
    } else if (behaviour == QLatin1String("plain http address")) {
        scratch_.plainServer().serve(kManifestPath, good);
        return scratch_.plainServer().url(kManifestPath);
    } else if (behaviour == QLatin1String("nobody listening")) {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        return QStringLiteral("https://127.0.0.1:%1%2").arg(port).arg(kManifestPath);
    }
    return scratch_.server().url(kManifestPath);
}

void ManifestRetrievalTest::failedFetchKeepsStoredCopies_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("message"); // %1 stands for the address fetched

    const QString network_error = QStringLiteral("Network error fetching %1: ");
    QTest::newRow("not found") << "not found" << network_error + "Error transferring %1 - server replied: Not Found";
    QTest::newRow("server error") << "server error"
                                  << network_error + "Error transferring %1 - server replied: Internal Server Error";
    QTest::newRow("partial content") << "partial content" << network_error + "HTTP status 206";
    QTest::newRow("empty body") << "empty body" << "Downloaded file is empty: %1";
    QTest::newRow("login page") << "login page"
                                << "Invalid manifest JSON: " + jsonErrorText("<html>Sign in to the hotel network</html>");
    QTest::newRow("no lists") << "no lists" << "firmware_packages is empty";
    QTest::newRow("stall after headers") << "stall after headers" << "Timed out fetching %1";
    QTest::newRow("closed mid-body") << "closed mid-body" << network_error + "Connection closed";
    QTest::newRow("larger than a manifest can be") << "larger than a manifest can be"
                                                   << "Download too large: %1 (more than 4194304 bytes)";
    QTest::newRow("redirect to plain http") << "redirect to plain http" << network_error + "Insecure redirect";
    QTest::newRow("untrusted certificate")
        << "untrusted certificate" << network_error + "SSL handshake failed: The certificate is self-signed, and untrusted";
    QTest::newRow("plain http address") << "plain http address" << "Refusing to fetch %1: not an HTTPS address";
    QTest::newRow("nobody listening") << "nobody listening" << network_error + "Connection refused";
}

void ManifestRetrievalTest::failedFetchKeepsStoredCopies()
{
    QFETCH(QString, behaviour);
    QFETCH(QString, message);

    scratch_.manifest_url = arrangeFailure(behaviour);
    const QString expected = message.contains(QLatin1String("%1")) ? message.arg(scratch_.manifest_url) : message;
    const QByteArray stored = manifestNamed(QStringLiteral("stored"));
    scratch_.memoryCopy() = stored;
    QVERIFY(writeWholeFile(cachedManifestFile(), stored));

    QByteArray bytes = "unchanged";
    QString error;
    QVERIFY(!refreshDownloadsManifestFromNetwork(scratch_.sources(fetchTimeoutFor(behaviour)), &bytes, &error));
    QCOMPARE(error, expected);
    QCOMPARE(bytes, QByteArray("unchanged"));
    QCOMPARE(scratch_.memoryCopy(), stored);
    QCOMPARE(readWholeFile(cachedManifestFile()), stored);
    QCOMPARE(scratch_.plainServer().requests().size(), 0);
    QCOMPARE(scratch_.untrustedServer().requests().size(), 0);

    // The same failure on the way to the best source falls back to the memory copy.
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + expected));
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(fetchTimeoutFor(behaviour)), &bytes, &error));
    QCOMPARE(bytes, stored);
    QCOMPARE(readWholeFile(cachedManifestFile()), stored);
}

void ManifestRetrievalTest::sourcesInOrder_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected"); // empty: no source serves

    const QStringList locals = {QStringLiteral("local beside program"), QStringLiteral("local one level up"),
                                QStringLiteral("local in working dir")};
    QTest::newRow("network first") << QStringList({"network", "memory", "disk"}) + locals << "network";
    QTest::newRow("memory next") << QStringList({"memory", "disk"}) + locals << "memory";
    QTest::newRow("disk cache next") << QStringList({"disk"}) + locals << "disk";
    QTest::newRow("beside the program") << locals << "local beside program";
    QTest::newRow("one level up") << locals.mid(1) << "local one level up";
    QTest::newRow("working directory") << locals.mid(2) << "local in working dir";
    QTest::newRow("corrupt cache passed over") << QStringList({"corrupt disk", "local one level up"}) << "local one level up";
    QTest::newRow("empty cache passed over") << QStringList({"empty disk", "local in working dir"}) << "local in working dir";
    QTest::newRow("nothing") << QStringList() << QString();
}

void ManifestRetrievalTest::sourcesInOrder()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);

    for (const QString& source : present)
        placeSource(source);
    const QByteArray disk_before = readWholeFile(cachedManifestFile());
    if (!present.contains(QStringLiteral("network")))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                             "^Online downloads manifest unavailable: Network error fetching ")));

    QByteArray bytes;
    QString error;
    QCOMPARE(loadDownloadsManifestBytes(scratch_.sources(), &bytes, &error), !expected.isEmpty());
    if (expected.isEmpty()) {
        QVERIFY2(error.startsWith(QStringLiteral("Network error fetching %1: ").arg(scratch_.manifest_url)), qPrintable(error));
        QVERIFY(scratch_.memoryCopy().isEmpty());
        return;
    }
    QCOMPARE(bytes, manifestNamed(expected));
    QCOMPARE(scratch_.memoryCopy(), bytes);
    // Only the server's copy is written to the cache; a local manifest never is.
    QCOMPARE(readWholeFile(cachedManifestFile()), expected == QLatin1String("network") ? bytes : disk_before);
}

void ManifestRetrievalTest::emptyBodyWithNothingStored()
{
    scratch_.server().serve(kManifestPath, QByteArray());
    const QString message = QStringLiteral("Downloaded file is empty: %1").arg(scratch_.manifest_url);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + message));

    QByteArray bytes;
    QString error;
    QVERIFY(!loadDownloadsManifestBytes(scratch_.sources(), &bytes, &error));
    QCOMPARE(error, message);
    QVERIFY(!QFileInfo::exists(cachedManifestFile()));
    QVERIFY(!loadDownloadsManifestBytes(scratch_.sources(), nullptr, &error));
    QCOMPARE(error, QStringLiteral("bytes_out is null"));
}

// The server is asked once per run; later lookups take the memory copy,
// even when the cache file has gone meanwhile. Asking for the newest still
// asks the server.
void ManifestRetrievalTest::memoryCopyOutlivesDeletedCache()
{
    scratch_.server().serve(kManifestPath, manifestNamed(QStringLiteral("first")));
    QByteArray bytes;
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));

    scratch_.server().serve(kManifestPath, manifestNamed(QStringLiteral("second")));
    QVERIFY(QFile::remove(cachedManifestFile()));
    bytes.clear();
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("first")));
    QCOMPARE(scratch_.server().requestCount(kManifestPath), 1);

    QVERIFY(loadNewestDownloadsManifestBytes(scratch_.sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("second")));
    QCOMPARE(scratch_.server().requestCount(kManifestPath), 2);
}

// A server that accepts and never answers costs one time-out per run; the
// second lookup answers from the local manifest at once, or with the first
// lookup's reason.
void ManifestRetrievalTest::silentServerIsWaitedForOnce()
{
    scratch_.manifest_url = scratch_.silentUrl();
    const QString timed_out = QStringLiteral("Timed out fetching %1").arg(scratch_.manifest_url);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + timed_out));
    QByteArray bytes;
    QString error;
    QVERIFY(!loadDownloadsManifestBytes(scratch_.sources(ManifestScratch::kStallTimeoutMs), &bytes, &error));
    QCOMPARE(error, timed_out);

    error.clear();
    QVERIFY(!loadDownloadsManifestBytes(scratch_.sources(ManifestScratch::kGenerousTimeoutMs), &bytes, &error));
    QCOMPARE(error, timed_out);
    placeSource(QStringLiteral("local beside program"));
    QVERIFY(loadDownloadsManifestBytes(scratch_.sources(ManifestScratch::kGenerousTimeoutMs), &bytes, &error));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("local beside program")));
}

void ManifestRetrievalTest::prefetchFillsStoredCopies()
{
    scratch_.server().serve(kManifestPath, manifestNamed(QStringLiteral("prefetched")));
    QString error = QStringLiteral("untouched");
    QVERIFY(prefetchDownloadsManifest(scratch_.sources(), &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(scratch_.memoryCopy(), manifestNamed(QStringLiteral("prefetched")));
    QCOMPARE(readWholeFile(cachedManifestFile()), scratch_.memoryCopy());
}

void ManifestRetrievalTest::prefetchReportsWhyNothingWasFound()
{
    scratch_.server().answerStatus(kManifestPath, 404, "Not Found");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    QString error;
    QVERIFY(!prefetchDownloadsManifest(scratch_.sources(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Network error fetching %1: ").arg(scratch_.manifest_url)), qPrintable(error));
}

void ManifestRetrievalTest::firmwareListForDevice()
{
    placeSource(QStringLiteral("local one level up"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    QVector<FirmwareManifestEntry> entries;
    QVERIFY(loadFirmwareManifestForDevice(scratch_.sources(), nullptr, &entries));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).display_name, QStringLiteral("local one level up"));

    // A stored manifest that lists only databases serves, but has no firmware list.
    scratch_.memoryCopy() = R"({"database_files": [{"db_type": "airport", "database_file": "airports.db"}]})";
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));
}

void ManifestRetrievalTest::firmwareListForDeviceWhenNothingAnswers()
{
    scratch_.server().answerStatus(kManifestPath, 404, "Not Found");
    const QString message = QStringLiteral("Network error fetching %1: Error transferring %1 - server replied: Not Found")
                                .arg(scratch_.manifest_url);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + message));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Firmware manifest unavailable: ") + message));

    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(scratch_.sources(), &error, &entries));
    QCOMPARE(error, message);
}

void ManifestRetrievalTest::firmwareListFromFile()
{
    const QString path = scratch_.scratchPath(QStringLiteral("downloads_manifest.json"));
    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(error, QStringLiteral("Could not open manifest: %1").arg(path));

    QVERIFY(writeWholeFile(path, "{\"firmware_packages\": []}"));
    QVERIFY(!loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));

    QVERIFY(writeWholeFile(path, manifestNamed(QStringLiteral("file"))));
    QVERIFY(loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(entries.at(0).display_name, QStringLiteral("file"));
}

void ManifestRetrievalTest::localManifestLocations()
{
    QCOMPARE(resolveFirmwareManifestPath(scratch_.applicationDir()), QString());
    QCOMPARE(firmwareBundleDirectory(scratch_.applicationDir()), scratch_.applicationDir() + QStringLiteral("/firmware"));

    // A directory that happens to carry the manifest's name is no manifest.
    QVERIFY(QDir().mkpath(localManifestPath(QStringLiteral("local beside program"))));
    placeSource(QStringLiteral("local one level up"));
    placeSource(QStringLiteral("local in working dir"));
    const QString expected = localManifestPath(QStringLiteral("local one level up"));
    QCOMPARE(resolveFirmwareManifestPath(scratch_.applicationDir()), expected);
    QCOMPARE(QDir(firmwareBundleDirectory(scratch_.applicationDir())).canonicalPath(),
             QDir(scratch_.scratchPath(QStringLiteral("install/firmware"))).canonicalPath());
}

QTEST_GUILESS_MAIN(ManifestRetrievalTest)
#include "tst_manifest_retrieval.moc"
