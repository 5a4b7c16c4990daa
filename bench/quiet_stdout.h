#pragma once

// Sends standard output to /dev/null while it lives: the transfers print
// their progress and results, and a benchmark measures the transfers, not
// the terminal.

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

class QuietStdout
{
public:
    QuietStdout()
    {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    ~QuietStdout()
    {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};
