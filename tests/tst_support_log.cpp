// The two programs as a user starts them, and their support log: the lines
// of both streams reach a pipe as they happen and the log with time stamps,
// while the window keeps running; an unwritable log folder changes nothing
// else; lines printed from several threads are neither lost nor reordered
// when the log finishes; the log rotates at 1 MiB keeping five.

#include <QtTest>

#include <cstdio>
#include <thread>
#include <vector>

#include "manifest_scratch.h"
#include "output_capture.h"
#include "support_log.h"
#include "window_harness.h"

namespace {

const int kStartBoundMs = 30000;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList lines(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes).split('\n', Qt::SkipEmptyParts);
}

// The log's lines without their stamps; a line without a stamp is kept whole,
// so it shows up as a difference.
QStringList logBodies(const QString& path)
{
    static const QRegularExpression stamped(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) (.*)$");
    QStringList bodies;
    for (const QString& line : lines(contents(path))) {
        const QRegularExpressionMatch match = stamped.match(line);
        bodies.append(match.hasMatch() ? match.captured(2) : "unstamped: " + line);
    }
    return bodies;
}

QStringList startingWith(const QStringList& lines, const QString& start)
{
    return lines.filter(QRegularExpression("^" + QRegularExpression::escape(start)));
}

void append(const QByteArray& line)
{
    appendToSupportLog(line.constData(), size_t(line.size()));
}

} // namespace

class TestSupportLog : public QObject
{
    Q_OBJECT

private slots:
    void programsReportAndKeepRunning_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("logWritable");
        QTest::addColumn<QStringList>("printed"); // what standard output shows, in a row
        QTest::addColumn<QString>("debug");       // a debug line standard error shows after them

        const QStringList no_unit{"Attempting to connect to USB HID device 0x16D0:0x14C7",
                                  "Failed to connect to USB HID",
                                  "USB HID unavailable, attempting CAN FD interface: can0",
                                  "Failed to connect to CAN FD", "Failed to connect via USB HID or CAN FD"};
        const QString failure = "Failed to establish connection via USB HID or CAN FD";
        QTest::newRow("product, no unit") << EFIS_CONFIG_PATH << true << no_unit << failure;
        QTest::newRow("product, log folder under a plain file") << EFIS_CONFIG_PATH << false << no_unit << failure;
        QTest::newRow("simulated unit")
            << EFIS_CONFIG_SIMULATED_PATH << true
            << QStringList{"Successfully connected via USB HID! Serial number: 0xAE020457, firmware 1.3.0 (rc 0)"}
            << QString();
    }

    // Started offscreen in a scratch home that holds its cache and its log.
    void programsReportAndKeepRunning()
    {
        QFETCH(QString, program);
        QFETCH(bool, logWritable);
        QFETCH(QStringList, printed);
        QFETCH(QString, debug);
        QTemporaryDir home;
        QTemporaryFile plainFile;
        QVERIFY(plainFile.open());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", home.path());
        env.insert("XDG_CACHE_HOME", home.filePath("cache"));
        env.insert("XDG_STATE_HOME", logWritable ? home.filePath("state") : plainFile.fileName() + "/state");
        QProcess running;
        running.setProcessEnvironment(env);
        running.setWorkingDirectory(home.path());
        running.start(program, QStringList());
        const auto stop = qScopeGuard([&] { running.kill(); running.waitForFinished(); });
        QByteArray out, err;
        const auto outLines = [&] { return lines(out += running.readAllStandardOutput()); };
        const auto errLines = [&] { return lines(err += running.readAllStandardError()); };

        QTRY_VERIFY_WITH_TIMEOUT(outLines().contains(printed.last()), kStartBoundMs);
        QCOMPARE(outLines().mid(outLines().indexOf(printed.first()), printed.size()), printed);
        QTRY_VERIFY_WITH_TIMEOUT(debug.isEmpty() || harness::hasDebugLine(errLines(), debug), kStartBoundMs);
        QVERIFY(!running.waitForFinished(500));
        QCOMPARE(running.state(), QProcess::Running);
        if (!logWritable)
            return;

        const QString name = QFileInfo(program).fileName();
        const QString log = home.filePath("state/" + name + "/" + name + ".log");
        QTRY_VERIFY_WITH_TIMEOUT(logBodies(log).contains(printed.last()), kStartBoundMs);
        const QStringList bodies = logBodies(log);
        QCOMPARE(bodies.mid(bodies.indexOf(printed.first()), printed.size()), printed);
        QVERIFY2(startingWith(bodies, "unstamped: ").isEmpty(), qPrintable(bodies.join('\n')));
        const QString debugLine = startingWith(errLines(), "Debug: " + debug).value(0);
        QVERIFY2(debug.isEmpty() || bodies.indexOf(debugLine) > bodies.indexOf(printed.last()), qPrintable(debugLine));
    }

    void linesFromEveryThreadReachBothPlaces()
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
        append("Debug: from the window (x.cpp:1, f)\n");
        for (std::thread& printer : printers)
            printer.join();
        printf("unfinished line");
        finishSupportLog();

        const QStringList written = printed.lines();
        const QStringList bodies = logBodies(supportLogFilePath(folder.path()));
        QCOMPARE(written.size(), kThreads * kLinesEach + 2);
        QCOMPARE(bodies.size(), kThreads * kLinesEach + 3);
        QVERIFY(bodies.indexOf("Debug: from the window (x.cpp:1, f)")
                > bodies.indexOf("send_fw: before the handler's line"));
        QCOMPARE(written.last(), QString("unfinished line"));
        QCOMPARE(bodies.last(), QString("unfinished line"));
        for (int thread = 0; thread < kThreads; ++thread) {
            QStringList expected;
            for (int line = 0; line < kLinesEach; ++line)
                expected.append(QString("send_fw: thread %1 line %2").arg(thread).arg(line));
            const QString start = QString("send_fw: thread %1 ").arg(thread);
            QCOMPARE(startingWith(written, start), expected);
            QCOMPARE(startingWith(bodies, start), expected);
        }
    }

    // The log near its limit takes one more line; the next one starts a new
    // file, every earlier file moves up one and the oldest is dropped.
    void rotatesAtOneMebibyteKeepingFive()
    {
        QTemporaryDir folder;
        const QString log = supportLogFilePath(folder.path());
        const auto generation = [&](int n) { return log + "." + QString::number(n); };
        const auto generationText = [](int n) { return "generation " + QByteArray::number(n) + "\n"; };
        for (int n = 1; n <= kSupportLogKeptFiles; ++n)
            QVERIFY(writeWholeFile(generation(n), generationText(n)));
        const QByteArray nearlyFull(kSupportLogFileBytes - 60, 'x');
        QVERIFY(writeWholeFile(log, nearlyFull));

        QVERIFY(startSupportLog(folder.path()));
        append("Debug: still fits\n");
        append("Debug: past the limit\n");
        finishSupportLog();

        const QByteArray previous = contents(generation(1));
        QVERIFY(previous.startsWith(nearlyFull) && previous.endsWith(" Debug: still fits\n"));
        QVERIFY(previous.size() <= kSupportLogFileBytes);
        QCOMPARE(logBodies(log), QStringList{"Debug: past the limit"});
        for (int n = 2; n <= kSupportLogKeptFiles; ++n)
            QCOMPARE(contents(generation(n)), generationText(n - 1));
        QVERIFY(!QFile::exists(generation(kSupportLogKeptFiles + 1)));
    }
};

QTEST_GUILESS_MAIN(TestSupportLog)
#include "tst_support_log.moc"
