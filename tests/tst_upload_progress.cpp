// An upload's progress as the window shows it: the bar each report gives,
// which reports the throttle lets through, and the bar's text. Clock readings
// are given, so nothing here depends on how fast the machine runs. Each test
// is one table, compared whole, so a mismatch shows every case at once.

#include <QPoint>
#include <QtTest>

#include "firmware_ops/firmware_ops.h"
#include "mainwindow_upload_progress.h"
#include "transfer_estimate.h"

using std::chrono::milliseconds;
typedef ThrottledUploadProgressCtx Throttle;

namespace {

const int kKiB = 1024;
const int kMiB = 1024 * 1024;
const int E = FW_PROGRESS_ERASE;
const int W = FW_PROGRESS_WRITE;

// One report: when it comes (ms after the first), its phase, its position and total.
typedef std::tuple<int, int, uint32_t, uint32_t> Report;

// Estimate samples: x = milliseconds since the start, y = bytes done.
typedef QList<QPoint> Samples;

// Samples every 500 ms at a steady rate, from the start up to `until_ms`.
Samples steady(int bytes_per_second, int until_ms)
{
    Samples samples;
    for (int ms = 500; ms <= until_ms; ms += 500)
        samples.append(QPoint(ms, int(qint64(bytes_per_second) * ms / 1000)));
    return samples;
}

} // namespace

class TestUploadProgress : public QObject
{
    Q_OBJECT

private slots:
    // Erase fills the first 1200 of 10000, write the rest; no total gives 0,
    // and current x 8800 may overflow 32 bits.
    void barPosition()
    {
        const auto bar = &Throttle::compute_bar;
        QCOMPARE(QList<uint32_t>({bar(1, 3, E), bar(3, 3, E), bar(0, 0, E), bar(5, 0, W), bar(64, 4194240, W),
                                  bar(1, 3, W), bar(4194240, 4194240, W), bar(3000000000u, 4000000000u, W)}),
                 QList<uint32_t>({400, 1200, 0, 0, 1200, 4133, 10000, 7800}));
    }

    // Each run starts with a fresh throttle; y: the report passes, n: it is held back.
    void throttle()
    {
        const QList<QPair<QList<Report>, QString>> runs{
            {{{0, W, 10, 8800}, {39, W, 50, 8800}}, "yn"},    // 40 bar units in 39 ms
            {{{0, W, 10, 8800}, {1, W, 51, 8800}}, "yy"},     // 41 units
            {{{0, W, 10, 8800}, {40, W, 11, 8800}}, "yy"},    // 40 ms
            {{{0, W, 8790, 8800}, {1, W, 8800, 8800}}, "yy"}, // the last report of a phase
            {{{0, E, 3, 3}, {1, W, 0, 8800}}, "yy"},          // a phase change
            // time counts from the last report passed
            {{{0, W, 10, 8800}, {30, W, 20, 8800}, {45, W, 30, 8800}, {50, W, 40, 8800}}, "ynyn"},
            {{{0, W, 10, 8800}, {1, W, 40, 8800}, {2, W, 51, 8800}}, "yny"}, // bar step from the last passed
        };
        QStringList passed, expected;
        for (const auto& run : runs) {
            Throttle ctx;
            const Throttle::Clock::time_point start = Throttle::Clock::now();
            passed.append(QString());
            for (const auto& [at, phase, current, total] : run.first) {
                const uint32_t bar = Throttle::compute_bar(current, total, phase);
                const bool passes = ctx.should_emit(bar, phase, current, total, start + milliseconds(at));
                passed.last() += passes ? 'y' : 'n';
            }
            expected.append(run.second);
        }
        QCOMPARE(passed, expected);
    }

    void estimateText()
    {
        const int total = 1000 * kKiB;
        const QList<std::tuple<int, Samples, QString>> runs{
            {total, steady(10 * kKiB, 2999), "2 %"}, // warming up
            {total, steady(10 * kKiB, 3000), "3 % · 10.0 KiB/s · 1 min 37 s left"},
            // a stall moves the rate a little
            {total, steady(10 * kKiB, 4000) + Samples{{4500, 40 * kKiB}}, "4 % · 9.0 KiB/s · 1 min 46 s left"},
            // a burst within one sample is folded into the next
            {total, steady(10 * kKiB, 3000) + Samples{{3100, 100 * kKiB}}, "10 % · 10.0 KiB/s · 1 min 30 s left"},
            {100 * kMiB, steady(10 * kKiB, 3000), "0 % · 10.0 KiB/s · 2 h 50 min left"},
            {10000, steady(500, 3000), "15 % · 500 B/s · 17 s left"},
            {100 * kMiB, steady(2 * kMiB, 3000), "6 % · 2.0 MiB/s · 47 s left"},
            {total, Samples{{3000, 0}, {3500, 0}}, "0 %"}, // nothing moved yet
            {30 * kKiB, steady(10 * kKiB, 3000), "100 % · 10.0 KiB/s · 0 s left"},
            {0, Samples{{3000, 0}}, "0 %"}, // no total
        };
        const TransferEstimate::Clock::time_point start{std::chrono::hours(1)};
        QStringList texts, expected;
        for (const auto& run : runs) {
            TransferEstimate estimate;
            estimate.start(start);
            for (const QPoint& sample : std::get<1>(run))
                estimate.update(uint64_t(sample.y()), uint64_t(std::get<0>(run)), start + milliseconds(sample.x()));
            texts.append(estimate.text());
            expected.append(std::get<2>(run));
        }
        QCOMPARE(texts, expected);
    }

    // Rounded to whole seconds; minutes from one, hours from sixty.
    void duration()
    {
        QStringList shown;
        for (int ms : {499, 500, 59499, 59500, 552000, 3600000, 3899000})
            shown.append(formatTransferDuration(milliseconds(ms)));
        QCOMPARE(shown, QStringList({"0 s", "1 s", "59 s", "1 min 0 s", "9 min 12 s", "1 h 00 min", "1 h 04 min"}));
    }
};

QTEST_GUILESS_MAIN(TestUploadProgress)
#include "tst_upload_progress.moc"
