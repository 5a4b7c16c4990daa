#pragma once

// The CAN FD transport. It keeps the shape of a socket transport bound to a
// named network interface; until the bus is supported it never connects.

#include <cstddef>
#include <cstdint>
#include <string>

#include "EFIS_shared/comms_types.h"

class CANFD
{
public:
    CANFD();
    ~CANFD();
    CANFD(const CANFD&) = delete;
    CANFD& operator=(const CANFD&) = delete;

    bool connect(const std::string& interface_name);
    void disconnect();
    bool isConnected() const;

    int read(COMMS_MSG_t* msg);
    int write(const uint8_t* bytes, size_t length);
    int write(const COMMS_MSG_t& msg);

private:
    int socket_fd;
    bool connected;
    std::string interface_name;
};
