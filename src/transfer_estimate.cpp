#include "transfer_estimate.h"

#include <cmath>

namespace {

const double kBytesPerKiB = 1024.0;
const double kBytesPerMiB = 1024.0 * 1024.0;
const qint64 kSecondsPerMinute = 60;
const qint64 kSecondsPerHour = 3600;

// Separates the parts of a progress text.
const QString kPartSeparator = QStringLiteral(" \u00B7 ");

double seconds_between(TransferEstimate::Clock::time_point from, TransferEstimate::Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

constexpr std::chrono::milliseconds TransferEstimate::kWarmUp;
constexpr std::chrono::milliseconds TransferEstimate::kMinSampleInterval;
constexpr std::chrono::milliseconds TransferEstimate::kSmoothing;

void TransferEstimate::start(Clock::time_point start)
{
    *this = TransferEstimate();
    start_ = start;
    last_sample_at_ = start;
}

// The first rate is the average since the start, so one slow or quick
// packet at the end of the warm-up does not set it; later samples move it
// by a share that grows with the time they cover.
void TransferEstimate::update(uint64_t done, uint64_t total, Clock::time_point now)
{
    done_ = done;
    total_ = total;
    if (now - start_ < kWarmUp)
        return;
    if (rate_ <= 0.0) {
        rate_ = static_cast<double>(done) / seconds_between(start_, now);
        last_sample_at_ = now;
        last_sample_done_ = done;
        return;
    }
    if (now - last_sample_at_ < kMinSampleInterval)
        return;
    const double interval = seconds_between(last_sample_at_, now);
    const uint64_t moved = done > last_sample_done_ ? done - last_sample_done_ : 0;
    const double sample_rate = static_cast<double>(moved) / interval;
    const double share = 1.0 - std::exp(-interval / std::chrono::duration<double>(kSmoothing).count());
    rate_ += share * (sample_rate - rate_);
    last_sample_at_ = now;
    last_sample_done_ = done;
}

int TransferEstimate::percent() const
{
    if (total_ == 0)
        return 0;
    const uint64_t done = done_ < total_ ? done_ : total_;
    return static_cast<int>(done * 100 / total_);
}

bool TransferEstimate::hasEstimate() const
{
    return rate_ > 0.0;
}

double TransferEstimate::bytesPerSecond() const
{
    return rate_;
}

double TransferEstimate::secondsLeft() const
{
    if (!hasEstimate() || done_ >= total_)
        return 0.0;
    return static_cast<double>(total_ - done_) / rate_;
}

QString TransferEstimate::text() const
{
    QString text = QStringLiteral("%1 %").arg(percent());
    if (!hasEstimate())
        return text;
    const auto left = std::chrono::milliseconds(std::llround(secondsLeft() * 1000.0));
    return text + kPartSeparator + formatTransferRate(rate_) + kPartSeparator + formatTransferDuration(left)
           + QStringLiteral(" left");
}

QString formatTransferRate(double bytes_per_second)
{
    if (bytes_per_second < kBytesPerKiB)
        return QStringLiteral("%1 B/s").arg(std::llround(bytes_per_second));
    if (bytes_per_second < kBytesPerMiB)
        return QStringLiteral("%1 KiB/s").arg(bytes_per_second / kBytesPerKiB, 0, 'f', 1);
    return QStringLiteral("%1 MiB/s").arg(bytes_per_second / kBytesPerMiB, 0, 'f', 1);
}

QString formatTransferDuration(std::chrono::milliseconds duration)
{
    const qint64 seconds = (duration.count() + 500) / 1000;
    if (seconds < kSecondsPerMinute)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < kSecondsPerHour)
        return QStringLiteral("%1 min %2 s").arg(seconds / kSecondsPerMinute).arg(seconds % kSecondsPerMinute);
    const qint64 minutes = (seconds % kSecondsPerHour) / kSecondsPerMinute;
    return QStringLiteral("%1 h %2 min").arg(seconds / kSecondsPerHour).arg(minutes, 2, 10, QLatin1Char('0'));
}
