#pragma once

// How far an upload has come, how fast it goes and how long it still needs,
// for a progress bar's text or a terminal line. Fed with the bytes done, the
// total and a clock reading; the rate is smoothed so the time left does not
// jump from one packet to the next, and it is shown only once the transfer
// has run long enough for a rate to mean something.

#include <QString>

#include <chrono>
#include <cstdint>

class TransferEstimate
{
public:
    typedef std::chrono::steady_clock Clock;

    // No rate or time left is shown before the transfer has run this long.
    static constexpr std::chrono::milliseconds kWarmUp{3000};
    // Samples closer together than this are folded into the next one: a
    // rate over a few milliseconds is mostly noise.
    static constexpr std::chrono::milliseconds kMinSampleInterval{250};
    // Time constant of the smoothing: a change in the link's speed shows in
    // the rate over about this long.
    static constexpr std::chrono::milliseconds kSmoothing{5000};

    // The transfer's bytes start being counted at `start`, with none done.
    void start(Clock::time_point start);
    // Bytes done so far out of `total`, at clock reading `now`.
    void update(uint64_t done, uint64_t total, Clock::time_point now);

    // Whole per cent of the total done, 0 to 100 (0 while the total is 0).
    int percent() const;
    // True once a rate and a time left are known.
    bool hasEstimate() const;
    // Smoothed rate in bytes per second; 0 before hasEstimate().
    double bytesPerSecond() const;
    // Seconds still needed at the smoothed rate; 0 before hasEstimate().
    double secondsLeft() const;

    // "37 % · 28.4 KiB/s · 9 min 12 s left", or "37 %" before the estimate.
    QString text() const;

private:
    Clock::time_point start_{};
    Clock::time_point last_sample_at_{};
    uint64_t last_sample_done_ = 0;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    double rate_ = 0.0; // bytes per second, smoothed; 0 until warmed up
};

// A rate as "512 B/s", "28.4 KiB/s" or "1.3 MiB/s".
QString formatTransferRate(double bytes_per_second);
// A duration, rounded to whole seconds: "42 s", "9 min 12 s", "1 h 05 min".
QString formatTransferDuration(std::chrono::milliseconds duration);
