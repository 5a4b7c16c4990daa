// The window's start-up against the simulated unit: the one connection
// attempt, the status bar, and the devices table's cells.

#include <QtTest>

#include <QHeaderView>
#include <QStatusBar>
#include <QTableWidget>

#include <memory>

#include "comms/comms.h"
#include "mainwindow.h"
#include "output_capture.h"
#include "scratch_home.h"
#include "simulated_unit.h"

namespace {

const int kConnectBoundMs = 15000;

QTableWidget* devices_table(MainWindow& window)
{
    return window.findChild<QTableWidget*>("table_devices");
}

QString status_text(MainWindow& window)
{
    return window.statusBar()->currentMessage();
}

} // namespace

class TestDevicesTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startsWithEmptyTableAndInitializing();
    void listsConnectedUnit_data();
    void listsConnectedUnit();
    void cellsAreCentredAndReadOnly();
    void noUnitLeavesTableEmpty();
    void silentUnitLeavesTableEmpty();

private:
    std::unique_ptr<ScratchHome> home;
};

void TestDevicesTable::initTestCase()
{
    // No manifest anywhere: an empty home, and the server out of reach.
    home.reset(new ScratchHome());
    QVERIFY(home->isValid());
}

void TestDevicesTable::init()
{
    sim::unit().reset();
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestDevicesTable::startsWithEmptyTableAndInitializing()
{
    OutputCapture err(stderr);
    const QRegularExpression prefetchLine("^Debug: Downloads manifest prefetch at launch failed: .+ \\(.*mainwindow.cpp:");
    MainWindow window;
    // The window is built without waiting for the network.
    QVERIFY2(err.lines().filter(prefetchLine).isEmpty(), qPrintable(err.text()));
    QCOMPARE(devices_table(window)->rowCount(), 0);
    QCOMPARE(status_text(window), QString("Initializing..."));
    QCOMPARE(window.windowTitle(), QString("Corvane EFIS Config"));
    // The connection shows "Connected via USB HID" and goes straight on to read the settings.
    QTRY_COMPARE_WITH_TIMEOUT(status_text(window), QString("Configuration successfully loaded from device"),
                              kConnectBoundMs);
    QVERIFY2(err.lines().filter(prefetchLine).size() == 1, qPrintable(err.text()));
}

void TestDevicesTable::listsConnectedUnit_data()
{
    QTest::addColumn<uint32_t>("serial");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("serialText");
    QTest::newRow("Halcyra") << 0xAE020457u << "Halcyra" << "0xAE020457";
    QTest::newRow("Mirrow") << 0xED00BEEFu << "Mirrow" << "0xED00BEEF";
    QTest::newRow("Sondrel") << 0xFF000001u << "Sondrel" << "0xFF000001";
    QTest::newRow("unknown 0x42") << 0x42123456u << "Unknown (0x42)" << "0x42123456";
    QTest::newRow("unknown 0x1c") << 0x1C000000u << "Unknown (0x1c)" << "0x1C000000";
    QTest::newRow("leading zeros") << 0x0000ABCDu << "Unknown (0x00)" << "0x0000ABCD";
}

void TestDevicesTable::listsConnectedUnit()
{
    QFETCH(uint32_t, serial);
    QFETCH(QString, name);
    QFETCH(QString, serialText);
    sim::unit().setSerial(serial);
    sim::unit().setFirmware(2, 10, 3, 5);

    MainWindow window;
    window.show();
    QTableWidget* table = devices_table(window);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kConnectBoundMs);
    QCOMPARE(table->item(0, 0)->text(), name);
    QCOMPARE(table->item(0, 1)->text(), serialText);
    QCOMPARE(table->item(0, 2)->text(), QString("2.10.3"));
    QCOMPARE(table->item(0, 3)->text(), QString("Unknown"));
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QString("FIrmware Version"));
}

void TestDevicesTable::cellsAreCentredAndReadOnly()
{
    MainWindow window;
    QTableWidget* table = devices_table(window);
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kConnectBoundMs);
    QCOMPARE(table->columnCount(), 4);
    for (int column = 0; column < 4; column++) {
        const QTableWidgetItem* item = table->item(0, column);
        QVERIFY(!(item->flags() & Qt::ItemIsEditable));
        const int expected = column == 0 ? 0 : int(Qt::AlignCenter);
        QCOMPARE(item->textAlignment(), expected);
    }
    QCOMPARE(table->selectionMode(), QAbstractItemView::NoSelection);
    QVERIFY(table->horizontalHeader()->stretchLastSection());
    QVERIFY(!table->horizontalHeader()->sectionsClickable());
}

void TestDevicesTable::noUnitLeavesTableEmpty()
{
    sim::unit().setPresent(false);
    MainWindow window;
    QTRY_COMPARE_WITH_TIMEOUT(status_text(window),
                              QString("Failed to connect to EFIS via USB or CAN FD - please check connections"),
                              kConnectBoundMs);
    QCOMPARE(devices_table(window)->rowCount(), 0);
    QVERIFY(window.isEnabled()); // the program keeps running
}

void TestDevicesTable::silentUnitLeavesTableEmpty()
{
    sim::FaultRule silent;
    silent.request_id = CANMSG_WHOAMI_REQUEST;
    silent.kind = sim::FAULT_NO_REPLY;
    silent.times = -1;
    sim::unit().addFault(silent);
    MainWindow window;
    QTRY_COMPARE_WITH_TIMEOUT(status_text(window),
                              QString("Failed to connect to EFIS via USB or CAN FD - please check connections"),
                              kConnectBoundMs);
    QCOMPARE(devices_table(window)->rowCount(), 0);
    QCOMPARE(device_serial, 0xFFFFFFFFu);
}

QTEST_MAIN(TestDevicesTable)
#include "tst_devices_table.moc"
