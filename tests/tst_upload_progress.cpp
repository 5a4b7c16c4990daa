// An upload's progress as the window shows it: the bar each report gives,
// which reports the throttle lets through, and the bar's text. Clock readings
// are given, so nothing here depends on how fast the machine runs.

#include <QPoint>
#include <QtTest>

#include <chrono>

#include "firmware_ops/firmware_ops.h"
#include "mainwindow_upload_progress.h"
#include "transfer_estimate.h"

using std::chrono::milliseconds;

// One report: when it comes (ms after the first), its phase and position.
struct Report {
    int at_ms;
    int phase;
    uint32_t current;
    uint32_t total;
};
typedef QList<Report> Reports;
Q_DECLARE_METATYPE(Reports)

// Estimate samples: x = milliseconds since the start, y = bytes done.
typedef QList<QPoint> Samples;

namespace {

const int kKiB = 1024;
const int kMiB = 1024 * 1024;

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
    void bar_data();
    void bar();
    void throttle_data();
    void throttle();
    void estimateText_data();
    void estimateText();
    void duration_data();
    void duration();
};

void TestUploadProgress::bar_data()
{
    QTest::addColumn<uint32_t>("current");
    QTest::addColumn<uint32_t>("total");
    QTest::addColumn<int>("phase");
    QTest::addColumn<uint32_t>("bar");
    QTest::newRow("erase 1 of 3") << 1u << 3u << int(FW_PROGRESS_ERASE) << 400u;
    QTest::newRow("erase 3 of 3") << 3u << 3u << int(FW_PROGRESS_ERASE) << 1200u;
    QTest::newRow("erase, total 0") << 0u << 0u << int(FW_PROGRESS_ERASE) << 0u;
    QTest::newRow("write, total 0") << 5u << 0u << int(FW_PROGRESS_WRITE) << 0u;
    QTest::newRow("writing starts after the erase share") << 64u << 4194240u << int(FW_PROGRESS_WRITE) << 1200u;
    QTest::newRow("write, truncated") << 1u << 3u << int(FW_PROGRESS_WRITE) << 4133u;
    QTest::newRow("write ends at full") << 4194240u << 4194240u << int(FW_PROGRESS_WRITE) << 10000u;
    // current x 8800 would overflow 32 bits
    QTest::newRow("write, large sizes") << 3000000000u << 4000000000u << int(FW_PROGRESS_WRITE) << 7800u;
}

void TestUploadProgress::bar()
{
    QFETCH(uint32_t, current);
    QFETCH(uint32_t, total);
    QFETCH(int, phase);
    QFETCH(uint32_t, bar);
    QCOMPARE(ThrottledUploadProgressCtx::compute_bar(current, total, phase), bar);
}

void TestUploadProgress::throttle_data()
{
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QList<bool>>("emitted");
    const int E = FW_PROGRESS_ERASE;
    const int W = FW_PROGRESS_WRITE;
    // write bars: 1200 + current * 8800 / 8800
    QTest::newRow("within 40 units and 40 ms: suppressed")
        << Reports{{0, W, 10, 8800}, {10, W, 50, 8800}} << QList<bool>{true, false};
    QTest::newRow("exactly 40 units: suppressed")
        << Reports{{0, W, 10, 8800}, {39, W, 50, 8800}} << QList<bool>{true, false};
    QTest::newRow("more than 40 units passes")
        << Reports{{0, W, 10, 8800}, {1, W, 51, 8800}} << QList<bool>{true, true};
    QTest::newRow("40 ms passes") << Reports{{0, W, 10, 8800}, {40, W, 11, 8800}} << QList<bool>{true, true};
    QTest::newRow("last report of a phase passes")
        << Reports{{0, W, 8790, 8800}, {1, W, 8800, 8800}} << QList<bool>{true, true};
    QTest::newRow("phase change passes") << Reports{{0, E, 3, 3}, {1, W, 0, 8800}} << QList<bool>{true, true};
    QTest::newRow("erase blocks each move the bar")
        << Reports{{0, E, 1, 20}, {1, E, 2, 20}, {2, E, 3, 20}} << QList<bool>{true, true, true};
    QTest::newRow("time measured from the last emitted report")
        << Reports{{0, W, 10, 8800}, {30, W, 20, 8800}, {45, W, 30, 8800}, {50, W, 40, 8800}}
        << QList<bool>{true, false, true, false};
    QTest::newRow("bar step measured from the last emitted bar")
        << Reports{{0, W, 10, 8800}, {1, W, 40, 8800}, {2, W, 51, 8800}} << QList<bool>{true, false, true};
}

void TestUploadProgress::throttle()
{
    QFETCH(Reports, reports);
    QFETCH(QList<bool>, emitted);
    ThrottledUploadProgressCtx ctx;
    const ThrottledUploadProgressCtx::Clock::time_point start = ThrottledUploadProgressCtx::Clock::now();
    QList<bool> actual;
    for (const Report& r : reports) {
        const uint32_t bar = ThrottledUploadProgressCtx::compute_bar(r.current, r.total, r.phase);
        actual.append(ctx.should_emit(bar, r.phase, r.current, r.total, start + milliseconds(r.at_ms)));
    }
    QCOMPARE(actual, emitted);
}

void TestUploadProgress::estimateText_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<QString>("expected");

    const int total = 1000 * kKiB;
    QTest::newRow("warming up") << total << steady(10 * kKiB, 2999) << "2 %";
    QTest::newRow("steady") << total << steady(10 * kKiB, 3000) << "3 % · 10.0 KiB/s · 1 min 37 s left";
    QTest::newRow("a stall moves the rate a little")
        << total << steady(10 * kKiB, 4000) + Samples{QPoint(4500, 40 * kKiB)} << "4 % · 9.0 KiB/s · 1 min 46 s left";
    QTest::newRow("a burst within one sample is folded")
        << total << steady(10 * kKiB, 3000) + Samples{QPoint(3100, 100 * kKiB)}
        << "10 % · 10.0 KiB/s · 1 min 30 s left";
    QTest::newRow("hours") << 100 * kMiB << steady(10 * kKiB, 3000) << "0 % · 10.0 KiB/s · 2 h 50 min left";
    QTest::newRow("bytes per second") << 10000 << steady(500, 3000) << "15 % · 500 B/s · 17 s left";
    QTest::newRow("MiB per second") << 100 * kMiB << steady(2 * kMiB, 3000) << "6 % · 2.0 MiB/s · 47 s left";
    QTest::newRow("nothing moved yet") << total << Samples{QPoint(3000, 0), QPoint(3500, 0)} << "0 %";
    QTest::newRow("done") << 30 * kKiB << steady(10 * kKiB, 3000) << "100 % · 10.0 KiB/s · 0 s left";
    QTest::newRow("no total") << 0 << Samples{QPoint(3000, 0)} << "0 %";
}

void TestUploadProgress::estimateText()
{
    QFETCH(int, total);
    QFETCH(Samples, samples);
    QFETCH(QString, expected);

    const TransferEstimate::Clock::time_point start{std::chrono::hours(1)};
    TransferEstimate estimate;
    estimate.start(start);
    for (const QPoint& sample : samples)
        estimate.update(uint64_t(sample.y()), uint64_t(total), start + milliseconds(sample.x()));
    QCOMPARE(estimate.text(), expected);
}

void TestUploadProgress::duration_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("rounds down") << 499 << "0 s";
    QTest::newRow("rounds up") << 500 << "1 s";
    QTest::newRow("under a minute") << 59499 << "59 s";
    QTest::newRow("a minute") << 59500 << "1 min 0 s";
    QTest::newRow("minutes") << 552000 << "9 min 12 s";
    QTest::newRow("an hour") << 3600000 << "1 h 00 min";
    QTest::newRow("hours") << 3899000 << "1 h 04 min";
}

void TestUploadProgress::duration()
{
    QFETCH(int, ms);
    QFETCH(QString, expected);
    QCOMPARE(formatTransferDuration(milliseconds(ms)), expected);
}

QTEST_GUILESS_MAIN(TestUploadProgress)
#include "tst_upload_progress.moc"
