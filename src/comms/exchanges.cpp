#include <chrono>
#include <cstdio>
#include <cstring>

#include "comms/comms.h"

namespace {

typedef std::chrono::steady_clock Clock;

enum NextFrame {
    FRAME_RECEIVED = 0,
    FRAME_NONE_IN_TIME = 1, // the transport's read timed out
    FRAME_READ_ERROR = 2,
    FRAME_DEADLINE_PASSED = 3,
};

Clock::time_point deadline_after(int milliseconds)
{
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// One zeroed frame from the link, unless the wait's deadline has passed.
NextFrame next_frame(CommsManager* comms, COMMS_MSG_t* msg, Clock::time_point deadline)
{
    if (Clock::now() > deadline)
        return FRAME_DEADLINE_PASSED;
    memset(msg, 0, sizeof *msg);
    const int result = comms->read(msg);
    if (result == 0)
        return FRAME_NONE_IN_TIME;
    return result < 0 ? FRAME_READ_ERROR : FRAME_RECEIVED;
}

// The first command acknowledgement decides; a malformed one is consumed.
bool check_ack(const COMMS_MSG_t& ack, uint32_t can_id)
{
    if (ack.msg_len != CAN_4_BYTES) {
        printf("ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x%02X)\n", ack.msg_len);
        return false;
    }
    const uint16_t acknowledged = get_u16_le(&ack.data[1]);
    if (acknowledged != static_cast<uint16_t>(can_id)) {
        printf("ACK validation failed: payload can_ID mismatch (expected 0x%03X, got 0x%03X)\n",
               static_cast<unsigned>(can_id & 0xFFFF), acknowledged);
        return false;
    }
    const uint8_t status = ack.data[3];
    if (status == ACK)
        return true;
    if (status == NACK)
        printf("NACK received for command CAN ID 0x%03X.\n", acknowledged);
    else
        printf("ACK validation failed: invalid status byte %u (expected 0 or 1)\n", status);
    return false;
}

bool check_mx25_ack(const COMMS_MSG_t& ack, uint8_t* op, uint32_t* value)
{
    if (op != nullptr)
        *op = ack.data[0];
    if (value != nullptr)
        *value = get_u32_le(&ack.data[1]);
    const uint8_t status = ack.data[5];
    if (status == ACK)
        return true;
    if (status == NACK)
        printf("wait_for_mx25_ack: MX25 NACK (op=0x%02X)\n", ack.data[0]);
    else
        printf("wait_for_mx25_ack: invalid status byte %u (expected 0 or 1)\n", status);
    return false;
}

bool is_value_reply(const COMMS_MSG_t& reply, target_comms_t target, uint8_t index)
{
    if (target == SETTINGS_COMMS) {
        return reply.can_ID == CANMSG_SEND_SETTINGS_VALUE && reply.msg_len == CAN_6_BYTES
               && reply.data[0] == kSettingsWireUid && reply.data[1] == index;
    }
    return reply.can_ID == CANMSG_SEND_SENSOR_CALIB && reply.msg_len > CAN_3_BYTES;
}

COMMS_MSG_t value_request(target_comms_t target, uint8_t index)
{
    if (target == SETTINGS_COMMS) {
        COMMS_MSG_t msg = comms_msg_init(CANMSG_REQUEST_SETTINGS_VALUE, CAN_2_BYTES);
        msg.data[0] = kSettingsWireUid;
        msg.data[1] = index;
        return msg;
    }
    COMMS_MSG_t msg = comms_msg_init(CANMSG_REQUEST_SENSOR_CALIB, CAN_1_BYTES);
    msg.data[0] = index;
    return msg;
}

int send_and_wait_for_ack(CommsManager* comms, const COMMS_MSG_t& msg)
{
    if (send_request(comms, msg) <= 0)
        return -1;
    return wait_for_ack(comms, msg.can_ID) ? 0 : -1;
}

} // namespace

int send_request(CommsManager* comms, const COMMS_MSG_t& msg)
{
    comms->drop_waiting_frames();
    return comms->write(msg);
}

bool wait_for_ack(CommsManager* comms, uint32_t can_id)
{
    return wait_for_ack(comms, can_id, kAckDeadlineMs);
}

bool wait_for_ack(CommsManager* comms, uint32_t can_id, int deadline_ms)
{
    if (!comms_connected(comms))
        return false;
    const Clock::time_point deadline = deadline_after(deadline_ms);
    COMMS_MSG_t reply;
    for (;;) {
        switch (next_frame(comms, &reply, deadline)) {
        case FRAME_NONE_IN_TIME:
            printf("No ACK received from device (timeout or no data).\n");
            return false;
        case FRAME_READ_ERROR:
            printf("Error reading ACK from device.\n");
            return false;
        case FRAME_DEADLINE_PASSED:
            printf("wait_for_ack: timeout waiting for ACK (expected CAN ID 0x%03X).\n", can_id);
            return false;
        case FRAME_RECEIVED:
            break;
        }
        if (reply.can_ID == CANMSG_ACK)
            return check_ack(reply, can_id);
    }
}

bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op, uint32_t* value)
{
    return wait_for_mx25_ack(comms, op, value, kAckDeadlineMs);
}

bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op, uint32_t* value, int deadline_ms)
{
    if (!comms_connected(comms))
        return false;
    const Clock::time_point deadline = deadline_after(deadline_ms);
    COMMS_MSG_t reply;
    for (;;) {
        switch (next_frame(comms, &reply, deadline)) {
        case FRAME_NONE_IN_TIME:
            printf("wait_for_mx25_ack: No response received (timeout or no data).\n");
            return false;
        case FRAME_READ_ERROR:
            printf("wait_for_mx25_ack: Error reading response from device.\n");
            return false;
        case FRAME_DEADLINE_PASSED:
            printf("wait_for_mx25_ack: timeout waiting for MX25 ACK.\n");
            return false;
        case FRAME_RECEIVED:
            break;
        }
        if (reply.can_ID == CANMSG_MX25_ACK && reply.msg_len == CAN_6_BYTES)
            return check_mx25_ack(reply, op, value);
    }
}

bool read_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t* value_out)
{
    if (!comms_connected(comms)) {
        printf("CommsManager not connected.\n");
        return false;
    }
    if (target != SETTINGS_COMMS && target != SENSOR_COMMS)
        return false;
    const uint32_t expected_id = target == SETTINGS_COMMS ? CANMSG_SEND_SETTINGS_VALUE : CANMSG_SEND_SENSOR_CALIB;
    if (send_request(comms, value_request(target, index)) <= 0) {
        printf("Failed to send COMMS_MSG_t to device.\n");
        return false;
    }

    const Clock::time_point deadline = deadline_after(kValueReplyDeadlineMs);
    COMMS_MSG_t reply;
    for (;;) {
        switch (next_frame(comms, &reply, deadline)) {
        case FRAME_DEADLINE_PASSED:
            printf("get_value: timeout waiting for response (expected CAN ID 0x%03X).\n", expected_id);
            return false;
        case FRAME_NONE_IN_TIME:
            printf("No response received from device (timeout or no data).\n");
            return false;
        case FRAME_READ_ERROR:
            printf("Error reading response from device.\n");
            return false;
        case FRAME_RECEIVED:
            break;
        }
        if (is_value_reply(reply, target, index)) {
            const uint8_t* value_bytes = target == SETTINGS_COMMS ? &reply.data[2] : &reply.data[0];
            if (value_out != nullptr)
                *value_out = get_u32_le(value_bytes);
            return true;
        }
    }
}

uint32_t get_value(CommsManager* comms, target_comms_t target, uint8_t index)
{
    uint32_t value = 0xFFFFFFFF;
    return read_value(comms, target, index, &value) ? value : 0xFFFFFFFF;
}

int set_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t value)
{
    if (!comms_connected(comms))
        return -1;
    COMMS_MSG_t msg = comms_msg_init(target == SETTINGS_COMMS ? CANMSG_GLOBAL_SET_SETTING : CANMSG_SET_SENSOR_CALIB,
                                   CAN_5_BYTES);
    msg.data[0] = index;
    put_u32_le(&msg.data[1], value);
    return send_and_wait_for_ack(comms, msg);
}

int save_settings(CommsManager* comms, target_comms_t src, uint32_t crc)
{
    if (!comms_connected(comms))
        return -1;
    COMMS_MSG_t msg = comms_msg_init(src == SETTINGS_COMMS ? CANMSG_SAVE_USER_SETTINGS : CANMSG_SAVE_SENSOR_CALIB,
                                   CAN_4_BYTES);
    put_u32_le(&msg.data[0], crc);
    return send_and_wait_for_ack(comms, msg);
}
