#pragma once

// What the flash suites share: a link to the simulated unit, the frames the
// host sent, the unit's flash read back, and progress reports as text.

#include <QStringList>

#include <atomic>
#include <functional>
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

// A connection manager linked to the simulated unit (USB, or CAN FD when the
// stand-in is told so).
inline std::unique_ptr<CommsManager> connectToSimulatedUnit()
{
    std::unique_ptr<CommsManager> comms(new CommsManager());
    printedLines([&] { comms->establish_connection(); });
    return comms;
}

// A frame as the unit takes it: the identifier little-endian, the length
// code, then the bytes that code carries (the payload, zero-padded).
inline QByteArray frameBytes(uint32_t can_id, uint8_t length_code, const QByteArray& payload = QByteArray())
{
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char(can_id >> shift));
    bytes.append(char(length_code));
    return bytes + payload.leftJustified(dlc_code_to_bytes(CAN_MSG_LEN_t(length_code)), '\0');
}

// Every frame the unit received with this identifier (0: every frame), in order.
inline QVector<QByteArray> sentFrames(uint32_t can_id = 0)
{
    QVector<QByteArray> frames;
    for (const COMMS_MSG_t& frame : sim::unit().receivedFrames()) {
        const QByteArray data(reinterpret_cast<const char*>(frame.data), sizeof frame.data);
        if (can_id == 0 || frame.can_ID == can_id)
            frames.append(frameBytes(frame.can_ID, frame.msg_len, data.left(dlc_code_to_bytes(frame.msg_len))));
    }
    return frames;
}

// The identifiers of the received frames in order, repeats folded: "730 430*3 440 420*5".
inline QString requestSequence()
{
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    QStringList runs;
    for (size_t at = 0, run = 1; at < frames.size(); at += run, run = 1) {
        while (at + run < frames.size() && frames[at + run].can_ID == frames[at].can_ID)
            run++;
        runs.append(QString::number(frames[at].can_ID, 16) + (run > 1 ? "*" + QString::number(run) : QString()));
    }
    return runs.join(' ');
}

inline QByteArray flashBytes(uint32_t address, int length)
{
    const std::vector<uint8_t> bytes = sim::unit().flash().read(address, size_t(length));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// A step that makes the unit answer `reply` of the request that comes after
// `after` matching ones wrongly.
inline std::function<void()> unitFault(uint32_t request_id, int after, sim::FaultKind kind, int reply = -1,
                                       int param = 0)
{
    return [=] { sim::unit().addFault({request_id, after, 1, kind, param, reply}); };
}

// Progress reports as "erase 1/3" and "write 64/200", so a mismatch reads
// plainly; the upload is told to stop once the report named stop_at came.
struct ProgressLog {
    QStringList reports;
    QString stop_at;
    std::atomic<bool> stop{false};

    static void record(uint32_t current, uint32_t total, int phase, void* user_data)
    {
        auto* log = static_cast<ProgressLog*>(user_data);
        log->reports.append(QStringLiteral("%1 %2/%3").arg(phase == 0 ? "erase" : "write").arg(current).arg(total));
        log->stop = log->stop || log->reports.last() == log->stop_at;
    }
};

// Bytes that differ from their neighbours, so a shifted or repeated piece shows.
inline QByteArray patternBytes(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; i++)
        bytes[i] = char((i * 131 + seed * 17 + (i >> 8) * 7) & 0xFF);
    return bytes;
}
