// The downloads manifest document: both parsers on good and hostile input,
// version texts and their order, and the lookups the window makes.

#include <QJsonDocument>
#include <QtTest>

#include "firmware_manifest.h"

namespace {

QByteArray firmwareList(const QByteArray& elements)
{
    return R"({"firmware_packages": [)" + elements + "]}";
}

FirmwareManifestEntry package(const char* device_type, const QStringList& revisions = {}, const char* file = "")
{
    FirmwareManifestEntry entry;
    entry.device_type = QLatin1String(device_type);
    entry.hardware_revisions = revisions;
    entry.firmware_file = QLatin1String(file);
    return entry;
}

DatabaseManifestEntry database(const char* type, const char* date = "")
{
    DatabaseManifestEntry entry;
    entry.db_type = QLatin1String(type);
    entry.cycle_effective_date = QLatin1String(date);
    return entry;
}

} // namespace

class ManifestFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileManifestRefused_data();
    void hostileManifestRefused();
    void everyFieldRead();
    void versionTexts_data();
    void versionTexts();
    void lookups();
};

void ManifestFormatTest::hostileManifestRefused_data()
{
    QTest::addColumn<bool>("firmware"); // which list is read
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    const QByteArray good = R"({"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": "1.2.3"})";
    const QString missing = QStringLiteral("Manifest entry missing device_type or firmware_file");
    QJsonParseError syntax;
    QJsonDocument::fromJson("{\"firmware_packages\": [", &syntax);
    QTest::newRow("not JSON") << true << QByteArray("{\"firmware_packages\": [")
                              << "Invalid manifest JSON: " + syntax.errorString();
    QTest::newRow("top level array") << true << QByteArray("[]") << "Invalid manifest JSON: no error occurred";
    QTest::newRow("list an object") << true << QByteArray(R"({"firmware_packages": {}})") << "firmware_packages is empty";
    QTest::newRow("no objects") << true << firmwareList("1, \"efis.bin\", null") << "No valid firmware packages in manifest";
    QTest::newRow("two-part version after a good one")
        << true << firmwareList(good + R"(, {"device_type": " ed ", "firmware_file": "e", "firmware_version": "1.2"})")
        << "Invalid firmware_version for device_type ED";
    QTest::newRow("version a number") << true << firmwareList(R"({"device_type": "AE", "firmware_version": 1.2})")
                                      << "Invalid firmware_version for device_type AE";
    QTest::newRow("blank device type")
        << true << firmwareList(R"({"device_type": "  ", "firmware_file": "e", "firmware_version": "1.2.3"})") << missing;
    QTest::newRow("firmware file an object")
        << true << firmwareList(R"({"device_type": "AE", "firmware_file": {}, "firmware_version": "1.2.3"})") << missing;
    QTest::newRow("no database list") << false << firmwareList(good) << "database_files is empty";
    QTest::newRow("no usable database")
        << false << QByteArray(R"({"database_files": [1, {"db_type": "airport", "database_file": "airports.zip"},
                    {"db_type": " ", "database_file": "a.db"}, {"db_type": "airport", "database_file": 5}]})")
        << "No valid database packages in manifest";
}

void ManifestFormatTest::hostileManifestRefused()
{
    QFETCH(bool, firmware);
    QFETCH(QByteArray, json);
    QFETCH(QString, message);

    // A refused list keeps nothing of what the output held before.
    QVector<FirmwareManifestEntry> packages = {package("FF")};
    QVector<DatabaseManifestEntry> databases = {database("stale")};
    QString error;
    QVERIFY(firmware ? !parseFirmwareManifestJson(json, &packages, &error)
                     : !parseDatabaseManifestJson(json, &databases, &error));
    QCOMPARE(error, message);
    QVERIFY(firmware ? packages.value(0).device_type != QLatin1String("FF") : databases.isEmpty());
}

void ManifestFormatTest::everyFieldRead()
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
    json += "]}";

    QVector<FirmwareManifestEntry> packages;
    QVector<DatabaseManifestEntry> databases;
    QString error = QStringLiteral("untouched");
    QVERIFY(parseFirmwareManifestJson(json, &packages, &error) && parseDatabaseManifestJson(json, &databases, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(packages.size(), 2);
    const auto fields = [](const FirmwareManifestEntry& e) {
        return QStringList{e.device_type, e.display_name, e.firmware_file, e.download_url, e.sha256,
                           e.minimum_bootloader_version, e.hardware_revisions.join(QLatin1Char(',')),
                           QStringLiteral("%1.%2.%3").arg(e.firmware_major).arg(e.firmware_minor).arg(e.firmware_patch)};
    };
    QCOMPARE(fields(packages.at(0)), QStringList({"AE", " Halcyra ", " builds/efis 1.bin ", "https://x.invalid/efis.bin",
                                                  " ABCDEF ", "0.9", "1,", "2.10.255"}));
    QCOMPARE(fields(packages.at(1)), QStringList({"ED", "", "ed.bin", "", "", "", "", "0.0.0"}));
    const DatabaseManifestEntry& a = databases.at(0);
    QCOMPARE(QStringList({a.db_type, a.display_name, a.cycle_effective_date, a.database_file, a.download_url, a.sha256}),
             QStringList({"airport", "Airports", "2025-02-20", "AIRPORTS.DB", "https://x.invalid/a.db", "Ab12"}));
    QList<int> formats;
    for (const DatabaseManifestEntry& entry : databases)
        formats.append(entry.format_version);
    QCOMPARE(formats, QList<int>({3, -2, 4, 0, 0, 0, 0, 2147483647}));
}

// What a manifest's version text reads as, and whether a unit at 1.4.0 is
// older than it.
void ManifestFormatTest::versionTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reads_as"); // empty: refused
    QTest::addColumn<bool>("newer");

    QTest::newRow("same") << "1.4.0" << "1.4.0" << false;
    QTest::newRow("patch ahead") << " \t1.4.1\n" << "1.4.1" << true;
    QTest::newRow("minor ahead by number") << "1.10.0" << "1.10.0" << true;
    QTest::newRow("minor before patch") << "1.3.255" << "1.3.255" << false;
    QTest::newRow("major before the rest") << "0.255.255" << "0.255.255" << false;
    QTest::newRow("major ahead") << "255.0.0" << "255.0.0" << true;
    QTest::newRow("leading zeros") << "01.004.01" << "1.4.1" << true;
    QTest::newRow("two numbers") << "1.5" << "" << false;
    QTest::newRow("four numbers") << "1.5.0.0" << "" << false;
    QTest::newRow("out of range") << "1.5.256" << "" << false;
    QTest::newRow("huge") << "99999999999.0.0" << "" << false;
    QTest::newRow("sign") << "+1.5.0" << "" << false;
    QTest::newRow("inner space") << "1. 5.0" << "" << false;
    QTest::newRow("non-ASCII digit") << QStringLiteral("1.\u0665.0") << "" << false;
}

void ManifestFormatTest::versionTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, reads_as);
    QFETCH(bool, newer);

    FirmwareManifestEntry entry; // 0.0.0, kept as it is when the text is refused
    const bool accepted = parseFirmwareVersionString(text, &entry.firmware_major, &entry.firmware_minor, &entry.firmware_patch);
    QCOMPARE(accepted, !reads_as.isEmpty());
    fwversion_t read;
    read.version = uint32_t(entry.firmware_major) << 24 | entry.firmware_minor << 16 | entry.firmware_patch << 8 | 0x77;
    QCOMPARE(firmwareVersionToString(read), accepted ? reads_as : QStringLiteral("0.0.0"));
    fwversion_t unit;
    unit.version = 0x010400FF; // 1.4.0, its rc byte plays no part
    QCOMPARE(deviceFirmwareOlderThanManifest(unit, entry), newer);
}

void ManifestFormatTest::lookups()
{
    // A serial number 0xTTRR.... names device type TT and hardware revision RR (decimal).
    const QVector<FirmwareManifestEntry> firmware = {package("ED"), package("AE", {"01", "3"}), package("AE", {"2", "10"}),
                                                     package("AE"), package("A"), package("0A")};
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE021234u), &firmware[2]); // its revision, after another of its type
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE0A0000u), &firmware[2]);
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xAE010000u), &firmware[3]); // "01" is no revision: every revision
    QCOMPARE(findFirmwareManifestEntry(firmware, 0x0A000000u), &firmware[5]);
    QCOMPARE(findFirmwareManifestEntry(firmware, 0xFF000000u), nullptr);
    const QVector<FirmwareManifestEntry> others = {package("AE", {"3"}), package("AE", {"4"}), package("AE"), package("AE", {"2"})};
    QCOMPARE(findFirmwareManifestEntry(others.mid(0, 2), 0xAE020000u)->hardware_revisions, QStringList({"3"})); // no fit: the first of its type
    QCOMPARE(findFirmwareManifestEntry(others, 0xAE020000u), &others[2]); // every revision, before the one that names it

    const QVector<DatabaseManifestEntry> databases = {database("airport", "2025-01-23"), database("airport", "2025-02-20"),
                                                      database("airport", "2025-02-20"), database("obstacle", "2099-01-01")};
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

QTEST_GUILESS_MAIN(ManifestFormatTest)
#include "tst_manifest_format.moc"
