// The per-user package cache: SHA-256 of files, the digest comparison, and
// getting firmware and database packages onto the disk from the cache, a
// loopback HTTPS server or the local firmware folder, without ever leaving a
// bad or partial file under a package's name.

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include "file_size_limit.h"
#include "firmware_manifest.h"
#include "manifest_scratch.h"

namespace {

const QString kPackagePath = QStringLiteral("/packages/efis.bin");
const QString kUntouched = QStringLiteral("untouched");

QByteArray packageBytes(const QByteArray& label)
{
    return label.repeated(5000);
}

// Computed in memory by the hash library itself, apart from the streamed
// file hashing under test.
QString sha256Of(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

FirmwareManifestEntry firmwareEntry(const QString& file, const QString& url, const QString& sha256)
{
    FirmwareManifestEntry entry;
    entry.device_type = QStringLiteral("AE");
    entry.firmware_file = file;
    entry.download_url = url;
    entry.sha256 = sha256;
    return entry;
}

DatabaseManifestEntry databaseEntry(const QString& file, const QString& url, const QString& sha256)
{
    DatabaseManifestEntry entry;
    entry.db_type = QStringLiteral("airport");
    entry.database_file = file;
    entry.download_url = url;
    entry.sha256 = sha256;
    return entry;
}

QString mismatchMessage(const QString& expected, const QString& actual)
{
    return QStringLiteral("Firmware file SHA-256 does not match the manifest.\nExpected: %1\nActual:   %2")
        .arg(expected, actual);
}

// Every entry of the cache directory, hidden ones (such as half-written
// temporary files) included.
QStringList cacheListing()
{
    return QDir(firmwareCacheDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString cachePath(const QString& name)
{
    return firmwareCacheDirectory() + QLatin1Char('/') + name;
}

} // namespace

class PackageCacheTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sha256OfFile_data();
    void sha256OfFile();
    void sha256Failures();
    void digestComparison_data();
    void digestComparison();
    void digestComparisonOfMissingFile();

    void downloadedOnceThenReused();
    void cachedPackageWithMatchingDigestIsReused();
    void stalePackageIsDownloadedAgain();
    void failedDownloadLeavesNothing_data();
    void failedDownloadLeavesNothing();
    void interruptedWriteLeavesNothing();
    void quitDuringDownloadLeavesNothing();
    void entryWithoutDigestTakesCachedFileUnread();
    void emptyCachedFileIsNeverTaken();
    void packageFromLocalFolder();
    void packageFromFolderOfLocalManifest();
    void localPackageIsHeldToDigest();
    void packageNowhere();
    void downloadAddressWinsOverLocalFolder();
    void unusableNamesAreRefused_data();
    void unusableNamesAreRefused();
    void directoriesInNameStayOutOfTheWay();
    void nullOutputIsRefused();
    void databasePackages();

private:
    bool ensureFirmware(const FirmwareManifestEntry& entry, QString* path, QString* error,
                        int timeout_ms = ManifestScratch::kGenerousTimeoutMs);

    ManifestScratch scratch_;
};

void PackageCacheTest::initTestCase()
{
    QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls")));
}

void PackageCacheTest::init()
{
    QVERIFY(scratch_.reset());
}

void PackageCacheTest::cleanup()
{
    scratch_.leave();
}

bool PackageCacheTest::ensureFirmware(const FirmwareManifestEntry& entry, QString* path, QString* error,
                                      int timeout_ms)
{
    return ensureFirmwarePackageOnDisk(scratch_.sources(timeout_ms), entry, path, error);
}

void PackageCacheTest::sha256OfFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("digest");

    QTest::newRow("empty") << QByteArray() << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    QTest::newRow("abc") << QByteArray("abc") << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    QTest::newRow("a million a, many pieces") << QByteArray(1000000, 'a')
                                              << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
}

void PackageCacheTest::sha256OfFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, digest);

    const QString path = scratch_.scratchPath(QStringLiteral("package.bin"));
    QVERIFY(writeWholeFile(path, content));
    QString hex;
    QString error = kUntouched;
    QVERIFY(sha256HexOfFile(path, &hex, &error));
    QCOMPARE(hex, digest);
    QCOMPARE(error, kUntouched);
    QVERIFY(sha256HexOfFile(path, nullptr, nullptr));
}

void PackageCacheTest::sha256Failures()
{
    QString hex = kUntouched;
    QString error;
    const QString missing = scratch_.scratchPath(QStringLiteral("missing.bin"));
    QVERIFY(!sha256HexOfFile(missing, &hex, &error));
    QCOMPARE(error, QStringLiteral("Could not read firmware file: %1").arg(missing));

    const QString directory = scratch_.scratchPath(QStringLiteral("work"));
    QVERIFY(!sha256HexOfFile(directory, &hex, &error));
    QCOMPARE(error, QStringLiteral("Could not read firmware file: %1").arg(directory));

    // Opens, but the first read fails: a read error while hashing.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    QVERIFY(!sha256HexOfFile(unreadable, &hex, &error));
    QCOMPARE(error, QStringLiteral("Failed to hash firmware file: %1").arg(unreadable));
    QCOMPARE(hex, kUntouched);
}

void PackageCacheTest::digestComparison_data()
{
    const QByteArray content = "firmware image";
    const QString digest = sha256Of(content);

    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("matches");

    QTest::newRow("lower case") << digest << true;
    QTest::newRow("upper case") << digest.toUpper() << true;
    QTest::newRow("surrounding white space") << " \t" + digest.toUpper() + "\r\n" << true;
    QTest::newRow("none expected") << QString() << true;
    QTest::newRow("only spaces expected") << QStringLiteral("   ") << true;
    QTest::newRow("other digest") << sha256Of("other image") << false;
    QTest::newRow("one digit short") << digest.left(63) << false;
    QTest::newRow("inner space") << digest.left(32) + " " + digest.mid(32) << false;
}

void PackageCacheTest::digestComparison()
{
    QFETCH(QString, expected);
    QFETCH(bool, matches);

    const QByteArray content = "firmware image";
    const QString path = scratch_.scratchPath(QStringLiteral("efis.bin"));
    QVERIFY(writeWholeFile(path, content));
    QString error = kUntouched;
    QCOMPARE(firmwareFileSha256Matches(path, expected, &error), matches);
    QCOMPARE(error, matches ? kUntouched : mismatchMessage(expected.trimmed().toLower(), sha256Of(content)));
}

void PackageCacheTest::digestComparisonOfMissingFile()
{
    const QString missing = scratch_.scratchPath(QStringLiteral("missing.bin"));
    QString error;
    QVERIFY(firmwareFileSha256Matches(missing, QString(), &error));
    QVERIFY(!firmwareFileSha256Matches(missing, sha256Of("x"), &error));
    QCOMPARE(error, QStringLiteral("Could not read firmware file: %1").arg(missing));
}

void PackageCacheTest::downloadedOnceThenReused()
{
    const QByteArray package = packageBytes("v2");
    scratch_.server().serve(kPackagePath, package);
    const FirmwareManifestEntry entry =
        firmwareEntry(QStringLiteral("builds/efis.bin"), scratch_.server().url(kPackagePath), " " + sha256Of(package).toUpper() + " ");

    QString path;
    QString error = kUntouched;
    QVERIFY(ensureFirmware(entry, &path, &error));
    QCOMPARE(error, kUntouched);
    QCOMPARE(path, cachePath(QStringLiteral("efis.bin")));
    QCOMPARE(readWholeFile(path), package);
    QCOMPARE(cacheListing(), QStringList({QStringLiteral("efis.bin")}));

    path.clear();
    QVERIFY(ensureFirmware(entry, &path, &error));
    QCOMPARE(path, cachePath(QStringLiteral("efis.bin")));
    QCOMPARE(scratch_.server().requestCount(kPackagePath), 1);
}

void PackageCacheTest::cachedPackageWithMatchingDigestIsReused()
{
    const QByteArray package = packageBytes("v2");
    QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), package));
    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), sha256Of(package)),
                           &path, nullptr));
    QCOMPARE(path, cachePath(QStringLiteral("efis.bin")));
    QCOMPARE(scratch_.server().requests().size(), 0);
}

void PackageCacheTest::stalePackageIsDownloadedAgain()
{
    const QByteArray fresh = packageBytes("v3");
    QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), packageBytes("v2")));
    scratch_.server().serve(kPackagePath, fresh);

    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), sha256Of(fresh)),
                           &path, nullptr));
    QCOMPARE(readWholeFile(path), fresh);
    QCOMPARE(scratch_.server().requestCount(kPackagePath), 1);
}

void PackageCacheTest::failedDownloadLeavesNothing_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("message"); // %1 stands for the download address

    const QString served_digest = sha256Of(packageBytes("served"));
    QTest::newRow("not found") << "not found"
                               << "Network error fetching %1: Error transferring %1 - server replied: Not Found";
    QTest::newRow("empty body") << "empty body" << "Downloaded file is empty: %1";
    QTest::newRow("partial content, escaped address") << "partial content, escaped address"
                                                      << "Network error fetching %1: HTTP status 206";
    QTest::newRow("digest differs") << "digest differs" << mismatchMessage(sha256Of(packageBytes("v3")), served_digest);
    QTest::newRow("closed mid-body") << "closed mid-body" << "Network error fetching %1: Connection closed";
    const QString too_large = QStringLiteral("Download too large: %1 (more than 4194304 bytes)");
    QTest::newRow("announced larger than a bank") << "announced larger than a bank" << too_large;
    QTest::newRow("larger than a bank, unannounced") << "larger than a bank, unannounced" << too_large;
    QTest::newRow("stall after headers") << "stall after headers" << "Timed out fetching %1";
    QTest::newRow("redirect to plain http") << "redirect to plain http" << "Network error fetching %1: Insecure redirect";
    QTest::newRow("plain http address") << "plain http address" << "Refusing to fetch %1: not an HTTPS address";
}

// The cache holds a stale copy, the manifest names a newer package, and
// the download of the newer one goes wrong.
void PackageCacheTest::failedDownloadLeavesNothing()
{
    QFETCH(QString, behaviour);
    QFETCH(QString, message);

    TestHttpResponse response;
    response.body = packageBytes("served");
    // An escaped "/" in the address must come back in the message as it was.
    const QString path_on_server = behaviour.contains(QLatin1String("escaped")) ? QStringLiteral("/packages/v%2F1/efis.bin")
                                                                                : kPackagePath;
    QString url = scratch_.server().url(path_on_server);
    if (behaviour == QLatin1String("not found"))
        response = TestHttpResponse{404, "Not Found", "Not Found", {}, ResponseEnding::Complete};
    else if (behaviour == QLatin1String("empty body"))
        response.body.clear();
    else if (behaviour == QLatin1String("partial content, escaped address"))
        response.status = 206;
    else if (behaviour == QLatin1String("closed mid-body"))
        response.ending = ResponseEnding::CloseMidBody;
    else if (behaviour == QLatin1String("announced larger than a bank"))
        response = TestHttpResponse{200, "OK", "x", {}, ResponseEnding::StallAfterHeaders, 4 * 1024 * 1024 + 1};
    else if (behaviour == QLatin1String("larger than a bank, unannounced"))
        response = TestHttpResponse{200, "OK", QByteArray(4 * 1024 * 1024 + 1, 'x'), {}, ResponseEnding::CloseUnannounced};
    else if (behaviour == QLatin1String("stall after headers"))
        response.ending = ResponseEnding::StallAfterHeaders;
    else if (behaviour == QLatin1String("redirect to plain http"))
        response = TestHttpResponse{302, "Found", {}, {{"Location", scratch_.plainServer().url(kPackagePath).toUtf8()}},
                                    ResponseEnding::Complete};
    else if (behaviour == QLatin1String("plain http address"))
        url = scratch_.plainServer().url(kPackagePath);
    scratch_.server().setResponse(path_on_server, response);
    scratch_.plainServer().serve(kPackagePath, packageBytes("served"));
    QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), packageBytes("v2")));

    QString path = kUntouched;
    QString error;
    const FirmwareManifestEntry entry = firmwareEntry(QStringLiteral("efis.bin"), url, sha256Of(packageBytes("v3")));
    QVERIFY(!ensureFirmware(entry, &path, &error, fetchTimeoutFor(behaviour)));
    QCOMPARE(error, message.contains(QLatin1String("%1")) ? message.arg(url) : message);
    QCOMPARE(path, kUntouched);
    QCOMPARE(cacheListing(), QStringList());
    QCOMPARE(scratch_.plainServer().requests().size(), 0);
}

// The program is told to quit while a package arrives: the download is
// broken off and reported, and nothing is kept under the package's name.
void PackageCacheTest::quitDuringDownloadLeavesNothing()
{
    TestHttpResponse response;
    response.body = packageBytes("served");
    response.ending = ResponseEnding::StallAfterHeaders;
    scratch_.server().setResponse(kPackagePath, response);
    const FirmwareManifestEntry entry = firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), QString());
    QString path = kUntouched;
    QString error;
    bool done = true;
    QTimer::singleShot(0, [&] { done = ensureFirmware(entry, &path, &error); });
    QTimer::singleShot(0, [&] {
        QTRY_COMPARE(scratch_.server().requestCount(kPackagePath), 1);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    QVERIFY(!done);
    QCOMPARE(error, QStringLiteral("Download interrupted: %1").arg(scratch_.server().url(kPackagePath)));
    QCOMPARE(path, kUntouched);
    QCOMPARE(cacheListing(), QStringList());
}

// The disk fills up while a package without a digest is written: nothing
// may remain under its name, or the next run would take it as cached.
void PackageCacheTest::interruptedWriteLeavesNothing()
{
    const QByteArray package = packageBytes("large").repeated(10);
    scratch_.server().serve(kPackagePath, package);
    const FirmwareManifestEntry entry = firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), QString());
    QString path = kUntouched;
    QString error;
    {
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.isActive());
        QVERIFY(!ensureFirmware(entry, &path, &error));
    }
    QCOMPARE(error, QStringLiteral("Failed to write complete file to %1").arg(cachePath(QStringLiteral("efis.bin"))));
    QCOMPARE(path, kUntouched);
    QCOMPARE(cacheListing(), QStringList());

    QVERIFY(ensureFirmware(entry, &path, &error));
    QCOMPARE(readWholeFile(path), package);
    QCOMPARE(scratch_.server().requestCount(kPackagePath), 2);
}

void PackageCacheTest::entryWithoutDigestTakesCachedFileUnread()
{
    QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), packageBytes("old")));
    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), QString()), &path,
                           nullptr));
    QCOMPARE(readWholeFile(path), packageBytes("old"));
    QCOMPARE(scratch_.server().requests().size(), 0);
}

// An empty file is never a package: it is what an interrupted write of an
// older program leaves behind.
void PackageCacheTest::emptyCachedFileIsNeverTaken()
{
    QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), QByteArray()));
    scratch_.server().serve(kPackagePath, packageBytes("v2"));
    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), QString()), &path,
                           nullptr));
    QCOMPARE(readWholeFile(path), packageBytes("v2"));
}

void PackageCacheTest::packageFromLocalFolder()
{
    const QString local = scratch_.applicationDir() + QStringLiteral("/firmware/efis.bin");
    QVERIFY(writeWholeFile(local, packageBytes("local")));
    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("builds/efis.bin"), QString(), sha256Of(packageBytes("local"))), &path,
                           nullptr));
    QCOMPARE(path, local);
    QCOMPARE(cacheListing(), QStringList());
}

void PackageCacheTest::packageFromFolderOfLocalManifest()
{
    const QString folder = scratch_.scratchPath(QStringLiteral("work/firmware"));
    QVERIFY(writeWholeFile(folder + QStringLiteral("/downloads_manifest.json"), "{}"));
    QVERIFY(writeWholeFile(folder + QStringLiteral("/efis.bin"), packageBytes("local")));
    QString path;
    QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), QString(), QString()), &path, nullptr));
    QCOMPARE(QFileInfo(path).canonicalFilePath(), QFileInfo(folder + QStringLiteral("/efis.bin")).canonicalFilePath());
}

void PackageCacheTest::localPackageIsHeldToDigest()
{
    QVERIFY(writeWholeFile(scratch_.applicationDir() + QStringLiteral("/firmware/efis.bin"), packageBytes("local")));
    const QString expected = sha256Of(packageBytes("v3"));
    QString path = kUntouched;
    QString error;
    QVERIFY(!ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), QString(), expected), &path, &error));
    QCOMPARE(error, mismatchMessage(expected, sha256Of(packageBytes("local"))));
    QCOMPARE(path, kUntouched);
}

void PackageCacheTest::packageNowhere()
{
    QString error;
    QString path;
    QVERIFY(!ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), QString(), QString()), &path, &error));
    QCOMPARE(error, QStringLiteral("Firmware package not available locally and manifest has no download_url"));
}

void PackageCacheTest::downloadAddressWinsOverLocalFolder()
{
    QVERIFY(writeWholeFile(scratch_.applicationDir() + QStringLiteral("/firmware/efis.bin"), packageBytes("local")));
    scratch_.server().answerStatus(kPackagePath, 404, "Not Found");
    QString path;
    QString error;
    QVERIFY(!ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), scratch_.server().url(kPackagePath), QString()), &path,
                            &error));
    QVERIFY2(error.startsWith(QStringLiteral("Network error fetching ")), qPrintable(error));
}

void PackageCacheTest::unusableNamesAreRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty") << QString() << "Manifest entry has no firmware_file name";
    QTest::newRow("directory only") << "builds/" << "Manifest entry has no firmware_file name";
    QTest::newRow("current directory") << "builds/." << "Manifest entry has no usable firmware_file name: .";
    QTest::newRow("parent directory") << "../.." << "Manifest entry has no usable firmware_file name: ..";
    QTest::newRow("parent, backslashes") << "builds\\.." << "Manifest entry has no usable firmware_file name: ..";
    QTest::newRow("the manifest itself") << "firmware/downloads_manifest.json"
                                         << "Manifest entry has no usable firmware_file name: downloads_manifest.json";
}

void PackageCacheTest::unusableNamesAreRefused()
{
    QFETCH(QString, file);
    QFETCH(QString, message);

    const QByteArray manifest = "{\"firmware_packages\": []}";
    QVERIFY(writeWholeFile(cachedManifestFile(), manifest));
    scratch_.server().serve(kPackagePath, manifest);
    QVERIFY(QDir().mkpath(scratch_.applicationDir() + QStringLiteral("/firmware")));

    QString path = kUntouched;
    QString error;
    for (const QString& url : {scratch_.server().url(kPackagePath), QString()}) {
        QVERIFY(!ensureFirmware(firmwareEntry(file, url, QString()), &path, &error));
        QCOMPARE(error, message);
    }
    QCOMPARE(path, kUntouched);
    QCOMPARE(readWholeFile(cachedManifestFile()), manifest);
    QCOMPARE(scratch_.server().requests().size(), 0);
}

// Only the file-name part of a name with directories is used, so the
// package lands in the cache and nowhere above it.
void PackageCacheTest::directoriesInNameStayOutOfTheWay()
{
    const QByteArray package = packageBytes("v2");
    scratch_.server().serve(kPackagePath, package);
    const QStringList above = QDir(firmwareCacheDirectory() + QStringLiteral("/..")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

    for (const QString& file : {QStringLiteral("../../escape.bin"), QStringLiteral("..\\..\\escape.bin")}) {
        QString path;
        QVERIFY(ensureFirmware(firmwareEntry(file, scratch_.server().url(kPackagePath), sha256Of(package)), &path, nullptr));
        QCOMPARE(path, cachePath(QStringLiteral("escape.bin")));
    }
    QCOMPARE(QDir(firmwareCacheDirectory() + QStringLiteral("/..")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), above);
}

void PackageCacheTest::nullOutputIsRefused()
{
    QString error;
    QVERIFY(!ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), QString(), QString()), nullptr, &error));
    QCOMPARE(error, QStringLiteral("local_path_out is null"));
    error.clear();
    QVERIFY(!ensureDatabasePackageOnDisk(scratch_.sources(), databaseEntry(QStringLiteral("a.db"), QString(), QString()),
                                         nullptr, &error));
    QCOMPARE(error, QStringLiteral("local_path_out is null"));
}

void PackageCacheTest::databasePackages()
{
    const QByteArray database = packageBytes("airports");
    const QString url = scratch_.server().url(QStringLiteral("/packages/airports.db"));
    scratch_.server().serve(QStringLiteral("/packages/airports.db"), database);
    QString path;
    QString error;

    QVERIFY(!ensureDatabasePackageOnDisk(scratch_.sources(), databaseEntry(QString(), url, QString()), &path, &error));
    QCOMPARE(error, QStringLiteral("Manifest entry has no database_file name"));
    QVERIFY(!ensureDatabasePackageOnDisk(scratch_.sources(), databaseEntry(QStringLiteral(".."), url, QString()), &path,
                                         &error));
    QCOMPARE(error, QStringLiteral("Manifest entry has no usable database_file name: .."));
    QVERIFY(!ensureDatabasePackageOnDisk(scratch_.sources(), databaseEntry(QStringLiteral("airports.db"), QString(), QString()),
                                         &path, &error));
    QCOMPARE(error, QStringLiteral("Database package not available locally and manifest has no download_url"));

    const QString wrong = sha256Of("other");
    QVERIFY(!ensureDatabasePackageOnDisk(scratch_.sources(), databaseEntry(QStringLiteral("airports.db"), url, wrong), &path,
                                         &error));
    QCOMPARE(error, mismatchMessage(wrong, sha256Of(database)));
    QCOMPARE(cacheListing(), QStringList());

    QVERIFY(ensureDatabasePackageOnDisk(scratch_.sources(),
                                        databaseEntry(QStringLiteral("cycles/airports.db"), url, sha256Of(database).toUpper()),
                                        &path, &error));
    QCOMPARE(path, cachePath(QStringLiteral("airports.db")));
    QCOMPARE(readWholeFile(path), database);
}

QTEST_GUILESS_MAIN(PackageCacheTest)
#include "tst_package_cache.moc"
