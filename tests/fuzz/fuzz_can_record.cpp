// Incoming CAN FD records as the link takes them: each record arrives on the
// descriptor the CANFD transport reads (a socket pair standing in for a
// SocketCAN socket, one record per message, any length), and the exchange
// the first byte picks judges the frames it makes of them. The rest of the
// input is the records, each behind a length byte.

#include <sys/socket.h>
#include <unistd.h>

#include "comms/canfd/canfd.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CommsManager* comms = new CommsManager();
    int fds[2];
    if (size == 0 || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    fuzz_require(comms->getCANFD()->adoptSocket(fds[0], "fuzz0"), "the transport adopts a socket");
    // What fits the socket's queue; a record the queue cannot take ends the input.
    for (const std::vector<uint8_t>& record : fuzz_records(data + 1, size - 1)) {
        if (send(fds[1], record.data(), record.size(), MSG_DONTWAIT) < 0)
            break;
    }
    // No CAN frame is one byte long: the read after the input's records
    // fails, so every wait ends there instead of at its time-out.
    const uint8_t end_of_input = 0;
    send(fds[1], &end_of_input, 1, MSG_DONTWAIT);
    fuzz_link_exchange(comms, CAN_FD, data[0]);
    comms->getCANFD()->disconnect();
    close(fds[1]);
    return 0;
}
