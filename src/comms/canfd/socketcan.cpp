// SocketCAN: the raw CAN socket the CAN FD transport runs on.
//
// The reasons for refusing an interface go to standard error: standard
// output carries the connection sequence itself, line for line, and a user
// reading either sees why "can0" was passed over.

#ifdef __linux__

#include "comms/canfd/socketcan.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One interface query; false (errno set) when the kernel refused it.
bool query_interface(int query_fd, unsigned long request, const char* interface_name, struct ifreq* ifr)
{
    memset(ifr, 0, sizeof *ifr);
    strncpy(ifr->ifr_name, interface_name, IFNAMSIZ - 1);
    return ioctl(query_fd, request, ifr) == 0;
}

socketcan_check_t query_failed(const char* interface_name)
{
    if (errno == ENODEV) {
        fprintf(stderr, "CAN FD interface %s does not exist\n", interface_name);
        return SOCKETCAN_NO_SUCH_INTERFACE;
    }
    fprintf(stderr, "Cannot query CAN FD interface %s: %s\n", interface_name, strerror(errno));
    return SOCKETCAN_QUERY_FAILED;
}

// The unit's own frames are all standard data frames; extended identifiers
// and remote requests from other nodes never reach the link code. Error
// frames are not asked for (CAN_RAW_ERR_FILTER stays empty).
bool accept_standard_data_frames(int fd)
{
    struct can_filter filter;
    filter.can_id = 0;
    filter.can_mask = CAN_EFF_FLAG | CAN_RTR_FLAG;
    return setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter) == 0;
}

bool enable_fd_frames(int fd)
{
    const int on = 1;
    return setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof on) == 0;
}

bool bind_to(int fd, int ifindex)
{
    struct sockaddr_can addr;
    memset(&addr, 0, sizeof addr);
    addr.can_family = AF_CAN;
    addr.can_ifindex = ifindex;
    return bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
}

// Configures an open CAN socket for the link; false after a printed line.
bool configure_socket(int fd, const char* interface_name, int ifindex)
{
    if (!enable_fd_frames(fd)) {
        fprintf(stderr, "Cannot enable CAN FD frames on %s: %s\n", interface_name, strerror(errno));
        return false;
    }
    if (!accept_standard_data_frames(fd)) {
        fprintf(stderr, "Cannot set the receive filter on %s: %s\n", interface_name, strerror(errno));
        return false;
    }
    if (!bind_to(fd, ifindex)) {
        fprintf(stderr, "Cannot bind a CAN socket to %s: %s\n", interface_name, strerror(errno));
        return false;
    }
    return true;
}

int open_can_socket(const char* interface_name)
{
    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd >= 0)
        return fd;
    if (errno == EAFNOSUPPORT)
        fprintf(stderr, "SocketCAN is not available on this system, so CAN FD interface %s cannot be used\n",
                interface_name);
    else
        fprintf(stderr, "Cannot open a CAN socket for %s: %s\n", interface_name, strerror(errno));
    return -1;
}

} // namespace

socketcan_check_t socketcan_check_interface(int query_fd, const char* interface_name, int* ifindex_out)
{
    struct ifreq ifr;
    if (strlen(interface_name) >= IFNAMSIZ) {
        fprintf(stderr, "CAN FD interface %s does not exist\n", interface_name);
        return SOCKETCAN_NO_SUCH_INTERFACE;
    }
    if (!query_interface(query_fd, SIOCGIFINDEX, interface_name, &ifr))
        return query_failed(interface_name);
    const int ifindex = ifr.ifr_ifindex;

    if (!query_interface(query_fd, SIOCGIFFLAGS, interface_name, &ifr))
        return query_failed(interface_name);
    if ((ifr.ifr_flags & IFF_UP) == 0) {
        fprintf(stderr,
                "CAN FD interface %s is down; bring it up with the bus's bit rates and fd on, "
                "e.g. ip link set %s up type can bitrate 500000 dbitrate 2000000 fd on\n",
                interface_name, interface_name);
        return SOCKETCAN_INTERFACE_DOWN;
    }

    if (!query_interface(query_fd, SIOCGIFMTU, interface_name, &ifr))
        return query_failed(interface_name);
    if (ifr.ifr_mtu != static_cast<int>(CANFD_MTU)) {
        fprintf(stderr, "CAN FD interface %s is not CAN FD capable (MTU %d, CAN FD needs %d)\n", interface_name,
                ifr.ifr_mtu, static_cast<int>(CANFD_MTU));
        return SOCKETCAN_NOT_CANFD;
    }

    if (ifindex_out != nullptr)
        *ifindex_out = ifindex;
    return SOCKETCAN_USABLE;
}

int socketcan_open(const char* interface_name)
{
    const int fd = open_can_socket(interface_name);
    if (fd < 0)
        return -1;
    int ifindex = 0;
    if (socketcan_check_interface(fd, interface_name, &ifindex) != SOCKETCAN_USABLE
        || !configure_socket(fd, interface_name, ifindex)) {
        close(fd);
        return -1;
    }
    return fd;
}

#endif
