// The two transports byte for byte: USB HID reports through the hidapi
// stand-in, CAN FD frame records on a socket pair whose other end the test
// holds. What both do alike runs once per transport; what only one does
// (opening a HID interface, checking a CAN interface, a full transmit queue)
// runs on that one.

#include <QtTest>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "can_records.h"
#include "comms/canfd/canfd.h"
#include "comms/canfd/socketcan.h"
#include "comms/usb_hid/usbhid.h"
#include "hidapi_standin.h"
#include "output_capture.h"

using namespace can_records;

Q_DECLARE_METATYPE(COMMS_MSG_t)

namespace {

// Generous: the other end of a socket pair answers at once.
const int kPeerWaitMs = 5000;
const int kShortQueueWaitMs = 50;
const int kTransmitQueueBytes = 4096;
// The reader on the other end of a full queue comes back this much later.
const std::chrono::milliseconds kLateReader(100);

// The next record on fd, as many bytes as it holds; empty when none came.
Bytes next_record(int fd)
{
    struct pollfd pfd = {fd, POLLIN, 0};
    Bytes buffer(256);
    const ssize_t got = poll(&pfd, 1, kPeerWaitMs) > 0 ? recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) : -1;
    buffer.resize(got > 0 ? size_t(got) : 0);
    return buffer;
}

// One transport with its far end in the test's hands: the simulated unit
// for USB, the other end of a socket pair for CAN FD.
struct Link {
    explicit Link(int transport) : usb(transport == Usb) {}
    ~Link() { close(peer); }
    bool open()
    {
        int fds[2];
        if (usb || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
            return usb && hid.connect(vendor_id, product_id);
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &kTransmitQueueBytes, sizeof kTransmitQueueBytes);
        peer = fds[1];
        return can.adoptSocket(fds[0], "can0");
    }
    int write(const COMMS_MSG_t& msg) { return usb ? hid.write(msg) : can.write(msg); }
    int write(const Bytes& body)
    {
        return usb ? hid.write(body.data(), body.size()) : can.write(body.data(), body.size());
    }
    int read(COMMS_MSG_t* msg) { return usb ? hid.read(msg) : can.read(msg); }
    Bytes sent() { return usb ? sim::unit().receivedReports().back() : next_record(peer); }
    void arrive(const Bytes& wire)
    {
        usb ? sim::unit().queueRawReport(wire) : void(send(peer, wire.data(), wire.size(), 0));
    }

    bool usb;
    USBHID hid;
    CANFD can;
    int peer = -1;
};

} // namespace

class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim::unit().reset(); }

    void lengthCodes()
    {
        const int bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
        for (int code = 0; code <= 16; code++)
            QCOMPARE(int(dlc_code_to_bytes(CAN_MSG_LEN_t(code))), code < 16 ? bytes[code] : 0);
        // The smallest code that holds the bytes; 64 bytes beyond.
        for (int n = 0; n <= 255; n++) {
            const int code = bytes_to_dlc_code(uint8_t(n));
            QVERIFY2(n > 64 ? code == 15 : bytes[code] >= n && (code == 0 || bytes[code - 1] < n),
                     qPrintable(QString::number(n)));
        }
    }

    // Each frame goes once as a frame and once as a body laid out as on USB
    // (can_ID, length code, payload), and travels the same both times.
    void outgoingFrame_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<uint32_t>("canId");
        QTest::addColumn<int>("code");
        QTest::addColumn<Bytes>("payload");
        QTest::addColumn<Bytes>("wire");
        transport_row(Usb, "settings read")
            << 0x370u << 2 << Bytes{0xCC, 0x07} << Bytes{0x05, 0x70, 0x03, 0x00, 0x00, 0x02, 0xCC, 0x07};
        transport_row(Usb, "code 15 makes a 70-byte report")
            << 0x420u << 15 << payload_of(64) << Bytes{0x05, 0x20, 0x04, 0x00, 0x00, 0x0F} + payload_of(64);
        transport_row(Usb, "all 32 identifier bits")
            << 0x12345678u << 1 << Bytes{0xAB} << Bytes{0x05, 0x78, 0x56, 0x34, 0x12, 0x01, 0xAB};
        transport_row(CanFd, "identity request")
            << 0x010u << 2 << Bytes{0xEF, 0x15} << fd_record(0x010, 2, kBitRateSwitch, {0xEF, 0x15});
        transport_row(CanFd, "code 9 sends 12 bytes")
            << 0x420u << 9 << payload_of(12) << sent_record(0x420, payload_of(12));
        transport_row(CanFd, "code 15 sends 64 bytes")
            << 0x420u << 15 << payload_of(64) << sent_record(0x420, payload_of(64));
        transport_row(CanFd, "payload beyond the code stays home")
            << 0x390u << 5 << payload_of(8) << sent_record(0x390, payload_of(5));
        transport_row(CanFd, "identifier masked to 11 bits")
            << 0x12345F10u << 1 << Bytes{0xAB} << sent_record(0x710, {0xAB});
    }

    void outgoingFrame()
    {
        QFETCH(int, transport);
        QFETCH(uint32_t, canId);
        QFETCH(int, code);
        QFETCH(Bytes, payload);
        QFETCH(Bytes, wire);
        Link link(transport);
        QVERIFY(link.open());
        QCOMPARE(link.write(frame_with(canId, code, payload, transport == Usb ? CAN_FD : USB_HID)),
                 int(wire.size())); // iface never sent
        QCOMPARE(link.sent(), wire);
        payload.resize(dlc_code_to_bytes(CAN_MSG_LEN_t(code)));
        QCOMPARE(link.write(Bytes{uint8_t(canId), uint8_t(canId >> 8), uint8_t(canId >> 16), uint8_t(canId >> 24),
                                  uint8_t(code)}
                            + payload),
                 int(wire.size()));
        QCOMPARE(link.sent(), wire);
        errno = 0;
        if (transport == CanFd) // a body too short for a frame
            QCOMPARE(QList<int>({link.write(Bytes{0x10, 0, 0, 0}), errno}), QList<int>({-1, EINVAL}));
    }

    void incomingFrame_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<Bytes>("wire");
        QTest::addColumn<int>("result"); // a negative result is the expected errno
        QTest::addColumn<COMMS_MSG_t>("frame");
        const COMMS_MSG_t none = {};
        const Bytes reply{0x57, 0x04, 0x02, 0xAE, 0, 0, 3, 1};
        transport_row(Usb, "code 6 with 8 bytes copies 6") << Bytes{0x05, 0x00, 0x80, 0x03, 0x00, 0x00, 0x06}
                + reply << 15 << frame_with(0x380, 6, {0x57, 0x04, 0x02, 0xAE, 0, 0});
        transport_row(Usb, "iface byte comes in") << Bytes{0x05, 0x01, 0xE0, 0x00, 0x00, 0x00, 0x04} + reply << 15
                                                  << frame_with(0xE0, 4, {0x57, 4, 2, 0xAE}, CAN_FD);
        transport_row(Usb, "code 15 with 63 bytes copies 63") << Bytes{0x05, 0x00, 0x20, 0x04, 0x00, 0x00, 0x0F}
                + payload_of(63) << 70 << frame_with(0x420, 15, payload_of(63));
        transport_row(Usb, "6 bytes are too short") << Bytes{0x05, 0x00, 0x10, 0x00, 0x00, 0x00} << -EBADMSG << none;
        transport_row(CanFd, "identity reply")
            << sent_record(0x010, reply) << 72 << frame_with(0x010, 8, reply, CAN_FD);
        transport_row(CanFd, "12 bytes") << fd_record(0x0F0, 12, 0, payload_of(12)) << 72
                                         << frame_with(0x0F0, 9, payload_of(12), CAN_FD);
        transport_row(CanFd, "claiming 100 bytes keeps 64")
            << fd_record(0x420, 100, 0, payload_of(64)) << 72 << frame_with(0x420, 15, payload_of(64), CAN_FD);
        transport_row(CanFd, "classic frame of 3 bytes")
            << fd_record(0x0E0, 3, 0, reply, kClassicRecordBytes) << 16 << frame_with(0x0E0, 3, {0x57, 4, 2}, CAN_FD);
        transport_row(CanFd, "classic claiming 12 bytes keeps 8")
            << fd_record(0x2B0, 12, 0, payload_of(8), kClassicRecordBytes) << 16
            << frame_with(0x2B0, 8, payload_of(8), CAN_FD);
        transport_row(CanFd, "between the two sizes is no frame") << Bytes(40, 0x5A) << -EPROTO << none;
        transport_row(CanFd, "larger than a CAN FD record is no frame") << Bytes(100, 0x5A) << -EPROTO << none;
    }

    void incomingFrame()
    {
        QFETCH(int, transport);
        QFETCH(Bytes, wire);
        QFETCH(int, result);
        QFETCH(COMMS_MSG_t, frame);
        Link link(transport);
        QVERIFY(link.open());
        // A full frame read just before leaves its bytes where the next is
        // read: none of them may show in a shorter one.
        const Bytes full = transport == Usb ? Bytes{0x05, 0x01, 0xE0, 0, 0, 0, 0x0F} + Bytes(64, 0x5A)
                                            : sent_record(0x0E0, Bytes(64, 0x5A));
        for (const Bytes& arriving : {full, wire, full})
            link.arrive(arriving);
        COMMS_MSG_t msg;
        QCOMPARE(link.read(&msg), int(full.size()));
        memset(&msg, 0xEE, sizeof msg);
        errno = 0;
        QCOMPARE(link.read(&msg), result < 0 ? -1 : result);
        if (result > 0)
            QVERIFY(memcmp(&msg, &frame, sizeof msg) == 0);
        else
            QCOMPARE(errno, -result);
        QCOMPARE(link.read(&msg), int(full.size())); // what is no frame is consumed; the frame behind it reads as usual
    }

    // Not connected every call fails; connected, nothing arriving reads as
    // nothing; once the far end is gone, reads and writes fail.
    void linkLifetime_data()
    {
        QTest::addColumn<int>("transport");
        transport_row(Usb, "");
        transport_row(CanFd, "");
    }
    void linkLifetime()
    {
        QFETCH(int, transport);
        Link link(transport);
        COMMS_MSG_t msg = sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1});
        errno = 0;
        QCOMPARE(QList<int>({link.write(msg), link.write(Bytes{0x37, 0x03, 0, 0, 0}), link.read(&msg)}),
                 QList<int>({-1, -1, -1}));
        QCOMPARE(errno, transport == Usb ? 0 : ENOTCONN);
        QVERIFY(link.open());
        QCOMPARE(link.read(&msg), 0);
        QCOMPARE(link.read(nullptr), -1);

        sim::FaultRule vanish;
        vanish.kind = sim::FAULT_VANISH;
        sim::unit().addFault(vanish);
        if (transport == Usb) {
            QVERIFY(link.write(msg) > 0); // the unit takes this one, then goes
        } else {
            link.arrive(fd_record(0x0F0, 6, 0, {0xAA, 0, 0, 0, 0, 1}));
            close(std::exchange(link.peer, -1));
            QCOMPARE(link.read(&msg), int(kFdRecordBytes)); // what came before it went is not lost
        }
        QCOMPARE(link.read(&msg), -1);
        const int readError = errno;
        QVERIFY(link.write(msg) < 0);
        if (transport == CanFd)
            QCOMPARE(QList<int>({readError, errno}), QList<int>({ECONNRESET, EPIPE}));
    }

    // Reconnecting, disconnecting and destruction each give back what the
    // transport held: the HID handle and the library, or the CAN socket.
    void releasesWhatItHolds()
    {
        {
            USBHID usb;
            QVERIFY(usb.connect(vendor_id, product_id) && usb.connect(vendor_id, product_id));
            QCOMPARE(sim::open_hid_devices(), 1);
            usb.disconnect();
            QCOMPARE(sim::open_hid_devices(), 0);
            QVERIFY(usb.connect(vendor_id, product_id));
        }
        QCOMPARE(QList<int>({sim::open_hid_devices(), sim::hid_library_users()}), QList<int>({0, 0}));
        int fds[6];
        for (int i = 0; i < 6; i += 2)
            QCOMPARE(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds + i), 0);
        const auto closed = [](int fd) { return fcntl(fd, F_GETFD) == -1; };
        {
            CANFD can;
            QVERIFY(can.adoptSocket(fds[0], "can0") && can.adoptSocket(fds[2], "can0"));
            QVERIFY(closed(fds[0]) && !closed(fds[2]));
            can.disconnect();
            QVERIFY(closed(fds[2]));
            QVERIFY(can.adoptSocket(fds[4], "can0"));
        }
        QVERIFY(closed(fds[4]));
        for (int i = 1; i < 6; i += 2)
            close(fds[i]);
    }

    // Only the unit's vendor interface carries frames; a unit that is there
    // but cannot be opened says why.
    void usbConnect_data()
    {
        QTest::addColumn<int>("fault"); // 0: none, 1: no vendor interface, 3: cannot be opened
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("vendor interface") << 0 << QStringList();
        QTest::newRow("no vendor interface") << 1 << QStringList();
        QTest::newRow("cannot be opened")
            << 3
            << QStringList{"USB HID device 0x16D0:0x14C7 is present but could not be opened; on Linux, "
                           "install packaging/70-corvane-efis.rules to grant access to its hidraw node"};
    }

    void usbConnect()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, lines);
        sim::unit().setVendorInterfacePresent(fault != 1);
        sim::unit().setPresent(fault != 2);
        sim::unit().setOpenFails(fault == 3);
        USBHID usb;
        OutputCapture out;
        QCOMPARE(usb.connect(vendor_id, product_id), fault == 0);
        QCOMPARE(out.lines(), lines);
        QCOMPARE(sim::open_hid_devices(), fault == 0 ? 1 : 0);
        usb.write(sim::make_frame(0x010, CAN_2_BYTES, {0xEF, 0x15}));
        QCOMPARE(sim::unit().receivedFrames().size(), size_t(fault == 0 ? 1 : 0));
    }

    void fullTransmitQueue()
    {
        Link link(CanFd);
        QVERIFY(link.open());
        int queued = 0;
        OutputCapture err(stderr);
        while (link.can.write(frame_with(0x420, 1, {uint8_t(queued)}), 0) > 0)
            queued++;
        QVERIFY(queued > 0);

        // Nobody takes frames off the other end: a write waits its bound out
        // and fails rather than blocking.
        errno = 0;
        QCOMPARE(link.can.write(frame_with(0x420, 1, {0xFF}), kShortQueueWaitMs), -1);
        QCOMPARE(errno, EAGAIN);
        QCOMPARE(
            err.lines().mid(1),
            QStringList{"CAN FD transmit queue of can0 stayed full for 50 ms; is another node acknowledging frames?"});

        // A reader that comes back a little later: the next write waits for
        // room instead of failing, and every frame reported as sent arrives
        // in order, the refused one never.
        std::vector<Bytes> arrived;
        std::thread reader([&] {
            std::this_thread::sleep_for(kLateReader);
            for (int i = 0; i <= queued; i++)
                arrived.push_back(next_record(link.peer));
        });
        const int written = link.can.write(frame_with(0x420, 1, {uint8_t(queued)}));
        reader.join();
        QCOMPARE(written, int(kFdRecordBytes));
        for (int i = 0; i <= queued; i++)
            QCOMPARE(arrived[size_t(i)], sent_record(0x420, {uint8_t(i)}));
    }

    void interfaceChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("line");
        QTest::newRow("missing") << "efisnone0" << int(SOCKETCAN_NO_SUCH_INTERFACE)
                                 << "CAN FD interface efisnone0 does not exist";
        QTest::newRow("loopback is no CAN") << "lo" << int(SOCKETCAN_NOT_CANFD)
                                            << "CAN FD interface lo is not CAN FD capable (MTU 65536, CAN FD needs 72)";
    }

    // The interface queries answer on any socket, so they run here even
    // where the kernel has no CAN support.
    void interfaceChecks()
    {
        QFETCH(QString, name);
        QFETCH(int, verdict);
        QFETCH(QString, line);
        const int query_fd = socket(AF_INET, SOCK_DGRAM, 0);
        OutputCapture err(stderr);
        QCOMPARE(int(socketcan_check_interface(query_fd, name.toLatin1().constData(), nullptr)), verdict);
        close(query_fd);
        QCOMPARE(err.lines(), QStringList{line});
    }
};

QTEST_APPLESS_MAIN(TestTransport)
#include "tst_transport.moc"
