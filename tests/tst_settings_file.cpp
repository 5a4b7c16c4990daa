// The settings file: an edge record survives export and import word for
// word, every kind of bad file is refused with its problem named and nothing
// changed, and backups are kept to the newest twenty per unit.

#include <QtTest>

#include "EFIS_shared/get_set.h"
#include "settings_file.h"
#include "simulated_unit.h"

namespace {

const settings_file_unit_t kUnit = {0xAE020457, {0x01030000}};

QByteArray bytesOf(const Settings_t& object)
{
    return QByteArray(reinterpret_cast<const char*>(&object), int(sizeof object));
}

// White colours, negative corrections (-2.5, -89.9), an 11-character
// registration, values beyond the form's ranges and a colour that is not opaque.
Settings_t edgeRecord()
{
    Settings_t record = sim::factory_settings();
    std::vector<std::pair<uint32_t, uint32_t>> words = {
        {RED_ARC_COLOR_INDEX, 0x80FF0000}, {ROLL_CORRECTION_INDEX, 0xC0200000}, {PITCH_CORRECTION_INDEX, 0xC2B3CCCD},
        {REGISTRATION_1_INDEX, 0x4E313233}, {REGISTRATION_2_INDEX, 0x34353637}, {REGISTRATION_3_INDEX, 0x38394100},
        {VNE_INDEX, 250}, {USE_MAG_INDEX, 7}, {EMITTER_CAT_INDEX, 30}};
    for (uint32_t i = SKY_COLOR_0_INDEX; i <= GEAR_INDI_COLOR_INDEX; i++)
        words.insert(words.begin(), {i, 0xFFFFFFFF});
    for (auto& [index, value] : words)
        settings_set_value(&record, static_cast<settings_struct_index>(index), &value);
    return record;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void exportThenImportRestoresEveryWord()
    {
        const Settings_t record = edgeRecord();
        const QByteArray document = settings_file_export(record, kUnit);
        for (const char* line : {"\"registration\": \"N123456789A\"", "\"airplane_color\": \"#ffffff\"",
                                 "\"red_arc_color\": \"#80ff0000\"", "\"roll_correction\": -2.5",
                                 "\"serial_number\": \"0xAE020457\""})
            QVERIFY2(document.contains(line), line);

        Settings_t imported = sim::factory_settings();
        settings_file_unit_t unit = {0, {0}};
        QString error;
        QVERIFY2(settings_file_import(document, record.version, &imported, &unit, &error), qPrintable(error));
        // From the layout version on; the host stamps magic and checksum when it stores.
        QCOMPARE(bytesOf(imported).mid(8), bytesOf(record).mid(8));
        QCOMPARE(unit.serial, kUnit.serial);
        QCOMPARE(unit.firmware.version, kUnit.firmware.version);
    }

    void badFileChangesNothing_data()
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
        QTest::newRow("raw word") << edited("\"0x00000096\"", "\"150\"")
                                  << "raw word 6 is not a 32-bit hexadecimal word";
        QTest::newRow("unknown name") << edited("\"vmin\"", "\"vmax\"") << "unknown setting \"vmax\"";
        QTest::newRow("missing name") << edited("        \"vmin\": 40,\n", "") << "setting \"vmin\" is missing";
        QTest::newRow("out of range") << edited("\"vne\": 150", "\"vne\": 241")
                                      << "setting \"vne\": 241 is outside 0 to 240";
        QTest::newRow("volts out of range") << edited("\"min_volt_warning\": 11.5", "\"min_volt_warning\": 4.9")
                                            << "setting \"min_volt_warning\": 4.9 is outside 5.0 to 65.0";
        QTest::newRow("not a number") << edited("\"vne\": 150", "\"vne\": \"fast\"")
                                      << "setting \"vne\": \"fast\" is not a number";
        QTest::newRow("registration too long")
            << edited("\"G-ABCD\"", "\"G-ABCDEFGHIJ\"")
            << "setting \"registration\": \"G-ABCDEFGHIJ\" is longer than 11 characters";
        QTest::newRow("disagrees with raw word") << edited("\"vne\": 150", "\"vne\": 160")
                                                 << "setting \"vne\" (160) disagrees with its raw word (150)";
    }

    void badFileChangesNothing()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, problem);
        Settings_t record = edgeRecord();
        QString error;
        QVERIFY(!settings_file_import(document, 3, &record, nullptr, &error));
        QVERIFY2(error.startsWith(problem), qPrintable(error));
        QCOMPARE(bytesOf(record), bytesOf(edgeRecord()));
    }

    void backupsKeptToNewestTwentyPerUnit()
    {
        QTemporaryDir directory;
        const auto touch
            = [&](const QString& name) { return QFile(directory.filePath(name)).open(QIODevice::WriteOnly); };
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
};

QTEST_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
