#pragma once

// What the flash suites share: a link to the simulated unit, the reports the
// host sent, the unit's flash read back, and progress reports as text.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <memory>

#include "comms/comms.h"
#include "output_capture.h"
#include "simulated_unit.h"

// Runs action with standard output captured and returns the lines it
// printed. The capture ends before the caller compares anything, so a
// failing comparison still reaches the test log.
template <typename Action> QStringList printedLines(Action action)
{
    OutputCapture out;
    action();
    return out.lines();
}

// A connection manager linked to the simulated unit over the hidapi stand-in.
inline std::unique_ptr<CommsManager> connectToSimulatedUnit()
{
    std::unique_ptr<CommsManager> comms(new CommsManager());
    printedLines([&] { comms->establish_connection(); });
    return comms;
}

// The report the host sends for a frame: report ID 5, the identifier
// little-endian, the length code, then the payload.
inline QByteArray hostReport(uint32_t can_id, uint8_t length_code, const QByteArray& payload = QByteArray())
{
    QByteArray report;
    report.append(char(5));
    for (int shift = 0; shift < 32; shift += 8)
        report.append(char(can_id >> shift));
    report.append(char(length_code));
    return report + payload;
}

inline uint32_t reportId(const QByteArray& report)
{
    return uint32_t(uint8_t(report[1])) | uint32_t(uint8_t(report[2])) << 8 | uint32_t(uint8_t(report[3])) << 16
           | uint32_t(uint8_t(report[4])) << 24;
}

// Every report the unit received, in order.
inline QVector<QByteArray> receivedReports()
{
    QVector<QByteArray> reports;
    for (const std::vector<uint8_t>& report : sim::unit().receivedReports())
        reports.append(QByteArray(reinterpret_cast<const char*>(report.data()), qsizetype(report.size())));
    return reports;
}

inline QVector<QByteArray> receivedReportsWithId(uint32_t can_id)
{
    QVector<QByteArray> reports;
    for (const QByteArray& report : receivedReports()) {
        if (reportId(report) == can_id)
            reports.append(report);
    }
    return reports;
}

// The identifiers of the received frames in order, repeats folded: "730 430*3 440 420*5".
inline QString requestSequence()
{
    QStringList runs;
    uint32_t last = 0xFFFFFFFF;
    int count = 0;
    auto flush = [&]() {
        if (count > 0)
            runs.append(QString::number(last, 16) + (count > 1 ? QStringLiteral("*%1").arg(count) : QString()));
    };
    for (const QByteArray& report : receivedReports()) {
        const uint32_t id = reportId(report);
        if (id != last) {
            flush();
            last = id;
            count = 0;
        }
        count++;
    }
    flush();
    return runs.join(QLatin1Char(' '));
}

inline QByteArray flashBytes(uint32_t address, int length)
{
    const std::vector<uint8_t> bytes = sim::unit().flash().read(address, size_t(length));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

inline void preloadFlash(uint32_t address, const QByteArray& bytes)
{
    sim::unit().flash().preload(address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// Progress reports as "erase 1/3" and "write 64/200", so a mismatch reads plainly.
inline void recordProgress(uint32_t current, uint32_t total, int phase, void* user_data)
{
    const QString name = phase == 0   ? QStringLiteral("erase")
                         : phase == 1 ? QStringLiteral("write")
                                      : QStringLiteral("phase%1").arg(phase);
    static_cast<QStringList*>(user_data)->append(QStringLiteral("%1 %2/%3").arg(name).arg(current).arg(total));
}

// Bytes that differ from their neighbours, so a shifted or repeated piece shows.
inline QByteArray patternBytes(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; i++)
        bytes[i] = char((i * 131 + seed * 17 + (i >> 8) * 7) & 0xFF);
    return bytes;
}
