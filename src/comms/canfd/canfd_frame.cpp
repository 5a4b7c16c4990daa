#ifdef __linux__

#include "comms/canfd/canfd_frame.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(struct canfd_frame) == CANFD_MTU, "a CAN FD record is 72 bytes");
static_assert(sizeof(struct can_frame) == CAN_MTU, "a classic CAN record is 16 bytes");
static_assert(offsetof(struct canfd_frame, len) == offsetof(struct can_frame, len),
              "classic and CAN FD records keep their length in the same byte");
static_assert(offsetof(struct canfd_frame, data) == offsetof(struct can_frame, data),
              "classic and CAN FD records keep their payload at the same offset");

struct canfd_frame canfd_frame_from_msg(const COMMS_MSG_t& msg)
{
    struct canfd_frame record;
    memset(&record, 0, sizeof record);
    record.can_id = msg.can_ID & CAN_SFF_MASK;
    record.len = dlc_code_to_bytes(msg.msg_len);
    record.flags = CANFD_BRS;
    memcpy(record.data, msg.data, record.len);
    return record;
}

bool msg_from_can_record(const struct canfd_frame& record, size_t record_bytes, COMMS_MSG_t* msg)
{
    memset(msg, 0, sizeof *msg);
    size_t max_payload = 0;
    if (record_bytes == CANFD_MTU)
        max_payload = CANFD_MAX_DLEN;
    else if (record_bytes == CAN_MTU)
        max_payload = CAN_MAX_DLEN;
    else
        return false;

    const size_t length = std::min<size_t>(record.len, max_payload);
    msg->iface = CAN_FD;
    msg->can_ID = record.can_id & CAN_SFF_MASK;
    msg->msg_len = bytes_to_dlc_code(static_cast<uint8_t>(length));
    memcpy(msg->data, record.data, length);
    return true;
}

#endif
