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
    void formats_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("context");
        QTest::addColumn<QString>("printed");
        const QString place = " (file.cpp:42, void f())\n";
        QTest::newRow("debug") << int(QtDebugMsg) << true << "Debug: hello w\u00f6rld" + place;
        QTest::newRow("info") << int(QtInfoMsg) << true << "Info: hello w\u00f6rld" + place;
        QTest::newRow("warning") << int(QtWarningMsg) << true << "Warning: hello w\u00f6rld" + place;
        QTest::newRow("critical") << int(QtCriticalMsg) << true << "Critical: hello w\u00f6rld" + place;
        QTest::newRow("no context") << int(QtDebugMsg) << false << "Debug: hello w\u00f6rld (:0, )\n";
        QTest::newRow("unknown kind") << 99 << true << "";
    }

    void formats()
    {
        QFETCH(int, type);
        QFETCH(bool, context);
        QFETCH(QString, printed);
        const QMessageLogContext place("file.cpp", 42, "void f()", "default");
        const QMessageLogContext none;
        OutputCapture err(stderr);
        customMessageHandler(QtMsgType(type), context ? place : none, QStringLiteral("hello w\u00f6rld"));
        QCOMPARE(err.text(), printed);
    }

    void qtStreamsReachTheHandler()
    {
        const QtMessageHandler previous = qInstallMessageHandler(customMessageHandler);
        OutputCapture err(stderr);
        qDebug() << "Reboot command sent" << 3;
        const int line = __LINE__ - 1;
        qInstallMessageHandler(previous);
        QCOMPARE(err.text(),
                 QString("Debug: Reboot command sent 3 (%1:%2, %3)\n").arg(__FILE__).arg(line).arg(Q_FUNC_INFO));
    }

    void fatalAbortsAfterPrinting()
    {
        int pipe_fds[2];
        QCOMPARE(pipe(pipe_fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(pipe_fds[1], STDERR_FILENO);
            signal(SIGABRT, SIG_DFL); // the test framework's crash report is not the handler's output
            customMessageHandler(QtFatalMsg, QMessageLogContext("main.cpp", 7, "int main()", "default"),
                                 "cannot go on");
            _exit(0); // not reached when the handler aborts
        }
        close(pipe_fds[1]);
        // The handler writes its line in one piece.
        char buffer[256];
        const QByteArray printed(buffer, int(std::max<ssize_t>(read(pipe_fds[0], buffer, sizeof buffer), 0)));
        close(pipe_fds[0]);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
        QCOMPARE(printed, QByteArray("Fatal: cannot go on (main.cpp:7, int main())\n"));
    }
};

QTEST_APPLESS_MAIN(TestLogHandler)
#include "tst_log_handler.moc"
