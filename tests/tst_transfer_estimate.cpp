// The upload estimate on its own, fed with a clock reading of the test's
// choosing: what the bar's text says at each point of a modelled transfer.

#include <QPoint>
#include <QtTest>

#include "transfer_estimate.h"

namespace {

// One progress report: x = milliseconds since the start, y = bytes done.
typedef QList<QPoint> Reports;

const int kKiB = 1024;
const int kMiB = 1024 * 1024;

// Reports every 500 ms at a steady rate, from the start up to `until_ms`.
Reports steady(int bytes_per_second, int until_ms)
{
    Reports reports;
    for (int ms = 500; ms <= until_ms; ms += 500)
        reports.append(QPoint(ms, int(qint64(bytes_per_second) * ms / 1000)));
    return reports;
}

} // namespace

class TestTransferEstimate : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void duration_data();
    void duration();
};

void TestTransferEstimate::text_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QString>("expected");

    const int total = 1000 * kKiB;
    QTest::newRow("warming up") << total << steady(10 * kKiB, 2999) << "2 %";
    QTest::newRow("steady") << total << steady(10 * kKiB, 3000) << "3 % · 10.0 KiB/s · 1 min 37 s left";
    QTest::newRow("a stall moves the rate a little")
        << total << steady(10 * kKiB, 4000) + Reports{QPoint(4500, 40 * kKiB)} << "4 % · 9.0 KiB/s · 1 min 46 s left";
    QTest::newRow("a burst within one sample is folded")
        << total << steady(10 * kKiB, 3000) + Reports{QPoint(3100, 100 * kKiB)} << "10 % · 10.0 KiB/s · 1 min 30 s left";
    QTest::newRow("hours") << 100 * kMiB << steady(10 * kKiB, 3000) << "0 % · 10.0 KiB/s · 2 h 50 min left";
    QTest::newRow("bytes per second") << 10000 << steady(500, 3000) << "15 % · 500 B/s · 17 s left";
    QTest::newRow("MiB per second") << 100 * kMiB << steady(2 * kMiB, 3000) << "6 % · 2.0 MiB/s · 47 s left";
    QTest::newRow("nothing moved yet") << total << Reports{QPoint(3000, 0), QPoint(3500, 0)} << "0 %";
    QTest::newRow("done") << 30 * kKiB << steady(10 * kKiB, 3000) << "100 % · 10.0 KiB/s · 0 s left";
    QTest::newRow("no total") << 0 << Reports{QPoint(3000, 0)} << "0 %";
}

void TestTransferEstimate::text()
{
    QFETCH(int, total);
    QFETCH(Reports, reports);
    QFETCH(QString, expected);

    const TransferEstimate::Clock::time_point start{std::chrono::hours(1)};
    TransferEstimate estimate;
    estimate.start(start);
    for (const QPoint& report : reports)
        estimate.update(uint64_t(report.y()), uint64_t(total), start + std::chrono::milliseconds(report.x()));
    QCOMPARE(estimate.text(), expected);
}

void TestTransferEstimate::duration_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing") << 0 << "0 s";
    QTest::newRow("rounds down") << 499 << "0 s";
    QTest::newRow("rounds up") << 500 << "1 s";
    QTest::newRow("under a minute") << 59499 << "59 s";
    QTest::newRow("a minute") << 59500 << "1 min 0 s";
    QTest::newRow("minutes") << 552000 << "9 min 12 s";
    QTest::newRow("an hour") << 3600000 << "1 h 00 min";
    QTest::newRow("hours") << 3899000 << "1 h 04 min";
}

void TestTransferEstimate::duration()
{
    QFETCH(int, ms);
    QFETCH(QString, expected);
    QCOMPARE(formatTransferDuration(std::chrono::milliseconds(ms)), expected);
}

QTEST_GUILESS_MAIN(TestTransferEstimate)
#include "tst_transfer_estimate.moc"
