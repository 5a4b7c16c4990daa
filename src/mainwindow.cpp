// MainWindow: start-up, the connection to the unit, the devices table and
// teardown.

#include "mainwindow.h"

#include <QApplication>
#include <QDebug>
#include <QHeaderView>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "comms/comms.h"
#include "firmware_manifest.h"
#include "log_handler.h"
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

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow), comms(nullptr)
{
    qInstallMessageHandler(customMessageHandler);
    ui->setupUi(this);
    prepareDevicesTable();
    statusBar()->showMessage(QStringLiteral("Initializing..."));
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onMainTabChanged);
    QTimer::singleShot(0, this, &MainWindow::initializeDeviceConnection);
}

MainWindow::~MainWindow()
{
    delete comms;
    comms = nullptr;
    delete ui;
}

void MainWindow::prepareDevicesTable()
{
    ui->table_devices->setRowCount(0);
    QHeaderView* header = ui->table_devices->horizontalHeader();
    header->setStretchLastSection(true);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    ui->table_devices->setSelectionMode(QAbstractItemView::NoSelection);
}

void MainWindow::initializeDeviceConnection()
{
    statusBar()->showMessage(tr("Connecting..."));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(kConnectPauseMs);

    comms = new CommsManager();
    if (!comms->establish_connection()) {
        qDebug() << "Failed to establish connection via USB HID or CAN FD";
        statusBar()->showMessage(tr("Failed to connect to EFIS via USB or CAN FD - please check connections"));
        refreshDevicesTable();
        return;
    }
    statusBar()->showMessage(comms->getActiveInterface() == CAN_FD ? tr("Connected via CAN FD")
                                                                   : tr("Connected via USB HID"));
    refreshDevicesTable();
}

void MainWindow::onMainTabChanged(int /*index*/)
{
}

QString MainWindow::deviceDisplayName() const
{
    const DeviceType_t type = get_device_type(device_serial);
    switch (type) {
    case Device_type_EFIS:
        return QStringLiteral("Halcyra");
    case Device_type_ED:
        return QStringLiteral("Mirrow");
    case Device_type_FF:
        return QStringLiteral("Sondrel");
    default:
        return QStringLiteral("Unknown (0x%1)").arg(static_cast<unsigned>(type), 2, 16, QLatin1Char('0'));
    }
}

void MainWindow::setDeviceCell(int column, const QString& text, bool centred)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    if (centred)
        item->setTextAlignment(Qt::AlignCenter);
    ui->table_devices->setItem(0, column, item);
}

void MainWindow::refreshDevicesTable()
{
    ui->table_devices->setRowCount(0);
    if (comms == nullptr || !comms->isConnected() || device_serial == 0xFFFFFFFF)
        return;

    const QString updateText = tr("Unknown");
    ui->table_devices->setRowCount(1);
    setDeviceCell(COLUMN_DEVICE, deviceDisplayName(), false);
    setDeviceCell(COLUMN_SERIAL, QStringLiteral("0x") + QStringLiteral("%1").arg(device_serial, 8, 16, QLatin1Char('0')).toUpper(), true);
    setDeviceCell(COLUMN_FIRMWARE, firmwareVersionToString(fw), true);
    setDeviceCell(COLUMN_UPDATE, updateText, true);
}
