#pragma once

#include <cstdio>

#include <QString>
#include <QStringList>

// Captures what the process writes to a standard stream (stdout or stderr)
// while it is alive, so tests can compare printed lines word for word. Only
// one capture per stream may be active at a time.
class OutputCapture
{
public:
    explicit OutputCapture(FILE* stream = stdout);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Everything written since construction, as text.
    QString text();
    // The same, split into lines without their newlines.
    QStringList lines();

private:
    FILE* stream_;
    int stream_fd_;
    int saved_fd_;
    int capture_fd_;
};
