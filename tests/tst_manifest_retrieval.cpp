// Manifest retrieval against an HTTPS server on 127.0.0.1 with a test
// certificate: what is fetched, what is refused, and the order of the copies
// that stand in for the server, none of which a failed fetch may lose.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>

#include "firmware_manifest.h"
#include "scratch_home.h"
#include "test_http_server.h"

namespace {

const QString kManifestPath = QStringLiteral("/firmware/downloads_manifest.json");
// Loopback answers in milliseconds; this only bounds a broken run.
const int kGenerousTimeoutMs = 20000;
// Long enough for any loopback answer, short enough that a stalled server
// does not hold the suite for a minute.
const int kStallTimeoutMs = 1500;

QString tlsFile(const char* name)
{
    return QStringLiteral(EFIS_TEST_DATA_DIR "/tls/") + QLatin1String(name);
}

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

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString cachedManifestFile()
{
    return firmwareCacheDirectory() + QStringLiteral("/downloads_manifest.json");
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
    void defaultAddressPointsAtNobodyElse();
    void goodManifestRefreshesStoredCopies();
    void requestCarriesOnlyOurUserAgent();
    void redirectBetweenHttpsAddressesIsFollowed();
    void failedFetchKeepsStoredCopies_data();
    void failedFetchKeepsStoredCopies();
    void sourcesInOrder_data();
    void sourcesInOrder();
    void emptyBodyWithNothingStored();
    void memoryCopyOutlivesDeletedCache();
    void prefetchFillsStoredCopies();
    void prefetchReportsWhyNothingWasFound();
    void firmwareListForDevice();
    void firmwareListForDeviceWhenNothingAnswers();
    void firmwareListFromFile();
    void localManifestLocations();

private:
    ManifestSources sources(int timeout_ms = kGenerousTimeoutMs);
    // The paths a local manifest may lie at, by the names the rows use.
    QString localManifestPath(const QString& place) const;
    void placeSource(const QString& source);
    QString arrangeFailure(const QString& behaviour);

    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<TestHttpServer> untrusted_server_;
    std::unique_ptr<TestHttpServer> plain_server_;
    std::unique_ptr<QTemporaryDir> scratch_;
    QString application_dir_;
    QString original_working_dir_;
    QByteArray memory_copy_;
    QString manifest_url_;
};

void ManifestRetrievalTest::initTestCase()
{
    home_.reset(new ScratchHome);
    QVERIFY(home_->isValid());
    QVERIFY(trustCertificateAuthority(tlsFile("ca.pem")));
    server_.reset(new TestHttpServer(tlsFile("server.pem"), tlsFile("server.key")));
    untrusted_server_.reset(new TestHttpServer(tlsFile("untrusted.pem"), tlsFile("untrusted.key")));
    plain_server_.reset(new TestHttpServer);
    QVERIFY(server_->listen());
    QVERIFY(untrusted_server_->listen());
    QVERIFY(plain_server_->listen());
    original_working_dir_ = QDir::currentPath();
}

void ManifestRetrievalTest::init()
{
    server_->clear();
    untrusted_server_->clear();
    plain_server_->clear();
    memory_copy_.clear();
    QVERIFY(QDir(firmwareCacheDirectory()).removeRecursively());
    scratch_.reset(new QTemporaryDir);
    QVERIFY(scratch_->isValid());
    application_dir_ = scratch_->filePath(QStringLiteral("install/bin"));
    QVERIFY(QDir().mkpath(application_dir_));
    QVERIFY(QDir().mkpath(scratch_->filePath(QStringLiteral("work"))));
    QVERIFY(QDir::setCurrent(scratch_->filePath(QStringLiteral("work"))));
    manifest_url_ = server_->url(kManifestPath);
}

void ManifestRetrievalTest::cleanup()
{
    QDir::setCurrent(original_working_dir_);
}

ManifestSources ManifestRetrievalTest::sources(int timeout_ms)
{
    return {manifest_url_, timeout_ms, application_dir_, &memory_copy_};
}

QString ManifestRetrievalTest::localManifestPath(const QString& place) const
{
    if (place == QLatin1String("local beside program"))
        return application_dir_ + QStringLiteral("/firmware/downloads_manifest.json");
    if (place == QLatin1String("local one level up"))
        return application_dir_ + QStringLiteral("/../firmware/downloads_manifest.json");
    return QDir::currentPath() + QStringLiteral("/firmware/downloads_manifest.json");
}

void ManifestRetrievalTest::placeSource(const QString& source)
{
    if (source == QLatin1String("network"))
        server_->serve(kManifestPath, manifestNamed(source));
    else if (source == QLatin1String("memory"))
        memory_copy_ = manifestNamed(source);
    else if (source == QLatin1String("disk"))
        QVERIFY(writeFile(cachedManifestFile(), manifestNamed(source)));
    else if (source == QLatin1String("corrupt disk"))
        QVERIFY(writeFile(cachedManifestFile(), "{\"firmware_packages\": [{\"device_ty"));
    else if (source == QLatin1String("empty disk"))
        QVERIFY(writeFile(cachedManifestFile(), QByteArray()));
    else
        QVERIFY(writeFile(localManifestPath(source), manifestNamed(source)));
}

void ManifestRetrievalTest::cacheDirectoryIsPerUser()
{
    const QString directory = firmwareCacheDirectory();
    QCOMPARE(directory, QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware"));
    QVERIFY(directory.startsWith(home_->path() + QLatin1Char('/')));
    QVERIFY(QFileInfo(directory).isDir());
}

void ManifestRetrievalTest::defaultAddressPointsAtNobodyElse()
{
    const QUrl address(firmwareManifestUrl());
    QCOMPARE(address.scheme(), QStringLiteral("https"));
    QVERIFY(address.host().endsWith(QLatin1String(".invalid")));
    QCOMPARE(address.path(), kManifestPath);
}

void ManifestRetrievalTest::goodManifestRefreshesStoredCopies()
{
    memory_copy_ = manifestNamed(QStringLiteral("old"));
    QVERIFY(writeFile(cachedManifestFile(), manifestNamed(QStringLiteral("old"))));
    server_->serve(kManifestPath, manifestNamed(QStringLiteral("new")));

    QByteArray bytes;
    QString error = QStringLiteral("untouched");
    QVERIFY(refreshDownloadsManifestFromNetwork(sources(), &bytes, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("new")));
    QCOMPARE(memory_copy_, bytes);
    QCOMPARE(readFile(cachedManifestFile()), bytes);
    QCOMPARE(server_->requestCount(kManifestPath), 1);
    QVERIFY(refreshDownloadsManifestFromNetwork(sources(), nullptr, nullptr));
}

void ManifestRetrievalTest::requestCarriesOnlyOurUserAgent()
{
    server_->serve(kManifestPath, manifestNamed(QStringLiteral("network")));
    QVERIFY(refreshDownloadsManifestFromNetwork(sources(), nullptr, nullptr));

    QCOMPARE(server_->requests().size(), 1);
    const TestHttpRequest request = server_->requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.header("User-Agent"), QByteArray("Tarvex"));
    // Everything else is what the network library itself sends with any request.
    const QList<QByteArray> library_headers = {"host", "connection", "accept-encoding", "accept-language", "user-agent"};
    for (const auto& header : request.headers)
        QVERIFY2(library_headers.contains(header.first.toLower()), header.first.constData());
}

void ManifestRetrievalTest::redirectBetweenHttpsAddressesIsFollowed()
{
    server_->redirect(kManifestPath, server_->url(QStringLiteral("/moved/downloads_manifest.json")));
    server_->serve(QStringLiteral("/moved/downloads_manifest.json"), manifestNamed(QStringLiteral("moved")));

    QByteArray bytes;
    QVERIFY(refreshDownloadsManifestFromNetwork(sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("moved")));
}

// Sets up one way for the fetch to fail; returns the address to fetch.
QString ManifestRetrievalTest::arrangeFailure(const QString& behaviour)
{
    const QByteArray good = manifestNamed(QStringLiteral("unseen"));
    TestHttpResponse response;
    response.body = good;
    if (behaviour == QLatin1String("not found")) {
        server_->answerStatus(kManifestPath, 404, "Not Found");
    } else if (behaviour == QLatin1String("server error")) {
        server_->answerStatus(kManifestPath, 500, "Internal Server Error");
    } else if (behaviour == QLatin1String("partial content")) {
        response.status = 206;
        response.reason = "Partial Content";
        server_->setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("empty body")) {
        server_->serve(kManifestPath, QByteArray());
    } else if (behaviour == QLatin1String("login page")) {
        server_->serve(kManifestPath, "<html>Sign in to the hotel network</html>");
    } else if (behaviour == QLatin1String("no lists")) {
        server_->serve(kManifestPath, "{\"notice\": \"maintenance\"}");
    } else if (behaviour == QLatin1String("stall after headers")) {
        response.ending = ResponseEnding::StallAfterHeaders;
        server_->setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("closed mid-body")) {
        response.ending = ResponseEnding::CloseMidBody;
        server_->setResponse(kManifestPath, response);
    } else if (behaviour == QLatin1String("redirect to plain http")) {
        plain_server_->serve(kManifestPath, good);
        server_->redirect(kManifestPath, plain_server_->url(kManifestPath));
    } else if (behaviour == QLatin1String("untrusted certificate")) {
        untrusted_server_->serve(kManifestPath, good);
        return untrusted_server_->url(kManifestPath);
    } else if (behaviour == QLatin1String("plain http address")) {
        plain_server_->serve(kManifestPath, good);
        return plain_server_->url(kManifestPath);
    } else if (behaviour == QLatin1String("nobody listening")) {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        return QStringLiteral("https://127.0.0.1:%1%2").arg(port).arg(kManifestPath);
    }
    return server_->url(kManifestPath);
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

    manifest_url_ = arrangeFailure(behaviour);
    const QString expected = message.contains(QLatin1String("%1")) ? message.arg(manifest_url_) : message;
    const QByteArray stored = manifestNamed(QStringLiteral("stored"));
    memory_copy_ = stored;
    QVERIFY(writeFile(cachedManifestFile(), stored));

    QByteArray bytes = "unchanged";
    QString error;
    QVERIFY(!refreshDownloadsManifestFromNetwork(sources(kStallTimeoutMs), &bytes, &error));
    QCOMPARE(error, expected);
    QCOMPARE(bytes, QByteArray("unchanged"));
    QCOMPARE(memory_copy_, stored);
    QCOMPARE(readFile(cachedManifestFile()), stored);
    QCOMPARE(plain_server_->requests().size(), 0);
    QCOMPARE(untrusted_server_->requests().size(), 0);

    // The same failure on the way to the best source falls back to the memory copy.
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + expected));
    QVERIFY(loadDownloadsManifestBytes(sources(kStallTimeoutMs), &bytes, &error));
    QCOMPARE(bytes, stored);
    QCOMPARE(readFile(cachedManifestFile()), stored);
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
    const QByteArray disk_before = readFile(cachedManifestFile());
    if (!present.contains(QStringLiteral("network")))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                             "^Online downloads manifest unavailable: Network error fetching ")));

    QByteArray bytes;
    QString error;
    QCOMPARE(loadDownloadsManifestBytes(sources(), &bytes, &error), !expected.isEmpty());
    if (expected.isEmpty()) {
        QVERIFY2(error.startsWith(QStringLiteral("Network error fetching %1: ").arg(manifest_url_)), qPrintable(error));
        QVERIFY(memory_copy_.isEmpty());
        return;
    }
    QCOMPARE(bytes, manifestNamed(expected));
    QCOMPARE(memory_copy_, bytes);
    // Only the server's copy is written to the cache; a local manifest never is.
    QCOMPARE(readFile(cachedManifestFile()), expected == QLatin1String("network") ? bytes : disk_before);
}

void ManifestRetrievalTest::emptyBodyWithNothingStored()
{
    server_->serve(kManifestPath, QByteArray());
    const QString message = QStringLiteral("Downloaded file is empty: %1").arg(manifest_url_);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + message));

    QByteArray bytes;
    QString error;
    QVERIFY(!loadDownloadsManifestBytes(sources(), &bytes, &error));
    QCOMPARE(error, message);
    QVERIFY(!QFileInfo::exists(cachedManifestFile()));
    QVERIFY(!loadDownloadsManifestBytes(sources(), nullptr, &error));
    QCOMPARE(error, QStringLiteral("bytes_out is null"));
}

void ManifestRetrievalTest::memoryCopyOutlivesDeletedCache()
{
    server_->serve(kManifestPath, manifestNamed(QStringLiteral("first")));
    QByteArray bytes;
    QVERIFY(loadDownloadsManifestBytes(sources(), &bytes, nullptr));

    server_->answerStatus(kManifestPath, 404, "Not Found");
    QVERIFY(QFile::remove(cachedManifestFile()));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    bytes.clear();
    QVERIFY(loadDownloadsManifestBytes(sources(), &bytes, nullptr));
    QCOMPARE(bytes, manifestNamed(QStringLiteral("first")));
}

void ManifestRetrievalTest::prefetchFillsStoredCopies()
{
    server_->serve(kManifestPath, manifestNamed(QStringLiteral("prefetched")));
    QString error = QStringLiteral("untouched");
    QVERIFY(prefetchDownloadsManifest(sources(), &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(memory_copy_, manifestNamed(QStringLiteral("prefetched")));
    QCOMPARE(readFile(cachedManifestFile()), memory_copy_);
}

void ManifestRetrievalTest::prefetchReportsWhyNothingWasFound()
{
    server_->answerStatus(kManifestPath, 404, "Not Found");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    QString error;
    QVERIFY(!prefetchDownloadsManifest(sources(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Network error fetching %1: ").arg(manifest_url_)), qPrintable(error));
}

void ManifestRetrievalTest::firmwareListForDevice()
{
    placeSource(QStringLiteral("local one level up"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    QVector<FirmwareManifestEntry> entries;
    QVERIFY(loadFirmwareManifestForDevice(sources(), nullptr, &entries));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).display_name, QStringLiteral("local one level up"));

    // A stored manifest that lists only databases serves, but has no firmware list.
    memory_copy_ = R"({"database_files": [{"db_type": "airport", "database_file": "airports.db"}]})";
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Online downloads manifest unavailable: ")));
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(sources(), &error, &entries));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));
}

void ManifestRetrievalTest::firmwareListForDeviceWhenNothingAnswers()
{
    server_->answerStatus(kManifestPath, 404, "Not Found");
    const QString message = QStringLiteral("Network error fetching %1: Error transferring %1 - server replied: Not Found")
                                .arg(manifest_url_);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Online downloads manifest unavailable: ") + message));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Firmware manifest unavailable: ") + message));

    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifestForDevice(sources(), &error, &entries));
    QCOMPARE(error, message);
}

void ManifestRetrievalTest::firmwareListFromFile()
{
    const QString path = scratch_->filePath(QStringLiteral("downloads_manifest.json"));
    QVector<FirmwareManifestEntry> entries;
    QString error;
    QVERIFY(!loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(error, QStringLiteral("Could not open manifest: %1").arg(path));

    QVERIFY(writeFile(path, "{\"firmware_packages\": []}"));
    QVERIFY(!loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));

    QVERIFY(writeFile(path, manifestNamed(QStringLiteral("file"))));
    QVERIFY(loadFirmwareManifest(path, &entries, &error));
    QCOMPARE(entries.at(0).display_name, QStringLiteral("file"));
}

void ManifestRetrievalTest::localManifestLocations()
{
    QCOMPARE(resolveFirmwareManifestPath(application_dir_), QString());
    QCOMPARE(firmwareBundleDirectory(application_dir_), application_dir_ + QStringLiteral("/firmware"));

    // A directory that happens to carry the manifest's name is no manifest.
    QVERIFY(QDir().mkpath(localManifestPath(QStringLiteral("local beside program"))));
    placeSource(QStringLiteral("local one level up"));
    placeSource(QStringLiteral("local in working dir"));
    const QString expected = localManifestPath(QStringLiteral("local one level up"));
    QCOMPARE(resolveFirmwareManifestPath(application_dir_), expected);
    QCOMPARE(QDir(firmwareBundleDirectory(application_dir_)).canonicalPath(),
             QDir(scratch_->filePath(QStringLiteral("install/firmware"))).canonicalPath());
}

QTEST_GUILESS_MAIN(ManifestRetrievalTest)
#include "tst_manifest_retrieval.moc"
