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

uint32_t float_bits(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint32_t word(Settings_t record, uint32_t index)
{
    return settings_get_value(&record, static_cast<settings_struct_index>(index));
}

void put(Settings_t* record, uint32_t index, uint32_t value)
{
    settings_set_value(record, static_cast<settings_struct_index>(index), &value);
}

// White colours, negative corrections, an 11-character registration, values
// beyond the form's ranges and a colour that is not opaque.
Settings_t edge_record()
{
    Settings_t record = sim::factory_settings();
    for (uint32_t i = SKY_COLOR_0_INDEX; i <= GEAR_INDI_COLOR_INDEX; i++)
        put(&record, i, 0xFFFFFFFF);
    put(&record, RED_ARC_COLOR_INDEX, 0x80FF0000);
    put(&record, ROLL_CORRECTION_INDEX, float_bits(-2.5f));
    put(&record, PITCH_CORRECTION_INDEX, float_bits(-89.9f));
    put(&record, REGISTRATION_1_INDEX, 0x4E313233); // "N123"
    put(&record, REGISTRATION_2_INDEX, 0x34353637); // "4567"
    put(&record, REGISTRATION_3_INDEX, 0x38394100); // "89A"
    put(&record, VNE_INDEX, 250);
    put(&record, USE_MAG_INDEX, 7);
    put(&record, EMITTER_CAT_INDEX, 30);
    return record;
}

Settings_t patterned_record()
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
    const Settings_t record = edge_record();
    const QByteArray document = settings_file_export(record, kUnit);
    QVERIFY(document.contains("\"registration\": \"N123456789A\""));
    QVERIFY(document.contains("\"airplane_color\": \"#ffffff\""));
    QVERIFY(document.contains("\"red_arc_color\": \"#80ff0000\""));
    QVERIFY(document.contains("\"roll_correction\": -2.5"));
    QVERIFY(document.contains("\"serial_number\": \"0xAE020457\""));
    QCOMPARE(settings_file_export(record, kUnit), document);

    Settings_t imported = patterned_record();
    settings_file_unit_t unit = {0, {0}};
    QString error;
    QVERIFY2(settings_file_import(document, record.version, &imported, &unit, &error), qPrintable(error));
    for (uint32_t i = 0; i < SETTINGS_LAST_INDEX; i++)
        QCOMPARE(word(imported, i), word(record, i));
    QCOMPARE(imported.version, record.version);
    QCOMPARE(imported.num_elements, record.num_elements);
    QCOMPARE(unit.serial, kUnit.serial);
    QCOMPARE(unit.firmware.version, kUnit.firmware.version);
}

void TestSettingsFile::badFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("problem");

    const QByteArray good = settings_file_export(sim::factory_settings(), kUnit);
    auto edited = [&](const char* from, const char* to) {
        QByteArray document = good;
        return document.replace(from, to);
    };
    QTest::newRow("not JSON") << QByteArray("settings?") << "not a JSON document";
    QTest::newRow("JSON array") << QByteArray("[1, 2]") << "not a settings file";
    QTest::newRow("format version") << edited("\"format_version\": 1", "\"format_version\": 2")
                                    << "format version 2 is not one this program reads (it reads version 1)";
    QTest::newRow("layout version") << edited("\"layout_version\": 3", "\"layout_version\": 4")
                                    << "the file holds settings of layout version 4; the unit's are version 3";
    QTest::newRow("unknown name") << edited("\"vmin\"", "\"vmax\"") << "unknown setting \"vmax\"";
    QTest::newRow("missing name") << edited("        \"vmin\": 40,\n", "") << "setting \"vmin\" is missing";
    QTest::newRow("out of range") << edited("\"vne\": 150", "\"vne\": 241")
                                  << "setting \"vne\": 241 is outside 0 to 240";
    QTest::newRow("disagrees with raw word") << edited("\"vne\": 150", "\"vne\": 160")
                                             << "setting \"vne\" (160) disagrees with its raw word (150)";
    QTest::newRow("raw word") << edited("\"0x00000096\"", "\"150\"") << "raw word 6 is not a 32-bit hexadecimal word";
    QTest::newRow("element count") << edited("\"element_count\": 31", "\"element_count\": 40")
                                   << "element count 40 is more than the 31 words a record holds";
}

void TestSettingsFile::badFileChangesNothing()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, problem);

    Settings_t record = patterned_record();
    const Settings_t before = record;
    QString error;
    QVERIFY(!settings_file_import(document, 3, &record, nullptr, &error));
    QVERIFY2(error.startsWith(problem), qPrintable(error));
    QVERIFY(memcmp(&record, &before, sizeof record) == 0);
}

void TestSettingsFile::singleValueParsedWithItsRange_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
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
    const Settings_t before = record;
    QString reason;
    QCOMPARE(settings_field_parse(*field, text, &record, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    if (error.isEmpty())
        QCOMPARE(settings_field_text_with_unit(*field, record), shown);
    else
        QVERIFY(memcmp(&record, &before, sizeof record) == 0);
}

void TestSettingsFile::backupsKeptToNewestTwentyPerUnit()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QStringList older = {"AE020457_20240101-000000-000.json", "AE020457_20240101-000001-000.json",
                               "AE020457_20240101-000002-000.json", "AE020457_20240101-000003-000.json",
                               "AE020457_20240101-000004-000.json", "AE020457_20240101-000005-000.json",
                               "AE020457_20240101-000006-000.json", "AE020457_20240101-000007-000.json",
                               "AE020457_20240101-000008-000.json", "AE020457_20240101-000009-000.json",
                               "AE020457_20240101-000010-000.json", "AE020457_20240101-000011-000.json",
                               "AE020457_20240101-000012-000.json", "AE020457_20240101-000013-000.json",
                               "AE020457_20240101-000014-000.json", "AE020457_20240101-000015-000.json",
                               "AE020457_20240101-000016-000.json", "AE020457_20240101-000017-000.json",
                               "AE020457_20240101-000018-000.json", "AE020457_20240101-000019-000.json",
                               "AE000001_20240101-000000-000.json"};
    for (const QString& name : older) {
        QFile file(directory.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QString error;
    const QString path = settings_backup_write(directory.path(), sim::factory_settings(), kUnit, &error);

    QVERIFY2(!path.isEmpty(), qPrintable(error));
    const QStringList kept = QDir(directory.path()).entryList({"AE020457_*.json"}, QDir::Files, QDir::Name);
    QCOMPARE(kept.size(), 20);
    QVERIFY(!kept.contains(older[0]));
    QCOMPARE(kept.constLast(), QFileInfo(path).fileName());
    QVERIFY(QFile::exists(directory.filePath(older.constLast())));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), settings_file_export(sim::factory_settings(), kUnit));
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
