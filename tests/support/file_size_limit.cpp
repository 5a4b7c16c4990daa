#include "file_size_limit.h"

FileSizeLimit::FileSizeLimit(rlim_t bytes) : saved_limit_(), saved_handler_(SIG_DFL), active_(false)
{
    if (getrlimit(RLIMIT_FSIZE, &saved_limit_) != 0)
        return;
    saved_handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_limit_;
    limit.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (active_)
        setrlimit(RLIMIT_FSIZE, &saved_limit_);
    signal(SIGXFSZ, saved_handler_);
}
