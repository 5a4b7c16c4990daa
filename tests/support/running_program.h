#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What the product prints on standard output when no unit is attached.
extern const QStringList kNoUnitLines;

// A program as a user starts it: offscreen, in a scratch home that holds its
// cache and its support log. `environment` adds to or overrides that
// environment. Killed when it goes out of scope.
class RunningProgram
{
public:
    explicit RunningProgram(const QString& path, const QProcessEnvironment& environment = QProcessEnvironment());
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Waits until standard output holds the given line; what it printed so far.
    QStringList waitForLine(const QString& line);
    // Standard output and standard error so far, as lines.
    QStringList lines();
    QStringList errorLines();
    // The scratch XDG state folder, unless `environment` named another.
    QString stateHome() const;

    QTemporaryDir dir;
    QProcess process;

private:
    QByteArray output_;
    QByteArray errors_;
};
