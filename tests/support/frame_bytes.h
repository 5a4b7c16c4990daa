#pragma once

// Byte lists for the transport suites: what a frame carries and what a
// report or record holds, compared byte for byte.

#include <QMetaType>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "simulated_unit.h"

typedef std::vector<uint8_t> Bytes;
Q_DECLARE_METATYPE(Bytes)

// 0x10, 0x11, …: a payload whose every byte tells its position.
inline Bytes payload_of(size_t count)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = static_cast<uint8_t>(0x10 + i);
    return bytes;
}

inline COMMS_MSG_t frame_with(uint32_t can_id, uint8_t code, const Bytes& payload)
{
    COMMS_MSG_t msg = sim::make_frame(can_id, static_cast<CAN_MSG_LEN_t>(code));
    std::copy(payload.begin(), payload.end(), msg.data);
    return msg;
}
