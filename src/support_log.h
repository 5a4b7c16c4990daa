#pragma once

#include <cstddef>

#include <QString>
#include <QtGlobal>

// The log a user sends to support: every line the program prints on standard
// output (the link's diagnostic lines) and every line of the log handler on
// standard error, each with a time stamp, appended to a per-user file. Both
// streams keep their own bytes; the log only copies them. A log that cannot
// be written is left behind silently and never holds the program up.

// A line that would take the log past this size starts a new file.
constexpr qint64 kSupportLogFileBytes = 1024 * 1024;
// Earlier files kept beside the current one: <name>.log.1 (newest) to .5.
constexpr int kSupportLogKeptFiles = 5;

// $XDG_STATE_HOME/<program name>, or ~/.local/state/<program name> when that
// is not set: logs are state that outlives a run but is not worth a backup.
QString supportLogDirectory();
// <directory>/<program name>.log
QString supportLogFilePath(const QString& directory);

// Opens the log in `directory` (made when missing) and copies standard
// output into it from then on. When the folder or the file cannot be made,
// nothing is copied and false is returned; the program runs on as without a
// log. One log at a time.
bool startSupportLog(const QString& directory);
// Hands every line printed so far on to standard output and the log, lets
// standard output go straight where it went before, and closes the log.
// Nothing when no log is open.
void finishSupportLog();
// Appends text written to standard error, one stamped entry per line; a
// trailing newline ends the last line. Nothing when no log is open.
void appendToSupportLog(const char* text, size_t length);

// Keeps the log open for its own lifetime.
class SupportLog
{
public:
    explicit SupportLog(const QString& directory) { startSupportLog(directory); }
    ~SupportLog() { finishSupportLog(); }
    SupportLog(const SupportLog&) = delete;
    SupportLog& operator=(const SupportLog&) = delete;
};
