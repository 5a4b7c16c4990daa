// The downloads manifest document: both parsers on good and hostile input,
// version texts, and the lookups the window makes.

#include <QJsonDocument>
#include <QJsonParseError>
#include <QtTest>

#include "firmware_manifest.h"

namespace {

// The JSON library's own description of what is wrong with these bytes.
QString jsonErrorText(const QByteArray& bytes)
{
    QJsonParseError error;
    QJsonDocument::fromJson(bytes, &error);
    return error.errorString();
}

QByteArray firmwareDocument(const QByteArray& packages)
{
    return "{\"firmware_packages\": " + packages + "}";
}

QByteArray databaseDocument(const QByteArray& files)
{
    return "{\"database_files\": " + files + "}";
}

const QByteArray kGoodPackage =
    R"({"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": "1.2.3"})";

FirmwareManifestEntry package(const QString& device_type, const QStringList& revisions)
{
    FirmwareManifestEntry entry;
    entry.device_type = device_type;
    entry.hardware_revisions = revisions;
    entry.firmware_file = QStringLiteral("efis.bin");
    return entry;
}

DatabaseManifestEntry database(const QString& type, const QString& date)
{
    DatabaseManifestEntry entry;
    entry.db_type = type;
    entry.cycle_effective_date = date;
    entry.database_file = QStringLiteral("airports.db");
    return entry;
}

fwversion_t version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc)
{
    fwversion_t v;
    v.major = major;
    v.minor = minor;
    v.patch = patch;
    v.rc = rc;
    return v;
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
    void firmwareParserRefuses_data();
    void firmwareParserRefuses();
    void firmwareFailureKeepsOnlyEarlierEntries();
    void firmwareParserReadsEveryField();
    void firmwareParserReadsWrongTypesAsEmpty();
    void nullOutputListIsRefused();
    void databaseParserRefuses_data();
    void databaseParserRefuses();
    void databaseParserSkipsUnusableElements();
    void databaseFormatVersion_data();
    void databaseFormatVersion();
    void eachParserReadsOnlyItsOwnList();
    void largeDocumentKeepsDocumentOrder();
    void versionStrings_data();
    void versionStrings();
    void versionToString_data();
    void versionToString();
    void firmwareEntryForSerial_data();
    void firmwareEntryForSerial();
    void deviceTypeFromManifestMatchesAnyCase();
    void latestDatabase_data();
    void latestDatabase();
    void entryByFileName_data();
    void entryByFileName();
    void firmwareOlderThanManifest_data();
    void firmwareOlderThanManifest();
};

void ManifestFormatTest::firmwareParserRefuses_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    const QByteArray broken = "{\"firmware_packages\": [";
    const QByteArray bad_utf8 = firmwareDocument("[{\"device_type\": \"A\xff\"}]");
    QTest::newRow("syntax error") << broken << "Invalid manifest JSON: " + jsonErrorText(broken);
    QTest::newRow("invalid UTF-8") << bad_utf8 << "Invalid manifest JSON: " + jsonErrorText(bad_utf8);
    QTest::newRow("empty bytes") << QByteArray() << "Invalid manifest JSON: " + jsonErrorText(QByteArray());
    QTest::newRow("top level array") << QByteArray("[]") << QStringLiteral("Invalid manifest JSON: no error occurred");
    QTest::newRow("top level string") << QByteArray("\"x\"") << "Invalid manifest JSON: " + jsonErrorText("\"x\"");
    QTest::newRow("no list") << QByteArray("{}") << QStringLiteral("firmware_packages is empty");
    QTest::newRow("list is an object") << firmwareDocument("{}") << QStringLiteral("firmware_packages is empty");
    QTest::newRow("list is a string") << firmwareDocument("\"efis.bin\"") << QStringLiteral("firmware_packages is empty");
    QTest::newRow("empty list") << firmwareDocument("[]") << QStringLiteral("firmware_packages is empty");
    QTest::newRow("no objects") << firmwareDocument("[1, \"efis.bin\", null, [], true]")
                                << QStringLiteral("No valid firmware packages in manifest");
    QTest::newRow("two-number version after a good one")
        << firmwareDocument("[" + kGoodPackage
                            + R"(, {"device_type": "ed", "firmware_file": "ed.bin", "firmware_version": "1.2"}])")
        << QStringLiteral("Invalid firmware_version for device_type ED");
    QTest::newRow("version as a number")
        << firmwareDocument(R"([{"device_type": "AE", "firmware_file": "efis.bin", "firmware_version": 1.2}])")
        << QStringLiteral("Invalid firmware_version for device_type AE");
    QTest::newRow("version before device type")
        << firmwareDocument(R"([{"firmware_file": "efis.bin"}])")
        << QStringLiteral("Invalid firmware_version for device_type ");
    QTest::newRow("device type only spaces")
        << firmwareDocument(R"([{"device_type": "  ", "firmware_file": "efis.bin", "firmware_version": "1.2.3"}])")
        << QStringLiteral("Manifest entry missing device_type or firmware_file");
    QTest::newRow("device type a number")
        << firmwareDocument(R"([{"device_type": 174, "firmware_file": "efis.bin", "firmware_version": "1.2.3"}])")
        << QStringLiteral("Manifest entry missing device_type or firmware_file");
    QTest::newRow("no firmware file")
        << firmwareDocument(R"([{"device_type": "AE", "firmware_version": "1.2.3"}])")
        << QStringLiteral("Manifest entry missing device_type or firmware_file");
    QTest::newRow("firmware file an object")
        << firmwareDocument(R"([{"device_type": "AE", "firmware_file": {}, "firmware_version": "1.2.3"}])")
        << QStringLiteral("Manifest entry missing device_type or firmware_file");
}

void ManifestFormatTest::firmwareParserRefuses()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);

    FirmwareList entries;
    QString error;
    QVERIFY(!parseFirmwareManifestJson(json, &entries, &error));
    QCOMPARE(error, message);
    QVERIFY(!parseFirmwareManifestJson(json, &entries, nullptr));
}

void ManifestFormatTest::firmwareFailureKeepsOnlyEarlierEntries()
{
    FirmwareList entries = {package(QStringLiteral("FF"), {})};
    const QByteArray json =
        firmwareDocument("[" + kGoodPackage + R"(, {"device_type": "ED", "firmware_file": "x", "firmware_version": "v1.0.0"}, )"
                         + kGoodPackage + "]");
    QVERIFY(!parseFirmwareManifestJson(json, &entries, nullptr));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).device_type, QStringLiteral("AE"));
}

void ManifestFormatTest::firmwareParserReadsEveryField()
{
    const QByteArray json = firmwareDocument(R"([
        "not an object",
        {"device_type": " ae ", "display_name": " Halcyra EFIS ", "firmware_file": " builds/efis 1.bin ",
         "download_url": "https://example.invalid/efis.bin", "sha256": " ABCDEF ",
         "minimum_bootloader_version": "0.9", "hardware_revisions": ["1", "10"],
         "firmware_version": " 2.10.255 ", "unknown_key": {"nested": true}},
        {"device_type": "ED", "firmware_file": "ed.bin", "firmware_version": "0.0.0"}])");
    FirmwareList entries;
    QString error = QStringLiteral("untouched");
    QVERIFY(parseFirmwareManifestJson(json, &entries, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(entries.size(), 2);

    const FirmwareManifestEntry& first = entries.at(0);
    QCOMPARE(first.device_type, QStringLiteral("AE"));
    QCOMPARE(first.display_name, QStringLiteral(" Halcyra EFIS "));
    QCOMPARE(first.firmware_file, QStringLiteral(" builds/efis 1.bin "));
    QCOMPARE(first.download_url, QStringLiteral("https://example.invalid/efis.bin"));
    QCOMPARE(first.sha256, QStringLiteral(" ABCDEF "));
    QCOMPARE(first.minimum_bootloader_version, QStringLiteral("0.9"));
    QCOMPARE(first.hardware_revisions, QStringList({QStringLiteral("1"), QStringLiteral("10")}));
    QCOMPARE(int(first.firmware_major), 2);
    QCOMPARE(int(first.firmware_minor), 10);
    QCOMPARE(int(first.firmware_patch), 255);

    const FirmwareManifestEntry& second = entries.at(1);
    QCOMPARE(second.device_type, QStringLiteral("ED"));
    QVERIFY(second.display_name.isEmpty());
    QVERIFY(second.hardware_revisions.isEmpty());
    QCOMPARE(int(second.firmware_major) + int(second.firmware_minor) + int(second.firmware_patch), 0);
}

void ManifestFormatTest::firmwareParserReadsWrongTypesAsEmpty()
{
    const QByteArray json = firmwareDocument(R"([
        {"device_type": "AE", "display_name": 7, "firmware_file": "efis.bin", "download_url": {"u": 1},
         "sha256": ["ab"], "minimum_bootloader_version": true, "hardware_revisions": [1, 2],
         "firmware_version": "1.0.0"},
        {"device_type": "AE", "firmware_file": "efis.bin", "hardware_revisions": "1", "firmware_version": "1.0.0"}])");
    FirmwareList entries;
    QVERIFY(parseFirmwareManifestJson(json, &entries, nullptr));
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries.at(0).display_name.isEmpty());
    QVERIFY(entries.at(0).download_url.isEmpty());
    QVERIFY(entries.at(0).sha256.isEmpty());
    QVERIFY(entries.at(0).minimum_bootloader_version.isEmpty());
    QCOMPARE(entries.at(0).hardware_revisions, QStringList({QString(), QString()}));
    QVERIFY(entries.at(1).hardware_revisions.isEmpty());
}

void ManifestFormatTest::nullOutputListIsRefused()
{
    QString error;
    QVERIFY(!parseFirmwareManifestJson(firmwareDocument("[" + kGoodPackage + "]"), nullptr, &error));
    QCOMPARE(error, QStringLiteral("entries_out is null"));
    error.clear();
    QVERIFY(!parseDatabaseManifestJson(databaseDocument("[]"), nullptr, &error));
    QCOMPARE(error, QStringLiteral("entries_out is null"));
}

void ManifestFormatTest::databaseParserRefuses_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    const QByteArray broken = "{\"database_files\": [}";
    QTest::newRow("syntax error") << broken << "Invalid manifest JSON: " + jsonErrorText(broken);
    QTest::newRow("top level array") << QByteArray("[{}]") << QStringLiteral("Invalid manifest JSON: no error occurred");
    QTest::newRow("no list") << QByteArray("{}") << QStringLiteral("database_files is empty");
    QTest::newRow("list is a number") << databaseDocument("3") << QStringLiteral("database_files is empty");
    QTest::newRow("empty list") << databaseDocument("[]") << QStringLiteral("database_files is empty");
    QTest::newRow("nothing usable")
        << databaseDocument(R"([1, {"db_type": "airport", "database_file": "airports.zip"},
                                {"db_type": "  ", "database_file": "airports.db"},
                                {"db_type": "airport", "database_file": 5},
                                {"db_type": "airport"}])")
        << QStringLiteral("No valid database packages in manifest");
}

void ManifestFormatTest::databaseParserRefuses()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);

    DatabaseList entries = {database(QStringLiteral("airport"), QString())};
    QString error;
    QVERIFY(!parseDatabaseManifestJson(json, &entries, &error));
    QCOMPARE(error, message);
    QVERIFY(entries.isEmpty());
}

void ManifestFormatTest::databaseParserSkipsUnusableElements()
{
    const QByteArray json = databaseDocument(R"([
        {"db_type": "airport", "database_file": "airports.zip"},
        {"db_type": " Airport ", "display_name": "Airports", "format_version": 3,
         "cycle_effective_date": "2025-02-20", "database_file": "AIRPORTS.DB",
         "download_url": "https://example.invalid/a.db", "sha256": "Ab12"},
        "string"])");
    DatabaseList entries;
    QString error = QStringLiteral("untouched");
    QVERIFY(parseDatabaseManifestJson(json, &entries, &error));
    QCOMPARE(error, QStringLiteral("untouched"));
    QCOMPARE(entries.size(), 1);
    const DatabaseManifestEntry& entry = entries.at(0);
    QCOMPARE(entry.db_type, QStringLiteral("airport"));
    QCOMPARE(entry.display_name, QStringLiteral("Airports"));
    QCOMPARE(entry.format_version, 3);
    QCOMPARE(entry.cycle_effective_date, QStringLiteral("2025-02-20"));
    QCOMPARE(entry.database_file, QStringLiteral("AIRPORTS.DB"));
    QCOMPARE(entry.download_url, QStringLiteral("https://example.invalid/a.db"));
    QCOMPARE(entry.sha256, QStringLiteral("Ab12"));
}

void ManifestFormatTest::databaseFormatVersion_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("whole") << QByteArray("7") << 7;
    QTest::newRow("negative") << QByteArray("-2") << -2;
    QTest::newRow("written with a fraction") << QByteArray("4.0") << 4;
    QTest::newRow("fraction") << QByteArray("3.5") << 0;
    QTest::newRow("text") << QByteArray("\"3\"") << 0;
    QTest::newRow("null") << QByteArray("null") << 0;
    QTest::newRow("beyond int32") << QByteArray("1e20") << 0;
    QTest::newRow("below int32") << QByteArray("-3000000000") << 0;
    QTest::newRow("largest int32") << QByteArray("2147483647") << 2147483647;
}

void ManifestFormatTest::databaseFormatVersion()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);

    const QByteArray json =
        databaseDocument(R"([{"db_type": "airport", "database_file": "a.db", "format_version": )" + value + "}]");
    DatabaseList entries;
    QVERIFY(parseDatabaseManifestJson(json, &entries, nullptr));
    QCOMPARE(entries.at(0).format_version, expected);
}

void ManifestFormatTest::eachParserReadsOnlyItsOwnList()
{
    const QByteArray firmware_only = firmwareDocument("[" + kGoodPackage + "]");
    const QByteArray database_only = databaseDocument(R"([{"db_type": "airport", "database_file": "a.db"}])");
    FirmwareList firmware;
    DatabaseList databases;
    QString error;

    QVERIFY(parseFirmwareManifestJson(firmware_only, &firmware, nullptr));
    QVERIFY(!parseDatabaseManifestJson(firmware_only, &databases, &error));
    QCOMPARE(error, QStringLiteral("database_files is empty"));

    QVERIFY(parseDatabaseManifestJson(database_only, &databases, nullptr));
    QVERIFY(!parseFirmwareManifestJson(database_only, &firmware, &error));
    QCOMPARE(error, QStringLiteral("firmware_packages is empty"));
}

void ManifestFormatTest::largeDocumentKeepsDocumentOrder()
{
    const int count = 20000;
    QByteArray packages = "[";
    QByteArray files = "[";
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        packages += (i ? "," : "") + QByteArray(R"({"device_type": "AE", "firmware_file": "f)") + n
                    + R"(.bin", "firmware_version": "1.2.3"})";
        files += (i ? "," : "") + QByteArray(R"({"db_type": "airport", "database_file": "d)") + n + R"(.db"})";
    }
    const QByteArray json = "{\"firmware_packages\": " + packages + "], \"database_files\": " + files + "]}";

    FirmwareList firmware;
    DatabaseList databases;
    QVERIFY(parseFirmwareManifestJson(json, &firmware, nullptr));
    QVERIFY(parseDatabaseManifestJson(json, &databases, nullptr));
    QCOMPARE(firmware.size(), count);
    QCOMPARE(databases.size(), count);
    QCOMPARE(firmware.first().firmware_file, QStringLiteral("f0.bin"));
    QCOMPARE(firmware.last().firmware_file, QStringLiteral("f%1.bin").arg(count - 1));
    QCOMPARE(databases.last().database_file, QStringLiteral("d%1.db").arg(count - 1));
}

void ManifestFormatTest::versionStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");

    QTest::newRow("plain") << "1.2.3" << true << 1 << 2 << 3;
    QTest::newRow("surrounding spaces") << " \t1.2.3\n" << true << 1 << 2 << 3;
    QTest::newRow("top of range") << "255.0.10" << true << 255 << 0 << 10;
    QTest::newRow("leading zeros") << "01.002.0" << true << 1 << 2 << 0;
    QTest::newRow("two numbers") << "1.2" << false << 0 << 0 << 0;
    QTest::newRow("four numbers") << "1.2.3.4" << false << 0 << 0 << 0;
    QTest::newRow("empty part") << "1..3" << false << 0 << 0 << 0;
    QTest::newRow("trailing full stop") << "1.2.3." << false << 0 << 0 << 0;
    QTest::newRow("out of range") << "1.2.256" << false << 0 << 0 << 0;
    QTest::newRow("prefix") << "v1.2.3" << false << 0 << 0 << 0;
    QTest::newRow("letter") << "1.2.x" << false << 0 << 0 << 0;
    QTest::newRow("sign") << "+1.2.3" << false << 0 << 0 << 0;
    QTest::newRow("negative") << "1.-2.3" << false << 0 << 0 << 0;
    QTest::newRow("inner space") << "1. 2.3" << false << 0 << 0 << 0;
    QTest::newRow("huge number") << "99999999999.0.0" << false << 0 << 0 << 0;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0;
    QTest::newRow("non-ASCII digits") << QStringLiteral("\u0661.2.3") << false << 0 << 0 << 0;
}

void ManifestFormatTest::versionStrings()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);

    // A refused text must leave the outputs as they were.
    const uint8_t untouched = 77;
    uint8_t got_major = untouched;
    uint8_t got_minor = untouched;
    uint8_t got_patch = untouched;
    QCOMPARE(parseFirmwareVersionString(text, &got_major, &got_minor, &got_patch), accepted);
    QCOMPARE(int(got_major), accepted ? major : untouched);
    QCOMPARE(int(got_minor), accepted ? minor : untouched);
    QCOMPARE(int(got_patch), accepted ? patch : untouched);
    QVERIFY(!parseFirmwareVersionString(text, nullptr, &got_minor, &got_patch));
}

void ManifestFormatTest::versionToString_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<int>("rc");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero minor") << 1 << 0 << 12 << 0 << "1.0.12";
    QTest::newRow("rc not shown") << 2 << 10 << 3 << 7 << "2.10.3";
    QTest::newRow("largest") << 255 << 255 << 255 << 255 << "255.255.255";
}

void ManifestFormatTest::versionToString()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(int, rc);
    QFETCH(QString, text);
    QCOMPARE(firmwareVersionToString(version(uint8_t(major), uint8_t(minor), uint8_t(patch), uint8_t(rc))), text);
}

void ManifestFormatTest::firmwareEntryForSerial_data()
{
    QTest::addColumn<FirmwareList>("entries");
    QTest::addColumn<uint>("serial");
    QTest::addColumn<int>("expected");

    const QString ae = QStringLiteral("AE");
    const QStringList all;
    const QStringList rev1 = {QStringLiteral("1")};
    const QStringList rev2 = {QStringLiteral("2")};
    const QStringList rev3 = {QStringLiteral("3")};

    QTest::newRow("named revision after another") << FirmwareList{package(ae, rev1), package(ae, rev2)} << 0xAE021234u << 1;
    QTest::newRow("all revisions first wins") << FirmwareList{package(ae, all), package(ae, rev2)} << 0xAE021234u << 0;
    QTest::newRow("other revision as fallback") << FirmwareList{package(ae, rev3)} << 0xAE021234u << 0;
    QTest::newRow("first of type is the fallback")
        << FirmwareList{package(QStringLiteral("ED"), all), package(ae, rev3), package(ae, {QStringLiteral("4")})}
        << 0xAE021234u << 1;
    QTest::newRow("other device type only") << FirmwareList{package(QStringLiteral("ED"), all)} << 0xAE021234u << -1;
    QTest::newRow("empty list") << FirmwareList{} << 0xAE021234u << -1;
    QTest::newRow("revision ten") << FirmwareList{package(ae, rev1), package(ae, {QStringLiteral("10")})} << 0xAE0A0000u << 1;
    QTest::newRow("revision zero") << FirmwareList{package(ae, rev1), package(ae, {QStringLiteral("0")})} << 0xAE000000u << 1;
    QTest::newRow("leading zero never matches") << FirmwareList{package(ae, {QStringLiteral("01")}), package(ae, rev1)}
                                                << 0xAE010000u << 1;
    QTest::newRow("numeric revisions read empty") << FirmwareList{package(ae, {QString(), QString()}), package(ae, all)}
                                                  << 0xAE010000u << 1;
    QTest::newRow("key has two digits") << FirmwareList{package(QStringLiteral("A"), all), package(QStringLiteral("0A"), all)}
                                        << 0x0A010000u << 1;
    QTest::newRow("pc unit") << FirmwareList{package(ae, all), package(QStringLiteral("CC"), all)} << 0xCC000001u << 1;
}

void ManifestFormatTest::firmwareEntryForSerial()
{
    QFETCH(FirmwareList, entries);
    QFETCH(uint, serial);
    QFETCH(int, expected);
    QCOMPARE(indexOf(entries, findFirmwareManifestEntry(entries, serial)), expected);
}

void ManifestFormatTest::deviceTypeFromManifestMatchesAnyCase()
{
    const QByteArray json = firmwareDocument(
        R"([{"device_type": " ed ", "firmware_file": "ed.bin", "firmware_version": "1.0.0", "hardware_revisions": ["3"]}])");
    FirmwareList entries;
    QVERIFY(parseFirmwareManifestJson(json, &entries, nullptr));
    QCOMPARE(findFirmwareManifestEntry(entries, 0xED030042u), &entries.at(0));
}

void ManifestFormatTest::latestDatabase_data()
{
    QTest::addColumn<DatabaseList>("entries");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("expected");

    const QString airport = QStringLiteral("airport");
    const DatabaseManifestEntry january = database(airport, QStringLiteral("2025-01-23"));
    const DatabaseManifestEntry february = database(airport, QStringLiteral("2025-02-20"));

    QTest::newRow("later second") << DatabaseList{january, february} << airport << 1;
    QTest::newRow("later first") << DatabaseList{february, january} << airport << 0;
    QTest::newRow("same date first wins") << DatabaseList{january, january, february, february} << airport << 2;
    QTest::newRow("other types ignored")
        << DatabaseList{database(QStringLiteral("obstacle"), QStringLiteral("2099-01-01")), january} << airport << 1;
    QTest::newRow("requested type normalised") << DatabaseList{january} << QStringLiteral(" Airport ") << 0;
    QTest::newRow("empty date sorts first") << DatabaseList{database(airport, QString()), january} << airport << 1;
    QTest::newRow("none of the type") << DatabaseList{database(QStringLiteral("terrain"), QString())} << airport << -1;
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
    QTest::newRow("bare name") << "efis.bin" << 0;
    QTest::newRow("case differs") << "EFIS.bin" << -1;
    QTest::newRow("later entry") << "ed.bin" << 2;
    QTest::newRow("backslash path") << "C:\\Firmware\\ed.bin" << 2;
    QTest::newRow("directory only") << "/home/pilot/" << -1;
    QTest::newRow("unknown") << "ff.bin" << -1;
}

void ManifestFormatTest::entryByFileName()
{
    QFETCH(QString, name);
    QFETCH(int, expected);

    FirmwareList entries = {package(QStringLiteral("AE"), {}), package(QStringLiteral("AE"), {}),
                            package(QStringLiteral("ED"), {}), package(QStringLiteral("FF"), {})};
    entries[0].firmware_file = QStringLiteral("builds/efis.bin");
    entries[1].firmware_file = QStringLiteral("efis.bin");
    entries[2].firmware_file = QStringLiteral("ed.bin");
    entries[3].firmware_file = QStringLiteral("builds/");
    QCOMPARE(indexOf(entries, findManifestEntryByFirmwareFileName(entries, name)), expected);
}

void ManifestFormatTest::firmwareOlderThanManifest_data()
{
    QTest::addColumn<uint>("installed"); // major, minor, patch, rc from the top byte down
    QTest::addColumn<QString>("manifest");
    QTest::addColumn<bool>("older");

    QTest::newRow("same") << 0x01040000u << "1.4.0" << false;
    QTest::newRow("same, any rc") << 0x010400FFu << "1.4.0" << false;
    QTest::newRow("patch behind") << 0x01040009u << "1.4.1" << true;
    QTest::newRow("minor behind numerically") << 0x01040000u << "1.10.0" << true;
    QTest::newRow("newer major") << 0x02000000u << "1.9.9" << false;
    QTest::newRow("newer patch") << 0x01040100u << "1.4.0" << false;
    QTest::newRow("major decides") << 0x00FFFF00u << "1.0.0" << true;
}

void ManifestFormatTest::firmwareOlderThanManifest()
{
    QFETCH(uint, installed);
    QFETCH(QString, manifest);
    QFETCH(bool, older);

    FirmwareManifestEntry entry;
    QVERIFY(parseFirmwareVersionString(manifest, &entry.firmware_major, &entry.firmware_minor, &entry.firmware_patch));
    const fwversion_t unit =
        version(uint8_t(installed >> 24), uint8_t(installed >> 16), uint8_t(installed >> 8), uint8_t(installed));
    QCOMPARE(deviceFirmwareOlderThanManifest(unit, entry), older);
}

QTEST_GUILESS_MAIN(ManifestFormatTest)
#include "tst_manifest_format.moc"
