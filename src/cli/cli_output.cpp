#include "cli_output.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>

#include "firmware_ops/firmware_ops.h"

namespace cli {

namespace {

// A line redrawn more often than this only flickers.
const qint64 kProgressRedrawMs = 100;

FILE* g_results = stdout;

QByteArray programName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toLocal8Bit();
}

// Points `fd` at /dev/null; false when it cannot.
bool discard(int fd)
{
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0)
        return false;
    const bool moved = dup2(null_fd, fd) >= 0;
    close(null_fd);
    return moved;
}

} // namespace

void routeLinkLines(bool verbose)
{
    if (verbose) {
        // Each line as it happens, also through a pipe into tee or a log.
        setvbuf(stdout, nullptr, _IOLBF, 0);
        return;
    }
    fflush(stdout);
    const int results_fd = dup(STDOUT_FILENO);
    FILE* results = results_fd >= 0 ? fdopen(results_fd, "w") : nullptr;
    if (results == nullptr || !discard(STDOUT_FILENO)) {
        // Rather the link's lines among the results than no results at all.
        if (results != nullptr)
            fclose(results);
        return;
    }
    g_results = results;
}

void printResult(const QString& text)
{
    fflush(stdout);
    fprintf(g_results, "%s\n", text.toLocal8Bit().constData());
    fflush(g_results);
}

void printError(const QString& text)
{
    fflush(stdout);
    fprintf(stderr, "%s: %s\n", programName().constData(), text.toLocal8Bit().constData());
    fflush(stderr);
}

QuietStandardError::QuietStandardError(bool verbose) : saved_fd_(-1)
{
    if (verbose)
        return;
    fflush(stderr);
    saved_fd_ = dup(STDERR_FILENO);
    if (saved_fd_ >= 0 && !discard(STDERR_FILENO)) {
        close(saved_fd_);
        saved_fd_ = -1;
    }
}

QuietStandardError::~QuietStandardError()
{
    if (saved_fd_ < 0)
        return;
    fflush(stderr);
    dup2(saved_fd_, STDERR_FILENO);
    close(saved_fd_);
}

ProgressLine::ProgressLine(const QString& label)
    : label_(label),
      enabled_(isatty(STDERR_FILENO) == 1),
      shown_(false),
      last_report_at_(TransferEstimate::Clock::now()),
      writing_(false)
{
}

ProgressLine::~ProgressLine()
{
    if (shown_)
        fprintf(stderr, "\n");
}

void ProgressLine::report(uint32_t current, uint32_t total, int phase, void* line)
{
    static_cast<ProgressLine*>(line)->show(current, total, phase);
}

void ProgressLine::show(uint32_t current, uint32_t total, int phase)
{
    if (!enabled_ || total == 0)
        return;
    const TransferEstimate::Clock::time_point now = TransferEstimate::Clock::now();
    if (phase == FW_PROGRESS_WRITE) {
        if (!writing_)
            estimate_.start(last_report_at_);
        writing_ = true;
        estimate_.update(current, total, now);
    }
    last_report_at_ = now;
    const bool last = current >= total;
    if (shown_ && !last && since_shown_.elapsed() < kProgressRedrawMs)
        return;
    const QString text = phase == FW_PROGRESS_ERASE
                             ? QStringLiteral("%1: erasing %2 / %3 blocks").arg(label_).arg(current).arg(total)
                             : QStringLiteral("%1: %2").arg(label_, estimate_.text());
    // Carriage return, the text, and the rest of a longer earlier line cleared.
    fprintf(stderr, "\r%s\033[K", text.toLocal8Bit().constData());
    fflush(stderr);
    shown_ = true;
    since_shown_.start();
}

} // namespace cli
