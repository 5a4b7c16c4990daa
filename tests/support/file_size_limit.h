#pragma once

#include <csignal>
#include <sys/resource.h>

// While it lives, no file of this process may grow beyond `bytes`: a write
// past the limit fails as it would on a full disk (the signal the kernel
// sends for it is ignored meanwhile).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes) : saved_handler_(signal(SIGXFSZ, SIG_IGN))
    {
        if (getrlimit(RLIMIT_FSIZE, &saved_limit_) != 0)
            return;
        struct rlimit limit = saved_limit_;
        limit.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (active_)
            setrlimit(RLIMIT_FSIZE, &saved_limit_);
        signal(SIGXFSZ, saved_handler_);
    }
    bool isActive() const { return active_; }

private:
    struct rlimit saved_limit_ = {};
    void (*saved_handler_)(int);
    bool active_ = false;
};
