// The window with the unit on CAN FD: connecting, then a configuration load,
// update and save through its buttons, on a quiet bus and on a busy one; and
// the simulated program that a newcomer starts with EFIS_SIM_LINK=canfd.

#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "can_standin.h"
#include "comms/comms.h"
#include "mainwindow.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

namespace {

// Generous: a sanitizer build on a shared machine starts slowly.
const int kStartUpMs = 60000;
const int kBusyBusPeriodMs = 1;
const int kBusyBusMinimumFrames = 10;
const char* const kSavedStatus = "Configuration saved to EEPROM successfully";

const QStringList kConnectionOverCanFd = {
    "Attempting to connect to USB HID device 0x16D0:0x14C7",
    "Failed to connect to USB HID",
    "USB HID unavailable, attempting CAN FD interface: can0",
    "CAN FD connected, verifying with serial number request...",
    "Successfully connected via CAN FD! Serial number: 0xAE020457, firmware 1.3.0 (rc 0)",
};

// The simulated program's environment: the unit on CAN FD, no display, and a
// home of its own so nothing lands in the user's.
QProcessEnvironment simulated_program_environment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("EFIS_SIM_LINK", "canfd");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home);
    env.insert("XDG_CACHE_HOME", home + "/cache");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_RUNTIME_DIR", home + "/runtime");
    return env;
}

QStringList first_lines(const QByteArray& output, int count)
{
    return QString::fromLocal8Bit(output).split('\n').mid(0, count);
}

} // namespace

class TestCanfdWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowConfiguresUnitOverCanFd_data();
    void windowConfiguresUnitOverCanFd();
    void simulatedProgramPresentsUnitOnCanFd();

private:
    std::unique_ptr<ScratchHome> home;
};

void TestCanfdWindow::initTestCase()
{
    // The window caches the downloads manifest; it does so in scratch space.
    home = std::make_unique<ScratchHome>();
    QVERIFY(home->isValid());
}

void TestCanfdWindow::init()
{
    sim::can_node().reset();
    sim::unit().reset();
    sim::unit().setPresent(false);
    qputenv("EFIS_SIM_LINK", "canfd");
    device_serial = 0xFFFFFFFF;
}

void TestCanfdWindow::cleanup()
{
    sim::can_node().reset();
}

void TestCanfdWindow::windowConfiguresUnitOverCanFd_data()
{
    QTest::addColumn<int>("busTrafficMs");
    QTest::newRow("quiet bus") << 0;
    QTest::newRow("other nodes every millisecond") << kBusyBusPeriodMs;
}

void TestCanfdWindow::windowConfiguresUnitOverCanFd()
{
    QFETCH(int, busTrafficMs);
    sim::can_node().setBusTraffic(busTrafficMs);

    // Connected, then the settings loaded at start-up.
    std::unique_ptr<MainWindow> window = harness::startWindow();
    QSignalSpy statuses(window->statusBar(), &QStatusBar::messageChanged);
    QVERIFY(harness::waitForStatus(*window, harness::kLoadedStatus));
    QVERIFY(statuses.contains(QVariantList{QString("Connected via CAN FD")}));
    auto* devices = harness::child<QTableWidget>(*window, "table_devices");
    QCOMPARE(devices->rowCount(), 1);
    QCOMPARE(devices->item(0, 1)->text(), QString("0xAE020457"));
    QCOMPARE(devices->item(0, 2)->text(), QString("1.3.0"));

    // Update, save, and the saved value back after the unit restarts.
    harness::child<QSpinBox>(*window, "spinBox_vne")->setValue(201);
    harness::child<QPushButton>(*window, "pushButton_update")->click();
    QCOMPARE(harness::statusText(*window), QString("Successfully sent 1 configuration value(s) to device"));
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 201u);
    harness::child<QPushButton>(*window, "pushButton_save")->click();
    QCOMPARE(harness::statusText(*window), QString(kSavedStatus));
    QCOMPARE(sim::unit().storeCount(), 1);
    QVERIFY(sim::unit().lastStoreChecksumMatched());

    sim::unit().powerCycle();
    harness::child<QSpinBox>(*window, "spinBox_vne")->setValue(150);
    harness::child<QPushButton>(*window, "pushButton_load")->click();
    QCOMPARE(harness::statusText(*window), QString(harness::kLoadedStatus));
    QCOMPARE(harness::child<QSpinBox>(*window, "spinBox_vne")->value(), 201);
    if (busTrafficMs > 0)
        QVERIFY(sim::can_node().otherNodeFramesDelivered() >= kBusyBusMinimumFrames);
}

void TestCanfdWindow::simulatedProgramPresentsUnitOnCanFd()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess program;
    program.setProcessEnvironment(simulated_program_environment(home.path()));
    program.start(EFIS_CONFIG_SIMULATED_PATH, QStringList());
    QVERIFY(program.waitForStarted());

    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += program.readAllStandardOutput()).contains(kConnectionOverCanFd.last().toLocal8Bit()),
                             kStartUpMs);
    QCOMPARE(first_lines(output, kConnectionOverCanFd.size()), kConnectionOverCanFd);
    program.kill();
    program.waitForFinished();
}

QTEST_MAIN(TestCanfdWindow)
#include "tst_canfd_window.moc"
