// The CAN FD transport record by record: the test holds the other end of the
// descriptor the transport adopts and reads and writes SocketCAN frame
// records on it, laid out here byte by byte. Also the interface checks that
// decide whether an interface can carry the link.

#include <QtTest>

#include <cerrno>
#include <vector>

#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "comms/canfd/canfd.h"
#include "comms/canfd/socketcan.h"
#include "can_records.h"
#include "output_capture.h"
#include "simulated_unit.h"

#include "frame_bytes.h"

using namespace can_records;

namespace {

// Generous: the other end of a socket pair answers at once.
const int kPeerWaitMs = 5000;
const int kShortQueueWaitMs = 50;

// The next record on fd, as many bytes as it holds; empty when none came.
Bytes next_record(int fd)
{
    struct pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, kPeerWaitMs) <= 0)
        return Bytes();
    Bytes buffer(256);
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buffer;
}

bool peer_sees_end(int fd)
{
    struct pollfd pfd = {fd, POLLIN, 0};
    char byte;
    return poll(&pfd, 1, kPeerWaitMs) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// The name of an interface on this machine that is down, or empty.
QString interface_that_is_down()
{
    const int query_fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct if_nameindex* names = if_nameindex();
    QString found;
    for (struct if_nameindex* entry = names; entry != nullptr && entry->if_index != 0 && found.isEmpty(); entry++) {
        struct ifreq ifr;
        memset(&ifr, 0, sizeof ifr);
        strncpy(ifr.ifr_name, entry->if_name, IFNAMSIZ - 1);
        if (ioctl(query_fd, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags & IFF_UP) == 0)
            found = QString::fromLatin1(entry->if_name);
    }
    if_freenameindex(names);
    close(query_fd);
    return found;
}

} // namespace

class TestCanfdTransport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outgoingFrame_data();
    void outgoingFrame();
    void rawBodyLaidOutAsOnUsb();

    void incomingRecord_data();
    void incomingRecord();
    void recordThatIsNoFrame_data();
    void recordThatIsNoFrame();
    void nothingArrivingReadsZero();

    void peerGoneFailsReadsAndWrites();
    void fullTransmitQueueGivesUpAfterItsBound();

    void notConnectedFailsEveryCall();
    void disconnectAndDestructionClose();

    void interfaceChecks_data();
    void interfaceChecks();
    void interfaceThatIsDown();

private:
    CANFD* canfd = nullptr;
    int peer = -1;
};

void TestCanfdTransport::init()
{
    int fds[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    const int queue_bytes = 4096;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &queue_bytes, sizeof queue_bytes);
    canfd = new CANFD();
    QVERIFY(canfd->adoptSocket(fds[0], "can0"));
    peer = fds[1];
}

void TestCanfdTransport::cleanup()
{
    delete canfd;
    canfd = nullptr;
    close(peer);
    peer = -1;
}

void TestCanfdTransport::outgoingFrame_data()
{
    QTest::addColumn<uint32_t>("canId");
    QTest::addColumn<int>("code");
    QTest::addColumn<Bytes>("payload");
    QTest::addColumn<Bytes>("record");

    QTest::newRow("identity request")
        << 0x010u << 2 << Bytes{0xEF, 0x15} << fd_record(0x010, 2, kBitRateSwitch, {0xEF, 0x15});
    QTest::newRow("no payload") << 0x730u << 0 << Bytes{} << fd_record(0x730, 0, kBitRateSwitch, {});
    QTest::newRow("code 9 sends 12 bytes")
        << 0x420u << 9 << payload_of(12) << fd_record(0x420, 12, kBitRateSwitch, payload_of(12));
    QTest::newRow("code 15 sends 64 bytes")
        << 0x420u << 15 << payload_of(64) << fd_record(0x420, 64, kBitRateSwitch, payload_of(64));
    QTest::newRow("payload beyond the code stays home")
        << 0x390u << 5 << payload_of(8) << fd_record(0x390, 5, kBitRateSwitch, payload_of(5));
    QTest::newRow("identifier masked to 11 bits")
        << 0x12345F10u << 1 << Bytes{0xAB} << fd_record(0x710, 1, kBitRateSwitch, {0xAB});
    QTest::newRow("code above 15 carries nothing")
        << 0x100u << 16 << payload_of(4) << fd_record(0x100, 0, kBitRateSwitch, {});
}

void TestCanfdTransport::outgoingFrame()
{
    QFETCH(uint32_t, canId);
    QFETCH(int, code);
    QFETCH(Bytes, payload);
    QFETCH(Bytes, record);

    COMMS_MSG_t msg = frame_with(canId, static_cast<uint8_t>(code), payload);
    msg.iface = USB_HID; // never sent
    QCOMPARE(canfd->write(msg), int(kFdRecordBytes));
    QCOMPARE(next_record(peer), record);
}

void TestCanfdTransport::rawBodyLaidOutAsOnUsb()
{
    const uint8_t body[] = {0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15};
    QCOMPARE(canfd->write(body, sizeof body), int(kFdRecordBytes));
    QCOMPARE(next_record(peer), fd_record(0x010, 2, kBitRateSwitch, {0xEF, 0x15}));

    const uint8_t too_short[] = {0x10, 0x00, 0x00, 0x00};
    errno = 0;
    QCOMPARE(canfd->write(too_short, sizeof too_short), -1);
    QCOMPARE(errno, EINVAL);
}

void TestCanfdTransport::incomingRecord_data()
{
    QTest::addColumn<Bytes>("record");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint32_t>("canId");
    QTest::addColumn<int>("code");
    QTest::addColumn<Bytes>("data");

    QTest::newRow("identity reply")
        << fd_record(0x010, 8, kBitRateSwitch, {0x57, 0x04, 0x02, 0xAE, 0x00, 0x00, 0x03, 0x01}) << 72 << 0x010u << 8
        << Bytes{0x57, 0x04, 0x02, 0xAE, 0x00, 0x00, 0x03, 0x01};
    QTest::newRow("64 bytes") << fd_record(0x0F0, 64, 0, payload_of(64)) << 72 << 0x0F0u << 15 << payload_of(64);
    QTest::newRow("12 bytes") << fd_record(0x0F0, 12, 0, payload_of(12)) << 72 << 0x0F0u << 9 << payload_of(12);
    QTest::newRow("classic frame of another node")
        << classic_record(0x210, 8, payload_of(8)) << 16 << 0x210u << 8 << payload_of(8);
    QTest::newRow("classic frame of 3 bytes")
        << classic_record(0x0E0, 3, {0x00, 0x90, 0x03}) << 16 << 0x0E0u << 3 << Bytes{0x00, 0x90, 0x03};
    QTest::newRow("classic record claiming 12 bytes keeps 8")
        << classic_record(0x2B0, 12, payload_of(8)) << 16 << 0x2B0u << 8 << payload_of(8);
    QTest::newRow("FD record claiming 100 bytes keeps 64")
        << fd_record(0x420, 100, 0, payload_of(64)) << 72 << 0x420u << 15 << payload_of(64);
}

void TestCanfdTransport::incomingRecord()
{
    QFETCH(Bytes, record);
    QFETCH(int, result);
    QFETCH(uint32_t, canId);
    QFETCH(int, code);
    QFETCH(Bytes, data);

    QCOMPARE(send(peer, record.data(), record.size(), 0), ssize_t(record.size()));
    COMMS_MSG_t msg;
    memset(&msg, 0xEE, sizeof msg);
    QCOMPARE(canfd->read(&msg), result);
    QCOMPARE(int(msg.iface), int(CAN_FD));
    QCOMPARE(msg.can_ID, canId);
    QCOMPARE(int(msg.msg_len), code);
    Bytes expected(sizeof msg.data, 0);
    std::copy(data.begin(), data.end(), expected.begin());
    QCOMPARE(Bytes(msg.data, msg.data + sizeof msg.data), expected);
    QCOMPARE(int(msg.padding[0]) + int(msg.padding[1]), 0);
}

void TestCanfdTransport::recordThatIsNoFrame_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("3 bytes") << 3;
    QTest::newRow("between the two sizes") << 40;
    QTest::newRow("larger than a CAN FD frame") << 100;
}

void TestCanfdTransport::recordThatIsNoFrame()
{
    QFETCH(int, size);
    const Bytes garbage(static_cast<size_t>(size), 0x5A);
    const Bytes frame = fd_record(0x0E0, 4, 0, {0x00, 0x90, 0x03, 0x01});
    send(peer, garbage.data(), garbage.size(), 0);
    send(peer, frame.data(), frame.size(), 0);

    COMMS_MSG_t msg;
    errno = 0;
    QCOMPARE(canfd->read(&msg), -1);
    QCOMPARE(errno, EPROTO);
    // The record is consumed; the frame behind it reads as usual.
    QCOMPARE(canfd->read(&msg), int(kFdRecordBytes));
    QCOMPARE(msg.can_ID, 0x0E0u);
}

void TestCanfdTransport::nothingArrivingReadsZero()
{
    COMMS_MSG_t msg;
    QCOMPARE(canfd->read(&msg, kShortQueueWaitMs), 0);
    QCOMPARE(canfd->read(&msg), 0);
    QVERIFY(canfd->isConnected());
}

void TestCanfdTransport::peerGoneFailsReadsAndWrites()
{
    const Bytes last = fd_record(0x0F0, 6, 0, {0xAA, 0, 0, 0, 0, 1});
    send(peer, last.data(), last.size(), 0);
    close(peer);
    peer = -1;

    COMMS_MSG_t msg;
    QCOMPARE(canfd->read(&msg), int(kFdRecordBytes)); // what was sent before it went is not lost
    errno = 0;
    QCOMPARE(canfd->read(&msg), -1);
    QCOMPARE(errno, ECONNRESET);
    errno = 0;
    QCOMPARE(canfd->write(sim::make_frame(0x420, CAN_8_BYTES)), -1);
    QCOMPARE(errno, EPIPE);
}

void TestCanfdTransport::fullTransmitQueueGivesUpAfterItsBound()
{
    // Nobody takes frames off the other end: the queue fills, and a write
    // waits its bound out and fails rather than blocking.
    int sent = 0;
    {
        OutputCapture err(stderr);
        while (canfd->write(frame_with(0x420, 1, {uint8_t(sent)}), 0) > 0)
            sent++;
    }
    QVERIFY(sent > 0);

    OutputCapture err(stderr);
    errno = 0;
    QCOMPARE(canfd->write(frame_with(0x420, 1, {0xFF}), kShortQueueWaitMs), -1);
    QCOMPARE(errno, EAGAIN);
    QCOMPARE(err.lines(),
             QStringList{"CAN FD transmit queue of can0 stayed full for 50 ms; is another node acknowledging frames?"});
    QVERIFY(canfd->isConnected());

    // Every frame the transport reported as sent arrives, in order; the
    // refused one does not.
    for (int i = 0; i < sent; i++)
        QCOMPARE(next_record(peer), fd_record(0x420, 1, kBitRateSwitch, {uint8_t(i)}));
    struct pollfd pfd = {peer, POLLIN, 0};
    QCOMPARE(poll(&pfd, 1, 0), 0);
    QCOMPARE(canfd->write(frame_with(0x420, 1, {0x01})), int(kFdRecordBytes));
}

void TestCanfdTransport::notConnectedFailsEveryCall()
{
    CANFD closed;
    COMMS_MSG_t msg = sim::make_frame(0x010, CAN_2_BYTES, {0xEF, 0x15});
    const uint8_t body[] = {0x10, 0, 0, 0, 0};
    QVERIFY(!closed.isConnected());
    errno = 0;
    QCOMPARE(closed.write(msg), -1);
    QCOMPARE(errno, ENOTCONN);
    QCOMPARE(closed.write(body, sizeof body), -1);
    errno = 0;
    QCOMPARE(closed.read(&msg), -1);
    QCOMPARE(errno, ENOTCONN);
    QVERIFY(!closed.adoptSocket(-1, "can0"));
    QVERIFY(!closed.isConnected());
    errno = 0;
    QCOMPARE(canfd->read(nullptr), -1);
    QCOMPARE(errno, EINVAL);
}

void TestCanfdTransport::disconnectAndDestructionClose()
{
    canfd->disconnect();
    QVERIFY(!canfd->isConnected());
    QVERIFY(peer_sees_end(peer));
    COMMS_MSG_t msg;
    QCOMPARE(canfd->read(&msg), -1);

    // Adopting a second descriptor closes the first; destruction closes the second.
    int first[2];
    int second[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, first), 0);
    QCOMPARE(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, second), 0);
    {
        CANFD other;
        QVERIFY(other.adoptSocket(first[0], "can0"));
        QVERIFY(other.adoptSocket(second[0], "can0"));
        QVERIFY(peer_sees_end(first[1]));
        QVERIFY(other.isConnected());
    }
    QVERIFY(peer_sees_end(second[1]));
    close(first[1]);
    close(second[1]);
}

void TestCanfdTransport::interfaceChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("line");

    QTest::newRow("missing") << "efisnone0" << int(SOCKETCAN_NO_SUCH_INTERFACE)
                             << "CAN FD interface efisnone0 does not exist";
    QTest::newRow("name too long for any interface")
        << "efis-no-such-interface" << int(SOCKETCAN_NO_SUCH_INTERFACE)
        << "CAN FD interface efis-no-such-interface does not exist";
    QTest::newRow("loopback is no CAN") << "lo" << int(SOCKETCAN_NOT_CANFD)
                                        << "CAN FD interface lo is not CAN FD capable (MTU 65536, CAN FD needs 72)";
}

void TestCanfdTransport::interfaceChecks()
{
    QFETCH(QString, name);
    QFETCH(int, verdict);
    QFETCH(QString, line);

    // The interface queries answer on any socket, so they run here even
    // where the kernel has no CAN support.
    const int query_fd = socket(AF_INET, SOCK_DGRAM, 0);
    int ifindex = -7;
    OutputCapture err(stderr);
    QCOMPARE(int(socketcan_check_interface(query_fd, name.toLatin1().constData(), &ifindex)), verdict);
    close(query_fd);
    QCOMPARE(err.lines(), QStringList{line});
    QCOMPARE(ifindex, -7);
}

void TestCanfdTransport::interfaceThatIsDown()
{
    const QString name = interface_that_is_down();
    if (name.isEmpty())
        QSKIP("every interface of this machine is up");
    const int query_fd = socket(AF_INET, SOCK_DGRAM, 0);
    OutputCapture err(stderr);
    QCOMPARE(socketcan_check_interface(query_fd, name.toLatin1().constData(), nullptr), SOCKETCAN_INTERFACE_DOWN);
    close(query_fd);
    QCOMPARE(err.lines(), QStringList{QString("CAN FD interface %1 is down; bring it up with the bus's bit rates and "
                                              "fd on, e.g. ip link set %1 up type can bitrate 500000 dbitrate "
                                              "2000000 fd on")
                                          .arg(name)});
}

QTEST_APPLESS_MAIN(TestCanfdTransport)
#include "tst_canfd_transport.moc"
