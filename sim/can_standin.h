#pragma once

// The simulated unit as a node on a CAN FD bus. The CAN FD transport adopts
// one end of a socket pair that carries one SocketCAN frame record per
// message (72 bytes for a CAN FD frame, 16 for a classic one); this node sits
// on the other end, hands the host's frames to the unit (SimulatedUnit::receive)
// and sends back what the unit sends (takeOutbound), together with frames
// from other nodes on the bus.
//
// The simulated program presents the unit here instead of on USB when the
// environment variable EFIS_SIM_LINK is "canfd"; otherwise its CAN FD opener
// is the machine's own SocketCAN, as in the product.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "EFIS_shared/comms_types.h"

namespace sim {

struct Outbound;

class CanNode
{
public:
    static CanNode& instance();
    ~CanNode();

    // Detached, a quiet bus, the unit taking every frame as it comes.
    void reset();

    // A descriptor for the host's transport, connected to the unit through
    // this node; a link attached before is cut off. -1 when no socket pair
    // could be made.
    int attach();

    // Sensor frames from other nodes (classic CAN, 8 bytes) every period,
    // whenever attached; 0 stops them. Like SocketCAN, the node drops them
    // when the host's receive queue is full; the unit's own frames it never drops.
    void setBusTraffic(int period_ms);
    // One frame from another node, sent ahead of anything the unit sends
    // after this call (classic CAN when the payload fits 8 bytes).
    void sendFromOtherNode(const COMMS_MSG_t& frame);
    // The unit takes no frames off the bus for this long (-1: until
    // releaseHostFrames), so the host's transmit queue fills.
    void holdHostFrames(int duration_ms);
    void releaseHostFrames();

    // Frames from other nodes that reached the host's socket.
    int otherNodeFramesDelivered() const;

private:
    CanNode();
    void detach();
    // The unit's end of the link goes away, as when a vanished unit's
    // connector is pulled.
    void dropLink();
    void receiveLoop();
    void sendLoop();
    bool holding() const;
    bool takeHostFrame();
    bool sendToHost(const std::vector<uint8_t>& record);
    bool sendOtherNodeFrames();
    bool sensorFrameWins(const Outbound& item) const;
    void sendTrafficIfDue();
    int msUntilTraffic() const;

    mutable std::mutex mutex_;
    int node_fd_;
    std::atomic<bool> stop_;
    std::thread receiver_;
    std::thread sender_;
    std::deque<std::vector<uint8_t>> other_node_frames_;
    int traffic_period_ms_;
    std::chrono::steady_clock::time_point next_traffic_;
    uint32_t traffic_count_;
    std::chrono::steady_clock::time_point hold_until_;
    std::atomic<int> other_frames_delivered_;
};

inline CanNode& can_node()
{
    return CanNode::instance();
}

// The size of the host's transmit queue: a few frames, as SocketCAN's
// default queue of 10 frames is small.
const int kHostTransmitQueueBytes = 4096;

} // namespace sim
