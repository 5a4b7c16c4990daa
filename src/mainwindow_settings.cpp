// MainWindow: moving the settings between the unit and the working record.
// A load reads every value, an update sends the values the user changed, a
// save has the unit store what it holds; and the reboot request.

#include "mainwindow.h"

#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "comms/comms.h"

Settings_t user_config;
uint32_t mem_version = 0;
uint32_t user_config_sizeof = sizeof(Settings_t);
uint32_t user_config_chk = 0;

namespace {

// What get_value gives for a read that failed.
const uint32_t kReadFailed = 0xFFFFFFFF;
// The unit gets a moment between one settings exchange and the next.
const unsigned long kSettingsPauseMs = 1;
// The host marks the record it has the unit store with these characters.
const char kStoredMagic[4] = {'K', 'O', 'B', '_'};
// The character the unit's boot loader takes as "reboot".
const uint8_t kRebootRequest = 0x48;

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

const HeaderWord& header_word(settings_struct_index index)
{
    return kHeaderWords[index - SETTINGS_CHECKSUM_INDEX];
}

} // namespace

int store_settings(CommsManager* comms, uint32_t crc)
{
    if (!comms_connected(comms))
        return -1;
    COMMS_MSG_t msg = comms_msg_init(CANMSG_SAVE_USER_SETTINGS, CAN_4_BYTES);
    put_u32_le(&msg.data[0], crc);
    if (comms->write(msg) <= 0) {
        qDebug() << "Failed to send store command";
        return -1;
    }
    if (!wait_for_mx25_ack(comms, nullptr, nullptr)) {
        qDebug() << "Flash erase failed or timeout waiting for MX25 erase status";
        return -1;
    }
    qDebug() << "Flash erase succeeded";
    if (!wait_for_ack(comms, CANMSG_SAVE_USER_SETTINGS)) {
        qDebug() << "Store command failed: no valid ACK (or NACK) for save settings";
        return -1;
    }
    return 0;
}

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

void MainWindow::loadConfigFromDevice()
{
    if (!linkFreeForWindow())
        return;
    changed_values.clear();
    memset(&user_config, 0, sizeof user_config);
    if (!readSettingsHeader())
        return;
    user_config_sizeof = sizeof(Settings_t);
    if (!readSettingsValues())
        return;
    compareChecksumWithUnit();
    updateUIFromConfig();
    statusBar()->showMessage(QStringLiteral("Configuration successfully loaded from device"));
}

// A header word of 0xFFFFFFFF counts as a failed read: the unit has no
// record the host could make sense of.
bool MainWindow::readHeaderWord(settings_struct_index index, uint32_t* value)
{
    *value = get_value(comms, SETTINGS_COMMS, index);
    if (*value != kReadFailed)
        return true;
    const HeaderWord& word = header_word(index);
    qDebug() << word.readError;
    statusBar()->showMessage(QString::fromLatin1(word.statusError));
    return false;
}

bool MainWindow::readSettingsHeader()
{
    uint32_t value = 0;
    if (!readHeaderWord(SETTINGS_CHECKSUM_INDEX, &value))
        return false;
    user_config_chk = value;
    user_config.crc32 = value;
    if (!readHeaderWord(SETTINGS_MAGIC_NUM, &value))
        return false;
    user_config.magic = value;
    return readLayoutWords();
}

// The unit's layout version and element count, taken into the record by the
// load and by the save alike.
bool MainWindow::readLayoutWords()
{
    uint32_t value = 0;
    if (!readHeaderWord(SETTINGS_VERSION, &value))
        return false;
    mem_version = value;
    user_config.version = value;
    if (!readHeaderWord(SETTINGS_NUM_ELEMENTS, &value))
        return false;
    user_config.num_elements = value;
    return true;
}

// Every value is read with its success reported apart, so a value the unit
// really holds as 0xFFFFFFFF (white, say) loads as itself. A read that fails
// leaves 0 and the load goes on; the checksum comparison then shows it.
bool MainWindow::readSettingsValues()
{
    for (uint32_t i = UNITS_VALUE_INDEX; i < SETTINGS_LAST_INDEX; i++) {
        const settings_struct_index index = static_cast<settings_struct_index>(i);
        uint32_t value = 0;
        if (!read_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), &value)) {
            qDebug() << "Warning: Failed to read value for index" << i << ", setting to 0";
            value = 0;
        }
        if (!settings_set_value(&user_config, index, &value)) {
            qDebug() << "Error setting value for index" << i;
            statusBar()->showMessage(QStringLiteral("Error: Failed to process configuration data"));
            return false;
        }
        QThread::msleep(kSettingsPauseMs);
    }
    return true;
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
    std::set<settings_struct_index> failed;
    for (const settings_struct_index index : changed_values) {
        const uint32_t value = settings_get_value(&user_config, index);
        if (set_value(comms, SETTINGS_COMMS, static_cast<uint8_t>(index), value) != 0) {
            qDebug() << "Failed to send value for index" << static_cast<uint32_t>(index);
            failed.insert(index);
        }
        QThread::msleep(kSettingsPauseMs);
    }
    const size_t sent = changed_values.size() - failed.size();
    changed_values = failed;
    if (failed.empty())
        statusBar()->showMessage(QStringLiteral("Successfully sent %1 configuration value(s) to device").arg(sent));
    else
        statusBar()->showMessage(QStringLiteral("Sent %1 value(s), %2 failed").arg(sent).arg(failed.size()));
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

// ---- Save ----------------------------------------------------------------------

// The save sends no values: the unit stores the settings it holds, and the
// checksum tells it what the host believes those settings are.
void MainWindow::onSaveClicked()
{
    if (!linkFreeForWindow())
        return;
    updateConfigFromUI();
    if (!stampRecordForStore())
        return;
    const uint32_t crc = settings_CalcCRC(&user_config);
    printf("New CRC %08X\n", crc);
    if (store_settings(comms, crc) != 0) {
        qDebug() << "Error storing configuration to EEPROM";
        statusBar()->showMessage(QStringLiteral("Error: Failed to store configuration to EEPROM"));
        return;
    }
    // The store sends no values: edits not yet sent by an update stay pending,
    // so the next update still carries them to the unit.
    updateUIFromConfig();
    statusBar()->showMessage(QStringLiteral("Configuration saved to EEPROM successfully"));
}

// The record takes the unit's layout version and element count, the magic and
// a zero crc32, so the checksum covers what the unit will check.
bool MainWindow::stampRecordForStore()
{
    if (!readLayoutWords())
        return false;
    memcpy(&user_config.magic, kStoredMagic, sizeof kStoredMagic);
    user_config.crc32 = 0;
    return true;
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
    COMMS_MSG_t msg = comms_msg_init(CANMSG_ENTER_BL, CAN_1_BYTES);
    msg.data[0] = kRebootRequest;
    if (comms->write(msg) <= 0)
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
