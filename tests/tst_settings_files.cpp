// The Settings menu through the real window and the simulated unit: export,
// import and compare through the file dialogs, a bad file refused with
// nothing changed, the backup every load leaves, and the form's widgets
// agreeing with the table of fields the files and the command line use.

#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

#include "comms/comms.h"
#include "mainwindow.h"
#include "scratch_home.h"
#include "settings_file.h"
#include "simulated_unit.h"
#include "window_harness.h"

using harness::child;

class SettingsFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exportThenImportPutsFileOnUnit();
    void badFileRefusedAndNothingChanges();
    void compareListsDifferingFields();
    void loadLeavesBackupOfUnitSettings();
    void formAgreesWithFieldTable();

private:
    void startWindow();
    // Triggers a menu action and picks path in the file dialog it opens;
    // next answers the dialog that follows, when there is one.
    void runWithFile(const char* action, const QString& path, std::function<void(QWidget*)> next = {});
    QString scratchFile(const char* name) const;

    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<QTemporaryDir> files_;
    std::unique_ptr<MainWindow> window_;
};

void SettingsFilesTest::initTestCase()
{
    home_ = std::make_unique<ScratchHome>();
    QVERIFY(home_->isValid());
}

void SettingsFilesTest::init()
{
    sim::unit().reset();
    files_ = std::make_unique<QTemporaryDir>();
    QVERIFY(files_->isValid());
}

void SettingsFilesTest::cleanup()
{
    window_.reset();
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

void SettingsFilesTest::startWindow()
{
    window_ = harness::startWindow();
    QVERIFY(harness::waitForStatus(*window_, QLatin1String(harness::kLoadedStatus)));
}

QString SettingsFilesTest::scratchFile(const char* name) const
{
    return files_->filePath(QLatin1String(name));
}

void SettingsFilesTest::runWithFile(const char* action, const QString& path, std::function<void(QWidget*)> next)
{
    QStringList filters;
    harness::ModalAnswers answer([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            if (next)
                next(modal);
            return;
        }
        filters = dialog->nameFilters();
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    child<QAction>(*window_, action)->trigger();
    QVERIFY(!answer.titles.isEmpty());
    QCOMPARE(filters, QStringList{QStringLiteral("EFIS settings (*.json)")});
    QVERIFY(!next || answer.titles.size() > 1);
}

// Exported from one unit, edited away on the form and on the unit, imported
// again: the values that differ are marked changed and Update sends them.
void SettingsFilesTest::exportThenImportPutsFileOnUnit()
{
    startWindow();
    const QString path = scratchFile("aircraft.json");
    runWithFile("actionExportSettings", path);
    QFile exported(path);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QCOMPARE(exported.readAll(), settings_file_export(user_config, settings_file_unit_t{device_serial, fw}));

    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    harness::child<QPushButton>(*window_, "pushButton_update")->click();
    sim::unit().clearRecords();
    runWithFile("actionImportSettings", path);

    QCOMPARE(harness::statusText(*window_),
             QStringLiteral("Settings imported from %1: 1 value(s) differ; Update Settings on EFIS sends them")
                 .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
    QVERIFY(sim::unit().receivedFrames().empty());
    harness::child<QPushButton>(*window_, "pushButton_update")->click();
    QCOMPARE(harness::framesWithId(0x390).size(), size_t(1));
    QVERIFY(harness::sameFrame(harness::framesWithId(0x390)[0], harness::settingsWriteFrame(VNE_INDEX, 150)));
    harness::child<QPushButton>(*window_, "pushButton_save")->click();
    QCOMPARE(harness::statusText(*window_), QStringLiteral("Configuration saved to EEPROM successfully"));
}

void SettingsFilesTest::badFileRefusedAndNothingChanges()
{
    startWindow();
    QByteArray document = settings_file_export(user_config, settings_file_unit_t{device_serial, fw});
    const QString path = scratchFile("bad.json");
    QFile bad(path);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(document.replace("\"vne\": 150", "\"vne\": 241"));
    bad.close();
    child<QSpinBox>(*window_, "spinBox_vs0")->setValue(44);
    const Settings_t before = user_config;

    QString boxTitle;
    QString boxText;
    runWithFile("actionImportSettings", path, [&](QWidget* modal) {
        boxTitle = modal->windowTitle();
        boxText = qobject_cast<QMessageBox*>(modal)->text();
        qobject_cast<QDialog*>(modal)->accept();
    });

    QCOMPARE(boxTitle, QStringLiteral("Import Settings"));
    QCOMPARE(boxText, QStringLiteral("Cannot use %1:\nsetting \"vne\": 241 is outside 0 to 240")
                          .arg(QDir::toNativeSeparators(path)));
    QVERIFY(memcmp(&user_config, &before, sizeof before) == 0);
    QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
    harness::child<QPushButton>(*window_, "pushButton_update")->click();
    QCOMPARE(harness::statusText(*window_), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
}

void SettingsFilesTest::compareListsDifferingFields()
{
    startWindow();
    const QString path = scratchFile("compare.json");
    runWithFile("actionExportSettings", path);
    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    child<QComboBox>(*window_, "comboBox_map_view")->setCurrentIndex(1);

    QStringList rows;
    QString title;
    runWithFile("actionCompareSettings", path, [&](QWidget* modal) {
        title = modal->windowTitle();
        auto* differences = modal->findChild<QTableWidget*>(QStringLiteral("tableWidget_settingsDifferences"));
        for (int row = 0; differences != nullptr && row < differences->rowCount(); row++) {
            rows.append(QStringList{differences->item(row, 0)->text(), differences->item(row, 1)->text(),
                                    differences->item(row, 2)->text()}
                            .join(QLatin1Char('|')));
        }
        qobject_cast<QDialog*>(modal)->reject();
    });

    QCOMPARE(title, QStringLiteral("Compare Settings"));
    QCOMPARE(rows, (QStringList{"vne|180|150", "map_view|Track Up|North Up"}));
}

void SettingsFilesTest::loadLeavesBackupOfUnitSettings()
{
    sim::unit().setSettingsValue(VNE_INDEX, 250);
    window_ = harness::startWindow();
    QVERIFY(harness::waitForLoaded(*window_));

    const QDir backups(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                       + QStringLiteral("/settings-backups"));
    const QStringList files = backups.entryList({QStringLiteral("AE020457_*.json")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile backup(backups.filePath(files[0]));
    QVERIFY(backup.open(QIODevice::ReadOnly));
    Settings_t saved;
    QVERIFY(settings_file_import(backup.readAll(), 0, &saved, nullptr, nullptr));
    QCOMPARE(saved.vspeeds.Vne, uint8_t(250));
}

// The fields' ranges and items are the form's own: a widget that allows
// another range than the table (or lists other items) would let a file or
// the command line put values on the unit that the form cannot show.
void SettingsFilesTest::formAgreesWithFieldTable()
{
    sim::unit().setPresent(false);
    window_ = harness::startWindow();
    const struct {
        const char* field;
        const char* widget;
    } pairs[] = {
        {"airspeed_units", "comboBox_airspeed"}, {"altitude_units", "comboBox_altitude"},
        {"temperature_units", "comboBox_temp"},  {"pressure_units", "comboBox_pressure"},
        {"vmin", "spinBox_vmin"},                {"vs0", "spinBox_vs0"},
        {"vs1", "spinBox_vs1"},                  {"vfe", "spinBox_vfe"},
        {"vn0", "spinBox_vn0"},                  {"vne", "spinBox_vne"},
        {"vref", "spinBox_vref"},                {"vlo", "spinBox_vlo"},
        {"min_volt_warning", "min_volt_warn_value"}, {"max_volt_warning", "max_volt_warn_value"},
        {"min_volt_alert", "min_volt_alert_value"}, {"max_volt_alert", "max_volt_alert_value"},
        {"display_brightness", "backlight_slider"}, {"text_background_transparency", "text_bg_alpha_slider"},
        {"roll_correction", "roll_corr_spinbox"}, {"pitch_correction", "pitch_corr_spinbox"},
        {"emitter_category", "comboBox_emitter_cat"}, {"termination_resistor", "comboBox_term_res"},
        {"map_view", "comboBox_map_view"},
    };
    for (const auto& pair : pairs) {
        const settings_field_t* field = settings_field_by_name(QLatin1String(pair.field));
        QVERIFY2(field != nullptr, pair.field);
        QWidget* widget = child<QWidget>(*window_, pair.widget);
        double minimum = 0;
        double maximum = 0;
        if (auto* box = qobject_cast<QSpinBox*>(widget)) {
            minimum = box->minimum();
            maximum = box->maximum();
        } else if (auto* box = qobject_cast<QDoubleSpinBox*>(widget)) {
            minimum = box->minimum();
            maximum = box->maximum();
        } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
            minimum = slider->minimum();
            maximum = slider->maximum();
        } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
            QCOMPARE(list->count(), field->choice_count);
            for (int i = 0; i < list->count(); i++)
                QCOMPARE(list->itemText(i), QString::fromUtf8(field->choices[i].text));
            continue;
        }
        QCOMPARE(minimum, field->minimum);
        QCOMPARE(maximum, field->maximum);
    }
}

QTEST_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
