// The two programs as a user starts them: the product with no unit attached
// and the same program against the simulated unit. Their diagnostic lines
// reach a pipe as they happen, while the window keeps running.

#include <QtTest>

#include <QProcess>

namespace {

const int kStartBoundMs = 30000;

class RunningProgram
{
public:
    explicit RunningProgram(const QString& path)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CACHE_HOME", dir.path() + "/cache");
        env.insert("HOME", dir.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(path, QStringList());
    }
    ~RunningProgram()
    {
        process.kill();
        process.waitForFinished();
    }

    // Waits until standard output holds the given line; what it printed so far.
    QStringList waitForLine(const QString& line)
    {
        QElapsedTimer timer;
        timer.start();
        while (!lines().contains(line) && timer.elapsed() < kStartBoundMs)
            process.waitForReadyRead(200);
        return lines();
    }

    QStringList lines()
    {
        output += process.readAllStandardOutput();
        QStringList result = QString::fromLocal8Bit(output).split('\n');
        result.removeAll(QString());
        return result;
    }

    QTemporaryDir dir;
    QProcess process;
    QByteArray output;
};

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT

private slots:
    void productWithoutUnitReportsAndKeepsRunning();
    void simulatedProgramConnects();
};

void TestPrograms::productWithoutUnitReportsAndKeepsRunning()
{
    RunningProgram program(EFIS_CONFIG_PATH);
    const QString last = "Failed to connect via USB HID or CAN FD";
    const QStringList lines = program.waitForLine(last);
    const QStringList expected{"Attempting to connect to USB HID device 0x16D0:0x14C7", "Failed to connect to USB HID",
                               "USB HID unavailable, attempting CAN FD interface: can0", "Failed to connect to CAN FD",
                               last};
    QCOMPARE(lines.mid(lines.indexOf(expected.first())), expected);
    QVERIFY(!program.process.waitForFinished(500));
    QCOMPARE(program.process.state(), QProcess::Running);
}

void TestPrograms::simulatedProgramConnects()
{
    RunningProgram program(EFIS_CONFIG_SIMULATED_PATH);
    const QString success = "Successfully connected via USB HID! Serial number: 0xAE020457, firmware 1.3.0 (rc 0)";
    const QStringList lines = program.waitForLine(success);
    QVERIFY2(lines.contains(success), qPrintable(lines.join('\n')));
    QCOMPARE(program.process.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
