// The Settings tab end to end: the real window against the simulated unit.
// Each command once as it succeeds and once per way it fails, with what the
// user is told and what is still pending afterwards; every widget wired to
// its index; values the form adjusts; refusals while the link is missing or
// busy with an upload.

#include <cstring>
#include <functional>

#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include "EFIS_shared/crc.h"
#include "mainwindow.h"
#include "output_capture.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "update_tab.h"
#include "window_harness.h"

using harness::child;

typedef std::function<void(MainWindow&)> Step;
Q_DECLARE_METATYPE(Step)

struct WireValue {
    uint8_t index;
    uint32_t value;
};
typedef QList<WireValue> WireValues;
Q_DECLARE_METATYPE(WireValues)

namespace {

const char* const kSavedStatus = "Configuration saved to EEPROM successfully";
const char* const kNoChangesStatus = "No changes to send";
const char* const kSentOneStatus = "Successfully sent 1 configuration value(s) to device";
const char* const kAdjustedStatus =
    "Configuration successfully loaded from device (1 value adjusted to the form's range; Update sends it)";

uint32_t floatBits(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// MPH, meters, Celsius and mbar, and bit 12, which carries no flag.
const uint32_t kKnownUnits = 0x1151;

// By index: every value differs from the factory's and from the form's
// initial one and survives the widgets exactly. The registration is "D-EFGH".
const uint32_t kKnownRecord[SETTINGS_LAST_INDEX] = {
    kKnownUnits, 30, 41, 52, 93, 124, 200, 65, 110, 118, 149, 0x442D4546, 0x47480000, 0, 0xFF112233, 0xFF445566,
    0xFF778899, 0xFFAABBCC, 0xFFDDEEFF, 0xFFFFFFFF, 0xFF00AA00, 0xFFEEDD00, 0xFFCC0000, 0xFF123456, 17,
    floatBits(1.5f), floatBits(-2.5f), 109, 156, 200, 1, 0xABC123, 1, 14, 0, 1};

void putKnownRecord()
{
    for (uint8_t index = 0; index < SETTINGS_LAST_INDEX; index++)
        sim::unit().setSettingsValue(index, kKnownRecord[index]);
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
    return qobject_cast<const QPushButton*>(widget)->styleSheet();
}

// The user puts `text` into the widget (a radio button is clicked).
void enterText(QWidget* widget, const QString& text)
{
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->setCurrentText(text);
    else if (auto* box = qobject_cast<QSpinBox*>(widget))
        box->setValue(text.toInt());
    else if (auto* real = qobject_cast<QDoubleSpinBox*>(widget))
        real->setValue(text.toDouble());
    else if (auto* slider = qobject_cast<QSlider*>(widget))
        slider->setValue(text.toInt());
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
        plain->setPlainText(text);
    else
        qobject_cast<QRadioButton*>(widget)->click();
}

Step press(const char* button)
{
    return [=](MainWindow& window) { child<QPushButton>(window, button)->click(); };
}

Step addFault(uint32_t request, int after, sim::FaultKind kind, int reply = -1)
{
    return [=](MainWindow&) { sim::unit().addFault({request, after, 1, kind, 0, reply}); };
}

// The unit is back at its factory settings, and the settings read number
// `read` of the next load goes unanswered.
Step unitChangedAndReadFails(int read)
{
    return [=](MainWindow&) {
        sim::unit().reset();
        sim::unit().addFault({0x370, read, 1, sim::FAULT_NO_REPLY, 0, -1});
    };
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void widgetShowsAndSendsItsIndex_data();
    void widgetShowsAndSendsItsIndex();
    void commandOutcome_data();
    void commandOutcome();
    void refusedWhileLinkNotFree_data();
    void refusedWhileLinkNotFree();
    void updateSendsEachChangedIndexOnceInOrder();
    void everyVoltageStepConvertsExactly();
    void adjustedValueSentByUpdate_data();
    void adjustedValueSentByUpdate();
    void colourPickerHandsOnOpaqueColour_data();
    void colourPickerHandsOnOpaqueColour();
    void saveStoresWhatUnitHoldsAndSurvivesPowerCycle();
    // Last: it runs the application's event loop until the window quits it.
    void rebootAsksToReconnectSendsRequestAndQuits();

private:
    bool startWindow(const QString& awaitedStatus = QLatin1String(harness::kLoadedStatus));
    void click(const char* button) { press(button)(*window_); }
    QString status() const { return harness::statusText(*window_); }
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

// The settings writes the unit received, each exactly as expected.
void SettingsWindowTest::verifyWrites(const WireValues& expected)
{
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(0x390);
    QCOMPARE(writes.size(), size_t(expected.size()));
    for (size_t i = 0; i < writes.size(); i++) {
        const WireValue& value = expected[qsizetype(i)];
        QVERIFY2(harness::sameFrame(writes[i], harness::settingsWriteFrame(value.index, value.value)),
                 qPrintable(QStringLiteral("write %1 (index %2)").arg(i).arg(writes[i].data[0])));
    }
}

void SettingsWindowTest::widgetShowsAndSendsItsIndex_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("shown"); // after a load of the known record
    QTest::addColumn<QString>("entered");
    QTest::addColumn<WireValues>("writes");
    auto row = [](const char* widget, const char* shown, const char* entered, const WireValues& writes) {
        QTest::newRow(widget) << QString(widget) << QString(shown) << QString(entered) << writes;
    };
    row("comboBox_airspeed", "MPH", "KPH", {{0, (kKnownUnits & ~1u) | 4u}});
    row("comboBox_altitude", "Meters", "Feet", {{0, (kKnownUnits & ~0x10u) | 0x8u}});
    row("comboBox_temp", "Celsius", "Fahrenheit", {{0, (kKnownUnits & ~0x40u) | 0x20u}});
    row("comboBox_pressure", "Mbar", "InHg", {{0, (kKnownUnits & ~0x100u) | 0x80u}});
    row("spinBox_vmin", "30", "70", {{1, 70}});
    row("spinBox_vs0", "41", "42", {{2, 42}});
    row("spinBox_vs1", "52", "53", {{3, 53}});
    row("spinBox_vfe", "93", "94", {{4, 94}});
    row("spinBox_vn0", "124", "125", {{5, 125}});
    row("spinBox_vne", "200", "240", {{6, 240}});
    row("spinBox_vref", "65", "66", {{7, 66}});
    row("spinBox_vlo", "110", "255", {{8, 255}});
    row("min_volt_warn_value", "11.8", "12.3", {{9, 123}});
    row("max_volt_warn_value", "14.9", "65", {{10, 650}});
    row("min_volt_alert_value", "10.9", "5", {{27, 50}});
    row("max_volt_alert_value", "15.6", "14.1", {{28, 141}});
    row("comboBox_reg_prefix", "D", "G", {{11, 0x472D4546}, {12, 0x47480000}, {13, 0}});
    row("text_registration_num", "-EFGH", "-XYZ", {{11, 0x442D5859}, {12, 0x5A000000}, {13, 0}});
    row("backlight_slider", "17", "5", {{24, 5}});
    row("roll_corr_spinbox", "1.5", "2.5", {{25, floatBits(2.5f)}});
    row("pitch_corr_spinbox", "-2.5", "-0.5", {{26, floatBits(-0.5f)}});
    row("text_bg_alpha_slider", "200", "77", {{29, 77}});
    row("text_icao", "ABC123", "ABC", {{31, 0xABC}});
    row("radioButton_use_icao", "unchecked", "checked", {{32, 0}});
    row("comboBox_emitter_cat", "B6 : Unmanned aerial vehicle", "A3 : Large (75k to 300k lbs)", {{33, 3}});
    row("comboBox_term_res", "Disable", "Enable", {{34, 1}});
    row("comboBox_map_view", "Track Up", "North Up", {{35, 0}});
}

void SettingsWindowTest::widgetShowsAndSendsItsIndex()
{
    QFETCH(QString, widget);
    QFETCH(QString, shown);
    QFETCH(QString, entered);
    QFETCH(WireValues, writes);

    putKnownRecord();
    QVERIFY(startWindow());
    QWidget* input = child<QWidget>(*window_, qPrintable(widget));
    QCOMPARE(shownText(input), shown);
    enterText(input, entered);
    click("pushButton_update");

    verifyWrites(writes);
    for (const WireValue& write : writes)
        QCOMPARE(sim::unit().settingsValue(write.index), write.value);
}

void SettingsWindowTest::commandOutcome_data()
{
    QTest::addColumn<Step>("setup");
    QTest::addColumn<Step>("command");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("debugLine"); // empty: none checked
    QTest::addColumn<uint>("pendingVne");   // what the next update sends for Vne; 0: nothing left to send

    const Step none = [](MainWindow&) {};
    const Step load = press("pushButton_load");
    const Step update = press("pushButton_update");
    const Step save = press("pushButton_save");
    auto sendAtOnce = [](int index) {
        return Step([=](MainWindow& window) { window.updateConfigValueAndSend(settings_struct_index(index), 123); });
    };
    const Step neverStored = [](MainWindow&) {
        Settings_t record = sim::factory_settings();
        record.crc32 = 0xFFFFFFFF;
        sim::unit().setSettings(record);
    };
    const Step countsTooMany = [](MainWindow&) { sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 40); };

    QTest::newRow("load") << none << load << harness::kLoadedStatus << "" << 0u;
    QTest::newRow("load: value unreadable")
        << unitChangedAndReadFails(4 + 17) << load
        << "Error: Failed to read value 17 from device; the settings shown are unchanged"
        << "Warning: Failed to read value for index 17 , setting to 0" << 180u;
    QTest::newRow("load: checksum unreadable") << unitChangedAndReadFails(0) << load
                                               << "Error: Failed to read checksum from device"
                                               << "Error reading checksum value" << 180u;
    QTest::newRow("load: magic unreadable") << unitChangedAndReadFails(1) << load
                                            << "Error: Failed to read magic number from device"
                                            << "Error reading magic value" << 180u;
    QTest::newRow("load: count unreadable") << unitChangedAndReadFails(3) << load
                                            << "Error: Failed to read num_elements from device"
                                            << "Error reading num_elements value" << 180u;
    QTest::newRow("load: never stored")
        << neverStored << load
        << "Error: The device has never stored its settings (its checksum word is erased); the settings shown are "
           "unchanged"
        << "Device settings never stored: checksum word reads 0xFFFFFFFF" << 180u;
    QTest::newRow("update") << none << update << kSentOneStatus << "" << 0u;
    QTest::newRow("update: value refused") << addFault(0x390, 0, sim::FAULT_NACK) << update
                                           << "Sent 0 value(s), 1 failed" << "Failed to send value for index 6" << 180u;
    QTest::newRow("send at once") << none << sendAtOnce(VNE_INDEX) << "Configuration updated successfully" << ""
                                  << 123u;
    QTest::newRow("send at once: refused") << addFault(0x390, 0, sim::FAULT_NACK) << sendAtOnce(VNE_INDEX)
                                           << "Error: Failed to send configuration to device"
                                           << "Error updating value for index 6" << 123u;
    QTest::newRow("send at once: no such index") << none << sendAtOnce(SETTINGS_LAST_INDEX)
                                                 << "Error: Failed to update configuration"
                                                 << "Error setting value for index 36" << 180u;
    QTest::newRow("save") << update << save << kSavedStatus << "" << 0u;
    // The update was sent, then the unit's value changed behind the host's back.
    const Step changedOnUnit = [=](MainWindow& window) {
        update(window);
        sim::unit().setSettingsValue(VNE_INDEX, 170);
    };
    QTest::newRow("save: unit holds another value")
        << changedOnUnit << save
        << "Error: Configuration stored, but 1 value(s) on the device differ from the form; Update sends them, "
           "then save again"
        << "Value 6 differs after store: device 0x000000aa, form 0x000000b4" << 180u;
    QTest::newRow("save: store refused") << addFault(0x3A0, 0, sim::FAULT_NACK, 1) << save
                                         << "Error: Failed to store configuration to EEPROM"
                                         << "Error storing configuration to EEPROM" << 180u;
    QTest::newRow("save: version unreadable") << addFault(0x370, 0, sim::FAULT_NO_REPLY) << save
                                              << "Error: Failed to read memory version from device"
                                              << "Error reading memory version value" << 180u;
    QTest::newRow("save: counts too many")
        << countsTooMany << save
        << "Error: The device counts 40 settings words, more than the 31 this program knows; nothing was stored"
        << "Element count 40 exceeds the record" << 180u;
    QTest::newRow("save: read-back fails")
        << addFault(0x370, 2, sim::FAULT_NO_REPLY) << save
        << "Error: The device stored its settings, but value 0 could not be read back to check them"
        << "Read-back after store failed at index 0" << 180u;
}

// Vne is edited to 180 and not sent; then the command runs. A failure loses
// nothing: the record keeps its values and the edit goes out with the next
// update.
void SettingsWindowTest::commandOutcome()
{
    QFETCH(Step, setup);
    QFETCH(Step, command);
    QFETCH(QString, statusText);
    QFETCH(QString, debugLine);
    QFETCH(uint, pendingVne);

    putKnownRecord();
    QVERIFY(startWindow());
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    setup(*window_);
    OutputCapture err(stderr);
    command(*window_);
    QCOMPARE(status(), statusText);
    QVERIFY(debugLine.isEmpty() || harness::hasDebugLine(err.lines(), debugLine));

    sim::unit().clearFaults();
    sim::unit().clearRecords();
    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(pendingVne != 0 ? kSentOneStatus : kNoChangesStatus));
    verifyWrites(pendingVne != 0 ? WireValues{{VNE_INDEX, pendingVne}} : WireValues{});
}

void SettingsWindowTest::refusedWhileLinkNotFree_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("uploading"); // else no unit at all
    for (const char* button : {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
        QTest::addRow("%s, no unit", button) << QString(button) << false;
        QTest::addRow("%s, upload running", button) << QString(button) << true;
    }
}

// Refused before anything reaches the link or a dialog opens; the pending
// edit survives. The upload worker owns the link while it runs: a second
// reader would take its acknowledgements.
void SettingsWindowTest::refusedWhileLinkNotFree()
{
    QFETCH(QString, button);
    QFETCH(bool, uploading);

    sim::unit().setPresent(uploading);
    QVERIFY(startWindow(uploading ? QString(harness::kLoadedStatus)
                                  : QStringLiteral("Failed to connect to EFIS via USB or CAN FD - please check connections")));
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    QTemporaryDir files;
    if (uploading) {
        const QString database = files.filePath(QStringLiteral("airports.db"));
        QFile file(database);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(patternBytes(32 * 1024, 7)) > 0);
        file.close();
        {
            harness::ModalAnswers chooser([&](QWidget* modal) { updates::chooseFile(modal, database); });
            click("pushButton_browse_airports");
        }
        sim::unit().setReportDelay(std::chrono::microseconds(1500));
        click("pushButton_start_airport");
    }
    OutputCapture err(stderr);
    harness::ModalAnswers noDialogExpected([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    sim::unit().clearRecords();
    click(qPrintable(button));

    QCOMPARE(status(), uploading ? QStringLiteral("Busy: wait until the upload to the device has finished")
                                 : QStringLiteral("Error: No communication interface connected (USB HID or CAN FD)"));
    QVERIFY(harness::hasDebugLine(err.lines(), uploading ? QStringLiteral("Link busy: an upload is running")
                                                         : QStringLiteral("No communication interface connected")));
    QVERIFY(noDialogExpected.titles.isEmpty());
    if (!uploading) {
        QVERIFY(sim::unit().receivedFrames().empty());
        return;
    }
    sim::unit().setReportDelay(std::chrono::microseconds(0));
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QLatin1String("Airport database transfer finished")),
                             harness::kStatusWaitMs);
    for (uint32_t settingsRequest : {0x370u, 0x390u, 0x3A0u, 0x3B0u})
        QVERIFY(harness::framesWithId(settingsRequest).empty());
    click("pushButton_update");
    QCOMPARE(status(), QLatin1String(kSentOneStatus));
}

void SettingsWindowTest::updateSendsEachChangedIndexOnceInOrder()
{
    putKnownRecord();
    QVERIFY(startWindow());
    auto* vne = child<QSpinBox>(*window_, "spinBox_vne");
    vne->setValue(201);
    child<QSpinBox>(*window_, "spinBox_vmin")->setValue(20);
    vne->setValue(203);
    child<QComboBox>(*window_, "comboBox_airspeed")->setCurrentIndex(1);
    click("pushButton_update");

    verifyWrites({{0, (kKnownUnits & ~1u) | 2u}, {1, 20}, {6, 203}});
    QCOMPARE(status(), QStringLiteral("Successfully sent 3 configuration value(s) to device"));
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

void SettingsWindowTest::adjustedValueSentByUpdate_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("stored");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint>("saved");

    QTest::newRow("Vne 250") << 6 << 250u << "spinBox_vne" << "240" << 240u;
    QTest::newRow("volt warning 70.0") << 9 << 700u << "min_volt_warn_value" << "65.0" << 650u;
    QTest::newRow("text background 255") << 29 << 255u << "text_bg_alpha_slider" << "254" << 254u;
    QTest::newRow("text background negative") << 29 << 0x80000000u << "text_bg_alpha_slider" << "0" << 0u;
    QTest::newRow("roll 1.26") << 25 << floatBits(1.26f) << "roll_corr_spinbox" << "1.3" << floatBits(1.3f);
    QTest::newRow("map track 7") << 35 << 7u << "comboBox_map_view" << "North Up" << 0u;
    QTest::newRow("termination 5") << 34 << 5u << "comboBox_term_res" << "Enable" << 1u;
    QTest::newRow("no airspeed unit") << 0 << 0x1008u << "comboBox_airspeed" << "Knots" << 0x10AAu;
    QTest::newRow("emitter 30") << 33 << 30u << "comboBox_emitter_cat" << "C5 : Line obstacle" << 21u;
    QTest::newRow("emitter negative") << 33 << 0xFFFFFFFFu << "comboBox_emitter_cat" << "A0 : Reserved" << 0u;
    QTest::newRow("address type 2") << 32 << 2u << "radioButton_use_icao" << "checked" << 0u;
}

// A value the form cannot show is shown adjusted; the record takes what the
// form shows and the index counts as changed, so the update sends it and
// the unit agrees with the checksum of the save.
void SettingsWindowTest::adjustedValueSentByUpdate()
{
    QFETCH(int, index);
    QFETCH(uint, stored);
    QFETCH(QString, widget);
    QFETCH(QString, shown);
    QFETCH(uint, saved);

    sim::unit().setSettingsValue(uint8_t(index), stored);
    QVERIFY(startWindow(QLatin1String(kAdjustedStatus)));
    QCOMPARE(shownText(child<QWidget>(*window_, qPrintable(widget))), shown);
    click("pushButton_update");
    verifyWrites({{uint8_t(index), saved}});
    click("pushButton_save");
    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
}

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
    QTest::newRow("approach") << "color_picker_app_indi" << 18 << "Select Approach Indicator Color" << QColor(255, 255, 0);
    QTest::newRow("airplane") << "color_picker_airplane" << 19 << "Select Airplane Color" << QColor(255, 255, 255);
    QTest::newRow("green arc") << "color_picker_green" << 20 << "Select Green Arc Color" << QColor(0, 255, 0);
    QTest::newRow("yellow arc") << "color_picker_yellow" << 21 << "Select Yellow Arc Color" << QColor(255, 255, 0);
    QTest::newRow("red arc") << "color_picker_red" << 22 << "Select Red Arc Color" << QColor(255, 0, 0);
    QTest::newRow("gear") << "color_picker_gear" << 23 << "Select Gear Indicator Color" << QColor(255, 255, 255);
}

// A colour word with alpha 0 shows as its RGB name. A cancelled dialog
// changes nothing; choosing the same colour again hands it on fully opaque,
// under that picker's index alone.
void SettingsWindowTest::colourPickerHandsOnOpaqueColour()
{
    QFETCH(QString, button);
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QColor, suggested);

    sim::unit().setSettingsValue(uint8_t(index), 0x00FF8000);
    QVERIFY(startWindow(QLatin1String(kAdjustedStatus)));
    auto* picker = child<QPushButton>(*window_, qPrintable(button));
    const QString orange = QStringLiteral("background-color: #ff8000;");
    QCOMPARE(picker->styleSheet(), orange);

    QList<QColor> initial;
    QColor customAtOne;
    harness::ModalAnswers answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        initial.append(dialog->currentColor());
        customAtOne = QColorDialog::customColor(1);
        dialog->setCurrentColor(initial.size() == 1 ? QColor(Qt::blue) : initial.last());
        initial.size() == 1 ? dialog->reject() : dialog->accept();
    });
    picker->click();
    QCOMPARE(picker->styleSheet(), orange);
    picker->click();

    QCOMPARE(answer.titles, QStringList({title, title}));
    QCOMPARE(initial, QList<QColor>({QColor(0xFF, 0x80, 0x00), QColor(0xFF, 0x80, 0x00)}));
    QCOMPARE(customAtOne, suggested);
    QCOMPARE(picker->styleSheet(), orange);
    click("pushButton_update");
    verifyWrites({{uint8_t(index), 0xFFFF8000}});
}

// The load reads the header, then every value; the save reads version and
// count, has the unit store with the host's checksum and reads every value
// back. After a power cycle the unit loads the same settings.
void SettingsWindowTest::saveStoresWhatUnitHoldsAndSurvivesPowerCycle()
{
    putKnownRecord();
    OutputCapture out(stdout);
    QVERIFY(startWindow());
    QList<int> reads = {252, 253, 254, 255};
    for (int index = 0; index < int(SETTINGS_LAST_INDEX); index++)
        reads.append(index);
    QCOMPARE(harness::settingsReadIndices(), reads);
    const uint32_t checksum = sim::unit().settings().crc32;
    QVERIFY(out.lines().contains(QString::asprintf("app: 0x%08X, device: 0x%08X ", checksum, checksum)));
    QVERIFY(out.lines().contains(QStringLiteral("CRC Check Passed.")));

    Settings_t stamped = sim::unit().settings();
    memcpy(&stamped.magic, "KOB_", 4);
    stamped.crc32 = 0;
    COMMS_MSG_t store = sim::make_frame(0x3A0, CAN_4_BYTES);
    put_u32_le(store.data, settings_CalcCRC(&stamped));
    sim::unit().clearRecords();
    click("pushButton_save");

    QCOMPARE(status(), QLatin1String(kSavedStatus));
    QCOMPARE(harness::settingsReadIndices(), reads.mid(2));
    QVERIFY(harness::sameFrame(sim::unit().receivedFrames().at(2), store));
    QVERIFY(sim::unit().lastStoreChecksumMatched());
    sim::unit().powerCycle();
    click("pushButton_load");
    QCOMPARE(status(), QLatin1String(harness::kLoadedStatus));
    QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 200);
}

void SettingsWindowTest::rebootAsksToReconnectSendsRequestAndQuits()
{
    QVERIFY(startWindow());
    sim::unit().clearRecords();
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    int boxButtons = 0;
    harness::ModalAnswers answer([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        boxButtons = int(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    OutputCapture err(stderr);
    const int kNeverQuit = 2;
    QTimer::singleShot(harness::kStatusWaitMs, [] { QCoreApplication::exit(kNeverQuit); });
    QTimer::singleShot(0, child<QPushButton>(*window_, "pushButton_reboot"), &QPushButton::click);

    QCOMPARE(QCoreApplication::exec(), 0);

    QCOMPARE(quitting.count(), 1);
    QCOMPARE(answer.titles, QStringList(QStringLiteral("Reconnect After Reboot")));
    QCOMPARE(answer.texts.value(0),
             QStringLiteral("The device will reboot.\n\nPlease relaunch this application once the device has rebooted. "));
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
