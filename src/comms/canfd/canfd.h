#pragma once

// The CAN FD transport: frames travel as SocketCAN CAN FD frames on a raw CAN
// socket bound to a named network interface ("can0"). Opening the socket is
// the only step that needs the kernel's CAN stack (canfd_opener.h); once a
// descriptor is open, reads and writes only need it to carry one
// struct canfd_frame (or struct can_frame) record per message.
//
// Where there is no SocketCAN the class keeps its shape and never connects.

#include <cstddef>
#include <cstdint>
#include <string>

#include "EFIS_shared/comms_types.h"

class CANFD
{
public:
    // A read waits at most this long for a frame, as a USB read does.
    static const int kReadTimeoutMs = 1000;
    // A write waits at most this long for room in a full transmit queue. A
    // queue that stays full this long means no node acknowledges our frames
    // (an empty bus, a wrong bit rate) or the bus is saturated.
    static const int kTransmitQueueWaitMs = 1000;

    CANFD();
    ~CANFD();
    CANFD(const CANFD&) = delete;
    CANFD& operator=(const CANFD&) = delete;

    // Opens the named interface; false, after a printed line saying why, when
    // it does not exist, is down or cannot carry CAN FD frames.
    bool connect(const std::string& interface_name);
    // Takes over an already open descriptor that carries one CAN frame record
    // per message; the transport closes it from then on. False for a negative
    // descriptor.
    bool adoptSocket(int fd, const std::string& interface_name);
    void disconnect();
    bool isConnected() const;

    // Positive: the record's byte count, msg zeroed and filled (iface CAN_FD);
    // 0: nothing within the read time-out; negative: an error, with errno set
    // (ECONNRESET when the other end of the descriptor went away, EPROTO for a
    // record that is no CAN frame, ENOTCONN when not connected).
    int read(COMMS_MSG_t* msg);
    int read(COMMS_MSG_t* msg, int timeout_ms);
    // Throws away the frames already waiting, at most limit of them, without
    // waiting for more; how many there were.
    int dropWaitingFrames(int limit);
    // Sends a frame body laid out as on USB: can_ID (4 bytes, little-endian),
    // the length code, then the payload.
    int write(const uint8_t* bytes, size_t length);
    // Sends can_ID (11 bits) with the payload sized by msg_len as a CAN FD
    // frame with bit rate switch. Positive: the bytes handed to the socket;
    // negative with errno set on failure, a transmit queue that stayed full
    // included.
    int write(const COMMS_MSG_t& msg);
    int write(const COMMS_MSG_t& msg, int queue_wait_ms);

private:
    int socket_fd;
    bool connected;
    std::string interface_name;
};
