// The process-wide log handler: one line per message on standard error in the
// format of its kind, flushed at once; a fatal message aborts the process.

#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "log_handler.h"
#include "output_capture.h"

class TestLogHandler : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void missingContextPrintsEmptyFields();
    void qtStreamsReachTheHandler();
    void fatalAbortsAfterPrinting();
};

void TestLogHandler::formats_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("line");
    QTest::newRow("debug") << int(QtDebugMsg) << "Debug: hello w\u00f6rld (file.cpp:42, void f())";
    QTest::newRow("info") << int(QtInfoMsg) << "Info: hello w\u00f6rld (file.cpp:42, void f())";
    QTest::newRow("warning") << int(QtWarningMsg) << "Warning: hello w\u00f6rld (file.cpp:42, void f())";
    QTest::newRow("critical") << int(QtCriticalMsg) << "Critical: hello w\u00f6rld (file.cpp:42, void f())";
}

void TestLogHandler::formats()
{
    QFETCH(int, type);
    QFETCH(QString, line);
    const QMessageLogContext context("file.cpp", 42, "void f()", "default");
    OutputCapture err(stderr);
    customMessageHandler(static_cast<QtMsgType>(type), context, QStringLiteral("hello w\u00f6rld"));
    QCOMPARE(err.text(), line + "\n");
}

void TestLogHandler::missingContextPrintsEmptyFields()
{
    const QMessageLogContext context;
    OutputCapture err(stderr);
    customMessageHandler(QtDebugMsg, context, QStringLiteral("bare"));
    customMessageHandler(static_cast<QtMsgType>(99), context, QStringLiteral("unknown kind"));
    QCOMPARE(err.text(), QString("Debug: bare (:0, )\n"));
}

void TestLogHandler::qtStreamsReachTheHandler()
{
    const QtMessageHandler previous = qInstallMessageHandler(customMessageHandler);
    OutputCapture err(stderr);
    qDebug() << "Reboot command sent" << 3;
    const int line = __LINE__ - 1;
    qInstallMessageHandler(previous);
    const QString text = err.text();
    QVERIFY2(text.startsWith(QString("Debug: Reboot command sent 3 (%1:%2, ").arg(__FILE__).arg(line)), qPrintable(text));
    QVERIFY2(text.endsWith("qtStreamsReachTheHandler()" ")\n"), qPrintable(text));
}

void TestLogHandler::fatalAbortsAfterPrinting()
{
    int pipe_fds[2];
    QCOMPARE(pipe(pipe_fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_fds[1], STDERR_FILENO);
        signal(SIGABRT, SIG_DFL); // the test framework's crash report is not the handler's output
        const QMessageLogContext context("main.cpp", 7, "int main()", "default");
        customMessageHandler(QtFatalMsg, context, QStringLiteral("cannot go on"));
        _exit(0); // not reached when the handler aborts
    }
    close(pipe_fds[1]);
    QByteArray printed;
    char buffer[256];
    ssize_t count;
    while ((count = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        printed.append(buffer, count);
    close(pipe_fds[0]);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGABRT);
    QCOMPARE(printed, QByteArray("Fatal: cannot go on (main.cpp:7, int main())\n"));
}

QTEST_APPLESS_MAIN(TestLogHandler)
#include "tst_log_handler.moc"
