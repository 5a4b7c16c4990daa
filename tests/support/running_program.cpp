#include "running_program.h"

#include <QElapsedTimer>

namespace {

const int kStartBoundMs = 30000;
const int kReadPollMs = 200;

QStringList splitLines(const QByteArray& bytes)
{
    QStringList result = QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'));
    result.removeAll(QString());
    return result;
}

} // namespace

const QStringList kNoUnitLines{
    "Attempting to connect to USB HID device 0x16D0:0x14C7", "Failed to connect to USB HID",
    "USB HID unavailable, attempting CAN FD interface: can0", "Failed to connect to CAN FD",
    "Failed to connect via USB HID or CAN FD"};

RunningProgram::RunningProgram(const QString& path, const QProcessEnvironment& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", dir.path());
    env.insert("XDG_CACHE_HOME", dir.path() + "/cache");
    env.insert("XDG_STATE_HOME", dir.path() + "/state");
    env.insert(environment);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(path, QStringList());
}

RunningProgram::~RunningProgram()
{
    process.kill();
    process.waitForFinished();
}

QStringList RunningProgram::waitForLine(const QString& line)
{
    QElapsedTimer timer;
    timer.start();
    while (!lines().contains(line) && timer.elapsed() < kStartBoundMs)
        process.waitForReadyRead(kReadPollMs);
    return lines();
}

QStringList RunningProgram::lines()
{
    output_ += process.readAllStandardOutput();
    return splitLines(output_);
}

QStringList RunningProgram::errorLines()
{
    errors_ += process.readAllStandardError();
    return splitLines(errors_);
}

QString RunningProgram::stateHome() const
{
    return process.processEnvironment().value("XDG_STATE_HOME");
}
