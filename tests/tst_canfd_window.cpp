// The window with the unit on CAN FD: in this process, and as the simulated
// program that a newcomer starts with EFIS_SIM_LINK=canfd.

#include <QProcess>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "can_standin.h"
#include "comms/comms.h"
#include "mainwindow.h"
#include "simulated_unit.h"

namespace {

// Generous: a sanitizer build on a shared machine starts slowly.
const int kStartUpMs = 60000;

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

    void windowConnectsViaCanFd();
    void simulatedProgramPresentsUnitOnCanFd();
};

void TestCanfdWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
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

void TestCanfdWindow::windowConnectsViaCanFd()
{
    MainWindow window;
    QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(), QString("Connected via CAN FD"), kStartUpMs);
    auto* devices = window.findChild<QTableWidget*>("table_devices");
    QVERIFY(devices != nullptr);
    QCOMPARE(devices->rowCount(), 1);
    QCOMPARE(devices->item(0, 1)->text(), QString("0xAE020457"));
    QCOMPARE(devices->item(0, 2)->text(), QString("1.3.0"));
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
