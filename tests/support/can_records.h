#pragma once

// Frames and SocketCAN frame records laid out byte by byte, to compare what
// the transports put on the wire with what they should.

#include <QTest>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "simulated_unit.h"

typedef std::vector<uint8_t> Bytes;
Q_DECLARE_METATYPE(Bytes)

inline Bytes operator+(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

enum Transport { Usb, CanFd };

// A data row for one transport, named after it; the transport is its first column.
inline QTestData& transport_row(int transport, const char* name)
{
    return QTest::addRow("%s: %s", transport == Usb ? "USB" : "CAN FD", name) << transport;
}

// 0x10, 0x11, …: a payload whose every byte tells its position.
inline Bytes payload_of(size_t count)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0x10));
    return bytes;
}

inline COMMS_MSG_t frame_with(uint32_t can_id, uint8_t code, const Bytes& payload, COMM_INTERFACE_t iface = USB_HID)
{
    COMMS_MSG_t msg = sim::make_frame(can_id, static_cast<CAN_MSG_LEN_t>(code));
    std::copy(payload.begin(), payload.end(), msg.data);
    msg.iface = iface;
    return msg;
}

namespace can_records {

const size_t kFdRecordBytes = 72;
const size_t kClassicRecordBytes = 16;
// The flags byte of every frame the program sends: bit rate switch.
const uint8_t kBitRateSwitch = 0x01;

// can_id (little-endian), len, flags (reserved in a classic record), two
// reserved bytes, then the data bytes: 64 of them in a CAN FD record, 8 in a
// classic one.
inline Bytes fd_record(uint32_t can_id, uint8_t len, uint8_t flags, const Bytes& data, size_t size = kFdRecordBytes)
{
    Bytes record(size, 0);
    for (int i = 0; i < 4; i++)
        record[i] = static_cast<uint8_t>(can_id >> (8 * i));
    record[4] = len;
    record[5] = flags;
    std::copy(data.begin(), data.end(), record.begin() + 8);
    return record;
}

// A frame the program sends, as it travels.
inline Bytes sent_record(uint32_t can_id, const Bytes& data)
{
    return fd_record(can_id, static_cast<uint8_t>(data.size()), kBitRateSwitch, data);
}

} // namespace can_records
