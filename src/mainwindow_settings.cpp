// MainWindow: moving the settings between the unit and the working record.
// A load reads every value, an update sends the values the user changed, a
// save has the unit store what it holds; and the reboot request.

#include "mainwindow.h"

#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "settings_file.h"

Settings_t user_config;
uint32_t mem_version = 0;
uint32_t user_config_sizeof = sizeof(Settings_t);
uint32_t user_config_chk = 0;

namespace {

// A header word of the record, and what the user is told when it cannot be read.
struct HeaderWord {
    settings_struct_index index;
    const char* readError;
    const char* statusError;
};

const HeaderWord kHeaderWords[] = {
    {SETTINGS_CHECKSUM_INDEX, "Error reading checksum value", "Error: Failed to read checksum from device"},
    {SETTINGS_MAGIC_NUM, "Error reading magic value", "Error: Failed to read magic number from device"},
    {SETTINGS_VERSION, "Error reading memory version value", "Error: Failed to read memory version from device"},
    {SETTINGS_NUM_ELEMENTS, "Error reading num_elements value", "Error: Failed to read num_elements from device"},
};

const HeaderWord& header_word(uint8_t index)
{
    return kHeaderWords[index - SETTINGS_CHECKSUM_INDEX];
}

// Where every successful load leaves a copy of what the unit held.
const char* const kBackupFolder = "settings-backups";

uint32_t value_of(const Settings_t& record, uint32_t index)
{
    Settings_t copy = record;
    return settings_get_value(&copy, static_cast<settings_struct_index>(index));
}

} // namespace

// The one place that decides whether the window's thread may use the link
// now; every handler that talks to the unit asks here first.
bool MainWindow::linkFreeForWindow()
{
    if (!linkConnected()) {
        qDebug() << "No communication interface connected";
        statusBar()->showMessage(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return false;
    }
    // The upload worker waits for the unit's replies on the link; a second
    // reader would take acknowledgements meant for the other.
    if (uploadRunning()) {
        qDebug() << "Link busy: an upload is running";
        statusBar()->showMessage(tr("Busy: wait until the upload to the device has finished"));
        return false;
    }
    return true;
}

bool MainWindow::linkConnected() const
{
    return comms_connected(comms);
}

// ---- Load ------------------------------------------------------------------

void MainWindow::onLoadClicked()
{
    loadConfigFromDevice();
}

// All or nothing: the record, the form and the pending edits change only
// when every word was read.
void MainWindow::loadConfigFromDevice()
{
    if (!linkFreeForWindow())
        return;
    const settings_load_result_t result = settings_load(comms, &user_config);
    if (result.status != SETTINGS_LOAD_OK) {
        reportLoadFailure(result);
        return;
    }
    changed_values.clear();
    user_config_chk = result.unit_checksum;
    mem_version = user_config.version;
    user_config_sizeof = sizeof(Settings_t);
    compareChecksumWithUnit();
    backUpLoadedSettings();
    updateUIFromConfig();
    const int adjusted = takeFormAdjustments();
    QString status = QStringLiteral("Configuration successfully loaded from device");
    if (adjusted == 1)
        status += QStringLiteral(" (1 value adjusted to the form's range; Update sends it)");
    else if (adjusted > 1)
        status += QStringLiteral(" (%1 values adjusted to the form's range; Update sends them)").arg(adjusted);
    statusBar()->showMessage(status);
}

void MainWindow::reportLoadFailure(const settings_load_result_t& result)
{
    if (result.status == SETTINGS_LOAD_HEADER_FAILED) {
        reportHeaderFailure(result.failed_index);
    } else if (result.status == SETTINGS_LOAD_NEVER_STORED) {
        qDebug() << "Device settings never stored: checksum word reads 0xFFFFFFFF";
        statusBar()->showMessage(QStringLiteral("Error: The device has never stored its settings (its checksum "
                                                "word is erased); the settings shown are unchanged"));
    } else {
        qDebug() << "Warning: Failed to read value for index" << result.failed_index << ", setting to 0";
        statusBar()->showMessage(
            QStringLiteral("Error: Failed to read value %1 from device; the settings shown are unchanged")
                .arg(result.failed_index));
    }
}

void MainWindow::reportHeaderFailure(uint8_t index)
{
    const HeaderWord& word = header_word(index);
    qDebug() << word.readError;
    statusBar()->showMessage(QString::fromLatin1(word.statusError));
}

// A mismatch is told in the log and briefly in the status bar; the load's own
// result replaces it there.
void MainWindow::compareChecksumWithUnit()
{
    const uint32_t crc = settings_CalcCRC(&user_config);
    printf("app: 0x%08lX, device: 0x%08lX \n", static_cast<unsigned long>(crc),
           static_cast<unsigned long>(user_config_chk));
    if (crc == user_config_chk) {
        printf("CRC Check Passed.\n");
        return;
    }
    qDebug() << "CRC mismatch: Calculated =" << Qt::hex << crc << "Stored=" << user_config_chk;
    statusBar()->showMessage(QStringLiteral("Warning: Configuration CRC verification failed"));
}

// Values the form cannot show (beyond a widget's range, a colour that is not
// opaque) are shown adjusted. The record takes what the form shows and those
// indices count as changed, so the next update sends what the user sees and
// unit and host agree on the checksum after the save. How many there were.
int MainWindow::takeFormAdjustments()
{
    const Settings_t shown = user_config;
    updateConfigFromUI();
    return markChangedSince(shown);
}

// Every value of the record that differs from the earlier one counts as
// changed; how many there are.
int MainWindow::markChangedSince(const Settings_t& earlier)
{
    int changed = 0;
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        if (value_of(earlier, i) == value_of(user_config, i))
            continue;
        changed_values.insert(static_cast<settings_struct_index>(i));
        changed++;
    }
    return changed;
}

// A copy of what the unit held, so the user can always go back to it. A
// failure is logged and never stands in the load's way.
void MainWindow::backUpLoadedSettings()
{
    const QString directory =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + QLatin1String(kBackupFolder);
    QString error;
    if (settings_backup_write(directory, user_config, settings_file_unit_t{device_serial, fw}, &error).isEmpty())
        qWarning().noquote() << "Settings backup not written:" << error;
}

// ---- Update ------------------------------------------------------------------

void MainWindow::updateConfigValueLocal(settings_struct_index index, uint32_t value)
{
    if (!settings_set_value(&user_config, index, &value)) {
        qDebug() << "Error setting value for index" << static_cast<uint32_t>(index);
        return;
    }
    changed_values.insert(index);
}

// A value whose send failed stays changed, so the next update tries it again
// instead of losing the user's edit.
void MainWindow::onUpdateClicked()
{
    if (!linkFreeForWindow())
        return;
    if (changed_values.empty()) {
        statusBar()->showMessage(QStringLiteral("No changes to send"));
        return;
    }
    const std::vector<uint8_t> indices(changed_values.begin(), changed_values.end());
    const settings_update_result_t result = settings_update(comms, user_config, indices);
    changed_values.clear();
    for (const uint8_t index : result.failed) {
        qDebug() << "Failed to send value for index" << static_cast<uint32_t>(index);
        changed_values.insert(static_cast<settings_struct_index>(index));
    }
    if (result.failed.empty())
        statusBar()->showMessage(QStringLiteral("Successfully sent %1 configuration value(s) to device").arg(result.sent));
    else
        statusBar()->showMessage(QStringLiteral("Sent %1 value(s), %2 failed").arg(result.sent).arg(result.failed.size()));
}

void MainWindow::updateConfigValueAndSend(settings_struct_index index, uint32_t value)
{
    if (!linkFreeForWindow())
        return;
    if (!settings_set_value(&user_config, index, &value)) {
        qDebug() << "Error setting value for index" << static_cast<uint32_t>(index);
        statusBar()->showMessage(QStringLiteral("Error: Failed to update configuration"));
        return;
    }
    if (set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) != 0) {
        qDebug() << "Error updating value for index" << static_cast<uint32_t>(index);
        statusBar()->showMessage(QStringLiteral("Error: Failed to send configuration to device"));
        return;
    }
    changed_values.insert(index);
    statusBar()->showMessage(QStringLiteral("Configuration updated successfully"));
}

// ---- Save ----------------------------------------------------------------------------

// The save sends no values: the unit stores the settings it holds, and the
// checksum tells it what the host believes those settings are. Only a
// read-back that agrees with the form counts as saved.
void MainWindow::onSaveClicked()
{
    if (!linkFreeForWindow())
        return;
    updateConfigFromUI();
    const settings_store_result_t result = settings_store(comms, &user_config);
    mem_version = user_config.version;
    switch (result.status) {
    case SETTINGS_STORE_OK:
        changed_values.clear();
        updateUIFromConfig();
        statusBar()->showMessage(QStringLiteral("Configuration saved to EEPROM successfully"));
        break;
    case SETTINGS_STORE_HEADER_FAILED:
        reportHeaderFailure(result.failed_index);
        break;
    case SETTINGS_STORE_TOO_MANY_ELEMENTS:
        qDebug() << "Element count" << user_config.num_elements << "exceeds the record";
        statusBar()->showMessage(QStringLiteral("Error: The device counts %1 settings words, more than the %2 "
                                                "this program knows; nothing was stored")
                                     .arg(user_config.num_elements)
                                     .arg(int(SETTINGS_WORDS_AFTER_CRC)));
        break;
    case SETTINGS_STORE_READ_BACK_FAILED:
        qDebug() << "Read-back after store failed at index" << result.failed_index;
        statusBar()->showMessage(QStringLiteral("Error: The device stored its settings, but value %1 could not be "
                                                "read back to check them")
                                     .arg(result.failed_index));
        break;
    case SETTINGS_STORE_DIFFERS:
        reportStoredDifferences(result);
        break;
    default:
        qDebug() << "Error storing configuration to EEPROM";
        statusBar()->showMessage(QStringLiteral("Error: Failed to store configuration to EEPROM"));
        break;
    }
}

// The unit stored something other than the form shows (edits never sent by
// an update, say): each such value stays changed for the next update.
void MainWindow::reportStoredDifferences(const settings_store_result_t& result)
{
    for (const uint8_t index : result.differs) {
        qDebug().noquote() << QStringLiteral("Value %1 differs after store: device 0x%2, form 0x%3")
                                  .arg(index)
                                  .arg(value_of(result.read_back, index), 8, 16, QLatin1Char('0'))
                                  .arg(value_of(user_config, index), 8, 16, QLatin1Char('0'));
        changed_values.insert(static_cast<settings_struct_index>(index));
    }
    statusBar()->showMessage(QStringLiteral("Error: Configuration stored, but %1 value(s) on the device differ "
                                            "from the form; Update sends them, then save again")
                                 .arg(result.differs.size()));
}

// ---- Reboot ----------------------------------------------------------------------

// The unit never acknowledges the request: it restarts, and the user starts
// the program again once it is back.
bool MainWindow::sendDeviceReboot()
{
    return sendDeviceReboot(QString());
}

// The notice after an upload first says how long the transfer took.
bool MainWindow::sendDeviceReboot(const QString& transferNote)
{
    if (!linkConnected())
        return false;
    const QString notice = tr("The device will reboot.\n\nPlease relaunch this application once the device has "
                              "rebooted. ");
    QMessageBox::information(this, tr("Reconnect After Reboot"),
                             transferNote.isEmpty() ? notice : transferNote + QStringLiteral("\n\n") + notice,
                             QMessageBox::Ok);
    if (!settings_request_reboot(comms))
        return false;
    QCoreApplication::quit();
    return true;
}

void MainWindow::onRebootClicked()
{
    if (!linkFreeForWindow())
        return;
    if (sendDeviceReboot()) {
        qDebug() << "Reboot command sent successfully";
        statusBar()->showMessage(tr("Reboot command sent to device"));
    } else {
        qDebug() << "Failed to send reboot command";
        statusBar()->showMessage(tr("Error: Failed to send reboot command"));
    }
}
