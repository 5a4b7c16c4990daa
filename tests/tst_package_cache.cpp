// The per-user package cache: the SHA-256 gate, and getting firmware and
// database packages onto the disk from the cache, a loopback HTTPS server or
// the local firmware folder, without ever leaving a bad or partial file under
// a package's name.

#include <QtTest>

#include "file_size_limit.h"
#include "manifest_scratch.h"

Q_DECLARE_METATYPE(TestHttpResponse)

namespace {

const QString kPackagePath = QStringLiteral("/packages/efis.bin");
// More than one piece of the streamed hashing, and not a whole number of them.
const QByteArray kServed = QByteArray("served").repeated(20000);

// Computed in memory by the hash library, apart from the streamed file hashing under test.
QString sha256Of(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString refusedAsDiffering(const QString& expected, const QString& actual)
{
    return QStringLiteral("refused: Firmware file SHA-256 does not match the manifest.\nExpected: %1\nActual:   %2")
        .arg(expected, actual);
}

// Every entry of the cache directory, hidden ones (such as half-written temporary files) included.
QStringList cacheListing()
{
    return QDir(firmwareCacheDirectory())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString cachedPackage(const QString& name = QStringLiteral("efis.bin"))
{
    return firmwareCacheDirectory() + QLatin1Char('/') + name;
}

// How a failed download comes about beside the server's answer.
const int NO_TWIST = 0, DISK_FULL = 1, PROGRAM_QUITS = 2;

} // namespace

class PackageCacheTest : public QObject
{
    Q_OBJECT

    ManifestScratch scratch_;

    // The package's path on disk, or "refused: " and the reason.
    QString lookUp(const QString& file, const QString& url, const QString& sha256, bool database = false)
    {
        FirmwareManifestEntry firmware;
        DatabaseManifestEntry airports;
        std::tie(firmware.firmware_file, firmware.download_url, firmware.sha256) = std::tie(file, url, sha256);
        std::tie(airports.database_file, airports.download_url, airports.sha256) = std::tie(file, url, sha256);
        QString path;
        QString error;
        const bool found = database ? ensureDatabasePackageOnDisk(scratch_.sources(), airports, &path, &error)
                                    : ensureFirmwarePackageOnDisk(scratch_.sources(), firmware, &path, &error);
        return found ? path : "refused: " + error;
    }

private slots:
    void initTestCase() { QVERIFY(scratch_.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init() { QVERIFY(scratch_.reset()); }

    void digestOfUnreadableFile()
    {
        QString error;
        QVERIFY(!firmwareFileSha256Matches(QStringLiteral("/nowhere/efis.bin"), sha256Of(kServed), &error));
        QCOMPARE(error, QStringLiteral("Could not read firmware file: /nowhere/efis.bin"));
        QVERIFY(!firmwareFileSha256Matches(QStringLiteral("/proc/self/mem"), sha256Of(kServed), &error));
        QCOMPARE(error, QStringLiteral("Failed to hash firmware file: /proc/self/mem"));
    }

    // A cached copy serves while its digest matches the entry's (in any
    // case, white space around it), or the entry names none; an empty file never serves.
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

    // Only the name part of the entry's file counts: the package lands in the cache and nowhere above it.
    void cachedCopy()
    {
        QFETCH(QByteArray, cached);
        QFETCH(QString, digest);
        QFETCH(int, downloads);
        scratch_.server().serve(kPackagePath, kServed);
        QVERIFY(writeWholeFile(cachedPackage(), cached));
        QCOMPARE(lookUp(QStringLiteral("../..\\efis.bin"), scratch_.server().url(kPackagePath), digest),
                 cachedPackage());
        QCOMPARE(readWholeFile(cachedPackage()), downloads ? kServed : cached);
        QCOMPARE(scratch_.server().requestCount(kPackagePath), downloads);
        QCOMPARE(cacheListing(), QStringList{"efis.bin"});
    }

    // Failures of the fetch itself (statuses, time-outs, insecure addresses)
    // are the manifest's too; these are the ones a package adds.
    void failedDownloadKeepsNothing_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<int>("twist");
        QTest::addColumn<QString>("message"); // %1: the download address
        const auto row = [](const char* name, const TestHttpResponse& response, int twist, const QString& message) {
            QTest::newRow(name) << response << twist << message;
        };
        row("not found", {404, "Not Found"}, NO_TWIST,
            "refused: Network error fetching %1: Error transferring %1 - server replied: Not Found");
        row("empty body", {}, NO_TWIST, "refused: Downloaded file is empty: %1");
        row("digest differs", {200, "OK", "tampered"}, NO_TWIST,
            refusedAsDiffering(sha256Of(kServed), sha256Of("tampered")));
        row("endless, unannounced", {200, "OK", QByteArray(1024 * 1024, 'x'), {}, ResponseEnding::EndlessUnannounced},
            NO_TWIST, "refused: Download too large: %1 (more than 4194304 bytes)");
        row("disk full", {200, "OK", kServed}, DISK_FULL,
            "refused: Failed to write complete file to " + cachedPackage());
        row("program quits", {200, "OK", kServed, {}, ResponseEnding::StallAfterHeaders}, PROGRAM_QUITS,
            "refused: Download interrupted: %1");
    }

    // The cache holds a stale copy, the entry names the served package, and
    // its download goes wrong: the stale copy goes, and nothing takes its place.
    void failedDownloadKeepsNothing()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(int, twist);
        QFETCH(QString, message);
        // An escaped "/" in the address comes back in the message as it was.
        const QString url = scratch_.server().url(QStringLiteral("/packages/v%2F1/efis.bin"));
        scratch_.server().setResponse(QStringLiteral("/packages/v%2F1/efis.bin"), response);
        QVERIFY(writeWholeFile(cachedPackage(), "stale"));
        QString outcome;
        QTimer::singleShot(0, [&] {
            const std::unique_ptr<FileSizeLimit> limit(twist == DISK_FULL ? new FileSizeLimit(64 * 1024) : nullptr);
            outcome = lookUp(QStringLiteral("efis.bin"), url, sha256Of(kServed));
            QCoreApplication::quit();
        });
        if (twist == PROGRAM_QUITS)
            QTimer::singleShot(0, [&] {
                QTRY_COMPARE(scratch_.server().requests().size(), 1);
                QCoreApplication::quit();
            });
        QCoreApplication::exec();
        QCOMPARE(outcome, message.replace(QLatin1String("%1"), url));
        QCOMPARE(cacheListing(), QStringList());
    }

    // Such a name would escape the cache or write over the cached manifest,
    // whether the package is to be downloaded or taken from the local folder.
    void unusableNamesAreRefused()
    {
        QVERIFY(writeWholeFile(cachedManifestFile(), "{}"));
        const QString unusable = QStringLiteral("refused: Manifest entry has no usable firmware_file name: ");
        const QList<QPair<QString, QString>> refusals
            = {{"builds/", "refused: Manifest entry has no firmware_file name"},
               {"builds/.", unusable + "."},
               {"builds\\..", unusable + ".."},
               {"firmware/downloads_manifest.json", unusable + "downloads_manifest.json"}};
        for (const auto& [file, message] : refusals) {
            QCOMPARE(lookUp(file, scratch_.server().url(kPackagePath), QString()), message);
            QCOMPARE(lookUp(file, QString(), QString()), message);
        }
        QCOMPARE(readWholeFile(cachedManifestFile()), QByteArray("{}"));
        QCOMPARE(scratch_.server().requests().size(), 0);
    }

    // Without a download address the package comes from the local firmware
    // folder, held to its digest; with one, only the download counts.
    void localFirmwareFolder()
    {
        const QString bundled = scratch_.applicationDir() + QStringLiteral("/firmware/efis.bin");
        const QString file = QStringLiteral("builds/efis.bin");
        QCOMPARE(lookUp(file, QString(), QString()),
                 QStringLiteral("refused: Firmware package not available locally and manifest has no download_url"));
        QVERIFY(writeWholeFile(bundled, "local"));
        QCOMPARE(lookUp(file, QString(), sha256Of(kServed)), refusedAsDiffering(sha256Of(kServed), sha256Of("local")));
        QCOMPARE(lookUp(file, QString(), sha256Of("local")), bundled);
        QVERIFY(lookUp(file, scratch_.server().url(kPackagePath), QString())
                    .startsWith(QStringLiteral("refused: Network error")));
        QCOMPARE(cacheListing(), QStringList());
        // A local manifest in the working directory's firmware folder names the folder.
        QVERIFY(writeWholeFile(QDir::currentPath() + QStringLiteral("/firmware/downloads_manifest.json"), "{}"));
        QVERIFY(writeWholeFile(QDir::currentPath() + QStringLiteral("/firmware/efis.bin"), "beside"));
        QCOMPARE(readWholeFile(lookUp(file, QString(), QString())), QByteArray("beside"));
    }

    void databasePackages()
    {
        const QString url = scratch_.server().url(kPackagePath);
        scratch_.server().serve(kPackagePath, kServed);
        QCOMPARE(lookUp("..", url, "", true),
                 QStringLiteral("refused: Manifest entry has no usable database_file name: .."));
        QCOMPARE(lookUp("airports.db", "", "", true),
                 QStringLiteral("refused: Database package not available locally and manifest has no download_url"));
        QCOMPARE(lookUp("airports.db", url, sha256Of("other"), true),
                 refusedAsDiffering(sha256Of("other"), sha256Of(kServed)));
        QCOMPARE(cacheListing(), QStringList());
        QCOMPARE(lookUp("cycles/airports.db", url, sha256Of(kServed).toUpper(), true), cachedPackage("airports.db"));
        QCOMPARE(readWholeFile(cachedPackage("airports.db")), kServed);
    }
};

QTEST_GUILESS_MAIN(PackageCacheTest)
#include "tst_package_cache.moc"
