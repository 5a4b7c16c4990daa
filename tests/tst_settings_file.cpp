// The settings file: an edge record survives export and import word for
// word, every kind of bad file is refused with its problem named and nothing
// changed, single values parse with their range checked, and backups are kept
// to the newest twenty per unit.

#include <QtTest>

#include <cstring>

#include "EFIS_shared/get_set.h"
#include "settings_file.h"
#include "simulated_unit.h"

namespace {

const settings_file_unit_t kUnit = {0xAE020457, {0x01030000}};

template <typename T>
QByteArray bytesOf(const T& object)
{
    return QByteArray(reinterpret_cast<const char*>(&object), int(sizeof object));
}

// White colours, negative corrections, an 11-character registration, values
// beyond the form's ranges and a colour that is not opaque.
Settings_t edgeRecord()
{
    Settings_t record = sim::factory_settings();
    const auto put = [&](uint32_t index, uint32_t value) {
        settings_set_value(&record, static_cast<settings_struct_index>(index), &value);
    };
    for (uint32_t i = SKY_COLOR_0_INDEX; i <= GEAR_INDI_COLOR_INDEX; i++)
        put(i, 0xFFFFFFFF);
    put(RED_ARC_COLOR_INDEX, 0x80FF0000);
    put(ROLL_CORRECTION_INDEX, 0xC0200000);   // -2.5
    put(PITCH_CORRECTION_INDEX, 0xC2B3CCCD);  // -89.9
    put(REGISTRATION_1_INDEX, 0x4E313233);    // "N123"
    put(REGISTRATION_2_INDEX, 0x34353637);    // "4567"
    put(REGISTRATION_3_INDEX, 0x38394100);    // "89A"
    put(VNE_INDEX, 250);
    put(USE_MAG_INDEX, 7);
    put(EMITTER_CAT_INDEX, 30);
    return record;
}

Settings_t patternedRecord()
{
    Settings_t record;
    memset(&record, 0xA5, sizeof record);
    return record;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void exportThenImportRestoresEveryWord();
    void badFileChangesNothing_data();
    void badFileChangesNothing();
    void singleValueParsedWithItsRange_data();
    void singleValueParsedWithItsRange();
    void backupsKeptToNewestTwentyPerUnit();
};

void TestSettingsFile::exportThenImportRestoresEveryWord()
{
    const Settings_t record = edgeRecord();
    const QByteArray document = settings_file_export(record, kUnit);
    for (const char* line : {"\"registration\": \"N123456789A\"", "\"airplane_color\": \"#ffffff\"",
                             "\"red_arc_color\": \"#80ff0000\"", "\"roll_correction\": -2.5",
                             "\"serial_number\": \"0xAE020457\""})
        QVERIFY2(document.contains(line), line);

    Settings_t imported = patternedRecord();
    settings_file_unit_t unit = {0, {0}};
    QString error;
    QVERIFY2(settings_file_import(document, record.version, &imported, &unit, &error), qPrintable(error));
    // Everything from the layout version on; the host stamps magic and checksum when it stores.
    QCOMPARE(bytesOf(imported).mid(8), bytesOf(record).mid(8));
    QCOMPARE(unit.serial, kUnit.serial);
    QCOMPARE(unit.firmware.version, kUnit.firmware.version);
}

void TestSettingsFile::badFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("problem");

    const QByteArray good = settings_file_export(sim::factory_settings(), kUnit);
    auto edited = [&](const char* from, const char* to) { return QByteArray(good).replace(from, to); };
    QTest::newRow("not JSON") << QByteArray("settings?") << "not a JSON document";
    QTest::newRow("JSON array") << QByteArray("[1, 2]") << "not a settings file";
    QTest::newRow("format version") << edited("\"format_version\": 1", "\"format_version\": 2")
                                    << "format version 2 is not one this program reads (it reads version 1)";
    QTest::newRow("layout version") << edited("\"layout_version\": 3", "\"layout_version\": 4")
                                    << "the file holds settings of layout version 4; the unit's are version 3";
    QTest::newRow("element count") << edited("\"element_count\": 31", "\"element_count\": 40")
                                   << "element count 40 is more than the 31 words a record holds";
    QTest::newRow("partial record") << edited("        \"0x00000096\",\n", "")
                                    << "\"raw_words\" must list 36 words";
    QTest::newRow("raw word") << edited("\"0x00000096\"", "\"150\"") << "raw word 6 is not a 32-bit hexadecimal word";
    QTest::newRow("unknown name") << edited("\"vmin\"", "\"vmax\"") << "unknown setting \"vmax\"";
    QTest::newRow("missing name") << edited("        \"vmin\": 40,\n", "") << "setting \"vmin\" is missing";
    QTest::newRow("out of range") << edited("\"vne\": 150", "\"vne\": 241")
                                  << "setting \"vne\": 241 is outside 0 to 240";
    QTest::newRow("disagrees with raw word") << edited("\"vne\": 150", "\"vne\": 160")
                                             << "setting \"vne\" (160) disagrees with its raw word (150)";
}

void TestSettingsFile::badFileChangesNothing()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, problem);

    Settings_t record = patternedRecord();
    QString error;
    QVERIFY(!settings_file_import(document, 3, &record, nullptr, &error));
    QVERIFY2(error.startsWith(problem), qPrintable(error));
    QCOMPARE(bytesOf(record), bytesOf(patternedRecord()));
}

void TestSettingsFile::singleValueParsedWithItsRange_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // empty: refused with the error
    QTest::addColumn<QString>("error");

    QTest::newRow("volts") << "min_volt_warning" << "12.3" << "12.3 V" << "";
    QTest::newRow("volts too low") << "min_volt_warning" << "4.9" << "" << "4.9 is outside 5.0 to 65.0";
    QTest::newRow("speed in knots") << "vne" << "200" << "200 kt" << "";
    QTest::newRow("not a number") << "vne" << "fast" << "" << "\"fast\" is not a number";
    QTest::newRow("emitter by code") << "emitter_category" << "b1" << "B1 : Glider / sailplane" << "";
    QTest::newRow("unit list") << "altitude_units" << "Meters" << "Meters" << "";
    QTest::newRow("registration too long") << "registration" << "N1234567890A" << ""
                                           << "\"N1234567890A\" is longer than 11 characters";
    QTest::newRow("colour") << "sky_upper_color" << "#1E64C8" << "#1e64c8" << "";
}

void TestSettingsFile::singleValueParsedWithItsRange()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, error);

    const settings_field_t* field = settings_field_by_name(name);
    QVERIFY(field != nullptr);
    Settings_t record = sim::factory_settings();
    QString reason;
    QCOMPARE(settings_field_parse(*field, text, &record, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    if (error.isEmpty())
        QCOMPARE(settings_field_text_with_unit(*field, record), shown);
    else
        QCOMPARE(bytesOf(record), bytesOf(sim::factory_settings()));
}

void TestSettingsFile::backupsKeptToNewestTwentyPerUnit()
{
    QTemporaryDir directory;
    const auto touch = [&](const QString& name) { return QFile(directory.filePath(name)).open(QIODevice::WriteOnly); };
    for (int second = 0; second < 20; ++second)
        QVERIFY(touch(QStringLiteral("AE020457_20240101-0000%1-000.json").arg(second, 2, 10, QLatin1Char('0'))));
    QVERIFY(touch("AE000001_20240101-000000-000.json"));

    QString error;
    const QString path = settings_backup_write(directory.path(), sim::factory_settings(), kUnit, &error);

    QVERIFY2(!path.isEmpty(), qPrintable(error));
    const QStringList kept = QDir(directory.path()).entryList({"AE020457_*.json"}, QDir::Files, QDir::Name);
    QCOMPARE(kept.size(), 20);
    QCOMPARE(kept.constFirst(), QStringLiteral("AE020457_20240101-000001-000.json"));
    QCOMPARE(kept.constLast(), QFileInfo(path).fileName());
    QVERIFY(QFile::exists(directory.filePath("AE000001_20240101-000000-000.json")));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), settings_file_export(sim::factory_settings(), kUnit));
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
