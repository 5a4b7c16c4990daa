// The CAN FD transport on Linux. Every read and write is non-blocking at the
// socket and bounded here, so a silent or saturated bus never hangs a caller.

#ifdef __linux__

#include "comms/canfd/canfd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "comms/canfd/canfd_frame.h"
#include "comms/canfd/canfd_opener.h"

namespace {

typedef std::chrono::steady_clock Clock;

// A full device queue (ENOBUFS) leaves the socket writable, so poll would
// answer at once; the write pauses this long before it tries again.
const int kQueueRetryPauseMs = 1;
// can_ID and the length code precede the payload in a frame body.
const size_t kBodyHeaderBytes = 5;

Clock::time_point deadline_after(int milliseconds)
{
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// 1: something to receive (a frame, or the other end's hang-up); 0: the
// deadline passed; -1: poll failed.
int wait_readable(int fd, Clock::time_point deadline)
{
    for (;;) {
        struct pollfd pfd = {fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, remaining_ms(deadline));
        if (ready >= 0 || errno != EINTR)
            return ready > 0 ? 1 : ready;
    }
}

// One record as it arrived; its byte count, 0 when the other end has gone
// away, -1 (errno set) when the receive failed. MSG_TRUNC is reported as a
// byte count larger than any frame, so an oversized record is not taken for one.
ssize_t receive_record(int fd, struct canfd_frame* record)
{
    struct iovec iov = {record, sizeof *record};
    struct msghdr header;
    memset(&header, 0, sizeof header);
    header.msg_iov = &iov;
    header.msg_iovlen = 1;
    const ssize_t got = recvmsg(fd, &header, MSG_DONTWAIT);
    if (got >= 0 && (header.msg_flags & MSG_TRUNC) != 0)
        return static_cast<ssize_t>(sizeof *record) + 1;
    return got;
}

int take_record(const struct canfd_frame& record, ssize_t got, COMMS_MSG_t* msg)
{
    if (got < 0)
        return -1;
    if (got == 0) {
        errno = ECONNRESET;
        return -1;
    }
    if (!msg_from_can_record(record, static_cast<size_t>(got), msg)) {
        errno = EPROTO;
        return -1;
    }
    return static_cast<int>(got);
}

bool transmit_queue_full(int error)
{
    return error == ENOBUFS || error == EAGAIN || error == EWOULDBLOCK;
}

// Waits for room after a full-queue error; false once the deadline has passed.
bool wait_for_room(int fd, int error, Clock::time_point deadline)
{
    const int left = remaining_ms(deadline);
    if (left == 0)
        return false;
    if (error == ENOBUFS) {
        poll(nullptr, 0, std::min(left, kQueueRetryPauseMs));
        return true;
    }
    struct pollfd pfd = {fd, POLLOUT, 0};
    poll(&pfd, 1, left);
    return true;
}

} // namespace

CANFD::CANFD() : socket_fd(-1), connected(false)
{
}

CANFD::~CANFD()
{
    disconnect();
}

bool CANFD::connect(const std::string& interface_name)
{
    disconnect();
    return adoptSocket(canfd_open_interface(interface_name.c_str()), interface_name);
}

bool CANFD::adoptSocket(int fd, const std::string& interface_name)
{
    disconnect();
    if (fd < 0)
        return false;
    socket_fd = fd;
    connected = true;
    this->interface_name = interface_name;
    return true;
}

void CANFD::disconnect()
{
    if (socket_fd >= 0)
        close(socket_fd);
    socket_fd = -1;
    connected = false;
    interface_name.clear();
}

bool CANFD::isConnected() const
{
    return connected && socket_fd >= 0;
}

int CANFD::read(COMMS_MSG_t* msg)
{
    return read(msg, kReadTimeoutMs);
}

int CANFD::read(COMMS_MSG_t* msg, int timeout_ms)
{
    if (!isConnected()) {
        errno = ENOTCONN;
        return -1;
    }
    if (msg == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const Clock::time_point deadline = deadline_after(timeout_ms);
    for (;;) {
        const int ready = wait_readable(socket_fd, deadline);
        if (ready <= 0)
            return ready;
        struct canfd_frame record;
        const ssize_t got = receive_record(socket_fd, &record);
        // Woken without a frame after all: wait out the rest of the time.
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        return take_record(record, got, msg);
    }
}

// A record that is no CAN frame is thrown away as well.
int CANFD::dropWaitingFrames(int limit)
{
    int dropped = 0;
    COMMS_MSG_t msg;
    while (dropped < limit) {
        const int result = read(&msg, 0);
        if (result == 0 || (result < 0 && errno != EPROTO))
            break;
        dropped++;
    }
    return dropped;
}

int CANFD::write(const uint8_t* bytes, size_t length)
{
    if (bytes == nullptr || length < kBodyHeaderBytes || length > kBodyHeaderBytes + COMMS_MSG_DATA_LEN) {
        errno = EINVAL;
        return -1;
    }
    COMMS_MSG_t msg = comms_msg_init(get_u32_le(&bytes[0]), static_cast<CAN_MSG_LEN_t>(bytes[4]));
    memcpy(msg.data, &bytes[kBodyHeaderBytes], length - kBodyHeaderBytes);
    return write(msg);
}

int CANFD::write(const COMMS_MSG_t& msg)
{
    return write(msg, kTransmitQueueWaitMs);
}

int CANFD::write(const COMMS_MSG_t& msg, int queue_wait_ms)
{
    if (!isConnected()) {
        errno = ENOTCONN;
        return -1;
    }
    const struct canfd_frame record = canfd_frame_from_msg(msg);
    const Clock::time_point deadline = deadline_after(queue_wait_ms);
    for (;;) {
        // MSG_NOSIGNAL: a descriptor whose other end has gone reports EPIPE
        // instead of ending the program.
        const ssize_t sent = send(socket_fd, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<int>(sent);
        const int error = errno;
        if (!transmit_queue_full(error))
            return -1;
        if (!wait_for_room(socket_fd, error, deadline)) {
            fprintf(stderr, "CAN FD transmit queue of %s stayed full for %d ms; is another node acknowledging frames?\n",
                    interface_name.c_str(), queue_wait_ms);
            errno = error;
            return -1;
        }
    }
}

#endif
