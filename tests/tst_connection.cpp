// Opening the link: USB HID first, CAN FD as the fallback, each proved by the
// identity request, with the exact lines a user sees on standard output.

#include <QtTest>

#include "comms/comms.h"
#include "hidapi_standin.h"
#include "output_capture.h"
#include "simulated_unit.h"

namespace {

const QString kCanFailed = "Failed to connect to CAN FD";
const QString kAllFailed = "Failed to connect via USB HID or CAN FD";
const QStringList kUsbStart = {"Attempting to connect to USB HID device 0x16D0:0x14C7",
                               "USB HID connected, verifying with serial number request..."};
const QString kCanFallback = "USB HID unavailable, attempting CAN FD interface: can0";

void add_fault(uint32_t request_id, sim::FaultKind kind, int param = 0)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = kind;
    rule.param = param;
    rule.times = -1;
    sim::unit().addFault(rule);
}

COMMS_MSG_t identity_reply(uint32_t can_id, CAN_MSG_LEN_t code, uint32_t serial)
{
    COMMS_MSG_t reply = sim::make_frame(can_id, code);
    put_u32_le(&reply.data[0], serial);
    return reply;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void identityRequest_data();
    void identityRequest();
    void identityReplyMatchedOnLow11BitsAndLength();
    void noUnitAtAll();
    void framesGoToTheOpenInterfaceOnly();
    void versionAtLeast();
    void deviceTypeIsTopByte();
};

void TestConnection::init()
{
    sim::unit().reset();
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestConnection::identityRequest_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<QString>("answerLine");
    const QString connected = "Successfully connected via USB HID! Serial number: 0xAE00ABCD, firmware 2.10.3 (rc 7)";
    const QString readError = "get_serialnumber: Error reading response from device (";
    QTest::newRow("answered") << -1 << 0 << connected;
    QTest::newRow("other frames first") << int(sim::FAULT_NOISE_BEFORE) << 5 << connected;
    QTest::newRow("garbage report first") << int(sim::FAULT_GARBAGE_REPORT) << 40 << connected;
    QTest::newRow("never answers") << int(sim::FAULT_NO_REPLY) << 0
                                   << "get_serialnumber: No valid WHOAMI response before timeout.";
    // A report too short to hold a frame is a read error on USB.
    QTest::newRow("short report") << int(sim::FAULT_SHORT_REPORT) << 0
                                  << readError + "report too short to hold a frame).";
    QTest::newRow("vanishes") << int(sim::FAULT_VANISH) << 0 << readError;
}

// A unit that does not answer the identity request is let go, and nothing
// of an earlier unit's identity is kept.
void TestConnection::identityRequest()
{
    QFETCH(int, fault);
    QFETCH(int, param);
    QFETCH(QString, answerLine);
    sim::unit().setSerial(0xAE00ABCD);
    sim::unit().setFirmware(2, 10, 3, 7);
    if (fault >= 0)
        add_fault(CANMSG_WHOAMI_REQUEST, sim::FaultKind(fault), param);
    fw.version = 0x01020304;
    CommsManager comms;
    OutputCapture out;
    const bool connected = comms.establish_connection();
    const QStringList lines = out.lines();

    QCOMPARE(sim::unit().receivedReports().front(), (std::vector<uint8_t>{0x05, 0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15}));
    QCOMPARE(lines.mid(0, 2), kUsbStart);
    QVERIFY2(lines.value(2).startsWith(answerLine), qPrintable(lines.value(2)));
    QCOMPARE(comms.isConnected(), connected);
    if (connected) {
        QCOMPARE(lines.size(), 3);
        QCOMPARE(device_serial, 0xAE00ABCDu);
        QCOMPARE(fw.version, 0x020A0307u);
        return;
    }
    QCOMPARE(lines.mid(3), (QStringList{"Failed to get serial number from USB HID - disconnecting", kCanFallback,
                                        kCanFailed, kAllFailed}));
    QCOMPARE(device_serial, 0xFFFFFFFFu);
    QCOMPARE(fw.version, 0u);
    QCOMPARE(sim::open_hid_devices(), 0);
}

void TestConnection::identityReplyMatchedOnLow11BitsAndLength()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NO_REPLY);
    sim::unit().queueUnsolicited(identity_reply(0x010, CAN_6_BYTES, 0xAE000001));
    sim::unit().queueUnsolicited(identity_reply(0x810, CAN_8_BYTES, 0xAE000002));
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    QCOMPARE(device_serial, 0xAE000002u);
}

void TestConnection::noUnitAtAll()
{
    sim::unit().setPresent(false);
    device_serial = 0x12345678;
    CommsManager comms;
    OutputCapture out;
    QVERIFY(!comms.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbStart[0], "Failed to connect to USB HID", kCanFallback, kCanFailed, kAllFailed}));
    QCOMPARE(device_serial, 0x12345678u); // no transport opened, so no request was made

    OutputCapture refused;
    QCOMPARE(comms.write(sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1})), -1);
    QCOMPARE(refused.lines(), QStringList{"No interface connected."});
    COMMS_MSG_t msg;
    QCOMPARE(comms.read(&msg), -1);
    QCOMPARE(get_serialnumber(&comms, USB_HID, nullptr), 0xFFFFFFFFu);
    QCOMPARE(get_serialnumber(nullptr, USB_HID, nullptr), 0xFFFFFFFFu);
}

// The manager sends every frame over the link it opened, whatever
// interface the caller wrote into the frame.
void TestConnection::framesGoToTheOpenInterfaceOnly()
{
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    QCOMPARE(comms.getActiveInterface(), USB_HID);
    COMMS_MSG_t msg = sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1});
    msg.iface = CAN_FD;
    QVERIFY(comms.write(msg) > 0);
    QCOMPARE(int(sim::unit().receivedFrames().back().iface), int(USB_HID));
}

void TestConnection::versionAtLeast()
{
    const struct {
        uint32_t version; // major, minor, patch, rc from the top byte down
        uint8_t major, minor, patch;
        bool result;
    } cases[] = {
        {0x02030409, 2, 3, 4, true},  {0x02030400, 2, 4, 0, false}, {0x03000000, 2, 9, 9, true},
        {0x01090900, 2, 0, 0, false}, {0x00030100, 0, 3, 2, false}, {0x00030200, 0, 3, 1, true},
    };
    for (const auto& c : cases) {
        fwversion_t version;
        version.version = c.version;
        QVERIFY2(fwversion_at_least(version, c.major, c.minor, c.patch) == c.result, qPrintable(QString::number(c.version, 16)));
    }
}

void TestConnection::deviceTypeIsTopByte()
{
    QCOMPARE(get_device_type(0xAEFFFFFF), Device_type_EFIS);
    QCOMPARE(get_device_type(0xED123456), Device_type_ED);
    QCOMPARE(int(get_device_type(0x42ABCDEF)), 0x42);
}

QTEST_APPLESS_MAIN(TestConnection)
#include "tst_connection.moc"
