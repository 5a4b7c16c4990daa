#pragma once

// The one kernel-specific step of the CAN FD transport: opening the socket.
//
// The product links the SocketCAN opener (canfd_opener.cpp); the simulated
// program links its own, which can hand back a descriptor connected to the
// simulated unit instead. Everything after the open is the same code.

#ifdef __linux__

// A raw CAN socket bound to the named interface with CAN FD frames enabled,
// or -1 after a line on standard error saying why the interface cannot be used.
int canfd_open_interface(const char* interface_name);

#endif
