#pragma once

// Opening a SocketCAN raw socket for CAN FD, in can-utils' order: the socket,
// the interface (present, up, CAN FD MTU), CAN FD frames on, then bind.

#ifdef __linux__

#include <cstdint>

// What the interface checks found.
typedef enum : uint8_t {
    SOCKETCAN_USABLE = 0,
    SOCKETCAN_NO_SUCH_INTERFACE = 1,
    SOCKETCAN_INTERFACE_DOWN = 2,
    SOCKETCAN_NOT_CANFD = 3, // up, but its MTU is not CANFD_MTU (classic CAN, or no CAN at all)
    SOCKETCAN_QUERY_FAILED = 4,
} socketcan_check_t;

// Asks the kernel, through any open socket, whether the named interface can
// carry CAN FD frames. When it cannot, a line on standard error says why;
// when it can, its index is stored through ifindex_out (when not null).
socketcan_check_t socketcan_check_interface(int query_fd, const char* interface_name, int* ifindex_out);

// A raw CAN socket bound to the interface with CAN FD frames enabled and only
// standard data frames let through, or -1 after a line on standard error.
int socketcan_open(const char* interface_name);

#endif
