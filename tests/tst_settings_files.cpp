// The Settings menu through the real window and the simulated unit: a file
// exported and imported again, files the window refuses with nothing
// changed, the comparison with a file, and the backup every load leaves.

#include <QtTest>
#include <QtWidgets>

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
    void init()
    {
        sim::unit().reset();
        window_ = harness::startWindow();
        QVERIFY(harness::waitForLoaded(*window_));
    }

    void cleanup()
    {
        window_.reset();
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    }

    // Exported from the unit, edited away on the form and on the unit, imported
    // again: the values that differ are marked changed and Update sends them.
    void exportThenImportPutsFileOnUnit()
    {
        const QString path = file("aircraft.json");
        QVERIFY(runWithFile("actionExportSettings", path).isEmpty());
        QCOMPARE(status(), QStringLiteral("Settings exported to %1").arg(QDir::toNativeSeparators(path)));
        QFile exported(path);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(), settings_file_export(user_config, settings_file_unit_t{device_serial, fw}));

        child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
        click("pushButton_update");
        sim::unit().clearRecords();
        QVERIFY(runWithFile("actionImportSettings", path).isEmpty());

        QCOMPARE(status(),
                 QStringLiteral("Settings imported from %1: 1 value(s) differ; Update Settings on EFIS sends them")
                     .arg(QDir::toNativeSeparators(path)));
        QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
        QVERIFY(sim::unit().receivedFrames().empty());
        click("pushButton_update");
        QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
        QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 150u);
        click("pushButton_save");
        QCOMPARE(status(), QStringLiteral("Configuration saved to EEPROM successfully"));
    }

    void unusableFileRefusedAndNothingChanges_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: an exported file with Vne out of range
        QTest::addColumn<QString>("problem");
        QTest::newRow("value out of range") << QByteArray() << "setting \"vne\": 241 is outside 0 to 240";
        QTest::newRow("too large") << QByteArray(1024 * 1024 + 1, ' ') << "the file is too large to be a settings file";
    }

    // The box names the file and its problem; the record, the form and the
    // pending edit stay as they were.
    void unusableFileRefusedAndNothingChanges()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);

        const QByteArray exported = settings_file_export(user_config, settings_file_unit_t{device_serial, fw});
        const QString path = file("unusable.json");
        QFile unusable(path);
        QVERIFY(unusable.open(QIODevice::WriteOnly));
        unusable.write(content.isEmpty() ? QByteArray(exported).replace("\"vne\": 150", "\"vne\": 241") : content);
        unusable.close();
        child<QSpinBox>(*window_, "spinBox_vs0")->setValue(44);
        const Settings_t before = user_config;

        const QStringList boxes = runWithFile("actionImportSettings", path,
                                              [](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });

        QCOMPARE(boxes, QStringList(QStringLiteral("Import Settings: Cannot use %1:\n%2")
                                        .arg(QDir::toNativeSeparators(path), problem)));
        QVERIFY(memcmp(&user_config, &before, sizeof before) == 0);
        QCOMPARE(child<QSpinBox>(*window_, "spinBox_vne")->value(), 150);
        click("pushButton_update");
        QCOMPARE(status(), QStringLiteral("Successfully sent 1 configuration value(s) to device"));
    }

    void compareListsDifferingFields()
    {
        const QString path = file("compare.json");
        QVERIFY(runWithFile("actionExportSettings", path).isEmpty());
        child<QSpinBox>(*window_, "spinBox_vne")->setValue(180);
        child<QComboBox>(*window_, "comboBox_map_view")->setCurrentIndex(1);

        QStringList rows;
        const QStringList dialogs = runWithFile("actionCompareSettings", path, [&](QWidget* modal) {
            auto* differences = modal->findChild<QTableWidget*>(QStringLiteral("tableWidget_settingsDifferences"));
            for (int row = 0; differences != nullptr && row < differences->rowCount(); row++) {
                for (int column = 0; column < 3; column++)
                    rows.append(differences->item(row, column)->text());
            }
            qobject_cast<QDialog*>(modal)->reject();
        });

        QCOMPARE(dialogs, QStringList(QStringLiteral("Compare Settings: ")));
        QCOMPARE(rows, (QStringList{"vne", "180", "150", "map_view", "Track Up", "North Up"}));
    }

    // A copy of what the unit held, not of what the form adjusted it to, so the
    // user can always go back to it.
    void loadLeavesBackupOfUnitSettings()
    {
        sim::unit().setSettingsValue(VNE_INDEX, 250);
        click("pushButton_load");

        // Named by the unit's serial and the time: the start-up's load, then this one.
        const QDir backups(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/settings-backups");
        const QStringList files = backups.entryList({QStringLiteral("AE020457_*.json")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QFile backup(backups.filePath(files.last()));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(),
                 settings_file_export(sim::unit().settings(), settings_file_unit_t{device_serial, fw}));
    }

private:
    // Triggers a menu action and picks the file in the file dialog it opens.
    // What follows the file dialog is answered by `other`; each such dialog as
    // "title: text".
    QStringList runWithFile(const char* action, const QString& path, std::function<void(QWidget*)> other = nullptr)
    {
        QStringList filters;
        harness::ModalAnswers answer([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog == nullptr)
                return other ? other(modal) : qobject_cast<QDialog*>(modal)->reject();
            filters = dialog->nameFilters();
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        child<QAction>(*window_, action)->trigger();
        [&] { QCOMPARE(filters, QStringList{QStringLiteral("EFIS settings (*.json)")}); }();
        QStringList others;
        for (qsizetype i = 1; i < answer.titles.size(); i++)
            others.append(answer.titles[i] + QStringLiteral(": ") + answer.texts[i]);
        return others;
    }

    QString file(const char* name) const { return home_.path() + QLatin1Char('/') + QLatin1String(name); }
    void click(const char* button) { child<QPushButton>(*window_, button)->click(); }
    QString status() const { return harness::statusText(*window_); }

    ScratchHome home_; // every load leaves a backup in the per-user data folder
    std::unique_ptr<MainWindow> window_;
};

QTEST_MAIN(SettingsFilesTest)
#include "tst_settings_files.moc"
