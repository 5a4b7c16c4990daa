// The simulated unit's CAN FD node and the simulated program's CAN FD opener.

#ifdef __linux__

#include "can_standin.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <linux/can.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "EFIS_shared/can_export.h"
#include "comms/canfd/canfd_frame.h"
#include "comms/canfd/canfd_opener.h"
#include "comms/canfd/socketcan.h"
#include "simulated_unit.h"

namespace sim {

namespace {

typedef std::chrono::steady_clock Clock;

// How long either thread waits before it looks at its stop flag again.
const int kIdleSliceMs = 10;

// Sensor frames other nodes put on the bus, in turn.
const uint32_t kSensorIds[] = {CANMSG_ACC, CANMSG_GYRO, CANMSG_AHRS_DATA, CANMSG_AIRDATA_PITOT};

bool unit_on_canfd()
{
    const char* link = getenv("EFIS_SIM_LINK");
    return link != nullptr && strcmp(link, "canfd") == 0;
}

// A program asked to present the unit on CAN FD finds no unit on USB.
bool hide_usb_unit_when_on_canfd()
{
    if (unit_on_canfd())
        unit().setPresent(false);
    return unit_on_canfd();
}

// Runs once at start-up, before the program looks for the unit on USB.
const bool g_usb_unit_hidden = hide_usb_unit_when_on_canfd();

std::vector<uint8_t> record_bytes(const void* record, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(bytes, bytes + size);
}

// What the unit sends travels as a CAN FD frame; a malformed report it was
// told to send travels as a record of that report's bytes, which is no frame.
std::vector<uint8_t> unit_record(const Outbound& item)
{
    if (!item.raw.empty())
        return item.raw;
    const struct canfd_frame record = canfd_frame_from_msg(item.frame);
    return record_bytes(&record, sizeof record);
}

std::vector<uint8_t> other_node_record(const COMMS_MSG_t& frame)
{
    const size_t length = dlc_code_to_bytes(frame.msg_len);
    if (length > CAN_MAX_DLEN) {
        const struct canfd_frame record = canfd_frame_from_msg(frame);
        return record_bytes(&record, sizeof record);
    }
    struct can_frame record;
    memset(&record, 0, sizeof record);
    record.can_id = frame.can_ID & CAN_SFF_MASK;
    record.len = static_cast<uint8_t>(length);
    memcpy(record.data, frame.data, length);
    return record_bytes(&record, sizeof record);
}

uint32_t sensor_id(uint32_t count)
{
    return kSensorIds[count % (sizeof kSensorIds / sizeof kSensorIds[0])];
}

COMMS_MSG_t sensor_frame(uint32_t count)
{
    COMMS_MSG_t frame = make_frame(sensor_id(count), CAN_8_BYTES);
    put_u32_le(&frame.data[0], count);
    put_u32_le(&frame.data[4], ~count);
    return frame;
}

} // namespace

CanNode& CanNode::instance()
{
    static CanNode node;
    return node;
}

CanNode::CanNode()
    : node_fd_(-1), stop_(true), traffic_period_ms_(0), traffic_count_(0), hold_until_(Clock::time_point::min()),
      other_frames_delivered_(0)
{
    // The unit is made first, so it outlives the node's threads at exit.
    unit();
}

CanNode::~CanNode()
{
    detach();
}

void CanNode::reset()
{
    detach();
    std::lock_guard<std::mutex> lock(mutex_);
    other_node_frames_.clear();
    traffic_period_ms_ = 0;
    traffic_count_ = 0;
    hold_until_ = Clock::time_point::min();
    other_frames_delivered_ = 0;
}

int CanNode::attach()
{
    detach();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return -1;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &kHostTransmitQueueBytes, sizeof kHostTransmitQueueBytes);
    node_fd_ = fds[1];
    stop_ = false;
    receiver_ = std::thread(&CanNode::receiveLoop, this);
    sender_ = std::thread(&CanNode::sendLoop, this);
    return fds[0];
}

void CanNode::detach()
{
    stop_ = true;
    if (receiver_.joinable())
        receiver_.join();
    if (sender_.joinable())
        sender_.join();
    if (node_fd_ >= 0)
        close(node_fd_);
    node_fd_ = -1;
}

void CanNode::setBusTraffic(int period_ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    traffic_period_ms_ = period_ms;
    next_traffic_ = Clock::now() + std::chrono::milliseconds(period_ms);
}

void CanNode::sendFromOtherNode(const COMMS_MSG_t& frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    other_node_frames_.push_back(other_node_record(frame));
}

void CanNode::holdHostFrames(int duration_ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hold_until_ = duration_ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(duration_ms);
}

void CanNode::releaseHostFrames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    hold_until_ = Clock::time_point::min();
}

void CanNode::dropLink()
{
    // Both ends see it at once: the host reads the end of the link and its
    // writes fail; the node's own threads stop.
    if (node_fd_ >= 0)
        shutdown(node_fd_, SHUT_RDWR);
}

int CanNode::otherNodeFramesDelivered() const
{
    return other_frames_delivered_;
}

bool CanNode::holding() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Clock::now() < hold_until_;
}

// ---- Host to unit --------------------------------------------------------------

void CanNode::receiveLoop()
{
    while (!stop_) {
        const bool hold = holding();
        struct pollfd pfd = {node_fd_, static_cast<short>(hold ? 0 : POLLIN), 0};
        if (poll(&pfd, 1, kIdleSliceMs) <= 0)
            continue;
        // A held node notices only that the host has gone.
        if (hold && (pfd.revents & POLLHUP) != 0)
            break;
        if (!hold && !takeHostFrame())
            break;
    }
    stop_ = true;
}

// False once the link is over: the host has gone, or the unit has vanished.
bool CanNode::takeHostFrame()
{
    struct canfd_frame record;
    ssize_t got;
    {
        // Checked again under the lock: once holdHostFrames returns, no
        // further frame leaves the host's queue.
        std::lock_guard<std::mutex> lock(mutex_);
        if (Clock::now() < hold_until_)
            return true;
        got = recv(node_fd_, &record, sizeof record, MSG_DONTWAIT);
    }
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0)
        return false;
    COMMS_MSG_t frame;
    // The unit ignores what is no frame.
    if (!msg_from_can_record(record, static_cast<size_t>(got), &frame))
        return true;
    wait_precisely_until(Clock::now() + unit().reportDelay());
    if (unit().receive(frame, record_bytes(&record, static_cast<size_t>(got))))
        return true;
    dropLink();
    return false;
}

// ---- Unit and other nodes to host ------------------------------------------------

void CanNode::sendLoop()
{
    while (!stop_) {
        if (!sendOtherNodeFrames())
            break;
        Outbound item;
        const int taken = unit().takeOutbound(&item, msUntilTraffic());
        if (taken < 0) {
            dropLink();
            break;
        }
        // Arbitration: a sensor frame that is due goes ahead of the unit's
        // next frame only when its identifier is lower, so the unit's frames
        // sent back to back (acknowledgements, 0x0E0 then 0x0F0) stay together.
        if (taken == 0 || sensorFrameWins(item))
            sendTrafficIfDue();
        if (taken > 0 && !sendToHost(unit_record(item)))
            break;
    }
    stop_ = true;
}

bool CanNode::sensorFrameWins(const Outbound& item) const
{
    if (!item.raw.empty())
        return true;
    std::lock_guard<std::mutex> lock(mutex_);
    return sensor_id(traffic_count_) < item.frame.can_ID;
}

// Waits for room as long as the node runs; false when the host has gone.
bool CanNode::sendToHost(const std::vector<uint8_t>& record)
{
    while (!stop_) {
        if (send(node_fd_, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        struct pollfd pfd = {node_fd_, POLLOUT, 0};
        poll(&pfd, 1, kIdleSliceMs);
    }
    return false;
}

bool CanNode::sendOtherNodeFrames()
{
    for (;;) {
        std::vector<uint8_t> record;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (other_node_frames_.empty())
                return true;
            record = other_node_frames_.front();
            other_node_frames_.pop_front();
        }
        if (!sendToHost(record))
            return false;
        other_frames_delivered_++;
    }
}

void CanNode::sendTrafficIfDue()
{
    std::vector<uint8_t> record;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        if (traffic_period_ms_ <= 0 || now < next_traffic_)
            return;
        next_traffic_ = now + std::chrono::milliseconds(traffic_period_ms_);
        record = other_node_record(sensor_frame(traffic_count_++));
    }
    if (send(node_fd_, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
        other_frames_delivered_++;
}

int CanNode::msUntilTraffic() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (traffic_period_ms_ <= 0)
        return kIdleSliceMs;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next_traffic_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kIdleSliceMs));
}

} // namespace sim

// The simulated program's opener: the simulated unit's node when asked for,
// the machine's own SocketCAN otherwise.
int canfd_open_interface(const char* interface_name)
{
    if (!sim::unit_on_canfd())
        return socketcan_open(interface_name);
    return sim::can_node().attach();
}

#endif
