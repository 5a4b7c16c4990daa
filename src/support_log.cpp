#include "support_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

namespace {

// The open log; whoever writes to it holds `mutex`.
struct LogFile {
    std::mutex mutex;
    QString path;
    int fd = -1;
};
LogFile g_log;

// Standard output runs through a pipe while the log is open; the reader
// forwards every byte to where standard output went before and logs it.
// Standard error's lines queue up for the same reader, which logs each one
// after what standard output held when it was queued, so a line of standard
// error never comes before the standard output printed ahead of it.
struct StdoutCopy {
    int real_fd = -1;  // where standard output went before
    int pipe_fd = -1;  // the end of the pipe the reader drains
    int wake_fd = -1;  // a byte here says: a line is queued, or finish
    int woken_fd = -1;
    std::thread reader;
    std::mutex queue_mutex; // guards the three below
    bool running = false;
    bool finishing = false;
    std::deque<std::pair<QByteArray, QByteArray>> error_lines; // time stamp, text
};
StdoutCopy g_copy;

void closeFd(int* fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// False when the descriptor takes no more (a full disk, a closed stream).
bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

int openLogFile(const QString& path)
{
    // Private to the user: the log names the unit's serial number.
    return open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

QByteArray rotatedName(const QString& path, int generation)
{
    return QFile::encodeName(path + QLatin1Char('.') + QString::number(generation));
}

// <name>.log becomes .1, .1 becomes .2 and so on; the oldest is dropped.
// When a fresh file cannot be opened the log simply stops.
void rotateLocked()
{
    closeFd(&g_log.fd);
    for (int generation = kSupportLogKeptFiles - 1; generation >= 1; --generation)
        rename(rotatedName(g_log.path, generation).constData(), rotatedName(g_log.path, generation + 1).constData());
    rename(QFile::encodeName(g_log.path).constData(), rotatedName(g_log.path, 1).constData());
    g_log.fd = openLogFile(g_log.path);
}

void writeEntryLocked(const QByteArray& entry)
{
    struct stat status;
    if (g_log.fd >= 0 && fstat(g_log.fd, &status) == 0 && status.st_size > 0
        && status.st_size + entry.size() > kSupportLogFileBytes)
        rotateLocked();
    if (g_log.fd >= 0)
        writeAll(g_log.fd, entry.constData(), static_cast<size_t>(entry.size()));
}

// Local time with its offset, to the millisecond.
QByteArray timeStamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}

void appendLines(const QByteArray& stamp, const char* text, size_t length)
{
    std::lock_guard<std::mutex> lock(g_log.mutex);
    size_t start = 0;
    while (start < length) {
        const void* newline = memchr(text + start, '\n', length - start);
        const size_t end = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text) : length;
        writeEntryLocked(stamp + ' ' + QByteArray(text + start, static_cast<qsizetype>(end - start)) + '\n');
        start = end + 1;
    }
}

// Forwards first, so standard output never waits on the log; complete lines
// go to the log, a partial one waits for its end.
void forwardAndLog(QByteArray* pending, const char* data, size_t length)
{
    writeAll(g_copy.real_fd, data, length);
    pending->append(data, static_cast<qsizetype>(length));
    const qsizetype end = pending->lastIndexOf('\n');
    if (end >= 0) {
        appendLines(timeStamp(), pending->constData(), static_cast<size_t>(end) + 1);
        pending->remove(0, end + 1);
    }
}

// Hands on what the pipe holds now, without waiting; false once every
// writer is gone.
bool forwardWaitingStdout(QByteArray* pending)
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(g_copy.pipe_fd, buffer, sizeof buffer);
        if (count > 0)
            forwardAndLog(pending, buffer, static_cast<size_t>(count));
        else if (count == 0 || errno != EINTR)
            return count < 0 && errno == EAGAIN;
    }
}

// Logs the queued lines of standard error, each after the standard output
// printed before it; true when the log is to finish.
bool logQueuedErrorLines(QByteArray* pending)
{
    for (;;) {
        std::pair<QByteArray, QByteArray> lines;
        {
            std::lock_guard<std::mutex> lock(g_copy.queue_mutex);
            if (g_copy.error_lines.empty())
                return g_copy.finishing;
            lines = std::move(g_copy.error_lines.front());
            g_copy.error_lines.pop_front();
        }
        forwardWaitingStdout(pending);
        appendLines(lines.first, lines.second.constData(), static_cast<size_t>(lines.second.size()));
    }
}

void copyStdout()
{
    QByteArray pending;
    char wake_bytes[64];
    pollfd watched[2] = {{g_copy.pipe_fd, POLLIN, 0}, {g_copy.woken_fd, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0 && errno != EINTR)
            break;
        while (read(g_copy.woken_fd, wake_bytes, sizeof wake_bytes) > 0) {
        }
        // The end of the pipe's writers only stops the watching; the finish
        // ends the copy (a program started from the window may hold the pipe
        // open for long).
        if (watched[0].fd >= 0 && !forwardWaitingStdout(&pending))
            watched[0].fd = -1;
        if (logQueuedErrorLines(&pending))
            break;
    }
    // Standard output no longer leads here: what the pipe still holds was
    // printed before the finish.
    forwardWaitingStdout(&pending);
    if (!pending.isEmpty())
        appendLines(timeStamp(), pending.constData(), static_cast<size_t>(pending.size()));
}

// True when the reader takes the line; false when there is no copy of
// standard output to keep it in order with.
bool queueErrorLines(const char* text, size_t length)
{
    // Standard output printed before this line goes into the pipe first;
    // never under the queue's lock, which the reader needs to drain the pipe.
    fflush(stdout);
    {
        std::lock_guard<std::mutex> lock(g_copy.queue_mutex);
        if (!g_copy.running)
            return false;
        g_copy.error_lines.emplace_back(timeStamp(), QByteArray(text, static_cast<qsizetype>(length)));
    }
    writeAll(g_copy.wake_fd, "", 1);
    return true;
}

void closeStdoutCopyFds()
{
    closeFd(&g_copy.real_fd);
    closeFd(&g_copy.pipe_fd);
    closeFd(&g_copy.wake_fd);
    closeFd(&g_copy.woken_fd);
}

// Without a copy of standard output the log still takes standard error's lines.
void startStdoutCopy()
{
    int out[2];
    int wake[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    g_copy.pipe_fd = out[0];
    fcntl(g_copy.pipe_fd, F_SETFL, O_NONBLOCK);
    // A full wake pipe already has the reader's attention: writers never wait on it.
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_copy.woken_fd = wake[0];
        g_copy.wake_fd = wake[1];
        fflush(stdout);
        g_copy.real_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    }
    if (g_copy.real_fd < 0 || dup2(out[1], STDOUT_FILENO) < 0) {
        close(out[1]);
        closeStdoutCopyFds();
        return;
    }
    close(out[1]);
    {
        std::lock_guard<std::mutex> lock(g_copy.queue_mutex);
        g_copy.running = true;
        g_copy.finishing = false;
    }
    g_copy.reader = std::thread(copyStdout);
}

void stopStdoutCopy()
{
    if (!g_copy.reader.joinable())
        return;
    fflush(stdout);
    dup2(g_copy.real_fd, STDOUT_FILENO);
    {
        std::lock_guard<std::mutex> lock(g_copy.queue_mutex);
        g_copy.running = false;
        g_copy.finishing = true;
    }
    writeAll(g_copy.wake_fd, "", 1);
    // A fatal message raised on the reader itself cannot wait for the reader.
    if (g_copy.reader.get_id() == std::this_thread::get_id())
        g_copy.reader.detach();
    else
        g_copy.reader.join();
    closeStdoutCopyFds();
}

} // namespace

QString supportLogDirectory()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // The XDG rules ignore a relative path here.
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QLatin1Char('/') + QCoreApplication::applicationName();
}

QString supportLogFilePath(const QString& directory)
{
    return directory + QLatin1Char('/') + QCoreApplication::applicationName() + QStringLiteral(".log");
}

bool startSupportLog(const QString& directory)
{
    {
        std::lock_guard<std::mutex> lock(g_log.mutex);
        if (g_log.fd >= 0 || !QDir().mkpath(directory))
            return false;
        g_log.path = supportLogFilePath(directory);
        g_log.fd = openLogFile(g_log.path);
        if (g_log.fd < 0)
            return false;
    }
    startStdoutCopy();
    return true;
}

void finishSupportLog()
{
    stopStdoutCopy();
    std::lock_guard<std::mutex> lock(g_log.mutex);
    closeFd(&g_log.fd);
}

void appendToSupportLog(const char* text, size_t length)
{
    if (!queueErrorLines(text, length))
        appendLines(timeStamp(), text, length);
}
