// The support log: the product's lines of both streams reach it with time
// stamps while the streams keep their own lines; an unwritable folder changes
// nothing else; lines printed from several threads are neither lost nor
// reordered when the log finishes; the log rotates at 1 MiB keeping five.

#include <QtTest>

#include <cstdio>
#include <thread>
#include <vector>

#include "output_capture.h"
#include "running_program.h"
#include "support_log.h"
#include "window_harness.h"

namespace {

const int kStartBoundMs = 30000;
const QRegularExpression kStampedLine(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) (.*)$"));

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The log's lines without their stamps; a line without a stamp is kept whole,
// so it shows up as a difference.
QStringList logBodies(const QString& path)
{
    QStringList bodies;
    for (const QString& line : QString::fromLocal8Bit(contents(path)).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = kStampedLine.match(line);
        bodies.append(match.hasMatch() ? match.captured(2) : "unstamped: " + line);
    }
    return bodies;
}

QStringList linesStartingWith(const QStringList& lines, const QString& start)
{
    QStringList matching;
    for (const QString& line : lines) {
        if (line.startsWith(start))
            matching.append(line);
    }
    return matching;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestSupportLog : public QObject
{
    Q_OBJECT

private slots:
    void productLogsBothStreams_data();
    void productLogsBothStreams();
    void linesFromEveryThreadReachBothPlaces();
    void rotatesAtOneMebibyteKeepingFive();
};

void TestSupportLog::productLogsBothStreams_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable folder") << true;
    QTest::newRow("folder under a plain file") << false;
}

void TestSupportLog::productLogsBothStreams()
{
    QFETCH(bool, writable);
    QTemporaryFile plainFile;
    QVERIFY(plainFile.open());
    QProcessEnvironment environment;
    if (!writable)
        environment.insert("XDG_STATE_HOME", plainFile.fileName() + "/state");
    RunningProgram program(EFIS_CONFIG_PATH, environment);

    QCOMPARE(program.waitForLine(kNoUnitLines.last()), kNoUnitLines);
    const QString failure = "Failed to establish connection via USB HID or CAN FD";
    QTRY_VERIFY_WITH_TIMEOUT(harness::hasDebugLine(program.errorLines(), failure), kStartBoundMs);
    QVERIFY(!program.process.waitForFinished(500));
    QCOMPARE(program.process.state(), QProcess::Running);
    if (!writable)
        return;

    const QString log = program.stateHome() + "/efis-config/efis-config.log";
    const QString errorLine = linesStartingWith(program.errorLines(), "Debug: " + failure).value(0);
    QTRY_VERIFY_WITH_TIMEOUT(logBodies(log).contains(kNoUnitLines.last()), kStartBoundMs);
    const QStringList bodies = logBodies(log);
    QCOMPARE(bodies.mid(bodies.indexOf(kNoUnitLines.first()), kNoUnitLines.size()), kNoUnitLines);
    QVERIFY2(bodies.indexOf(errorLine) > bodies.indexOf(kNoUnitLines.last()), qPrintable(bodies.join('\n')));
    QVERIFY2(linesStartingWith(bodies, "unstamped: ").isEmpty(), qPrintable(bodies.join('\n')));
}

void TestSupportLog::linesFromEveryThreadReachBothPlaces()
{
    const int kThreads = 4;
    const int kLinesEach = 500;
    QTemporaryDir folder;
    OutputCapture printed(stdout);
    QVERIFY(startSupportLog(folder.path()));
    std::vector<std::thread> printers;
    for (int thread = 0; thread < kThreads; ++thread) {
        printers.emplace_back([thread] {
            for (int line = 0; line < kLinesEach; ++line)
                printf("send_fw: thread %d line %d\n", thread, line);
        });
    }
    printf("send_fw: before the handler's line\n");
    const QByteArray handlerLine = "Debug: from the window (x.cpp:1, f)\n";
    appendToSupportLog(handlerLine.constData(), size_t(handlerLine.size()));
    for (std::thread& printer : printers)
        printer.join();
    printf("unfinished line");
    finishSupportLog();

    const QStringList written = printed.lines();
    const QStringList bodies = logBodies(supportLogFilePath(folder.path()));
    QCOMPARE(written.size(), kThreads * kLinesEach + 2);
    QCOMPARE(written.last(), QString("unfinished line"));
    QCOMPARE(bodies.size(), kThreads * kLinesEach + 3);
    QVERIFY(bodies.indexOf(handlerLine.trimmed()) > bodies.indexOf("send_fw: before the handler's line"));
    QCOMPARE(bodies.last(), QString("unfinished line"));
    for (int thread = 0; thread < kThreads; ++thread) {
        QStringList expected;
        for (int line = 0; line < kLinesEach; ++line)
            expected.append(QString("send_fw: thread %1 line %2").arg(thread).arg(line));
        const QString start = QString("send_fw: thread %1 ").arg(thread);
        QCOMPARE(linesStartingWith(written, start), expected);
        QCOMPARE(linesStartingWith(bodies, start), expected);
    }
}

// The log near its limit takes one more line; the next one starts a new file,
// every earlier file moves up one and the oldest is dropped.
void TestSupportLog::rotatesAtOneMebibyteKeepingFive()
{
    QTemporaryDir folder;
    const QString log = supportLogFilePath(folder.path());
    for (int generation = 1; generation <= kSupportLogKeptFiles; ++generation)
        writeFile(log + "." + QString::number(generation), "generation " + QByteArray::number(generation) + "\n");
    const QByteArray nearlyFull(kSupportLogFileBytes - 60, 'x');
    writeFile(log, nearlyFull);

    QVERIFY(startSupportLog(folder.path()));
    const QByteArray fits = "Debug: still fits\n";
    const QByteArray overflows = "Debug: past the limit\n";
    appendToSupportLog(fits.constData(), size_t(fits.size()));
    appendToSupportLog(overflows.constData(), size_t(overflows.size()));
    finishSupportLog();

    const QByteArray previous = contents(log + ".1");
    QVERIFY(previous.startsWith(nearlyFull));
    QVERIFY(previous.endsWith(" " + fits));
    QVERIFY(previous.size() <= kSupportLogFileBytes);
    QCOMPARE(logBodies(log), QStringList{overflows.trimmed()});
    for (int generation = 2; generation <= kSupportLogKeptFiles; ++generation)
        QCOMPARE(contents(log + "." + QString::number(generation)), "generation " + QByteArray::number(generation - 1) + "\n");
    QVERIFY(!QFile::exists(log + "." + QString::number(kSupportLogKeptFiles + 1)));
}

QTEST_GUILESS_MAIN(TestSupportLog)
#include "tst_support_log.moc"
