// The downloads manifest document: both parsers on good and hostile input,
// version texts and their order, and the lookups the window makes.

#include <QJsonDocument>
#include <QtTest>

#include "firmware_manifest.h"

namespace {

// What the parsers report for bytes the JSON library cannot read.
QString invalidJson(const QByteArray& bytes)
{
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    return "Invalid manifest JSON: " + error.errorString();
}

FirmwareManifestEntry package(const char* device_type, const QStringList& revisions = {})
{
    FirmwareManifestEntry entry;
    entry.device_type = QLatin1String(device_type);
    entry.hardware_revisions = revisions;
    return entry;
}

DatabaseManifestEntry database(const char* type, const char* date = "")
{
    DatabaseManifestEntry entry;
    entry.db_type = QLatin1String(type);
    entry.cycle_effective_date = QLatin1String(date);
    return entry;
}

template <typename Entry>
int indexOf(const QVector<Entry>& entries, const Entry* found)
{
    return found == nullptr ? -1 : int(found - entries.constData());
}

} // namespace

typedef QVector<FirmwareManifestEntry> FirmwareList;
typedef QVector<DatabaseManifestEntry> DatabaseList;
Q_DECLARE_METATYPE(FirmwareList)
Q_DECLARE_METATYPE(DatabaseList)

class ManifestFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileManifestRefused_data();
    void hostileManifestRefused();
    void everyFieldRead();
    void versionTexts_data();
    void versionTexts();
    void firmwareEntryForSerial_data();
    void firmwareEntryForSerial();
    void latestDatabase_data();
    void latestDatabase();
    void entryByFileName_data();
    void entryByFileName();
};

void ManifestFormatTest::hostileManifestRefused_data()
{
    QTest::addColumn<bool>("firmware"); // which list is read
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    const QByteArray good = R"({"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": "1.2.3"})";
    const QString missing = QStringLiteral("Manifest entry missing device_type or firmware_file");
    QTest::newRow("not JSON") << true << QByteArray("{\"firmware_packages\": [") << invalidJson("{\"firmware_packages\": [");
    QTest::newRow("top level array") << true << QByteArray("[]") << "Invalid manifest JSON: no error occurred";
    QTest::newRow("list an object") << true << QByteArray(R"({"firmware_packages": {}})") << "firmware_packages is empty";
    QTest::newRow("no objects") << true << QByteArray(R"({"firmware_packages": [1, "efis.bin", null]})")
                                << "No valid firmware packages in manifest";
    QTest::newRow("two-part version after a good one")
        << true << R"({"firmware_packages": [)" + good + R"(, {"device_type": " ed ", "firmware_file": "e", "firmware_version": "1.2"}]})"
        << "Invalid firmware_version for device_type ED";
    QTest::newRow("version a number")
        << true << QByteArray(R"({"firmware_packages": [{"device_type": "AE", "firmware_file": "e", "firmware_version": 1.2}]})")
        << "Invalid firmware_version for device_type AE";
    QTest::newRow("blank device type")
        << true << QByteArray(R"({"firmware_packages": [{"device_type": "  ", "firmware_file": "e", "firmware_version": "1.2.3"}]})")
        << missing;
    QTest::newRow("firmware file an object")
        << true << QByteArray(R"({"firmware_packages": [{"device_type": "AE", "firmware_file": {}, "firmware_version": "1.2.3"}]})")
        << missing;
    QTest::newRow("no database list") << false << QByteArray(R"({"firmware_packages": [)" + good + "]}")
                                      << "database_files is empty";
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
    FirmwareList packages = {package("FF")};
    DatabaseList databases = {database("stale")};
    QString error;
    QVERIFY(firmware ? !parseFirmwareManifestJson(json, &packages, &error)
                     : !parseDatabaseManifestJson(json, &databases, &error));
    QCOMPARE(error, message);
    QVERIFY(firmware ? packages.value(0).device_type != QLatin1String("FF") : databases.isEmpty());
}

void ManifestFormatTest::everyFieldRead()
{
    QByteArray json = R"({"firmware_packages": ["not an object",
        {"device_type": " ae ", "display_name": " Halcyra EFIS ", "firmware_file": " builds/efis 1.bin ",
         "download_url": "https://example.invalid/efis.bin", "sha256": " ABCDEF ", "minimum_bootloader_version": "0.9",
         "hardware_revisions": ["1", 10], "firmware_version": " 2.10.255 ", "unknown_key": {"nested": true}},
        {"device_type": "ED", "display_name": 7, "firmware_file": "ed.bin", "sha256": ["ab"], "firmware_version": "0.0.0"}],
      "database_files": [{"db_type": " Airport ", "display_name": "Airports", "format_version": 3,
         "cycle_effective_date": "2025-02-20", "database_file": "AIRPORTS.DB", "download_url": "https://x.invalid/a.db",
         "sha256": "Ab12"})";
    // The format version is a whole number that fits 32 bits, else 0.
    for (const char* number : {"-2", "4.0", "3.5", "\"3\"", "1e20", "-3000000000", "2147483647"})
        json += R"(, {"db_type": "terrain", "database_file": "t.db", "format_version": )" + QByteArray(number) + "}";
    json += "]}";

    FirmwareList packages;
    DatabaseList databases;
    QString error = QStringLiteral("untouched");
    QVERIFY(parseFirmwareManifestJson(json, &packages, &error));
    QVERIFY(parseDatabaseManifestJson(json, &databases, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(packages.size(), 2);
    const auto firmware = [](const FirmwareManifestEntry& e) {
        return QStringList{e.device_type, e.display_name, e.firmware_file, e.download_url, e.sha256,
                           e.minimum_bootloader_version, e.hardware_revisions.join(QLatin1Char(',')),
                           QStringLiteral("%1.%2.%3").arg(e.firmware_major).arg(e.firmware_minor).arg(e.firmware_patch)};
    };
    QCOMPARE(firmware(packages.at(0)), QStringList({"AE", " Halcyra EFIS ", " builds/efis 1.bin ",
                                                    "https://example.invalid/efis.bin", " ABCDEF ", "0.9", "1,", "2.10.255"}));
    QCOMPARE(firmware(packages.at(1)), QStringList({"ED", "", "ed.bin", "", "", "", "", "0.0.0"}));
    const DatabaseManifestEntry& airport = databases.at(0);
    QCOMPARE(QStringList({airport.db_type, airport.display_name, airport.cycle_effective_date, airport.database_file,
                          airport.download_url, airport.sha256}),
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
    QTest::newRow("prefix") << "v1.5.0" << "" << false;
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

void ManifestFormatTest::firmwareEntryForSerial_data()
{
    QTest::addColumn<FirmwareList>("entries");
    QTest::addColumn<uint>("serial");
    QTest::addColumn<int>("expected");

    QTest::newRow("named revision after another") << FirmwareList{package("AE", {"1"}), package("AE", {"2"})} << 0xAE021234u << 1;
    QTest::newRow("all revisions first") << FirmwareList{package("AE"), package("AE", {"2"})} << 0xAE021234u << 0;
    QTest::newRow("first of type as fallback") << FirmwareList{package("ED"), package("AE", {"3"}), package("AE", {"4"})} << 0xAE021234u << 1;
    QTest::newRow("other device type only") << FirmwareList{package("ED")} << 0xAE021234u << -1;
    QTest::newRow("revision in decimal") << FirmwareList{package("AE", {"1"}), package("AE", {"10"})} << 0xAE0A0000u << 1;
    QTest::newRow("leading zero never matches") << FirmwareList{package("AE", {"01"}), package("AE", {"1"})} << 0xAE010000u << 1;
    QTest::newRow("type has two digits") << FirmwareList{package("A"), package("0A")} << 0x0A010000u << 1;
}

void ManifestFormatTest::firmwareEntryForSerial()
{
    QFETCH(FirmwareList, entries);
    QFETCH(uint, serial);
    QFETCH(int, expected);
    QCOMPARE(indexOf(entries, findFirmwareManifestEntry(entries, serial)), expected);
}

void ManifestFormatTest::latestDatabase_data()
{
    QTest::addColumn<DatabaseList>("entries");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("expected");

    const DatabaseManifestEntry january = database("airport", "2025-01-23");
    const DatabaseManifestEntry february = database("airport", "2025-02-20");
    QTest::newRow("later first") << DatabaseList{february, january} << "airport" << 0;
    QTest::newRow("same date first wins") << DatabaseList{january, january, february, february} << "airport" << 2;
    QTest::newRow("other types ignored") << DatabaseList{database("obstacle", "2099-01-01"), january} << "airport" << 1;
    QTest::newRow("type asked for normalised") << DatabaseList{database("terrain"), january} << " Airport " << 1;
    QTest::newRow("none of the type") << DatabaseList{database("terrain")} << "airport" << -1;
}

void ManifestFormatTest::latestDatabase()
{
    QFETCH(DatabaseList, entries);
    QFETCH(QString, type);
    QFETCH(int, expected);
    QCOMPARE(indexOf(entries, findLatestDatabaseEntryByType(entries, type)), expected);
}

void ManifestFormatTest::entryByFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");

    QTest::newRow("path") << "/home/pilot/Downloads/efis.bin" << 0;
    QTest::newRow("case differs") << "EFIS.bin" << -1;
    QTest::newRow("backslash path") << "C:\\Firmware\\ed.bin" << 2;
    QTest::newRow("directory only") << "/home/pilot/" << -1;
}

void ManifestFormatTest::entryByFileName()
{
    QFETCH(QString, name);
    QFETCH(int, expected);

    FirmwareList entries(4);
    entries[0].firmware_file = QStringLiteral("builds/efis.bin");
    entries[1].firmware_file = QStringLiteral("efis.bin");
    entries[2].firmware_file = QStringLiteral("ed.bin");
    entries[3].firmware_file = QStringLiteral("builds/");
    QCOMPARE(indexOf(entries, findManifestEntryByFirmwareFileName(entries, name)), expected);
}

QTEST_GUILESS_MAIN(ManifestFormatTest)
#include "tst_manifest_format.moc"
