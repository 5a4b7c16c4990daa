// Incoming CAN FD records as the link takes them: each record arrives on the
// descriptor the CANFD transport reads (a socket pair standing in for a
// SocketCAN socket, one record per message, any length), and the exchange
// the first byte picks judges the frames it makes of them. The rest of the
// input is the records, each behind a length byte.

#include <cstddef>
#include <cstdint>

#include <sys/socket.h>
#include <unistd.h>

#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "fuzz_support.h"

namespace {

CommsManager* g_comms = nullptr;

// No CAN frame is one byte long: the read after the input's records fails,
// so every wait ends there instead of at its time-out.
const uint8_t kEndOfInput[1] = {0};

// Sends what fits the socket's queue; a record the queue cannot take ends the input.
void send_records(int fd, const uint8_t* data, size_t size)
{
    // An empty record reads as the other end going away, which SocketCAN never delivers.
    for (const std::vector<uint8_t>& record : fuzz_records(data, size)) {
        if (!record.empty() && send(fd, record.data(), record.size(), MSG_DONTWAIT) < 0)
            break;
    }
    send(fd, kEndOfInput, sizeof kEndOfInput, MSG_DONTWAIT);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    fuzz_quiet_standard_output();
    g_comms = new CommsManager();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int fds[2];
    if (size == 0 || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    fuzz_require(g_comms->getCANFD()->adoptSocket(fds[0], "fuzz0"), "the transport adopts a socket");
    send_records(fds[1], data + 1, size - 1);
    fuzz_link_exchange(g_comms, CAN_FD, data[0]);
    g_comms->getCANFD()->disconnect();
    close(fds[1]);
    return 0;
}
