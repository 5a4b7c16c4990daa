// MainWindow: start-up and the wiring of the form, the connection to the
// unit, the devices table and teardown.

#include "mainwindow.h"

#include <cstring>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QHeaderView>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "comms/comms.h"
#include "device_type.h"
#include "firmware_manifest.h"
#include "log_handler.h"
#include "mainwindow_upload_progress.h"
#include "registration_prefix.h"
#include "ui_mainwindow.h"

namespace {

// A short pause after "Connecting..." is painted, before the blocking connect.
const unsigned long kConnectPauseMs = 100;

enum DevicesColumn {
    COLUMN_DEVICE = 0,
    COLUMN_SERIAL = 1,
    COLUMN_FIRMWARE = 2,
    COLUMN_UPDATE = 3,
};

} // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(defaultManifestSources(), parent)
{
}

MainWindow::MainWindow(const ManifestSources& sources, QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui_MainWindow),
      pendingFirmwareUpdate(false),
      manifestLookupRunning(false),
      manifestSources(sources),
      comms(nullptr),
      uploadCloseWait(kUploadCloseWait)
{
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
    prepareDevicesTable();
    statusBar()->showMessage(QStringLiteral("Initializing..."));
    // Filled before the list is connected, so filling it is no edit.
    fillRegistrationPrefixes();
    connectUpdateTab();
    // No airspeed limit is known until the unit's settings are read.
    memset(&user_config.vspeeds, 0, sizeof user_config.vspeeds);
    connectSettingsTab();
    connectSettingsMenu();
    connectHelpMenu();
    QTimer::singleShot(0, this, &MainWindow::initializeDeviceConnection);
}

// A worker still running after the wait keeps its own share of the link and
// finds no window to report to, so letting go here can never pull the link
// out from under it.
MainWindow::~MainWindow()
{
    waitForUploadOnClose(firmwareUploadThread, firmwareUploadShare.get());
    waitForUploadOnClose(airportUploadThread, airportUploadShare.get());
    comms = nullptr;
    commsOwner.reset();
    delete ui;
}

void MainWindow::waitForUploadOnClose(QThread* thread, UploadShare* share)
{
    if (thread != nullptr && thread->isRunning())
        thread->wait(QDeadlineTimer(uploadCloseWait.count()));
    if (share != nullptr)
        share->withdrawWindow();
}

void MainWindow::setUploadCloseWait(std::chrono::milliseconds wait)
{
    uploadCloseWait = wait;
}

void MainWindow::prepareDevicesTable()
{
    ui->table_devices->setRowCount(0);
    QHeaderView* header = ui->table_devices->horizontalHeader();
    header->setStretchLastSection(true);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    // The product name is the longest text of the row; it is never cut.
    header->setSectionResizeMode(COLUMN_DEVICE, QHeaderView::ResizeToContents);
    ui->table_devices->setSelectionMode(QAbstractItemView::NoSelection);
}

void MainWindow::fillRegistrationPrefixes()
{
    for (const char* prefix : REGISTRATION_PREFIXES)
        ui->comboBox_reg_prefix->addItem(QLatin1String(prefix));
}

// The file, fetch and start buttons of both uploads, and the tab change that
// completes a pending firmware offer. The upload widgets stay disabled until
// a file is chosen.
void MainWindow::connectUpdateTab()
{
    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);
    connect(ui->pushButton_browse, &QPushButton::clicked, this, &MainWindow::onBrowseClicked);
    connect(ui->pushButton_fetch_fw, &QPushButton::clicked, this, &MainWindow::onFetchFwClicked);
    connect(ui->pushButton_start_update, &QPushButton::clicked, this, &MainWindow::onStartUpdateClicked);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onMainTabChanged);

    ui->text_firmware_file_2->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->progressBar_airports->setEnabled(false);
    connect(ui->pushButton_browse_airports, &QPushButton::clicked, this, &MainWindow::onBrowseAirportsClicked);
    connect(ui->pushButton_fetch_apt_db, &QPushButton::clicked, this, &MainWindow::onFetchAptDbClicked);
    connect(ui->pushButton_start_airport, &QPushButton::clicked, this, &MainWindow::onStartAirportClicked);
}

void MainWindow::connectSettingsTab()
{
    connect(ui->pushButton_save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);

    connect(ui->color_picker_sky0, &QPushButton::clicked, this, &MainWindow::onSkyColorPickerClicked);
    connect(ui->color_picker_sky1, &QPushButton::clicked, this, &MainWindow::onSkyColor1PickerClicked);
    connect(ui->color_picker_ground0, &QPushButton::clicked, this, &MainWindow::onGroundColorPickerClicked);
    connect(ui->color_picker_ground1, &QPushButton::clicked, this, &MainWindow::onGroundColor1PickerClicked);
    connect(ui->color_picker_app_indi, &QPushButton::clicked, this, &MainWindow::onApproachIndiColorPickerClicked);
    connect(ui->color_picker_airplane, &QPushButton::clicked, this, &MainWindow::onAirplaneColorPickerClicked);
    connect(ui->color_picker_green, &QPushButton::clicked, this, &MainWindow::onGreenArcColorPickerClicked);
    connect(ui->color_picker_yellow, &QPushButton::clicked, this, &MainWindow::onYellowArcColorPickerClicked);
    connect(ui->color_picker_red, &QPushButton::clicked, this, &MainWindow::onRedArcColorPickerClicked);
    connect(ui->color_picker_gear, &QPushButton::clicked, this, &MainWindow::onGearIndiColorPickerClicked);

    connectSettingsValues();

    connect(ui->pushButton_update, &QPushButton::clicked, this, &MainWindow::onUpdateClicked);
    connect(ui->pushButton_reboot, &QPushButton::clicked, this, &MainWindow::onRebootClicked);
}

// Every value widget of the Settings tab: each edit marks its setting as
// changed.
void MainWindow::connectSettingsValues()
{
    connect(ui->comboBox_airspeed, &QComboBox::currentIndexChanged, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_altitude, &QComboBox::currentIndexChanged, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_temp, &QComboBox::currentIndexChanged, this, &MainWindow::onUnitsChanged);
    connect(ui->comboBox_pressure, &QComboBox::currentIndexChanged, this, &MainWindow::onUnitsChanged);

    connect(ui->spinBox_vmin, &QSpinBox::valueChanged, this, &MainWindow::onVminChanged);
    connect(ui->spinBox_vs0, &QSpinBox::valueChanged, this, &MainWindow::onVs0Changed);
    connect(ui->spinBox_vs1, &QSpinBox::valueChanged, this, &MainWindow::onVs1Changed);
    connect(ui->spinBox_vfe, &QSpinBox::valueChanged, this, &MainWindow::onVfeChanged);
    connect(ui->spinBox_vn0, &QSpinBox::valueChanged, this, &MainWindow::onVn0Changed);
    connect(ui->spinBox_vne, &QSpinBox::valueChanged, this, &MainWindow::onVneChanged);
    connect(ui->spinBox_vref, &QSpinBox::valueChanged, this, &MainWindow::onVrefChanged);
    connect(ui->spinBox_vlo, &QSpinBox::valueChanged, this, &MainWindow::onVloChanged);

    connect(ui->min_volt_warn_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMinVoltChanged);
    connect(ui->max_volt_warn_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMaxVoltChanged);
    connect(ui->min_volt_alert_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMinVoltAlertChanged);
    connect(ui->max_volt_alert_value, &QDoubleSpinBox::valueChanged, this, &MainWindow::onMaxVoltAlertChanged);

    connect(ui->comboBox_reg_prefix, &QComboBox::currentTextChanged, this, &MainWindow::onRegistrationChanged);
    connect(ui->text_registration_num, &QPlainTextEdit::textChanged, this, &MainWindow::onRegistrationChanged);
    connect(ui->text_icao, &QPlainTextEdit::textChanged, this, &MainWindow::onOwnshipIcaoChanged);
    connect(ui->comboBox_emitter_cat, &QComboBox::currentIndexChanged, this, &MainWindow::onEmitterCatChanged);
    connect(ui->comboBox_map_view, &QComboBox::currentIndexChanged, this, &MainWindow::onMapViewChanged);
    connect(ui->comboBox_term_res, &QComboBox::currentIndexChanged, this, &MainWindow::onTermResChanged);
    connect(ui->radioButton_use_icao, &QRadioButton::toggled, this, &MainWindow::onIcaoAddressTypeChanged);
    connect(ui->radioButton_rand_icao, &QRadioButton::toggled, this, &MainWindow::onIcaoAddressTypeChanged);

    connect(ui->backlight_slider, &QSlider::valueChanged, this, &MainWindow::onBacklightBrightnessChanged);
    connect(ui->text_bg_alpha_slider, &QSlider::valueChanged, this, &MainWindow::onTextBgAlphaChanged);
    connect(ui->roll_corr_spinbox, &QDoubleSpinBox::valueChanged, this, &MainWindow::onRollCorrectionChanged);
    connect(ui->pitch_corr_spinbox, &QDoubleSpinBox::valueChanged, this, &MainWindow::onPitchCorrectionChanged);
}

// The run's one request of its own to the manifest server, made once the
// window is on screen. Start-up goes on without a manifest; the devices
// table then says "Unknown".
void MainWindow::prefetchManifest()
{
    QString error;
    if (!prefetchDownloadsManifest(manifestSources, &error))
        qDebug().noquote() << "Downloads manifest prefetch at launch failed:" << error;
}

void MainWindow::initializeDeviceConnection()
{
    statusBar()->showMessage(tr("Connecting..."));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(kConnectPauseMs);

    comms = new CommsManager();
    commsOwner.reset(comms);
    if (!comms->establish_connection()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        statusBar()->showMessage(tr("Failed to connect to EFIS via USB or CAN FD - please check connections"));
        refreshDevicesTable();
        prefetchManifest();
        return;
    }
    statusBar()->showMessage(comms->getActiveInterface() == CAN_FD ? tr("Connected via CAN FD")
                                                                   : tr("Connected via USB HID"));
    // The unit is listed with what it says of itself while the manifest is fetched.
    showDeviceRow(nullptr);
    prefetchManifest();
    refreshDevicesTable();
    // An accepted update takes over the Device Updates tab; the settings
    // are read when the unit is back.
    if (!promptFirmwareUpdateIfNeeded())
        loadConfigFromDevice();
    // The manifest may have been loaded meanwhile.
    refreshDevicesTable();
}

void MainWindow::onMainTabChanged(int index)
{
    if (ui->tabWidget->widget(index) == ui->tab_update)
        tryPopulatePendingFirmwareUpdate();
}

void MainWindow::setDeviceCell(int column, const QString& text, bool centred)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    if (centred)
        item->setTextAlignment(Qt::AlignCenter);
    ui->table_devices->setItem(0, column, item);
}

// The row stays while the manifest is looked up and is replaced only when
// the new one is ready, so a connected unit never vanishes from the table.
void MainWindow::refreshDevicesTable()
{
    if (comms == nullptr || !comms->isConnected() || device_serial == 0xFFFFFFFF) {
        ui->table_devices->setRowCount(0);
        return;
    }
    if (firmwareManifestEntries.isEmpty())
        loadFirmwareManifestEntries(nullptr);
    showDeviceRow(findFirmwareManifestEntry(firmwareManifestEntries, device_serial));
}

// The unit's row, with the product name and update state from its manifest
// entry when there is one.
void MainWindow::showDeviceRow(const FirmwareManifestEntry* entry)
{
    QString deviceName;
    QString updateText = tr("Unknown");
    if (entry != nullptr) {
        deviceName = entry->display_name.isEmpty() ? entry->device_type : entry->display_name;
        updateText = deviceFirmwareOlderThanManifest(fw, *entry) ? tr("Yes") : tr("No");
    }
    if (deviceName.isEmpty())
        deviceName = deviceTypeName(device_serial);

    ui->table_devices->setRowCount(1);
    setDeviceCell(COLUMN_DEVICE, deviceName, false);
    setDeviceCell(COLUMN_SERIAL, serialNumberText(device_serial), true);
    setDeviceCell(COLUMN_FIRMWARE, firmwareVersionToString(fw), true);
    setDeviceCell(COLUMN_UPDATE, updateText, true);
}
