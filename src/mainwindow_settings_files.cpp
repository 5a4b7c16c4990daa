// MainWindow: the Settings menu. The working record goes to a settings file,
// comes back from one onto the form (each value that differs marked changed,
// so Update and Save put it on the unit), or is compared with one.

#include "mainwindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "settings_file.h"
#include "ui_mainwindow.h"

namespace {

// A settings file is a few kilobytes; anything much larger is no settings file
// and is not read into memory.
const qint64 kSettingsFileMaxBytes = 1024 * 1024;

QTableWidget* differences_table(const std::vector<settings_difference_t>& differences, QWidget* parent)
{
    auto* table = new QTableWidget(static_cast<int>(differences.size()), 3, parent);
    table->setObjectName(QStringLiteral("tableWidget_settingsDifferences"));
    table->setHorizontalHeaderLabels(
        {MainWindow::tr("Setting"), MainWindow::tr("Form"), MainWindow::tr("File")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < table->rowCount(); row++) {
        const settings_difference_t& difference = differences[static_cast<size_t>(row)];
        table->setItem(row, 0, new QTableWidgetItem(difference.name));
        table->setItem(row, 1, new QTableWidgetItem(difference.first));
        table->setItem(row, 2, new QTableWidgetItem(difference.second));
    }
    table->resizeColumnsToContents();
    return table;
}

} // namespace

void MainWindow::connectSettingsMenu()
{
    connect(ui->actionExportSettings, &QAction::triggered, this, &MainWindow::onExportSettingsTriggered);
    connect(ui->actionImportSettings, &QAction::triggered, this, &MainWindow::onImportSettingsTriggered);
    connect(ui->actionCompareSettings, &QAction::triggered, this, &MainWindow::onCompareSettingsTriggered);
}

// The folder of the last file chosen is offered next time, while the program runs.
QString MainWindow::chooseSettingsFile(QFileDialog::AcceptMode mode, const QString& title)
{
    QFileDialog dialog(this, title, settingsFolder, tr(kSettingsFileFilter));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString path = dialog.selectedFiles().constFirst();
    settingsFolder = QFileInfo(path).absolutePath();
    return path;
}

void MainWindow::onExportSettingsTriggered()
{
    const QString path = chooseSettingsFile(QFileDialog::AcceptSave, tr("Export Settings"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray document = settings_file_export(user_config, settings_file_unit_t{device_serial, fw});
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size() || !file.commit()) {
        QMessageBox::warning(this, tr("Export Settings"),
                             tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    statusBar()->showMessage(tr("Settings exported to %1").arg(QDir::toNativeSeparators(path)));
}

// A file that cannot be used is named with its problem, and nothing changes.
bool MainWindow::openSettingsFile(const QString& title, QString* path_out, Settings_t* record)
{
    const QString path = chooseSettingsFile(QFileDialog::AcceptOpen, title);
    if (path.isEmpty())
        return false;
    *path_out = path;
    QFile file(path);
    QString error;
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else if (file.size() > kSettingsFileMaxBytes)
        error = tr("the file is too large to be a settings file");
    else
        settings_file_import(file.readAll(), mem_version, record, nullptr, &error);
    if (error.isEmpty())
        return true;
    QMessageBox::warning(this, title,
                         tr("Cannot use %1:\n%2").arg(QDir::toNativeSeparators(path), error));
    return false;
}

void MainWindow::onImportSettingsTriggered()
{
    QString path;
    Settings_t imported;
    if (!openSettingsFile(tr("Import Settings"), &path, &imported))
        return;
    const int differing = applyImportedSettings(imported);
    statusBar()->showMessage(tr("Settings imported from %1: %2 value(s) differ; Update Settings on EFIS sends them")
                                 .arg(QDir::toNativeSeparators(path))
                                 .arg(differing));
}

// The file's values go into the record and onto the form; every value that
// differs from before counts as changed, as does one the form had to adjust.
int MainWindow::applyImportedSettings(const Settings_t& imported)
{
    const Settings_t before = user_config;
    Settings_t source = imported;
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        const auto index = static_cast<settings_struct_index>(i);
        uint32_t value = settings_get_value(&source, index);
        settings_set_value(&user_config, index, &value);
    }
    updateUIFromConfig();
    takeFormAdjustments();
    return markChangedSince(before);
}

void MainWindow::onCompareSettingsTriggered()
{
    const QString title = tr("Compare Settings");
    QString path;
    Settings_t fromFile;
    if (openSettingsFile(title, &path, &fromFile))
        showSettingsDifferences(title, path, settings_compare(user_config, fromFile));
}

void MainWindow::showSettingsDifferences(const QString& title, const QString& path,
                                         const std::vector<settings_difference_t>& differences)
{
    QDialog dialog(this);
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    const QString file = QDir::toNativeSeparators(path);
    if (differences.empty()) {
        layout->addWidget(new QLabel(tr("No setting differs between the form and %1.").arg(file), &dialog));
    } else {
        layout->addWidget(
            new QLabel(tr("%1 setting(s) differ between the form and %2:").arg(differences.size()).arg(file), &dialog));
        layout->addWidget(differences_table(differences, &dialog));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.exec();
}
