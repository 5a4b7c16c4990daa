#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>

#include <QFileDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QThread>

#include "EFIS_shared/settings_types.h"
#include "firmware_manifest.h"
#include "settings_file.h"
#include "settings_transfer.h"

class CommsManager;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;
class QTableWidgetItem;
class UploadShare;
struct ThrottledUploadProgressCtx;
QT_BEGIN_NAMESPACE
class Ui_MainWindow;
QT_END_NAMESPACE

// The working copy of the unit's settings and what the last load learnt of
// the unit's own record.
extern Settings_t user_config;
extern uint32_t mem_version;        // settings layout version last read from the unit
extern uint32_t user_config_sizeof; // size of the record in bytes
extern uint32_t user_config_chk;    // checksum the unit reported at the last load

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    // Internal: the window with other manifest sources than the program's
    // fixed ones (a loopback server, a scratch program directory).
    explicit MainWindow(const ManifestSources& sources, QWidget* parent = nullptr);
    ~MainWindow() override;

    // How long closing the window waits for each running upload before it
    // lets go of the link; the worker keeps the link alive for itself.
    static constexpr std::chrono::milliseconds kUploadCloseWait{120000};
    // Internal: a shorter wait, for closing during a transfer without
    // waiting two minutes.
    void setUploadCloseWait(std::chrono::milliseconds wait);

    // Called once after connecting, and by the load button.
    void loadConfigFromDevice();
    // Changes one value and sends it at once.
    void updateConfigValueAndSend(settings_struct_index index, uint32_t value);
    // Shows the reboot notice, sends the reboot request and asks the
    // application to quit; false, with the program left running, when the
    // request could not be sent.
    bool sendDeviceReboot();

    // Show one progress report of a running upload; on the window's thread only.
    void applyFirmwareUploadProgress(int bar_0_10000, const QString& status);
    void applyAirportUploadProgress(int bar_0_10000, const QString& status);
    // The bar's own text: its percentage, and the rate and time left of the write phase.
    void applyFirmwareUploadBarText(const QString& text);
    void applyAirportUploadBarText(const QString& text);

private slots:
    void onSaveClicked();
    void onLoadClicked();
    void onBrowseClicked();
    void onFetchFwClicked();
    void onStartUpdateClicked();
    void onBrowseAirportsClicked();
    void onFetchAptDbClicked();
    void onStartAirportClicked();
    void onSkyColorPickerClicked();
    void onSkyColor1PickerClicked();
    void onGroundColorPickerClicked();
    void onGroundColor1PickerClicked();
    void onApproachIndiColorPickerClicked();
    void onAirplaneColorPickerClicked();
    void onGreenArcColorPickerClicked();
    void onYellowArcColorPickerClicked();
    void onRedArcColorPickerClicked();
    void onGearIndiColorPickerClicked();
    void onUnitsChanged();
    void onVminChanged(int value);
    void onVs0Changed(int value);
    void onVs1Changed(int value);
    void onVfeChanged(int value);
    void onVn0Changed(int value);
    void onVneChanged(int value);
    void onVrefChanged(int value);
    void onVloChanged(int value);
    void onMinVoltChanged(double value);
    void onMaxVoltChanged(double value);
    void onMinVoltAlertChanged(double value);
    void onMaxVoltAlertChanged(double value);
    void onRegistrationChanged();
    void onSkyColor0Changed();
    void onSkyColor1Changed();
    void onGroundColor0Changed();
    void onGroundColor1Changed();
    void onApproachIndiColorChanged();
    void onAirplaneColorChanged();
    void onGreenArcColorChanged();
    void onYellowArcColorChanged();
    void onRedArcColorChanged();
    void onGearIndiColorChanged();
    void onBacklightBrightnessChanged(int value);
    void onTextBgAlphaChanged(int value);
    void onRollCorrectionChanged(double value);
    void onPitchCorrectionChanged(double value);
    void onOwnshipIcaoChanged();
    void onEmitterCatChanged(int index);
    void onMapViewChanged(int index);
    void onTermResChanged(int index);
    void onIcaoAddressTypeChanged();
    void onUpdateClicked();
    void onRebootClicked();
    void onMainTabChanged(int index);
    void onExportSettingsTriggered();
    void onImportSettingsTriggered();
    void onCompareSettingsTriggered();
    void onOpenLogFolderTriggered();
    void onAboutTriggered();

private:
    struct VoltageField {
        QDoubleSpinBox* box;
        settings_struct_index index;
    };
    typedef std::array<uint8_t, SETTINGS_REGISTRATION_LEN> RegistrationBytes;

    // ---- Start-up, devices table (mainwindow.cpp) ----
    void prepareDevicesTable();
    void fillRegistrationPrefixes();
    void connectUpdateTab();
    void connectSettingsTab();
    void connectSettingsValues();
    void initializeDeviceConnection();
    void refreshDevicesTable();
    void showDeviceRow(const FirmwareManifestEntry* entry);
    void prefetchManifest();
    void setDeviceCell(int column, const QString& text, bool centred);
    void waitForUploadOnClose(QThread* thread, UploadShare* share);

    // ---- Update file selection (mainwindow_file_selection.cpp) ----
    bool acceptFirmwareFileSelection(const QString& path, const QString& expected_sha256);
    void clearFirmwareFileSelection();
    void selectAirportDbFile(const QString& path);
    QString manifestDigestFor(const QString& path) const;

    // ---- Uploads (mainwindow_updates.cpp) ----
    bool uploadRunning() const;
    bool refuseFirmwareUpload();
    bool refuseAirportUpload();
    void setFirmwareControlsEnabled(bool enabled);
    void setAirportControlsEnabled(bool enabled);
    typedef std::function<bool(CommsManager*, ThrottledUploadProgressCtx*)> UploadTransfer;
    typedef void (MainWindow::*UploadFinished)(bool completed);
    QThread* startUploadWorker(std::shared_ptr<UploadShare>* share_out, UploadTransfer transfer,
                               UploadFinished finished);
    void onFirmwareUploadFinished(bool completed);
    void onAirportUploadFinished(bool completed);

    // ---- Update discovery (mainwindow_discovery.cpp) ----
    bool promptFirmwareUpdateIfNeeded();
    void tryPopulatePendingFirmwareUpdate();
    void selectManifestFirmwareFile(const FirmwareManifestEntry& entry);
    bool loadManifestEntriesForDevice();
    bool loadFirmwareManifestEntries(QString* error);
    void rejectFirmwareFile(const QString& reason);
    bool askToUpdateFirmware(const FirmwareManifestEntry& entry);
    bool fetchFirmwareManifest();
    bool askToSelectFirmwareManually();
    bool fetchDatabaseEntry(DatabaseManifestEntry* entry_out);
    void fetchFirmwareForDevice();
    void fetchAirportDatabase();

    // ---- Configuration transfer (mainwindow_settings.cpp) ----
    bool sendDeviceReboot(const QString& transferNote);
    bool linkFreeForWindow();
    bool linkConnected() const;
    void reportLoadFailure(const settings_load_result_t& result);
    void reportHeaderFailure(uint8_t index);
    void compareChecksumWithUnit();
    int takeFormAdjustments();
    int markChangedSince(const Settings_t& earlier);
    void backUpLoadedSettings();
    void reportStoredDifferences(const settings_store_result_t& result);
    void updateConfigValueLocal(settings_struct_index index, uint32_t value);

    // ---- Settings menu (mainwindow_settings_files.cpp) ----
    void connectSettingsMenu();
    QString chooseSettingsFile(QFileDialog::AcceptMode mode, const QString& title);
    bool openSettingsFile(const QString& title, QString* path_out, Settings_t* record);
    int applyImportedSettings(const Settings_t& imported);
    void showSettingsDifferences(const QString& title, const QString& path,
                                 const std::vector<settings_difference_t>& differences);

    // ---- Settings tab (mainwindow_settings_tab.cpp) ----
    void updateUIFromConfig();
    void updateConfigFromUI();
    QList<QWidget*> settingsInputWidgets() const;
    void setSettingsSignalsBlocked(bool blocked);
    void showUnits();
    void showSpeedsAndVoltages();
    void showDisplayValues();
    void showBusValues();
    uint32_t unitsFromWidgets();
    std::array<QSpinBox*, 8> vspeedBoxes() const;
    std::array<VoltageField, 4> voltageFields() const;

    // ---- Help menu (mainwindow_help.cpp) ----
    void connectHelpMenu();

    // ---- Colour pickers (mainwindow_colours.cpp) ----
    void showColours();
    void storeColoursFromWidgets();
    QPushButton* colourButton(settings_struct_index index) const;
    bool pickColour(settings_struct_index index);
    void handOnColour(settings_struct_index index);
    bool colourFromButton(settings_struct_index index, uint32_t* value) const;

    // ---- Aircraft identity (mainwindow_identity.cpp) ----
    void showRegistration();
    void showIdentity();
    void selectRegistration(int prefixPosition, const QString& number);
    RegistrationBytes registrationFromWidgets() const;
    static std::array<uint32_t, 3> registrationWords(const RegistrationBytes& bytes);
    uint32_t ownshipIcaoFromIcaoField() const;
    uint32_t icaoAddressTypeFromWidgets() const;

    Ui_MainWindow* ui;
    // The files the Device Updates tab uploads; empty means none chosen.
    QString firmwareFilePath;
    QString airportDbFilePath;
    // Firmware rows of the downloads manifest, loaded when the devices table first needs them.
    QVector<FirmwareManifestEntry> firmwareManifestEntries;
    // A newer firmware was offered and its package is not yet in place.
    bool pendingFirmwareUpdate;
    // A manifest lookup or package download is waiting for the network;
    // another one would run inside it.
    bool manifestLookupRunning;
    // Where the manifest and its packages come from.
    ManifestSources manifestSources;
    // The link, used by the window's thread through `comms`; the window and
    // each running upload worker own it together, so it outlives the window
    // when a worker is still writing through it.
    CommsManager* comms;
    std::shared_ptr<CommsManager> commsOwner;
    // Indices changed since the last load and not yet sent, in ascending order.
    std::set<settings_struct_index> changed_values;
    // Where the settings file dialogs open: the folder of the last file chosen.
    QString settingsFolder;
    // The running upload workers; null when idle.
    QPointer<QThread> firmwareUploadThread;
    QPointer<QThread> airportUploadThread;
    // What each upload shares with its worker.
    std::shared_ptr<UploadShare> firmwareUploadShare;
    std::shared_ptr<UploadShare> airportUploadShare;
    std::chrono::milliseconds uploadCloseWait;
};
