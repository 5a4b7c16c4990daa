#pragma once

// Where efis-cli writes. The link prints its diagnostic lines on standard
// output with printf; they must reach the terminal only with --verbose, and
// still be the same lines then. So the program keeps its own handle on
// standard output for results and, without --verbose, points the process's
// standard output at /dev/null before the link prints anything.

#include <cstdint>

#include <QElapsedTimer>
#include <QString>

#include "transfer_estimate.h"

namespace cli {

// Once, before anything talks to the unit.
void routeLinkLines(bool verbose);

// A result, on standard output, after whatever the link printed before it.
void printResult(const QString& text);
// A message for the user on standard error, prefixed with the program's name.
void printError(const QString& text);

// While it lives, standard error is quiet unless verbose: for the repeated
// attempts of a wait for a unit, whose reasons were shown the first time.
class QuietStandardError
{
public:
    explicit QuietStandardError(bool verbose);
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_fd_;
};

// The progress of an upload as one updating line on standard error, only
// when standard error is a terminal: the blocks erased, then the percentage,
// rate and time left of the write phase. The flash operations report through
// `report` (a fw_progress_callback_t) with the line as user data.
class ProgressLine
{
public:
    explicit ProgressLine(const QString& label);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    static void report(uint32_t current, uint32_t total, int phase, void* line);

private:
    void show(uint32_t current, uint32_t total, int phase);

    QString label_;
    bool enabled_;
    bool shown_;
    QElapsedTimer since_shown_;
    // The write phase is timed from the last report before it.
    TransferEstimate::Clock::time_point last_report_at_;
    bool writing_;
    TransferEstimate estimate_;
};

} // namespace cli
