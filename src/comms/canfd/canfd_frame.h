#pragma once

// The frame record as a SocketCAN frame, in both directions. A record's byte
// count tells a classic frame (CAN_MTU, struct can_frame) from a CAN FD frame
// (CANFD_MTU, struct canfd_frame); both share the layout of their first bytes.

#ifdef __linux__

#include <cstddef>

#include <linux/can.h>

#include "EFIS_shared/comms_types.h"

// can_ID masked to a standard identifier, the payload sized by msg_len, and
// the bit rate switch set, since the unit's bus runs its data phase faster.
struct canfd_frame canfd_frame_from_msg(const COMMS_MSG_t& msg);

// Zeroes msg and fills it from a record of record_bytes bytes (iface CAN_FD,
// the identifier's standard bits, the length code for the payload's length).
// False, leaving msg zeroed, for a record that is neither frame size.
bool msg_from_can_record(const struct canfd_frame& record, size_t record_bytes, COMMS_MSG_t* msg);

#endif
