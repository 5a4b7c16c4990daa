// The per-user package cache: the SHA-256 gate, and getting firmware and
// database packages onto the disk from the cache, a loopback HTTPS server or
// the local firmware folder, without ever leaving a bad or partial file under
// a package's name.

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <memory>

#include "file_size_limit.h"
#include "firmware_manifest.h"
#include "manifest_scratch.h"

Q_DECLARE_METATYPE(TestHttpResponse)

namespace {

const QString kPackagePath = QStringLiteral("/packages/efis.bin");
const QString kUntouched = QStringLiteral("untouched");
// More than one piece of the streamed hashing, and not a whole number of them.
const QByteArray kServed = QByteArray("served").repeated(20000);

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
    std::tie(entry.firmware_file, entry.download_url, entry.sha256) = std::tie(file, url, sha256);
    return entry;
}

QString mismatchMessage(const QString& expected, const QString& actual)
{
    return QStringLiteral("Firmware file SHA-256 does not match the manifest.\nExpected: %1\nActual:   %2").arg(expected, actual);
}

// Every entry of the cache directory, hidden ones (such as half-written temporary files) included.
QStringList cacheListing()
{
    return QDir(firmwareCacheDirectory()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString cachePath(const QString& name)
{
    return firmwareCacheDirectory() + QLatin1Char('/') + name;
}

// How a failed download comes about beside the server's answer.
enum Twist { NO_TWIST, PLAIN_HTTP_ADDRESS, DISK_FULL, PROGRAM_QUITS };

} // namespace

class PackageCacheTest : public QObject
{
    Q_OBJECT

    ManifestScratch scratch_;

    bool ensureFirmware(const FirmwareManifestEntry& entry, QString* path, QString* error,
                        int timeout_ms = ManifestScratch::kGenerousTimeoutMs)
    {
        return ensureFirmwarePackageOnDisk(scratch_.sources(timeout_ms), entry, path, error);
    }

private slots:
    void initTestCase() { QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init() { QVERIFY(scratch_.reset()); }
    void cleanup() { scratch_.leave(); }

    void digestCheck_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("error"); // empty: the file matches; %1: the file
        const QString other = sha256Of("other");
        QTest::newRow("upper case, white space") << "efis.bin" << " \t" + sha256Of(kServed).toUpper() + "\r\n" << "";
        QTest::newRow("none expected, file missing") << "missing.bin" << "" << "";
        QTest::newRow("other digest") << "efis.bin" << other << mismatchMessage(other, sha256Of(kServed));
        QTest::newRow("file missing") << "missing.bin" << other << "Could not read firmware file: %1";
        QTest::newRow("read fails") << "/proc/self/mem" << other << "Failed to hash firmware file: %1";
    }

    void digestCheck()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        QFETCH(QString, error);
        const QString path = file.startsWith(QLatin1Char('/')) ? file : scratch_.scratchPath(file);
        QVERIFY(writeWholeFile(scratch_.scratchPath(QStringLiteral("efis.bin")), kServed));
        QString actual = kUntouched;
        QCOMPARE(firmwareFileSha256Matches(path, expected, &actual), error.isEmpty());
        QCOMPARE(actual, error.isEmpty() ? kUntouched : error.replace(QLatin1String("%1"), path));
    }

    // A cached copy serves while its digest matches the entry's, or the
    // entry names none; an empty file never serves.
    void cachedCopy_data()
    {
        QTest::addColumn<QByteArray>("cached");
        QTest::addColumn<QString>("digest");
        QTest::addColumn<int>("downloads");
        const QString digest = " " + sha256Of(kServed).toUpper() + "\t";
        QTest::newRow("digest matches") << kServed << digest << 0;
        QTest::newRow("digest differs") << QByteArray("stale") << digest << 1;
        QTest::newRow("no digest expected") << QByteArray("stale") << QString() << 0;
        QTest::newRow("empty, no digest expected") << QByteArray("") << QString() << 1;
    }

    // Only the name part of the entry's file is used: the package lands in the cache and nowhere above it.
    void cachedCopy()
    {
        QFETCH(QByteArray, cached);
        QFETCH(QString, digest);
        QFETCH(int, downloads);
        scratch_.server().serve(kPackagePath, kServed);
        QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), cached));
        QString path;
        QString error = kUntouched;
        QVERIFY(ensureFirmware(firmwareEntry(QStringLiteral("../..\\efis.bin"), scratch_.server().url(kPackagePath), digest),
                               &path, &error));
        QCOMPARE(error, kUntouched);
        QCOMPARE(path, cachePath(QStringLiteral("efis.bin")));
        QCOMPARE(readWholeFile(path), downloads ? kServed : cached);
        QCOMPARE(scratch_.server().requestCount(kPackagePath), downloads);
        QCOMPARE(cacheListing(), QStringList{"efis.bin"});
    }

    void failedDownloadKeepsNothing_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<int>("twist");
        QTest::addColumn<QString>("message"); // %1: the download address
        using E = ResponseEnding;
        const QByteArray plain_url = scratch_.plainServer().url(kPackagePath).toUtf8();
        const QByteArray bank_and_one(4 * 1024 * 1024 + 1, 'x');
        const QString too_large = QStringLiteral("Download too large: %1 (more than 4194304 bytes)");
        const auto row = [](const char* name, const TestHttpResponse& response, int twist, const QString& message) {
            QTest::newRow(name) << response << twist << message;
        };
        row("not found", {404, "Not Found", "Not Found"}, NO_TWIST,
            "Network error fetching %1: Error transferring %1 - server replied: Not Found");
        row("partial content", {206, "Partial Content", kServed}, NO_TWIST, "Network error fetching %1: HTTP status 206");
        row("empty body", {}, NO_TWIST, "Downloaded file is empty: %1");
        row("digest differs", {200, "OK", "tampered"}, NO_TWIST, mismatchMessage(sha256Of(kServed), sha256Of("tampered")));
        row("closed mid-body", {200, "OK", kServed, {}, E::CloseMidBody}, NO_TWIST, "Network error fetching %1: Connection closed");
        row("announced larger than a bank", {200, "OK", bank_and_one, {}, E::StallAfterHeaders}, NO_TWIST, too_large);
        row("larger than a bank, unannounced", {200, "OK", bank_and_one, {}, E::CloseUnannounced}, NO_TWIST, too_large);
        row("stall after headers", {200, "OK", kServed, {}, E::StallAfterHeaders}, NO_TWIST, "Timed out fetching %1");
        row("redirect to plain http", {302, "Found", {}, {{"Location", plain_url}}}, NO_TWIST,
            "Network error fetching %1: Insecure redirect");
        row("plain http address", {}, PLAIN_HTTP_ADDRESS, "Refusing to fetch %1: not an HTTPS address");
        row("disk full", {200, "OK", kServed}, DISK_FULL, "Failed to write complete file to " + cachePath(QStringLiteral("efis.bin")));
        row("program quits", {200, "OK", kServed, {}, E::StallAfterHeaders}, PROGRAM_QUITS, "Download interrupted: %1");
    }

    // The cache holds a stale copy, the entry names the served package, and
    // its download goes wrong: the stale copy goes, and nothing takes its place.
    void failedDownloadKeepsNothing()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(int, twist);
        QFETCH(QString, message);
        // An escaped "/" in the address comes back in the message as it was.
        const QString on_server = QStringLiteral("/packages/v%2F1/efis.bin");
        scratch_.server().setResponse(on_server, response);
        scratch_.plainServer().serve(kPackagePath, kServed);
        const QString url = twist == PLAIN_HTTP_ADDRESS ? scratch_.plainServer().url(kPackagePath) : scratch_.server().url(on_server);
        QVERIFY(writeWholeFile(cachePath(QStringLiteral("efis.bin")), "stale"));

        QString path = kUntouched;
        QString error;
        bool kept = true;
        const auto fetch = [&] {
            kept = ensureFirmware(firmwareEntry(QStringLiteral("efis.bin"), url, sha256Of(kServed)), &path, &error,
                                  fetchTimeoutFor(QString::fromLatin1(QTest::currentDataTag())));
        };
        if (twist == PROGRAM_QUITS) {
            QTimer::singleShot(0, fetch);
            QTimer::singleShot(0, [&] {
                QTRY_COMPARE(scratch_.server().requestCount(on_server), 1);
                QCoreApplication::quit();
            });
            QCoreApplication::exec();
        } else {
            std::unique_ptr<FileSizeLimit> limit(twist == DISK_FULL ? new FileSizeLimit(64 * 1024) : nullptr);
            QVERIFY(!limit || limit->isActive());
            fetch();
        }
        QVERIFY(!kept);
        QCOMPARE(error, message.replace(QLatin1String("%1"), url));
        QCOMPARE(path, kUntouched);
        QCOMPARE(cacheListing(), QStringList());
        QCOMPARE(scratch_.plainServer().requests().size(), 0);
    }

    void unusableNamesAreRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QString() << "Manifest entry has no firmware_file name";
        QTest::newRow("directory only") << "builds/" << "Manifest entry has no firmware_file name";
        QTest::newRow("current directory") << "builds/." << "Manifest entry has no usable firmware_file name: .";
        QTest::newRow("parent, backslashes") << "builds\\.." << "Manifest entry has no usable firmware_file name: ..";
        QTest::newRow("the manifest itself") << "firmware/downloads_manifest.json"
                                             << "Manifest entry has no usable firmware_file name: downloads_manifest.json";
    }

    // Neither a download nor the local folder may write over the cached manifest or escape the cache.
    void unusableNamesAreRefused()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QVERIFY(writeWholeFile(cachedManifestFile(), "{}"));
        scratch_.server().serve(kPackagePath, kServed);
        QVERIFY(QDir().mkpath(scratch_.applicationDir() + QStringLiteral("/firmware")));
        QString path = kUntouched;
        QString error;
        for (const QString& url : {scratch_.server().url(kPackagePath), QString()}) {
            QVERIFY(!ensureFirmware(firmwareEntry(file, url, QString()), &path, &error));
            QCOMPARE(error, message);
        }
        QCOMPARE(path, kUntouched);
        QCOMPARE(readWholeFile(cachedManifestFile()), QByteArray("{}"));
        QCOMPARE(scratch_.server().requests().size(), 0);
    }

    // Without a download address the package comes from the local firmware
    // folder, held to its digest; with one, only the download counts.
    void localFirmwareFolder()
    {
        const QString bundled = scratch_.applicationDir() + QStringLiteral("/firmware/efis.bin");
        const auto entry = [](const QString& url, const QString& digest) { return firmwareEntry("builds/efis.bin", url, digest); };
        QString path;
        QString error;
        QVERIFY(!ensureFirmware(entry(QString(), QString()), nullptr, &error));
        QCOMPARE(error, QStringLiteral("local_path_out is null"));
        QVERIFY(!ensureFirmware(entry(QString(), QString()), &path, &error));
        QCOMPARE(error, QStringLiteral("Firmware package not available locally and manifest has no download_url"));

        QVERIFY(writeWholeFile(bundled, "local"));
        QVERIFY(!ensureFirmware(entry(QString(), sha256Of(kServed)), &path, &error));
        QCOMPARE(error, mismatchMessage(sha256Of(kServed), sha256Of("local")));
        QVERIFY(path.isEmpty());
        QVERIFY(ensureFirmware(entry(QString(), sha256Of("local")), &path, &error));
        QCOMPARE(path, bundled);
        QVERIFY(!ensureFirmware(entry(scratch_.server().url(kPackagePath), QString()), &path, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Network error fetching ")), qPrintable(error));
        QCOMPARE(cacheListing(), QStringList());

        // A local manifest in the working directory's firmware folder names the folder.
        const QString beside_manifest = QDir::currentPath() + QStringLiteral("/firmware/efis.bin");
        QVERIFY(writeWholeFile(QDir::currentPath() + QStringLiteral("/firmware/downloads_manifest.json"), "{}"));
        QVERIFY(writeWholeFile(beside_manifest, "beside"));
        QVERIFY(ensureFirmware(entry(QString(), QString()), &path, &error));
        QCOMPARE(QFileInfo(path).canonicalFilePath(), QFileInfo(beside_manifest).canonicalFilePath());
    }

    void databasePackages()
    {
        const QString url = scratch_.server().url(kPackagePath);
        scratch_.server().serve(kPackagePath, kServed);
        const auto ensure = [&](const QString& file, const QString& address, const QString& digest, QString* path, QString* error) {
            DatabaseManifestEntry entry;
            entry.db_type = QStringLiteral("airport");
            std::tie(entry.database_file, entry.download_url, entry.sha256) = std::tie(file, address, digest);
            return ensureDatabasePackageOnDisk(scratch_.sources(), entry, path, error);
        };
        QString path;
        QString error;
        QVERIFY(!ensure(QStringLiteral(".."), url, QString(), &path, &error));
        QCOMPARE(error, QStringLiteral("Manifest entry has no usable database_file name: .."));
        QVERIFY(!ensure(QStringLiteral("airports.db"), QString(), QString(), &path, &error));
        QCOMPARE(error, QStringLiteral("Database package not available locally and manifest has no download_url"));
        QVERIFY(!ensure(QStringLiteral("airports.db"), url, sha256Of("other"), &path, &error));
        QCOMPARE(error, mismatchMessage(sha256Of("other"), sha256Of(kServed)));
        QCOMPARE(cacheListing(), QStringList());
        QVERIFY(ensure(QStringLiteral("cycles/airports.db"), url, sha256Of(kServed).toUpper(), &path, &error));
        QCOMPARE(path, cachePath(QStringLiteral("airports.db")));
        QCOMPARE(readWholeFile(path), kServed);
    }
};

QTEST_GUILESS_MAIN(PackageCacheTest)
#include "tst_package_cache.moc"
