// The two programs as a user starts them: the product with no unit attached
// and the same program against the simulated unit. Their diagnostic lines
// reach a pipe as they happen, while the window keeps running.

#include <QtTest>

#include "running_program.h"

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
    const QStringList lines = program.waitForLine(kNoUnitLines.last());
    QCOMPARE(lines.mid(lines.indexOf(kNoUnitLines.first())), kNoUnitLines);
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
