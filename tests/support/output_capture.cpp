#include "output_capture.h"

#include <QByteArray>

#include <cstdlib>
#include <unistd.h>

OutputCapture::OutputCapture(FILE* stream) : stream_(stream), stream_fd_(fileno(stream))
{
    fflush(stream_);
    char path[] = "/tmp/efis-capture-XXXXXX";
    capture_fd_ = mkstemp(path);
    unlink(path);
    saved_fd_ = dup(stream_fd_);
    dup2(capture_fd_, stream_fd_);
}

OutputCapture::~OutputCapture()
{
    fflush(stream_);
    dup2(saved_fd_, stream_fd_);
    close(saved_fd_);
    close(capture_fd_);
}

QString OutputCapture::text()
{
    fflush(stream_);
    const off_t end = lseek(capture_fd_, 0, SEEK_END);
    QByteArray bytes(static_cast<qsizetype>(end), '\0');
    if (end > 0 && pread(capture_fd_, bytes.data(), static_cast<size_t>(end), 0) != end)
        bytes.clear();
    return QString::fromLocal8Bit(bytes);
}

QStringList OutputCapture::lines()
{
    QStringList result = text().split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}
