// The progress throttle of the uploads on its own: the bar each report
// gives, and which reports reach the window. Clock readings are given, so
// nothing here depends on how fast the machine runs.

#include <QtTest>

#include <chrono>

#include "firmware_ops/firmware_ops.h"
#include "mainwindow_upload_progress.h"

using std::chrono::milliseconds;
typedef ThrottledUploadProgressCtx::Clock Clock;

// One report: when it comes (ms after the first), its phase and position.
struct Report {
    int at_ms;
    int phase;
    uint32_t current;
    uint32_t total;
};
typedef QList<Report> Reports;
Q_DECLARE_METATYPE(Reports)

class TestUploadProgress : public QObject
{
    Q_OBJECT

private slots:
    void computesBar_data();
    void computesBar();
    void throttlesReports_data();
    void throttlesReports();
    void suppressedReportChangesNothing();
};

void TestUploadProgress::computesBar_data()
{
    QTest::addColumn<uint32_t>("current");
    QTest::addColumn<uint32_t>("total");
    QTest::addColumn<int>("phase");
    QTest::addColumn<uint32_t>("bar");
    QTest::newRow("erase 1 of 3") << 1u << 3u << int(FW_PROGRESS_ERASE) << 400u;
    QTest::newRow("erase 2 of 3") << 2u << 3u << int(FW_PROGRESS_ERASE) << 800u;
    QTest::newRow("erase 3 of 3") << 3u << 3u << int(FW_PROGRESS_ERASE) << 1200u;
    QTest::newRow("erase, total 0") << 0u << 0u << int(FW_PROGRESS_ERASE) << 0u;
    QTest::newRow("write, total 0") << 5u << 0u << int(FW_PROGRESS_WRITE) << 0u;
    QTest::newRow("first write packet") << 64u << 4194240u << int(FW_PROGRESS_WRITE) << 1200u;
    QTest::newRow("write, truncated") << 1u << 3u << int(FW_PROGRESS_WRITE) << 4133u;
    QTest::newRow("write ends at full") << 4194240u << 4194240u << int(FW_PROGRESS_WRITE) << 10000u;
    // current x 8800 would overflow 32 bits
    QTest::newRow("write, large sizes") << 3000000000u << 4000000000u << int(FW_PROGRESS_WRITE) << 7800u;
    QTest::newRow("unknown phase writes") << 1u << 2u << 7 << 5600u;
}

void TestUploadProgress::computesBar()
{
    QFETCH(uint32_t, current);
    QFETCH(uint32_t, total);
    QFETCH(int, phase);
    QFETCH(uint32_t, bar);
    QCOMPARE(ThrottledUploadProgressCtx::compute_bar(current, total, phase), bar);
}

void TestUploadProgress::throttlesReports_data()
{
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QList<bool>>("emitted");
    const int E = FW_PROGRESS_ERASE;
    const int W = FW_PROGRESS_WRITE;
    // write bars: 1200 + current * 8800 / 8800
    QTest::newRow("first report passes") << Reports{{0, W, 10, 8800}} << QList<bool>{true};
    QTest::newRow("within 40 units and 40 ms: suppressed")
        << Reports{{0, W, 10, 8800}, {10, W, 50, 8800}} << QList<bool>{true, false};
    QTest::newRow("exactly 40 units: suppressed")
        << Reports{{0, W, 10, 8800}, {39, W, 50, 8800}} << QList<bool>{true, false};
    QTest::newRow("more than 40 units passes")
        << Reports{{0, W, 10, 8800}, {1, W, 51, 8800}} << QList<bool>{true, true};
    QTest::newRow("40 ms passes") << Reports{{0, W, 10, 8800}, {40, W, 11, 8800}} << QList<bool>{true, true};
    QTest::newRow("last report of a phase passes")
        << Reports{{0, W, 8790, 8800}, {1, W, 8800, 8800}} << QList<bool>{true, true};
    QTest::newRow("phase change passes")
        << Reports{{0, E, 3, 3}, {1, W, 0, 8800}} << QList<bool>{true, true};
    QTest::newRow("erase blocks each move the bar")
        << Reports{{0, E, 1, 20}, {1, E, 2, 20}, {2, E, 3, 20}} << QList<bool>{true, true, true};
    QTest::newRow("erase steps of exactly 40 units are throttled")
        << Reports{{0, E, 1, 30}, {1, E, 2, 30}, {41, E, 3, 30}} << QList<bool>{true, false, true};
    QTest::newRow("measured from the last emitted report")
        << Reports{{0, W, 10, 8800}, {30, W, 20, 8800}, {45, W, 30, 8800}, {50, W, 40, 8800}}
        << QList<bool>{true, false, true, false};
    QTest::newRow("bar step measured from the last emitted bar")
        << Reports{{0, W, 10, 8800}, {1, W, 40, 8800}, {2, W, 51, 8800}} << QList<bool>{true, false, true};
}

void TestUploadProgress::throttlesReports()
{
    QFETCH(Reports, reports);
    QFETCH(QList<bool>, emitted);
    ThrottledUploadProgressCtx ctx;
    const Clock::time_point start = Clock::now();
    QList<bool> actual;
    for (const Report& report : reports) {
        const uint32_t bar = ThrottledUploadProgressCtx::compute_bar(report.current, report.total, report.phase);
        actual.append(ctx.should_emit(bar, report.phase, report.current, report.total, start + milliseconds(report.at_ms)));
    }
    QCOMPARE(actual, emitted);
}

void TestUploadProgress::suppressedReportChangesNothing()
{
    ThrottledUploadProgressCtx ctx;
    const Clock::time_point start = Clock::now();
    QVERIFY(ctx.should_emit(1210, FW_PROGRESS_WRITE, 10, 8800, start));
    QVERIFY(!ctx.should_emit(1250, FW_PROGRESS_WRITE, 50, 8800, start + milliseconds(10)));
    QCOMPARE(ctx.last_posted_bar, 1210u);
    QVERIFY(ctx.last_emit == start);
    QCOMPARE(ctx.last_phase, int(FW_PROGRESS_WRITE));
}

QTEST_APPLESS_MAIN(TestUploadProgress)
#include "tst_upload_progress.moc"
