// The frame's length codes and the USB HID transport, byte for byte through
// the hidapi stand-in.

#include <QtTest>

#include <vector>

#include "comms/usb_hid/usbhid.h"
#include "hidapi_standin.h"
#include "output_capture.h"
#include "simulated_unit.h"

#include "frame_bytes.h"

namespace {

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

class TestUsbTransport : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void codeToBytes_data();
    void codeToBytes();
    void bytesToCode_data();
    void bytesToCode();
    void lengthNamesMatchTheirCodes();

    void outgoingReport_data();
    void outgoingReport();
    void rawBodyGetsReportIdOnly();

    void incomingReport_data();
    void incomingReport();
    void silentUnitReadsZero();

    void notConnectedFailsEveryCall();
    void connectPicksVendorUsagePage();
    void connectWithoutVendorInterfaceFails();
    void connectWithNoUnitFails();
    void unopenableUnitSaysWhy();
    void disconnectAndDestructionRelease();
    void vanishedUnitFailsReadsAndWrites();
};

void TestUsbTransport::init()
{
    sim::unit().reset();
}

void TestUsbTransport::codeToBytes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("bytes");
    const int table[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    for (int code = 0; code < 16; code++)
        QTest::addRow("code %d", code) << code << table[code];
    QTest::newRow("code 16") << 16 << 0;
    QTest::newRow("code 255") << 255 << 0;
}

void TestUsbTransport::codeToBytes()
{
    QFETCH(int, code);
    QFETCH(int, bytes);
    QCOMPARE(int(dlc_code_to_bytes(static_cast<CAN_MSG_LEN_t>(code))), bytes);
}

void TestUsbTransport::bytesToCode_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("code");
    for (int n = 0; n <= 8; n++)
        QTest::addRow("%d bytes", n) << n << n;
    const int bounds[][3] = {{9, 12, 9},  {13, 16, 10}, {17, 20, 11}, {21, 24, 12},
                             {25, 32, 13}, {33, 48, 14}, {49, 64, 15}};
    for (const auto& bound : bounds) {
        QTest::addRow("%d bytes", bound[0]) << bound[0] << bound[2];
        QTest::addRow("%d bytes", bound[1]) << bound[1] << bound[2];
    }
    QTest::newRow("65 bytes") << 65 << 15;
    QTest::newRow("100 bytes") << 100 << 15;
    QTest::newRow("255 bytes") << 255 << 15;
}

void TestUsbTransport::bytesToCode()
{
    QFETCH(int, bytes);
    QFETCH(int, code);
    QCOMPARE(int(bytes_to_dlc_code(static_cast<uint8_t>(bytes))), code);
}

void TestUsbTransport::lengthNamesMatchTheirCodes()
{
    QCOMPARE(int(CAN_4_BYTES), 4);
    QCOMPARE(int(CAN_6_BYTES), 6);
    QCOMPARE(int(CAN_12_BYTES), 9);
    QCOMPARE(int(CAN_13_BYTES), 10);
    QCOMPARE(int(CAN_33_BYTES), 14);
    QCOMPARE(int(CAN_64_BYTES), 15);
    for (int n = 0; n <= 64; n++)
        QCOMPARE(dlc_code_to_bytes(bytes_to_dlc_code(static_cast<uint8_t>(n))) >= n, true);
}

void TestUsbTransport::outgoingReport_data()
{
    QTest::addColumn<uint32_t>("canId");
    QTest::addColumn<int>("code");
    QTest::addColumn<Bytes>("payload");
    QTest::addColumn<Bytes>("report");

    QTest::newRow("settings read")
        << 0x370u << 2 << Bytes{0xCC, 0x07} << Bytes{0x05, 0x70, 0x03, 0x00, 0x00, 0x02, 0xCC, 0x07};
    QTest::newRow("no payload")
        << 0x730u << 0 << Bytes{} << Bytes{0x05, 0x30, 0x07, 0x00, 0x00, 0x00};
    QTest::newRow("code 9 sends 12 bytes")
        << 0x420u << 9 << payload_of(12) << concat({Bytes{0x05, 0x20, 0x04, 0x00, 0x00, 0x09}, payload_of(12)});
    QTest::newRow("code 15 makes a 70-byte report")
        << 0x420u << 15 << payload_of(64) << concat({Bytes{0x05, 0x20, 0x04, 0x00, 0x00, 0x0F}, payload_of(64)});
    QTest::newRow("all 32 identifier bits")
        << 0x12345678u << 1 << Bytes{0xAB} << Bytes{0x05, 0x78, 0x56, 0x34, 0x12, 0x01, 0xAB};
}

void TestUsbTransport::outgoingReport()
{
    QFETCH(uint32_t, canId);
    QFETCH(int, code);
    QFETCH(Bytes, payload);
    QFETCH(Bytes, report);

    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    COMMS_MSG_t msg = frame_with(canId, static_cast<uint8_t>(code), payload);
    msg.iface = CAN_FD; // never sent: outgoing reports carry no iface byte
    QCOMPARE(usb.write(msg), int(report.size()));
    const auto reports = sim::unit().receivedReports();
    QCOMPARE(reports.size(), size_t(1));
    QCOMPARE(reports.front(), report);
}

void TestUsbTransport::rawBodyGetsReportIdOnly()
{
    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    const uint8_t body[] = {0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15};
    QCOMPARE(usb.write(body, sizeof body), 8);
    QCOMPARE(sim::unit().receivedReports().front(), (Bytes{0x05, 0x10, 0x00, 0x00, 0x00, 0x02, 0xEF, 0x15}));
}

void TestUsbTransport::incomingReport_data()
{
    QTest::addColumn<Bytes>("report");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("iface");
    QTest::addColumn<uint32_t>("canId");
    QTest::addColumn<int>("code");
    QTest::addColumn<Bytes>("data");

    QTest::newRow("value reply")
        << Bytes{0x05, 0x00, 0x80, 0x03, 0x00, 0x00, 0x06, 0xCC, 0x05, 0x78, 0x56, 0x34, 0x12}
        << 13 << 0 << 0x380u << 6 << Bytes{0xCC, 0x05, 0x78, 0x56, 0x34, 0x12};
    QTest::newRow("iface byte comes in")
        << Bytes{0x05, 0x01, 0xE0, 0x00, 0x00, 0x00, 0x04, 0x00, 0x90, 0x03, 0x01}
        << 11 << 1 << 0xE0u << 4 << Bytes{0x00, 0x90, 0x03, 0x01};
    QTest::newRow("7 bytes: header only")
        << Bytes{0x05, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x06} << 7 << 0 << 0xF0u << 6 << Bytes{};
    QTest::newRow("code 15 with 10 bytes copies 10")
        << concat({Bytes{0x05, 0x00, 0x20, 0x04, 0x00, 0x00, 0x0F}, payload_of(10)})
        << 17 << 0 << 0x420u << 15 << payload_of(10);
    QTest::newRow("code 2 with extra bytes copies 2")
        << Bytes{0x05, 0x00, 0x10, 0x00, 0x00, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD}
        << 11 << 0 << 0x10u << 2 << Bytes{0xAA, 0xBB};
    QTest::newRow("6 bytes is too short") << Bytes{0x05, 0x00, 0x10, 0x00, 0x00, 0x00} << -1 << 0 << 0u << 0 << Bytes{};
    QTest::newRow("1 byte is too short") << Bytes{0x05} << -1 << 0 << 0u << 0 << Bytes{};
}

void TestUsbTransport::incomingReport()
{
    QFETCH(Bytes, report);
    QFETCH(int, result);
    QFETCH(int, iface);
    QFETCH(uint32_t, canId);
    QFETCH(int, code);
    QFETCH(Bytes, data);

    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    sim::unit().queueRawReport(report);
    COMMS_MSG_t msg;
    memset(&msg, 0xEE, sizeof msg);
    QCOMPARE(usb.read(&msg), result);
    if (result < 0)
        return;
    QCOMPARE(int(msg.iface), iface);
    QCOMPARE(msg.can_ID, canId);
    QCOMPARE(int(msg.msg_len), code);
    Bytes expected(sizeof msg.data, 0);
    std::copy(data.begin(), data.end(), expected.begin());
    QCOMPARE(Bytes(msg.data, msg.data + sizeof msg.data), expected);
    QCOMPARE(int(msg.padding[0]) + int(msg.padding[1]), 0);
}

void TestUsbTransport::silentUnitReadsZero()
{
    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    COMMS_MSG_t msg;
    QCOMPARE(usb.read(&msg), 0);
}

void TestUsbTransport::notConnectedFailsEveryCall()
{
    USBHID usb;
    COMMS_MSG_t msg = sim::make_frame(0x010, CAN_2_BYTES, {0xEF, 0x15});
    const uint8_t body[] = {0x10, 0, 0, 0, 0};
    QVERIFY(!usb.isConnected());
    QCOMPARE(usb.write(msg), -1);
    QCOMPARE(usb.write(body, sizeof body), -1);
    QCOMPARE(usb.read(&msg), -1);
    QVERIFY(usb.connect(vendor_id, product_id));
    QCOMPARE(usb.read(nullptr), -1);
    QVERIFY(sim::unit().receivedReports().empty());
}

void TestUsbTransport::connectPicksVendorUsagePage()
{
    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    QVERIFY(usb.isConnected());
    QCOMPARE(sim::open_hid_devices(), 1);
    // Only the vendor interface carries frames to the unit.
    usb.write(sim::make_frame(0x010, CAN_2_BYTES, {0xEF, 0x15}));
    QCOMPARE(sim::unit().receivedFrames().size(), size_t(1));
}

void TestUsbTransport::connectWithoutVendorInterfaceFails()
{
    sim::unit().setVendorInterfacePresent(false);
    USBHID usb;
    QVERIFY(!usb.connect(vendor_id, product_id));
    QVERIFY(!usb.isConnected());
    QCOMPARE(sim::open_hid_devices(), 0);
}

void TestUsbTransport::connectWithNoUnitFails()
{
    sim::unit().setPresent(false);
    USBHID usb;
    OutputCapture out;
    QVERIFY(!usb.connect(vendor_id, product_id));
    QVERIFY(!usb.isConnected());
    QCOMPARE(out.text(), QString());
}

void TestUsbTransport::unopenableUnitSaysWhy()
{
    sim::unit().setOpenFails(true);
    USBHID usb;
    OutputCapture out;
    QVERIFY(!usb.connect(vendor_id, product_id));
    QCOMPARE(out.lines(),
             QStringList{"USB HID device 0x16D0:0x14C7 is present but could not be opened; on Linux, install "
                         "packaging/70-corvane-efis.rules to grant access to its hidraw node"});
}

void TestUsbTransport::disconnectAndDestructionRelease()
{
    {
        USBHID usb;
        QCOMPARE(sim::hid_library_users(), 1);
        QVERIFY(usb.connect(vendor_id, product_id));
        QVERIFY(usb.connect(vendor_id, product_id)); // reconnecting closes the first handle
        QCOMPARE(sim::open_hid_devices(), 1);
        usb.disconnect();
        QVERIFY(!usb.isConnected());
        QCOMPARE(sim::open_hid_devices(), 0);
        QVERIFY(usb.connect(vendor_id, product_id));
    }
    QCOMPARE(sim::open_hid_devices(), 0);
    QCOMPARE(sim::hid_library_users(), 0);
}

void TestUsbTransport::vanishedUnitFailsReadsAndWrites()
{
    USBHID usb;
    QVERIFY(usb.connect(vendor_id, product_id));
    sim::FaultRule vanish;
    vanish.kind = sim::FAULT_VANISH;
    sim::unit().addFault(vanish);
    COMMS_MSG_t msg = sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1});
    QVERIFY(usb.write(msg) > 0);
    QCOMPARE(usb.read(&msg), -1);
    QVERIFY(usb.write(msg) < 0);
}

QTEST_APPLESS_MAIN(TestUsbTransport)
#include "tst_usb_transport.moc"
