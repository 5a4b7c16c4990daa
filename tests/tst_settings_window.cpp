// The Settings tab end to end: the real window loads, updates, saves and
// reboots against the simulated unit, and every check is on what the user
// sees, what the unit received and what the program printed.

#include <cstring>
#include <functional>

#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QtTest>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "mainwindow.h"
#include "output_capture.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

typedef std::function<void(MainWindow&)> Edit;
Q_DECLARE_METATYPE(Edit)

struct WireValue {
    uint8_t index;
    uint32_t value;
};
typedef QList<WireValue> WireValues;
Q_DECLARE_METATYPE(WireValues)

namespace {

const char* const kSavedStatus = "Configuration saved to EEPROM successfully";
const char* const kNoLinkStatus = "Error: No communication interface connected (USB HID or CAN FD)";
const char* const kNoChangesStatus = "No changes to send";

// MPH, meters, Celsius and mbar, and bit 12, which carries no flag.
const uint32_t kKnownUnits = 0x1151;

uint32_t floatBits(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct IndexValue {
    settings_struct_index index;
    uint32_t value;
};

// A record whose every value differs from the factory's and from the form's
// initial values, and survives the round trip through the widgets exactly.
const IndexValue kKnownRecord[] = {
    {UNITS_VALUE_INDEX, kKnownUnits},
    {VMIN_INDEX, 30},
    {VS0_INDEX, 41},
    {VS1_INDEX, 52},
    {VFE_INDEX, 93},
    {VN0_INDEX, 124},
    {VNE_INDEX, 200},
    {APPROACHSPEED_INDEX, 65},
    {VLO_INDEX, 110},
    {MIN_VOLTS_INDEX, 118},
    {MAX_VOLTS_INDEX, 149},
    {REGISTRATION_1_INDEX, 0x442D4546}, // "D-EF"
    {REGISTRATION_2_INDEX, 0x47480000}, // "GH"
    {REGISTRATION_3_INDEX, 0},
    {SKY_COLOR_0_INDEX, 0xFF112233},
    {SKY_COLOR_1_INDEX, 0xFF445566},
    {GROUND_COLOR_0_INDEX, 0xFF778899},
    {GROUND_COLOR_1_INDEX, 0xFFAABBCC},
    {APPROACH_COLOR_INDEX, 0xFFDDEEFF},
    {AIRPLANE_COLOR_INDEX, 0xFFFFFFFF},
    {GREEN_ARC_COLOR_INDEX, 0xFF00AA00},
    {YELLOW_ARC_COLOR_INDEX, 0xFFEEDD00},
    {RED_ARC_COLOR_INDEX, 0xFFCC0000},
    {GEAR_INDI_COLOR_INDEX, 0xFF123456},
    {BACKLIGHT_BRIGHTNESS_INDEX, 17},
    {ROLL_CORRECTION_INDEX, floatBits(1.5f)},
    {PITCH_CORRECTION_INDEX, floatBits(-2.5f)},
    {MIN_VOLTS_ALERT_INDEX, 109},
    {MAX_VOLTS_ALERT_INDEX, 156},
    {TEXT_BG_ALPHA_INDEX, 200},
    {USE_MAG_INDEX, 1},
    {OWNSHIP_ICAO_INDEX, 0xABC123},
    {ICAO_ADDR_TYPE_INDEX, 1},
    {EMITTER_CAT_INDEX, 14},
    {TERM_RESISTOR_INDEX, 0},
    {MAP_DIR_INDEX, 1},
};

struct Shown {
    const char* widget;
    const char* text;
};

// What the known record looks like in the form.
const Shown kKnownRecordShown[] = {
    {"comboBox_airspeed", "MPH"},
    {"comboBox_altitude", "Meters"},
    {"comboBox_pressure", "Mbar"},
    {"comboBox_temp", "Celsius"},
    {"spinBox_vmin", "30"},
    {"spinBox_vs0", "41"},
    {"spinBox_vs1", "52"},
    {"spinBox_vfe", "93"},
    {"spinBox_vn0", "124"},
    {"spinBox_vne", "200"},
    {"spinBox_vref", "65"},
    {"spinBox_vlo", "110"},
    {"min_volt_warn_value", "11.8"},
    {"max_volt_warn_value", "14.9"},
    {"min_volt_alert_value", "10.9"},
    {"max_volt_alert_value", "15.6"},
    {"comboBox_reg_prefix", "D"},
    {"text_registration_num", "-EFGH"},
    {"color_picker_sky0", "background-color: #112233;"},
    {"color_picker_sky1", "background-color: #445566;"},
    {"color_picker_ground0", "background-color: #778899;"},
    {"color_picker_ground1", "background-color: #aabbcc;"},
    {"color_picker_app_indi", "background-color: #ddeeff;"},
    {"color_picker_airplane", "background-color: #ffffff;"},
    {"color_picker_green", "background-color: #00aa00;"},
    {"color_picker_yellow", "background-color: #eedd00;"},
    {"color_picker_red", "background-color: #cc0000;"},
    {"color_picker_gear", "background-color: #123456;"},
    {"backlight_slider", "17"},
    {"text_bg_alpha_slider", "200"},
    {"roll_corr_spinbox", "1.5"},
    {"pitch_corr_spinbox", "-2.5"},
    {"text_icao", "ABC123"},
    {"radioButton_use_icao", "unchecked"},
    {"radioButton_rand_icao", "checked"},
    {"comboBox_emitter_cat", "B6 : Unmanned aerial vehicle"},
    {"comboBox_map_view", "Track Up"},
    {"comboBox_term_res", "Disable"},
};

void putKnownRecord()
{
    for (const IndexValue& field : kKnownRecord)
        sim::unit().setSettingsValue(static_cast<uint8_t>(field.index), field.value);
}

// What a widget shows, as one text whatever its kind.
QString shownText(const QWidget* widget)
{
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    if (auto* box = qobject_cast<const QAbstractSpinBox*>(widget))
        return box->text();
    if (auto* slider = qobject_cast<const QSlider*>(widget))
        return QString::number(slider->value());
    if (auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return text->toPlainText();
    if (auto* radio = qobject_cast<const QRadioButton*>(widget))
        return radio->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked");
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return button->styleSheet();
    return QString();
}

// The checksum the unit expects for its own record once the host has
// stamped it for a store: the magic "KOB_" and a zero crc32.
uint32_t storeChecksumOf(Settings_t record)
{
    memcpy(&record.magic, "KOB_", 4);
    record.crc32 = 0;
    return settings_CalcCRC(&record);
}

QByteArray recordAfterChecksum(const Settings_t& record)
{
    return QByteArray(reinterpret_cast<const char*>(&record) + 4, sizeof record - 4);
}

QString hex(uint32_t value)
{
    return QString::number(value, 16);
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadShowsEveryValueAndMarksNothingChanged();
    void loadReadsHeaderThenEveryValueInOrder();
    void loadKeepsWhiteColour();
    void loadFailureChangesNothing_data();
    void loadFailureChangesNothing();
    void loadStopsAtUnreadableHeaderWord_data();
    void loadStopsAtUnreadableHeaderWord();
    void loadCopesWithElementCountBeyondRecord();

    void editHandsOnItsIndex_data();
    void editHandsOnItsIndex();
    void everyVoltageStepConvertsExactly();
    void updateSendsEachChangedIndexOnceInOrder();
    void updateWithNothingChangedSendsNothing();
    void updateKeepsFailedIndexForNextUpdate();
    void valueSentAtOnce();
    void valueSentAtOnceRefused();

    void colourPickerHandsOnOpaqueColour_data();
    void colourPickerHandsOnOpaqueColour();
    void cancelledColourDialogChangesNothing();

    void saveStoresWhatUnitHoldsAndSurvivesPowerCycle();
    void saveWithEditNotSentIsNotReportedSaved();
    void clampedValueSentByUpdate_data();
    void clampedValueSentByUpdate();
    void saveStopsWhenVersionUnreadable();
    void saveFailsWhenUnitVanishes();
    void saveFailsOnNegativeStoreAcknowledgement();

    void commandsWithoutUnitReportNoLink_data();
    void commandsWithoutUnitReportNoLink();
    void simulatedProgramLoadsAtStartUp();
    // Last: it runs the application's event loop until the window quits it.
    void rebootAsksToReconnectSendsRequestAndQuits();

private:
    bool startWindow(const QString& awaitedStatus = QLatin1String(harness::kLoadedStatus));
    void click(const char* buttonName);
    QString status() const;
    void verifyWrites(const WireValues& expected);

    // Every load leaves a backup in the per-user data folder: a scratch one.
    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<MainWindow> window_;
};

void SettingsWindowTest::initTestCase()
{
    home_ = std::make_unique<ScratchHome>();
    QVERIFY(home_->isValid());
}

void SettingsWindowTest::init()
{
    sim::unit().reset();
}

void SettingsWindowTest::cleanup()
{
    window_.reset();
}

bool SettingsWindowTest::startWindow(const QString& awaitedStatus)
{
    window_ = harness::startWindow();
    return harness::waitForStatus(*window_, awaitedStatus);
}

void SettingsWindowTest::click(const char* buttonName)
{
    child<QPushButton>(*window_, buttonName)->click();
}

QString SettingsWindowTest::status() const
{
    return harness::statusText(*window_);
}

// The settings writes the unit received, each exactly as expected.
void SettingsWindowTest::verifyWrites(const WireValues& expected)
{
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(0x390);
    QCOMPARE(writes.size(), size_t(expected.size()));
    for (qsizetype i = 0; i < expected.size(); i++) {
        QVERIFY2(harness::sameFrame(writes[size_t(i)], harness::settingsWriteFrame(expected[i].index, expected[i].value)),
                 qPrintable(QStringLiteral("write %1 (index %2 = 0x%3)")
                                .arg(i)
                                .arg(writes[size_t(i)].data[0])
                                .arg(hex(get_u32_le(&writes[size_t(i)].data[1])))));
    }
}

// ---- Load ---------------------------------------------------------------------

void SettingsWindowTest::loadShowsEveryValueAndMarksNothingChanged()
{
    putKnownRecord();
    OutputCapture out(stdout);
    QVERIFY(startWindow());

    for (const Shown& shown : kKnownRecordShown)
        QCOMPARE(shownText(child<QWidget>(*window_, shown.widget)), QString::fromUtf8(shown.text));
    const uint32_t checksum = sim::unit().settings().crc32;
    const QStringList printed = out.lines();
    QVERIFY(printed.contains(QString::asprintf("app: 0x%08X, device: 0x%08X ", checksum, checksum)));
    QVERIFY(printed.contains(QStringLiteral("CRC Check Passed.")));

    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(kNoChangesStatus));
    QVERIFY(harness::framesWithId(0x390).empty());
}

void SettingsWindowTest::loadReadsHeaderThenEveryValueInOrder()
{
    QVERIFY(startWindow());
    sim::unit().clearRecords();
    click("pushButton_load");

    QList<int> expected = {252, 253, 254, 255};
    for (int index = 0; index < 36; index++)
        expected.append(index);
    QCOMPARE(harness::settingsReadIndices(), expected);
    const std::vector<COMMS_MSG_t> reads = harness::framesWithId(0x370);
    for (size_t i = 0; i < reads.size(); i++) {
        const auto index = static_cast<uint8_t>(expected[qsizetype(i)]);
        QVERIFY(harness::sameFrame(reads[i], sim::make_frame(0x370, CAN_2_BYTES, {0xCC, index})));
    }
    QCOMPARE(sim::unit().receivedFrames().size(), reads.size());
    QCOMPARE(status(), QLatin1String(harness::kLoadedStatus));
}

// White is 0xFFFFFFFF, the same word a failed read used to give: it must load
// as white and be stored as white again.
void SettingsWindowTest::loadKeepsWhiteColour()
{
    OutputCapture err(stderr);
    QVERIFY(startWindow());

    QVERIFY(!err.text().contains(QStringLiteral("Failed to read value")));
    QCOMPARE(user_config.airplane_color, 0xFFFFFFFFu);
    QCOMPARE(child<QPushButton>(*window_, "color_picker_airplane")->styleSheet(),
             QStringLiteral("background-color: #ffffff;"));
    click("pushButton_save");
    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
    QCOMPARE(sim::unit().storedSettings().airplane_color, 0xFFFFFFFFu);
}

void SettingsWindowTest::loadFailureChangesNothing_data()
{
    QTest::addColumn<int>("failingRead");
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<QString>("statusText");

    QTest::newRow("header word") << 2 << "Error reading memory version value"
                                 << "Error: Failed to read memory version from device";
    QTest::newRow("value word") << 4 + 17 << "Warning: Failed to read value for index 17 , setting to 0"
                                << "Error: Failed to read value 17 from device; the settings shown are unchanged";
}

// The unit has changed since the last load and a word of the new load cannot
// be read: the record, the form and the pending edit stay as they were.
void SettingsWindowTest::loadFailureChangesNothing()
{
    QFETCH(int, failingRead);
    QFETCH(QString, debugLine);
    QFETCH(QString, statusText);

    putKnownRecord();
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    const Settings_t record = user_config;
    QStringList shown;
    for (const Shown& field : kKnownRecordShown)
        shown.append(shownText(child<QWidget>(*window_, field.widget)));
    sim::unit().reset();
    sim::unit().addFault({0x370, failingRead, 1, sim::FAULT_NO_REPLY, 0, -1});
    OutputCapture err(stderr);

    click("pushButton_load");

    QCOMPARE(status(), statusText);
    QVERIFY(harness::hasDebugLine(err.lines(), debugLine));
    QVERIFY(memcmp(&user_config, &record, sizeof record) == 0);
    for (qsizetype i = 0; i < shown.size(); i++)
        QCOMPARE(shownText(child<QWidget>(*window_, kKnownRecordShown[i].widget)), shown[i]);
    sim::unit().clearRecords();
    click("pushButton_update");
    verifyWrites({{6, 180}});
}

void SettingsWindowTest::loadStopsAtUnreadableHeaderWord_data()
{
    QTest::addColumn<int>("failingRead");
    QTest::addColumn<bool>("erased");
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<QString>("statusText");

    QTest::newRow("checksum erased") << 0 << true << "Device settings never stored: checksum word reads 0xFFFFFFFF"
                                     << "Error: The device has never stored its settings (its checksum word is "
                                        "erased); the settings shown are unchanged";
    QTest::newRow("checksum") << 0 << false << "Error reading checksum value"
                              << "Error: Failed to read checksum from device";
    QTest::newRow("magic") << 1 << false << "Error reading magic value"
                           << "Error: Failed to read magic number from device";
    QTest::newRow("version") << 2 << false << "Error reading memory version value"
                             << "Error: Failed to read memory version from device";
    QTest::newRow("element count") << 3 << false << "Error reading num_elements value"
                                   << "Error: Failed to read num_elements from device";
    QTest::newRow("element count erased") << 3 << true << "Error reading num_elements value"
                                          << "Error: Failed to read num_elements from device";
}

void SettingsWindowTest::loadStopsAtUnreadableHeaderWord()
{
    QFETCH(int, failingRead);
    QFETCH(bool, erased);
    QFETCH(QString, debugLine);
    QFETCH(QString, statusText);

    if (erased) {
        Settings_t record = sim::unit().settings();
        (failingRead == 0 ? record.crc32 : record.num_elements) = 0xFFFFFFFF;
        sim::unit().setSettings(record);
    } else
        sim::unit().addFault({0x370, failingRead, 1, sim::FAULT_NO_REPLY, 0, -1});
    OutputCapture err(stderr);
    QVERIFY(startWindow(statusText));

    QVERIFY(harness::hasDebugLine(err.lines(), debugLine));
    const QList<int> header = {252, 253, 254, 255};
    QCOMPARE(harness::settingsReadIndices(), header.mid(0, failingRead + 1));
}

// A unit may report more words than the record holds after its checksum;
// the checksum still covers only the record (the sanitizers would see a read
// past it). A store would announce a checksum the host knows to be wrong, so
// the save is refused.
void SettingsWindowTest::loadCopesWithElementCountBeyondRecord()
{
    sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 40);
    OutputCapture out(stdout);
    QVERIFY(startWindow());
    QVERIFY(out.lines().contains(QStringLiteral("CRC Check Passed.")));
    QCOMPARE(user_config.num_elements, 40u);

    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Error: The device counts 40 settings words, more than the 31 this program "
                                      "knows; nothing was stored"));
    QVERIFY(harness::framesWithId(0x3A0).empty());
}

// ---- Edits and update -------------------------------------------------------------

void SettingsWindowTest::editHandsOnItsIndex_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<WireValues>("writes");

    auto setIndex = [](const char* name, int index) {
        return Edit([=](MainWindow& w) { child<QComboBox>(w, name)->setCurrentIndex(index); });
    };
    auto setSpin = [](const char* name, int value) {
        return Edit([=](MainWindow& w) { child<QSpinBox>(w, name)->setValue(value); });
    };
    auto setVolts = [](const char* name, double value) {
        return Edit([=](MainWindow& w) { child<QDoubleSpinBox>(w, name)->setValue(value); });
    };
    auto setSlider = [](const char* name, int value) {
        return Edit([=](MainWindow& w) { child<QSlider>(w, name)->setValue(value); });
    };

    QTest::newRow("airspeed KPH") << setIndex("comboBox_airspeed", 2) << WireValues{{0, (kKnownUnits & ~1u) | 4u}};
    QTest::newRow("altitude feet") << setIndex("comboBox_altitude", 0) << WireValues{{0, (kKnownUnits & ~0x10u) | 0x8u}};
    QTest::newRow("temperature F") << setIndex("comboBox_temp", 0) << WireValues{{0, (kKnownUnits & ~0x40u) | 0x20u}};
    QTest::newRow("pressure inHg") << setIndex("comboBox_pressure", 0)
                                   << WireValues{{0, (kKnownUnits & ~0x100u) | 0x80u}};
    QTest::newRow("Vmin") << setSpin("spinBox_vmin", 70) << WireValues{{1, 70}};
    QTest::newRow("Vs0") << setSpin("spinBox_vs0", 42) << WireValues{{2, 42}};
    QTest::newRow("Vs1") << setSpin("spinBox_vs1", 53) << WireValues{{3, 53}};
    QTest::newRow("Vfe") << setSpin("spinBox_vfe", 94) << WireValues{{4, 94}};
    QTest::newRow("Vn0") << setSpin("spinBox_vn0", 125) << WireValues{{5, 125}};
    QTest::newRow("Vne") << setSpin("spinBox_vne", 240) << WireValues{{6, 240}};
    QTest::newRow("Vref") << setSpin("spinBox_vref", 66) << WireValues{{7, 66}};
    QTest::newRow("Vlo") << setSpin("spinBox_vlo", 255) << WireValues{{8, 255}};
    QTest::newRow("min volt warning") << setVolts("min_volt_warn_value", 12.3) << WireValues{{9, 123}};
    QTest::newRow("max volt warning") << setVolts("max_volt_warn_value", 65.0) << WireValues{{10, 650}};
    QTest::newRow("min volt alert") << setVolts("min_volt_alert_value", 5.0) << WireValues{{27, 50}};
    QTest::newRow("max volt alert") << setVolts("max_volt_alert_value", 14.1) << WireValues{{28, 141}};
    QTest::newRow("prefix") << setIndex("comboBox_reg_prefix", 2) // "G"
                            << WireValues{{11, 0x472D4546}, {12, 0x47480000}, {13, 0}};
    QTest::newRow("number") << Edit([](MainWindow& w) {
        child<QPlainTextEdit>(w, "text_registration_num")->setPlainText(QStringLiteral("-XYZ"));
    }) << WireValues{{11, 0x442D5859}, {12, 0x5A000000}, {13, 0}};
    QTest::newRow("brightness") << setSlider("backlight_slider", 5) << WireValues{{24, 5}};
    QTest::newRow("roll") << setVolts("roll_corr_spinbox", 2.5) << WireValues{{25, floatBits(2.5f)}};
    QTest::newRow("pitch") << setVolts("pitch_corr_spinbox", -0.5) << WireValues{{26, floatBits(-0.5f)}};
    QTest::newRow("text background") << setSlider("text_bg_alpha_slider", 77) << WireValues{{29, 77}};
    QTest::newRow("ICAO") << Edit([](MainWindow& w) {
        child<QPlainTextEdit>(w, "text_icao")->setPlainText(QStringLiteral("ABC"));
    }) << WireValues{{31, 0xABC}};
    QTest::newRow("own ICAO address") << Edit([](MainWindow& w) {
        child<QRadioButton>(w, "radioButton_use_icao")->click();
    }) << WireValues{{32, 0}};
    QTest::newRow("emitter category") << setIndex("comboBox_emitter_cat", 3) << WireValues{{33, 3}};
    QTest::newRow("termination on") << setIndex("comboBox_term_res", 0) << WireValues{{34, 1}};
    QTest::newRow("north up") << setIndex("comboBox_map_view", 0) << WireValues{{35, 0}};
}

void SettingsWindowTest::editHandsOnItsIndex()
{
    QFETCH(Edit, edit);
    QFETCH(WireValues, writes);

    putKnownRecord();
    QVERIFY(startWindow());
    edit(*window_);
    click("pushButton_update");

    verifyWrites(writes);
    QCOMPARE(status(), QStringLiteral("Successfully sent %1 configuration value(s) to device").arg(writes.size()));
    for (const WireValue& write : writes)
        QCOMPARE(sim::unit().settingsValue(write.index), write.value);
}

// Each tenth of a volt the boxes can hold reaches the record as itself, not
// one less through a product just below the whole number.
void SettingsWindowTest::everyVoltageStepConvertsExactly()
{
    sim::unit().setPresent(false);
    window_ = harness::startWindow();
    auto* box = child<QDoubleSpinBox>(*window_, "max_volt_alert_value");
    for (uint32_t tenths = 50; tenths <= 650; tenths++) {
        box->setValue(tenths / 10.0);
        QCOMPARE(user_config.volt_alerts.max_volts, uint16_t(tenths));
    }
}

void SettingsWindowTest::updateSendsEachChangedIndexOnceInOrder()
{
    putKnownRecord();
    QVERIFY(startWindow());
    auto* vne = child<QSpinBox>(*window_, "spinBox_vne");
    vne->setValue(201);
    child<QSpinBox>(*window_, "spinBox_vmin")->setValue(20);
    vne->setValue(202);
    child<QSlider>(*window_, "backlight_slider")->setValue(3);
    vne->setValue(203);
    child<QComboBox>(*window_, "comboBox_airspeed")->setCurrentIndex(1);
    child<QPlainTextEdit>(*window_, "text_icao")->setPlainText(QStringLiteral("1"));

    click("pushButton_update");

    verifyWrites({{0, (kKnownUnits & ~1u) | 2u}, {1, 20}, {6, 203}, {24, 3}, {31, 1}});
    QCOMPARE(status(), QStringLiteral("Successfully sent 5 configuration value(s) to device"));
    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(kNoChangesStatus));
    QCOMPARE(harness::framesWithId(0x390).size(), size_t(5));
}

void SettingsWindowTest::updateWithNothingChangedSendsNothing()
{
    QVERIFY(startWindow());
    sim::unit().clearRecords();
    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(kNoChangesStatus));
    QVERIFY(sim::unit().receivedFrames().empty());
}

// The unit refuses the second value: the first is sent, the refused one stays
// changed and goes out with the next update.
void SettingsWindowTest::updateKeepsFailedIndexForNextUpdate()
{
    putKnownRecord();
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    child<QSpinBox>(*window_, "spinBox_vs0")->setValue(44);
    sim::unit().addFault({0x390, 1, 1, sim::FAULT_NACK, 0, -1});
    OutputCapture err(stderr);

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Sent 1 value(s), 1 failed"));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Failed to send value for index 6")));
    QCOMPARE(sim::unit().settingsValue(VS0_INDEX), 44u);

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    verifyWrites({{2, 44}, {6, 180}, {6, 180}});
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 180u);
}

void SettingsWindowTest::valueSentAtOnce()
{
    QVERIFY(startWindow());
    window_->updateConfigValueAndSend(VNE_INDEX, 123);
    QCOMPARE(status(), QStringLiteral("Configuration updated successfully"));
    verifyWrites({{6, 123}});
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 123u);
}

void SettingsWindowTest::valueSentAtOnceRefused()
{
    QVERIFY(startWindow());
    sim::unit().addFault({0x390, 0, 1, sim::FAULT_NACK, 0, -1});
    OutputCapture err(stderr);
    window_->updateConfigValueAndSend(VNE_INDEX, 123);
    QCOMPARE(status(), QStringLiteral("Error: Failed to send configuration to device"));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Error updating value for index 6")));

    window_->updateConfigValueAndSend(SETTINGS_LAST_INDEX, 1);
    QCOMPARE(status(), QStringLiteral("Error: Failed to update configuration"));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Error setting value for index 36")));
    QCOMPARE(harness::framesWithId(0x390).size(), size_t(1));
}

// ---- Colours -------------------------------------------------------------------------

void SettingsWindowTest::colourPickerHandsOnOpaqueColour_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QColor>("suggested");

    QTest::newRow("sky 0") << "color_picker_sky0" << 14 << "Select Sky Color 0" << QColor(135, 206, 235);
    QTest::newRow("sky 1") << "color_picker_sky1" << 15 << "Select Sky Color 1" << QColor(135, 206, 235);
    QTest::newRow("ground 0") << "color_picker_ground0" << 16 << "Select Ground Color 0" << QColor(34, 139, 34);
    QTest::newRow("ground 1") << "color_picker_ground1" << 17 << "Select Ground Color 1" << QColor(34, 139, 34);
    QTest::newRow("approach") << "color_picker_app_indi" << 18 << "Select Approach Indicator Color"
                              << QColor(255, 255, 0);
    QTest::newRow("airplane") << "color_picker_airplane" << 19 << "Select Airplane Color" << QColor(255, 255, 255);
    QTest::newRow("green arc") << "color_picker_green" << 20 << "Select Green Arc Color" << QColor(0, 255, 0);
    QTest::newRow("yellow arc") << "color_picker_yellow" << 21 << "Select Yellow Arc Color" << QColor(255, 255, 0);
    QTest::newRow("red arc") << "color_picker_red" << 22 << "Select Red Arc Color" << QColor(255, 0, 0);
    QTest::newRow("gear") << "color_picker_gear" << 23 << "Select Gear Indicator Color" << QColor(255, 255, 255);
}

// A colour word with alpha 0 shows as its RGB name; choosing the same colour
// again hands it on fully opaque, under that picker's index alone.
void SettingsWindowTest::colourPickerHandsOnOpaqueColour()
{
    QFETCH(QString, button);
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QColor, suggested);

    sim::unit().setSettingsValue(static_cast<uint8_t>(index), 0x00FF8000);
    QVERIFY(startWindow(QStringLiteral("Configuration successfully loaded from device (1 value adjusted to the "
                                       "form's range; Update sends it)")));
    auto* picker = child<QPushButton>(*window_, qPrintable(button));
    QCOMPARE(picker->styleSheet(), QStringLiteral("background-color: #ff8000;"));

    QColor initial;
    QColor customAtOne;
    harness::ModalAnswers answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        initial = dialog->currentColor();
        customAtOne = QColorDialog::customColor(1);
        dialog->setCurrentColor(initial);
        dialog->accept();
    });
    picker->click();

    QVERIFY(!answer.titles.isEmpty());
    QCOMPARE(answer.titles.value(0), title);
    QCOMPARE(initial, QColor(0xFF, 0x80, 0x00));
    QCOMPARE(customAtOne, suggested);
    QCOMPARE(picker->styleSheet(), QStringLiteral("background-color: #ff8000;"));
    click("pushButton_update");
    verifyWrites({{uint8_t(index), 0xFFFF8000}});
}

void SettingsWindowTest::cancelledColourDialogChangesNothing()
{
    QVERIFY(startWindow());
    auto* picker = child<QPushButton>(*window_, "color_picker_red");
    const QString before = picker->styleSheet();
    const uint32_t red = user_config.red_arc_color;
    harness::ModalAnswers answer([](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        dialog->setCurrentColor(Qt::blue);
        dialog->reject();
    });
    picker->click();

    QVERIFY(!answer.titles.isEmpty());
    QCOMPARE(picker->styleSheet(), before);
    QCOMPARE(user_config.red_arc_color, red);
    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(kNoChangesStatus));
}

// ---- Save ----------------------------------------------------------------------------

void SettingsWindowTest::saveStoresWhatUnitHoldsAndSurvivesPowerCycle()
{
    putKnownRecord();
    QVERIFY(startWindow());
    const uint32_t expectedChecksum = storeChecksumOf(sim::unit().settings());
    sim::unit().clearRecords();
    OutputCapture out(stdout);
    OutputCapture err(stderr);

    click("pushButton_save");

    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QList<int> reads = {254, 255};
    for (int index = 0; index < 36; index++)
        reads.append(index);
    QCOMPARE(harness::settingsReadIndices(), reads);
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    QCOMPARE(frames.size(), size_t(3 + 36));
    COMMS_MSG_t store = sim::make_frame(0x3A0, CAN_4_BYTES);
    put_u32_le(store.data, expectedChecksum);
    QVERIFY(harness::sameFrame(frames[2], store));
    QVERIFY(out.lines().contains(QString::asprintf("New CRC %08X", expectedChecksum)));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Flash erase succeeded")));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
    QCOMPARE(recordAfterChecksum(sim::unit().storedSettings()), recordAfterChecksum(user_config));
    QCOMPARE(user_config.crc32, 0u);

    sim::unit().powerCycle();
    click("pushButton_load");
    QVERIFY(out.lines().contains(QStringLiteral("CRC Check Passed.")));
    for (const Shown& shown : kKnownRecordShown)
        QCOMPARE(shownText(child<QWidget>(*window_, shown.widget)), QString::fromUtf8(shown.text));
}

// A value changed but not yet sent is part of the host's checksum only: the
// values read back after the store show that the unit holds another, so the
// save is not reported as done until an update has sent it.
void SettingsWindowTest::saveWithEditNotSentIsNotReportedSaved()
{
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    OutputCapture err(stderr);

    click("pushButton_save");

    QCOMPARE(status(), QStringLiteral("Error: Configuration stored, but 1 value(s) on the device differ from the "
                                      "form; Update sends them, then save again"));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Value 6 differs after store: device 0x00000096, "
                                                              "form 0x000000b4")));
    QVERIFY(!sim::unit().lastStoreChecksumMatched());
    QVERIFY(harness::framesWithId(0x390).empty());

    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    click("pushButton_save");
    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
}

void SettingsWindowTest::clampedValueSentByUpdate_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("stored");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint>("saved");

    QTest::newRow("Vne 250") << 6 << 250u << "spinBox_vne" << "240" << 240u;
    QTest::newRow("brightness 30") << 24 << 30u << "backlight_slider" << "21" << 21u;
    QTest::newRow("text background 255") << 29 << 255u << "text_bg_alpha_slider" << "254" << 254u;
    QTest::newRow("text background negative") << 29 << 0x80000000u << "text_bg_alpha_slider" << "0" << 0u;
    QTest::newRow("volt warning 70.0") << 9 << 700u << "min_volt_warn_value" << "65.0" << 650u;
    QTest::newRow("volt alert 3.0") << 28 << 30u << "max_volt_alert_value" << "5.0" << 50u;
    QTest::newRow("roll 1.26") << 25 << floatBits(1.26f) << "roll_corr_spinbox" << "1.3" << floatBits(1.3f);
    QTest::newRow("map track 7") << 35 << 7u << "comboBox_map_view" << "North Up" << 0u;
    QTest::newRow("termination 5") << 34 << 5u << "comboBox_term_res" << "Enable" << 1u;
    QTest::newRow("no airspeed unit") << 0 << 0x1008u << "comboBox_airspeed" << "Knots" << 0x10AAu;
    QTest::newRow("emitter 30") << 33 << 30u << "comboBox_emitter_cat" << "C5 : Line obstacle" << 21u;
    QTest::newRow("emitter negative") << 33 << 0xFFFFFFFFu << "comboBox_emitter_cat" << "A0 : Reserved" << 0u;
    QTest::newRow("address type 2") << 32 << 2u << "radioButton_use_icao" << "checked" << 0u;
}

// The widgets apply their limits when the record is shown; the record takes
// what the form shows and the index counts as changed, so the update sends it
// and the unit agrees with the checksum of the save.
void SettingsWindowTest::clampedValueSentByUpdate()
{
    QFETCH(int, index);
    QFETCH(uint, stored);
    QFETCH(QString, widget);
    QFETCH(QString, shown);
    QFETCH(uint, saved);

    sim::unit().setSettingsValue(uint8_t(index), stored);
    QVERIFY(startWindow(QStringLiteral("Configuration successfully loaded from device (1 value adjusted to the "
                                       "form's range; Update sends it)")));
    QCOMPARE(shownText(child<QWidget>(*window_, qPrintable(widget))), shown);
    QCOMPARE(settings_get_value(&user_config, static_cast<settings_struct_index>(index)), saved);

    click("pushButton_update");
    verifyWrites({{uint8_t(index), saved}});
    click("pushButton_save");

    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
}

void SettingsWindowTest::saveStopsWhenVersionUnreadable()
{
    QVERIFY(startWindow());
    sim::unit().addFault({0x370, 0, 1, sim::FAULT_NO_REPLY, 0, -1});
    OutputCapture err(stderr);
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Error: Failed to read memory version from device"));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Error reading memory version value")));
    QVERIFY(harness::framesWithId(0x3A0).empty());
}

// The unit takes the store command and is gone: the save fails clearly and
// the edits stay pending.
void SettingsWindowTest::saveFailsWhenUnitVanishes()
{
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vs0")->setValue(44);
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    sim::unit().addFault({0x3A0, 0, 1, sim::FAULT_VANISH, 0, -1});
    OutputCapture err(stderr);

    click("pushButton_save");

    QCOMPARE(status(), QStringLiteral("Error: Failed to store configuration to EEPROM"));
    const QStringList log = err.lines();
    QVERIFY(harness::hasDebugLine(log, QStringLiteral("Flash erase failed or timeout waiting for MX25 erase status")));
    QVERIFY(harness::hasDebugLine(log, QStringLiteral("Error storing configuration to EEPROM")));
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Sent 0 value(s), 2 failed"));
}

void SettingsWindowTest::saveFailsOnNegativeStoreAcknowledgement()
{
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vs0")->setValue(44);
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    const int commandAcknowledgement = 1;
    sim::unit().addFault({0x3A0, 0, 1, sim::FAULT_NACK, 0, commandAcknowledgement});
    OutputCapture err(stderr);

    click("pushButton_save");

    QCOMPARE(status(), QStringLiteral("Error: Failed to store configuration to EEPROM"));
    const QStringList log = err.lines();
    QVERIFY(harness::hasDebugLine(log, QStringLiteral("Flash erase succeeded")));
    QVERIFY(harness::hasDebugLine(log, QStringLiteral("Store command failed: no valid ACK (or NACK) for save settings")));
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 2 configuration value(s) to device"));
}

// ---- Without a unit, start-up program, reboot -------------------------------------------

void SettingsWindowTest::commandsWithoutUnitReportNoLink_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("load") << "pushButton_load";
    QTest::newRow("update") << "pushButton_update";
    QTest::newRow("save") << "pushButton_save";
    QTest::newRow("reboot") << "pushButton_reboot";
}

void SettingsWindowTest::commandsWithoutUnitReportNoLink()
{
    QFETCH(QString, button);

    sim::unit().setPresent(false);
    QVERIFY(startWindow(QStringLiteral("Failed to connect to EFIS via USB or CAN FD - please check connections")));
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(100);
    OutputCapture err(stderr);
    harness::ModalAnswers noDialogExpected([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });

    click(qPrintable(button));

    QCOMPARE(status(), QLatin1String(kNoLinkStatus));
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("No communication interface connected")));
    QVERIFY(noDialogExpected.titles.isEmpty());
    QVERIFY(sim::unit().receivedFrames().empty());
}

// The product program, linked with the simulated unit, reads the unit's
// settings into its form at start-up.
void SettingsWindowTest::simulatedProgramLoadsAtStartUp()
{
    QProcess program;
    // The program's per-user cache lands in scratch space, never in the real home.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    program.setWorkingDirectory(home.path());
    program.setProcessEnvironment(environment);
    QByteArray printed;
    QObject::connect(&program, &QProcess::readyReadStandardOutput,
                     [&] { printed += program.readAllStandardOutput(); });
    program.start(QStringLiteral(EFIS_CONFIG_SIMULATED_PATH), QStringList());

    const bool loaded = QTest::qWaitFor([&] { return printed.contains("CRC Check Passed."); }, harness::kStatusWaitMs);
    program.kill();
    program.waitForFinished();
    QVERIFY2(loaded, printed.constData());
    const uint32_t checksum = sim::factory_settings().crc32;
    QVERIFY(printed.contains(QString::asprintf("app: 0x%08X, device: 0x%08X \n", checksum, checksum).toLatin1()));
}

void SettingsWindowTest::rebootAsksToReconnectSendsRequestAndQuits()
{
    QVERIFY(startWindow());
    sim::unit().clearRecords();
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    QString boxText;
    int boxButtons = 0;
    harness::ModalAnswers answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        boxText = box->text();
        boxButtons = int(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    OutputCapture err(stderr);
    const int kNeverQuit = 2;
    QTimer neverQuit;
    neverQuit.setSingleShot(true);
    QObject::connect(&neverQuit, &QTimer::timeout, [=] { QCoreApplication::exit(kNeverQuit); });
    neverQuit.start(harness::kStatusWaitMs);
    QTimer::singleShot(0, child<QPushButton>(*window_, "pushButton_reboot"), &QPushButton::click);

    QCOMPARE(QCoreApplication::exec(), 0);

    QCOMPARE(quitting.count(), 1);
    QCOMPARE(answer.titles.value(0), QStringLiteral("Reconnect After Reboot"));
    QCOMPARE(boxText, QStringLiteral("The device will reboot.\n\nPlease relaunch this application once the device has rebooted. "));
    QCOMPARE(boxButtons, 1);
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    QCOMPARE(frames.size(), size_t(1));
    QVERIFY(harness::sameFrame(frames[0], sim::make_frame(0x3B0, CAN_1_BYTES, {0x48})));
    QVERIFY(sim::unit().rebootRequested());
    QVERIFY(harness::hasDebugLine(err.lines(), QStringLiteral("Reboot command sent successfully")));
    QCOMPARE(status(), QStringLiteral("Reboot command sent to device"));
}

QTEST_MAIN(SettingsWindowTest)
#include "tst_settings_window.moc"
