// Opening the link: USB HID first, CAN FD as the fallback, each proved by the
// identity request, with the exact lines a user sees on standard output.

#include <QtTest>

#include "comms/comms.h"
#include "hidapi_standin.h"
#include "output_capture.h"
#include "simulated_unit.h"

namespace {

const QString kUsbAttempt = "Attempting to connect to USB HID device 0x16D0:0x14C7";
const QString kUsbVerifying = "USB HID connected, verifying with serial number request...";
const QString kCanFallback = "USB HID unavailable, attempting CAN FD interface: can0";
const QString kCanFailed = "Failed to connect to CAN FD";
const QString kAllFailed = "Failed to connect via USB HID or CAN FD";

void add_fault(uint32_t request_id, sim::FaultKind kind, int param = 0)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = kind;
    rule.param = param;
    rule.times = -1;
    sim::unit().addFault(rule);
}

COMMS_MSG_t identity_reply(uint32_t can_id, CAN_MSG_LEN_t code, uint32_t serial, uint32_t version)
{
    COMMS_MSG_t reply = sim::make_frame(can_id, code);
    put_u32_le(&reply.data[0], serial);
    put_u32_le(&reply.data[4], version);
    return reply;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void connectsOverUsb();
    void identityRequestBytes();
    void noUnitAtAll();
    void unitThatNeverAnswers();
    void replyIdentifierComparedOnLow11Bits();
    void replyWithWrongLengthCodeSkipped();
    void otherFramesBeforeReplySkipped();
    void garbageReportBeforeReplySkipped();
    void shortReportEndsTheRequest();
    void unitVanishingDuringRequest();
    void writeWithNoInterface();
    void activeInterface();

    void versionAtLeast_data();
    void versionAtLeast();
    void deviceTypeIsTopByte();
};

void TestConnection::init()
{
    sim::unit().reset();
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestConnection::connectsOverUsb()
{
    sim::unit().setSerial(0xAE00ABCD);
    sim::unit().setFirmware(2, 10, 3, 7);
    CommsManager comms;
    OutputCapture out;
    QVERIFY(comms.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, kUsbVerifying,
                                       "Successfully connected via USB HID! Serial number: 0xAE00ABCD, firmware 2.10.3 (rc 7)"}));
    QCOMPARE(device_serial, 0xAE00ABCDu);
    QCOMPARE(int(fw.major), 2);
    QCOMPARE(int(fw.minor), 10);
    QCOMPARE(int(fw.patch), 3);
    QCOMPARE(int(fw.rc), 7);
    QVERIFY(comms.isConnected());
}

void TestConnection::identityRequestBytes()
{
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    const auto reports = sim::unit().receivedReports();
    QCOMPARE(reports.size(), size_t(1));
    QCOMPARE(reports.front(), (std::vector<uint8_t>{0x05, 0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15}));
}

void TestConnection::noUnitAtAll()
{
    sim::unit().setPresent(false);
    device_serial = 0x12345678;
    CommsManager comms;
    OutputCapture out;
    QVERIFY(!comms.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, "Failed to connect to USB HID", kCanFallback, kCanFailed, kAllFailed}));
    QVERIFY(!comms.isConnected());
    QCOMPARE(device_serial, 0x12345678u); // no transport opened, so no request was made
}

void TestConnection::unitThatNeverAnswers()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NO_REPLY);
    fw.version = 0x01020304;
    CommsManager comms;
    OutputCapture out;
    QVERIFY(!comms.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, kUsbVerifying,
                                       "get_serialnumber: No valid WHOAMI response before timeout.",
                                       "Failed to get serial number from USB HID - disconnecting", kCanFallback,
                                       kCanFailed, kAllFailed}));
    QCOMPARE(device_serial, 0xFFFFFFFFu);
    QCOMPARE(fw.version, 0u);
    QCOMPARE(sim::open_hid_devices(), 0);
    QVERIFY(!comms.isConnected());
}

void TestConnection::replyIdentifierComparedOnLow11Bits()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NO_REPLY);
    sim::unit().queueUnsolicited(identity_reply(0x810, CAN_8_BYTES, 0xAE000042, 0x01020300));
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    QCOMPARE(device_serial, 0xAE000042u);
    QCOMPARE(int(fw.major), 1);
    QCOMPARE(int(fw.minor), 2);
    QCOMPARE(int(fw.patch), 3);
}

void TestConnection::replyWithWrongLengthCodeSkipped()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NO_REPLY);
    sim::unit().queueUnsolicited(identity_reply(0x010, CAN_6_BYTES, 0xAE000001, 0));
    sim::unit().queueUnsolicited(identity_reply(0x010, CAN_8_BYTES, 0xAE000002, 0));
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    QCOMPARE(device_serial, 0xAE000002u);
}

void TestConnection::otherFramesBeforeReplySkipped()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NOISE_BEFORE, 5);
    CommsManager comms;
    OutputCapture out;
    QVERIFY(comms.establish_connection());
    QCOMPARE(out.lines().size(), 3);
    QCOMPARE(device_serial, sim::SimulatedUnit::kDefaultSerial);
}

void TestConnection::garbageReportBeforeReplySkipped()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_GARBAGE_REPORT, 40);
    CommsManager comms;
    QVERIFY(comms.establish_connection());
    QCOMPARE(device_serial, sim::SimulatedUnit::kDefaultSerial);
}

void TestConnection::shortReportEndsTheRequest()
{
    // A report too short to hold a frame is a read error on USB, and a read
    // error ends the identity request.
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_SHORT_REPORT);
    CommsManager comms;
    OutputCapture out;
    QVERIFY(!comms.establish_connection());
    const QStringList lines = out.lines();
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines[2], QString("get_serialnumber: Error reading response from device (report too short to hold a frame)."));
    QCOMPARE(lines[3], QString("Failed to get serial number from USB HID - disconnecting"));
    QCOMPARE(sim::open_hid_devices(), 0);
}

void TestConnection::unitVanishingDuringRequest()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_VANISH);
    CommsManager comms;
    OutputCapture out;
    QVERIFY(!comms.establish_connection());
    const QStringList lines = out.lines();
    QCOMPARE(lines.size(), 7);
    QVERIFY(lines[2].startsWith("get_serialnumber: Error reading response from device ("));
    QCOMPARE(lines.last(), kAllFailed);
    QCOMPARE(device_serial, 0xFFFFFFFFu);
}

void TestConnection::writeWithNoInterface()
{
    CommsManager comms;
    OutputCapture out;
    QCOMPARE(comms.write(sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1})), -1);
    QCOMPARE(out.lines(), QStringList{"No interface connected."});
    COMMS_MSG_t msg;
    QCOMPARE(comms.read(&msg), -1);
    QCOMPARE(comms.read(nullptr), -1);
    QCOMPARE(get_serialnumber(&comms, USB_HID, nullptr), 0xFFFFFFFFu);
    QCOMPARE(get_serialnumber(nullptr, USB_HID, nullptr), 0xFFFFFFFFu);
    QVERIFY(sim::unit().receivedFrames().empty());
}

void TestConnection::activeInterface()
{
    CommsManager comms;
    QCOMPARE(comms.getActiveInterface(), USB_HID);
    QVERIFY(comms.establish_connection());
    QCOMPARE(comms.getActiveInterface(), USB_HID);
    // The manager routes every frame to USB whatever iface the caller set.
    COMMS_MSG_t msg = sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1});
    msg.iface = CAN_FD;
    QVERIFY(comms.write(msg) > 0);
    QCOMPARE(int(sim::unit().receivedFrames().back().iface), int(USB_HID));
}

void TestConnection::versionAtLeast_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<int>("rc");
    QTest::addColumn<int>("wantMajor");
    QTest::addColumn<int>("wantMinor");
    QTest::addColumn<int>("wantPatch");
    QTest::addColumn<bool>("result");
    QTest::newRow("equal, rc ignored") << 2 << 3 << 4 << 9 << 2 << 3 << 4 << true;
    QTest::newRow("older minor") << 2 << 3 << 4 << 0 << 2 << 4 << 0 << false;
    QTest::newRow("newer major") << 3 << 0 << 0 << 0 << 2 << 9 << 9 << true;
    QTest::newRow("older major") << 1 << 9 << 9 << 0 << 2 << 0 << 0 << false;
    QTest::newRow("older patch") << 0 << 3 << 1 << 0 << 0 << 3 << 2 << false;
    QTest::newRow("newer patch") << 0 << 3 << 2 << 0 << 0 << 3 << 1 << true;
}

void TestConnection::versionAtLeast()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(int, rc);
    QFETCH(int, wantMajor);
    QFETCH(int, wantMinor);
    QFETCH(int, wantPatch);
    QFETCH(bool, result);
    fwversion_t version;
    version.version = get_u32_le(std::array<uint8_t, 4>{uint8_t(rc), uint8_t(patch), uint8_t(minor), uint8_t(major)}.data());
    QCOMPARE(fwversion_at_least(version, uint8_t(wantMajor), uint8_t(wantMinor), uint8_t(wantPatch)), result);
}

void TestConnection::deviceTypeIsTopByte()
{
    QCOMPARE(get_device_type(0xAE000000), Device_type_EFIS);
    QCOMPARE(get_device_type(0xAEFFFFFF), Device_type_EFIS);
    QCOMPARE(get_device_type(0xED123456), Device_type_ED);
    QCOMPARE(int(get_device_type(0x42ABCDEF)), 0x42);
}

QTEST_APPLESS_MAIN(TestConnection)
#include "tst_connection.moc"
