#pragma once

// SocketCAN frame records laid out byte by byte, to compare what the CAN FD
// transport puts on its descriptor with what it should.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace can_records {

const size_t kFdRecordBytes = 72;
const size_t kClassicRecordBytes = 16;
// The flags byte of every frame the program sends: bit rate switch.
const uint8_t kBitRateSwitch = 0x01;

// can_id (little-endian), len, flags, two reserved bytes, then 64 data bytes.
inline std::vector<uint8_t> fd_record(uint32_t can_id, uint8_t len, uint8_t flags, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> record(kFdRecordBytes, 0);
    for (int i = 0; i < 4; i++)
        record[i] = static_cast<uint8_t>(can_id >> (8 * i));
    record[4] = len;
    record[5] = flags;
    std::copy(data.begin(), data.end(), record.begin() + 8);
    return record;
}

// can_id (little-endian), len, three reserved bytes, then 8 data bytes.
inline std::vector<uint8_t> classic_record(uint32_t can_id, uint8_t len, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> record(kClassicRecordBytes, 0);
    for (int i = 0; i < 4; i++)
        record[i] = static_cast<uint8_t>(can_id >> (8 * i));
    record[4] = len;
    std::copy(data.begin(), data.end(), record.begin() + 8);
    return record;
}

// A frame the program sends, as it travels.
inline std::vector<uint8_t> sent_record(uint32_t can_id, const std::vector<uint8_t>& data)
{
    return fd_record(can_id, static_cast<uint8_t>(data.size()), kBitRateSwitch, data);
}

} // namespace can_records
