// The Settings tab end to end: the real window against the simulated unit.
// Each command once as it succeeds and once per way it fails, with what the
// user is told and what is still pending afterwards; every widget wired to
// its index, and values the form adjusts; refusals while the link is missing
// or busy with an upload.

#include <cstring>
#include <functional>

#include <QtTest>
#include <QtWidgets>

#include "mainwindow.h"
#include "output_capture.h"
#include "scratch_home.h"
#include "settings_file.h"
#include "simulated_unit.h"
#include "update_tab.h"
#include "window_harness.h"

using harness::child;

typedef std::function<void(MainWindow&)> Step;
Q_DECLARE_METATYPE(Step)
// Settings writes: index and value.
typedef QList<QPair<uint8_t, uint32_t>> WireValues;
Q_DECLARE_METATYPE(WireValues)

namespace {

const char* const kSavedStatus = "Configuration saved to EEPROM successfully";
const char* const kSentOneStatus = "Successfully sent 1 configuration value(s) to device";

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

// What a widget shows, as one text whatever its kind: a colour button its
// style sheet, any other widget the property a user edits.
QString shownText(const QWidget* widget)
{
    if (auto* button = qobject_cast<const QPushButton*>(widget))
        return button->styleSheet();
    return widget->metaObject()->userProperty().read(widget).toString();
}

// The list's items or the box's or slider's range are what the field allows.
void verifyAgreesWithField(const QWidget* widget, const settings_field_t& field)
{
    auto* list = qobject_cast<const QComboBox*>(widget);
    QCOMPARE(list != nullptr ? list->count() : 0, field.choice_count);
    for (int i = 0; i < field.choice_count; i++)
        QCOMPARE(list->itemText(i), QString::fromUtf8(field.choices[i].text));
    if (list == nullptr) {
        QCOMPARE(widget->property("minimum").toDouble(), field.minimum);
        QCOMPARE(widget->property("maximum").toDouble(), field.maximum);
    }
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
    return [=](MainWindow& window) {
        sim::unit().reset();
        addFault(0x370, read, sim::FAULT_NO_REPLY)(window);
    };
}

} // namespace

class SettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim::unit().reset(); }
    void cleanup() { window_.reset(); }

    void widgetShowsAndSendsItsIndex_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("field"); // the settings files' and command line's name of it
        QTest::addColumn<int>("index");     // of a value put over the known record; -1 for none
        QTest::addColumn<uint>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("entered"); // empty: nothing entered
        QTest::addColumn<WireValues>("writes");
        auto row = [](const char* widget, const char* field, const char* shown, const char* entered,
                      const WireValues& writes) {
            QTest::newRow(widget) << QString(widget) << QString(field) << -1 << 0u << QString(shown) << QString(entered)
                                  << writes;
        };
        // The form shows the value adjusted; the record takes what the form shows
        // and the index counts as changed, so the update sends it.
        auto adjusted = [](const char* name, const char* widget, int index, uint stored, const char* shown,
                           uint saved) {
            QTest::newRow(name) << QString(widget) << QString() << index << stored << QString(shown) << QString()
                                << WireValues{{uint8_t(index), saved}};
        };
        row("comboBox_airspeed", "airspeed_units", "MPH", "KPH", {{0, (kKnownUnits & ~1u) | 4u}});
        row("comboBox_altitude", "altitude_units", "Meters", "Feet", {{0, (kKnownUnits & ~0x10u) | 0x8u}});
        row("comboBox_temp", "temperature_units", "Celsius", "Fahrenheit", {{0, (kKnownUnits & ~0x40u) | 0x20u}});
        row("comboBox_pressure", "pressure_units", "Mbar", "InHg", {{0, (kKnownUnits & ~0x100u) | 0x80u}});
        row("spinBox_vmin", "vmin", "30", "70", {{1, 70}});
        row("spinBox_vs0", "vs0", "41", "42", {{2, 42}});
        row("spinBox_vs1", "vs1", "52", "53", {{3, 53}});
        row("spinBox_vfe", "vfe", "93", "94", {{4, 94}});
        row("spinBox_vn0", "vn0", "124", "125", {{5, 125}});
        row("spinBox_vne", "vne", "200", "240", {{6, 240}});
        row("spinBox_vref", "vref", "65", "66", {{7, 66}});
        row("spinBox_vlo", "vlo", "110", "255", {{8, 255}});
        row("min_volt_warn_value", "min_volt_warning", "11.8", "12.2", {{9, 122}});
        row("max_volt_warn_value", "max_volt_warning", "14.9", "65", {{10, 650}});
        row("min_volt_alert_value", "min_volt_alert", "10.9", "5.1", {{27, 51}});
        row("max_volt_alert_value", "max_volt_alert", "15.6", "11.2", {{28, 112}});
        row("backlight_slider", "display_brightness", "17", "5", {{24, 5}});
        row("roll_corr_spinbox", "roll_correction", "1.5", "2.5", {{25, floatBits(2.5f)}});
        row("pitch_corr_spinbox", "pitch_correction", "-2.5", "-0.5", {{26, floatBits(-0.5f)}});
        row("text_bg_alpha_slider", "text_background_transparency", "200", "77", {{29, 77}});
        row("radioButton_use_icao", "", "false", "true", {{32, 0}});
        row("comboBox_emitter_cat", "emitter_category", "B6 : Unmanned aerial vehicle", "A7 : Rotorcraft", {{33, 7}});
        row("comboBox_term_res", "termination_resistor", "Disable", "Enable", {{34, 1}});
        row("comboBox_map_view", "map_view", "Track Up", "North Up", {{35, 0}});
        adjusted("Vne 250", "spinBox_vne", 6, 250, "240", 240);
        adjusted("volt warning 70.0", "min_volt_warn_value", 9, 700, "65", 650);
        adjusted("text background 255", "text_bg_alpha_slider", 29, 255, "254", 254);
        adjusted("text background negative", "text_bg_alpha_slider", 29, 0x80000000, "0", 0);
        adjusted("roll 1.26", "roll_corr_spinbox", 25, floatBits(1.26f), "1.3", floatBits(1.3f));
        adjusted("map track 7", "comboBox_map_view", 35, 7, "North Up", 0);
        adjusted("termination 5", "comboBox_term_res", 34, 5, "Enable", 1);
        adjusted("no airspeed unit", "comboBox_airspeed", 0, 0x1008, "Knots", 0x10AA);
        adjusted("emitter 30", "comboBox_emitter_cat", 33, 30, "C5 : Line obstacle", 21);
        adjusted("emitter negative", "comboBox_emitter_cat", 33, 0xFFFFFFFF, "A0 : Reserved", 0);
        adjusted("address type 2", "radioButton_use_icao", 32, 2, "true", 0);
        adjusted("colour without alpha", "color_picker_red", 22, 0x00FF8000, "background-color: #ff8000;", 0xFFFF8000);
    }

    // After the update the unit agrees with the checksum of the save. The
    // widget's range or items are those of its field: else a file or the command
    // line could put values on the unit that the form cannot show.
    void widgetShowsAndSendsItsIndex()
    {
        QFETCH(QString, widget);
        QFETCH(QString, field);
        QFETCH(int, index);
        QFETCH(uint, stored);
        QFETCH(QString, shown);
        QFETCH(QString, entered);
        QFETCH(WireValues, writes);

        putKnownRecord();
        if (index >= 0)
            sim::unit().setSettingsValue(uint8_t(index), stored);
        window_ = harness::startWindow();
        QVERIFY(harness::waitForLoaded(*window_));
        QWidget* input = child<QWidget>(*window_, qPrintable(widget));
        QCOMPARE(shownText(input), shown);
        if (const settings_field_t* range = settings_field_by_name(field))
            verifyAgreesWithField(input, *range);
        if (!entered.isEmpty())
            input->metaObject()->userProperty().write(input, entered);
        click("pushButton_update");
        verifyWrites(writes);
        click("pushButton_save");
        QCOMPARE(status(), QLatin1String(kSavedStatus));
        QVERIFY(sim::unit().lastStoreChecksumMatched());
    }

    void commandOutcome_data()
    {
        QTest::addColumn<Step>("setup");
        QTest::addColumn<Step>("command");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<uint>("pendingVne"); // what the next update sends for Vne; 0: nothing left to send

        const Step none = [](MainWindow&) {};
        const Step load = press("pushButton_load");
        const Step update = press("pushButton_update");
        const Step save = press("pushButton_save");
        const Step sendAtOnce = [](MainWindow& window) { window.updateConfigValueAndSend(VNE_INDEX, 123); };
        const Step neverStored = [](MainWindow&) {
            Settings_t record = sim::factory_settings();
            record.crc32 = 0xFFFFFFFF;
            sim::unit().setSettings(record);
        };
        // The update was sent, then the unit's value changed behind the host's back.
        const Step changedOnUnit = [=](MainWindow& window) {
            update(window);
            sim::unit().setSettingsValue(VNE_INDEX, 170);
        };
        // Vne counts as changed, but the unit holds what the form shows.
        const Step editedBack = [](MainWindow& window) { child<QSpinBox>(window, "spinBox_vne")->setValue(200); };
        const Step countsTooMany = [](MainWindow&) { sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 40); };
        auto row = [](const char* name, const Step& setup, const Step& command, const char* status, uint pendingVne) {
            QTest::newRow(name) << setup << command << QString(status) << pendingVne;
        };

        row("load", none, load, harness::kLoadedStatus, 0);
        row("load: value unreadable", unitChangedAndReadFails(4 + 17), load,
            "Error: Failed to read value 17 from device; the settings shown are unchanged", 180);
        row("load: no checksum", unitChangedAndReadFails(0), load, "Error: Failed to read checksum from device", 180);
        row("load: never stored", neverStored, load,
            "Error: The device has never stored its settings (its checksum word is erased); the settings shown are "
            "unchanged", 180);
        row("update", none, update, kSentOneStatus, 0);
        row("update: value refused", addFault(0x390, 0, sim::FAULT_NACK), update, "Sent 0 value(s), 1 failed", 180);
        row("send at once", none, sendAtOnce, "Configuration updated successfully", 123);
        row("send at once: refused", addFault(0x390, 0, sim::FAULT_NACK), sendAtOnce,
            "Error: Failed to send configuration to device", 123);
        row("save", editedBack, save, kSavedStatus, 0);
        row("save: unit holds another value", changedOnUnit, save,
            "Error: Configuration stored, but 1 value(s) on the device differ from the form; Update sends them, then "
            "save again", 180);
        row("save: store refused", addFault(0x3A0, 0, sim::FAULT_NACK, 1), save,
            "Error: Failed to store configuration to EEPROM", 180);
        row("save: version unreadable", addFault(0x370, 0, sim::FAULT_NO_REPLY), save,
            "Error: Failed to read memory version from device", 180);
        row("save: counts too many", countsTooMany, save,
            "Error: The device counts 40 settings words, more than the 31 this program knows; nothing was stored", 180);
        row("save: read-back fails", addFault(0x370, 2, sim::FAULT_NO_REPLY), save,
            "Error: The device stored its settings, but value 0 could not be read back to check them", 180);
    }

    // Vne is edited to 180 and not sent; then the command runs. A failure loses
    // nothing: the record keeps its values and the edit goes out with the next
    // update.
    void commandOutcome()
    {
        QFETCH(Step, setup);
        QFETCH(Step, command);
        QFETCH(QString, statusText);
        QFETCH(uint, pendingVne);

        putKnownRecord();
        QVERIFY(startWindow());
        child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
        setup(*window_);
        command(*window_);
        QCOMPARE(status(), statusText);

        sim::unit().clearFaults();
        sim::unit().clearRecords();
        click("pushButton_update");
        QCOMPARE(status(), QString(pendingVne != 0 ? kSentOneStatus : "No changes to send"));
        verifyWrites(pendingVne != 0 ? WireValues{{VNE_INDEX, pendingVne}} : WireValues{});
    }

    void refusedWhileLinkNotFree_data()
    {
        QTest::addColumn<bool>("uploading"); // else no unit at all
        QTest::newRow("no unit") << false;
        QTest::newRow("upload running") << true;
    }

    // Every command is refused before anything reaches the link or a dialog
    // opens, and the pending edit survives. The upload worker owns the link
    // while it runs: a second reader would take its acknowledgements.
    void refusedWhileLinkNotFree()
    {
        QFETCH(bool, uploading);

        sim::unit().setPresent(uploading);
        QVERIFY(startWindow(uploading ? harness::kLoadedStatus
                                      : "Failed to connect to EFIS via USB or CAN FD - please check connections"));
        child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
        if (uploading) {
            const QString database = home_.path() + QStringLiteral("/airports.db");
            QFile file(database);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(patternBytes(32 * 1024, 7)) > 0);
            file.close();
            harness::ModalAnswers chooser([&](QWidget* modal) { updates::chooseFile(modal, database); });
            click("pushButton_browse_airports");
            sim::unit().setReportDelay(std::chrono::microseconds(1500));
            click("pushButton_start_airport");
        }
        harness::ModalAnswers noDialogExpected([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        sim::unit().clearRecords();
        OutputCapture err(stderr);
        const QString refusal = uploading ? "Busy: wait until the upload to the device has finished"
                                          : "Error: No communication interface connected (USB HID or CAN FD)";
        for (const char* button : {"pushButton_load", "pushButton_update", "pushButton_save", "pushButton_reboot"}) {
            window_->statusBar()->clearMessage();
            click(button);
            QCOMPARE(status(), refusal);
        }
        QVERIFY(harness::hasDebugLine(err.lines(), uploading ? "Link busy: an upload is running"
                                                             : "No communication interface connected"));
        QVERIFY(noDialogExpected.titles.isEmpty());
        sim::unit().setReportDelay(std::chrono::microseconds(0));
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(*window_, "pushButton_browse_airports")->isEnabled(),
                                 harness::kStatusWaitMs);
        for (uint32_t settingsRequest : {0x370u, 0x390u, 0x3A0u, 0x3B0u})
            QVERIFY(harness::framesWithId(settingsRequest).empty());
        click("pushButton_update");
        QCOMPARE(status(), uploading ? QString(kSentOneStatus) : refusal);
    }

    // The pickers are used from the last to the first, the last one twice; the
    // first is cancelled after choosing blue and changes nothing. Each dialog
    // starts at the picker's colour and suggests the picker's own; the update
    // sends each new colour fully opaque under its picker's index, once, in
    // index order.
    void colourPickersHandOnOpaqueColours()
    {
        const char* const pickers[] = {"color_picker_sky0",     "color_picker_sky1",     "color_picker_ground0",
                                       "color_picker_ground1",  "color_picker_app_indi", "color_picker_airplane",
                                       "color_picker_green",    "color_picker_yellow",   "color_picker_red",
                                       "color_picker_gear"};
        putKnownRecord();
        OutputCapture out(stdout);
        QVERIFY(startWindow());
        const uint32_t checksum = sim::unit().settings().crc32;
        QVERIFY(out.lines().contains(QString::asprintf("app: 0x%08X, device: 0x%08X ", checksum, checksum)));
        QVERIFY(out.lines().contains(QStringLiteral("CRC Check Passed.")));
        QList<QColor> initial;
        QList<QColor> suggested;
        harness::ModalAnswers answer([&](QWidget* modal) {
            auto* dialog = qobject_cast<QColorDialog*>(modal);
            initial.append(dialog->currentColor());
            suggested.append(QColorDialog::customColor(1));
            const int opened = int(answer.titles.size());
            dialog->setCurrentColor(opened < 11 ? QColor(0x10, 0x20, opened) : QColor(Qt::blue));
            opened < 11 ? dialog->accept() : dialog->reject();
        });
        child<QPushButton>(*window_, pickers[9])->click();
        for (int i = 9; i >= 0; i--)
            child<QPushButton>(*window_, pickers[i])->click();

        QCOMPARE(answer.titles,
                 (QStringList{"Select Gear Indicator Color", "Select Gear Indicator Color", "Select Red Arc Color",
                              "Select Yellow Arc Color", "Select Green Arc Color", "Select Airplane Color",
                              "Select Approach Indicator Color", "Select Ground Color 1", "Select Ground Color 0",
                              "Select Sky Color 1", "Select Sky Color 0"}));
        QCOMPARE(suggested, (QList<QColor>{Qt::white, Qt::white, Qt::red, Qt::yellow, Qt::green, Qt::white, Qt::yellow,
                                           QColor(34, 139, 34), QColor(34, 139, 34), QColor(135, 206, 235),
                                           QColor(135, 206, 235)}));
        QCOMPARE(initial.mid(0, 3), (QList<QColor>{QColor(0x123456), QColor(0x10, 0x20, 1), QColor(0xCC0000)}));
        QCOMPARE(child<QPushButton>(*window_, pickers[0])->styleSheet(), QStringLiteral("background-color: #112233;"));
        click("pushButton_update");
        WireValues writes;
        for (int i = 1; i < 9; i++)
            writes.append({uint8_t(SKY_COLOR_0_INDEX + i), 0xFF102000u + uint32_t(11 - i)});
        writes.append({GEAR_INDI_COLOR_INDEX, 0xFF102002u});
        verifyWrites(writes);
    }

    // Last: it runs the application's event loop until the window quits it.
    // The box asks the user to start the program again once the unit is back;
    // then the request goes out and the program ends.
    void rebootAsksToReconnectSendsRequestAndQuits()
    {
        QVERIFY(startWindow());
        sim::unit().clearRecords();
        harness::ModalAnswers answer([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::Ok); });
        const int kNeverQuit = 2;
        QTimer::singleShot(harness::kStatusWaitMs, [] { QCoreApplication::exit(kNeverQuit); });
        QTimer::singleShot(0, child<QPushButton>(*window_, "pushButton_reboot"), &QPushButton::click);

        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(answer.titles, QStringList(QStringLiteral("Reconnect After Reboot")));
        QCOMPARE(answer.texts.value(0),
                 QStringLiteral(
                     "The device will reboot.\n\nPlease relaunch this application once the device has rebooted. "));
        const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
        QCOMPARE(frames.size(), size_t(1));
        QVERIFY(harness::sameFrame(frames[0], sim::make_frame(0x3B0, CAN_1_BYTES, {0x48})));
        QVERIFY(sim::unit().rebootRequested());
        QCOMPARE(status(), QStringLiteral("Reboot command sent to device"));
    }

private:
    bool startWindow(const QString& awaitedStatus = QLatin1String(harness::kLoadedStatus))
    {
        window_ = harness::startWindow();
        return harness::waitForStatus(*window_, awaitedStatus);
    }

    void click(const char* button) { press(button)(*window_); }
    QString status() const { return harness::statusText(*window_); }
    // The settings writes the unit received, each exactly as expected.
    void verifyWrites(const WireValues& expected)
    {
        WireValues written;
        for (const COMMS_MSG_t& frame : harness::framesWithId(0x390)) {
            written.append({frame.data[0], get_u32_le(&frame.data[1])});
            QVERIFY(harness::sameFrame(frame, harness::settingsWriteFrame(frame.data[0], written.last().second)));
        }
        QCOMPARE(written, expected);
    }

    ScratchHome home_; // every load leaves a backup in the per-user data folder
    std::unique_ptr<MainWindow> window_;
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settings_window.moc"
