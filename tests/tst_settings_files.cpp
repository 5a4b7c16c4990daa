// The Settings menu through the real window and the simulated unit: a file
// exported and imported again, files the window refuses with nothing
// changed, the comparison with a file, and the backup every load leaves.

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

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
    void unusableFileRefusedAndNothingChanges_data();
    void unusableFileRefusedAndNothingChanges();
    void compareListsDifferingFields();
    void loadLeavesBackupOfUnitSettings();

private:
    // Triggers a menu action and picks path in the file dialog it opens;
    // next answers the dialog that follows, when there is one.
    void runWithFile(const char* action, const QString& path, std::function<void(QWidget*)> next = {});
    void click(const char* button) { child<QPushButton>(*window_, button)->click(); }
    QString status() const { return harness::statusText(*window_); }

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
    window_ = harness::startWindow();
    QVERIFY(harness::waitForLoaded(*window_));
}

void SettingsFilesTest::cleanup()
{
    window_.reset();
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
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
    QCOMPARE(filters, QStringList{QStringLiteral("EFIS settings (*.json)")});
    QCOMPARE(answer.titles.size(), next ? 2 : 1);
}

// Exported from the unit, edited away on the form and on the unit, imported
// again: the values that differ are marked changed and Update sends them.
void SettingsFilesTest::exportThenImportPutsFileOnUnit()
{
    const QString path = files_->filePath(QStringLiteral("aircraft.json"));
    runWithFile("actionExportSettings", path);
    QCOMPARE(status(), QStringLiteral("Settings exported to %1").arg(QDir::toNativeSeparators(path)));
    QFile exported(path);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QCOMPARE(exported.readAll(), settings_file_export(user_config, settings_file_unit_t{device_serial, fw}));

    child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
    click("pushButton_update");
    sim::unit().clearRecords();
    runWithFile("actionImportSettings", path);

    QCOMPARE(status(), QStringLiteral("Settings imported from %1: 1 value(s) differ; Update Settings on EFIS sends them")
                           .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
    QVERIFY(sim::unit().receivedFrames().empty());
    click("pushButton_update");
    const std::vector<COMMS_MSG_t> writes = harness::framesWithId(0x390);
    QCOMPARE(writes.size(), size_t(1));
    QVERIFY(harness::sameFrame(writes[0], harness::settingsWriteFrame(VNE_INDEX, 150)));
    click("pushButton_save");
    QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
}

void SettingsFilesTest::unusableFileRefusedAndNothingChanges_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: an exported file with Vne out of range
    QTest::addColumn<QString>("problem");
    QTest::newRow("value out of range") << QByteArray() << "setting \"vne\": 241 is outside 0 to 240";
    QTest::newRow("too large") << QByteArray(1024 * 1024 + 1, ' ') << "the file is too large to be a settings file";
}

// The box names the file and its problem; the record, the form and the
// pending edit stay as they were.
void SettingsFilesTest::unusableFileRefusedAndNothingChanges()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, problem);

    if (content.isEmpty())
        content = settings_file_export(user_config, settings_file_unit_t{device_serial, fw}).replace("\"vne\": 150", "\"vne\": 241");
    const QString path = files_->filePath(QStringLiteral("unusable.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
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
    QCOMPARE(boxText, QStringLiteral("Cannot use %1:\n%2").arg(QDir::toNativeSeparators(path), problem));
    QVERIFY(memcmp(&user_config, &before, sizeof before) == 0);
    QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
    click("pushButton_update");
    QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
}

void SettingsFilesTest::compareListsDifferingFields()
{
    const QString path = files_->filePath(QStringLiteral("compare.json"));
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
    sim::unit().setSettingsValue(VNE_INDEX, 240);
    click("pushButton_load");

    const QDir backups(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                       + QStringLiteral("/settings-backups"));
    // Named by the unit's serial and the time: the start-up's load, then this one.
    const QStringList files = backups.entryList({QStringLiteral("AE020457_*.json")}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 2);
    QFile backup(backups.filePath(files.last()));
    QVERIFY(backup.open(QIODevice::ReadOnly));
    Settings_t saved;
    QVERIFY(settings_file_import(backup.readAll(), 0, &saved, nullptr, nullptr));
    QCOMPARE(saved.vspeeds.Vne, uint8_t(240));
}

QTEST_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
