// The product's CAN FD opener: SocketCAN. It sits alone in its translation
// unit so that a program which defines canfd_open_interface itself (the
// simulated program) links its own and never pulls this one in.

#ifdef __linux__

#include "comms/canfd/canfd_opener.h"
#include "comms/canfd/socketcan.h"

int canfd_open_interface(const char* interface_name)
{
    return socketcan_open(interface_name);
}

#endif
