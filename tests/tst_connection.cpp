// Opening the link over USB HID, proved by the identity request, with the
// exact lines a user sees on standard output (the CAN FD fallback has its
// own suite).

#include <QtTest>

#include "comms/comms.h"
#include "hidapi_standin.h"
#include "output_capture.h"
#include "simulated_unit.h"

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        sim::unit().reset();
        device_serial = 0xFFFFFFFF;
        fw.version = 0x01020304; // an earlier unit's
    }

    void identityRequest_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<QString>("answerLine");
        const QString connected
            = "Successfully connected via USB HID! Serial number: 0xAE00ABCD, firmware 2.10.3 (rc 7)";
        const QString readError = "get_serialnumber: Error reading response from device (";
        QTest::newRow("answered") << -1 << 0 << connected;
        QTest::newRow("garbage report first") << int(sim::FAULT_GARBAGE_REPORT) << 40 << connected;
        QTest::newRow("never answers") << int(sim::FAULT_NO_REPLY) << 0
                                       << "get_serialnumber: No valid WHOAMI response before timeout.";
        // A report too short to hold a frame is a read error on USB.
        QTest::newRow("short report") << int(sim::FAULT_SHORT_REPORT) << 0
                                      << readError + "report too short to hold a frame).";
        QTest::newRow("vanishes") << int(sim::FAULT_VANISH) << 0 << readError;
    }

    // A unit that does not answer is let go, nothing of an earlier unit's
    // identity is kept, and the manager refuses to send.
    void identityRequest()
    {
        QFETCH(int, fault);
        QFETCH(int, param);
        QFETCH(QString, answerLine);
        sim::unit().setSerial(0xAE00ABCD);
        sim::unit().setFirmware(2, 10, 3, 7);
        if (fault >= 0) {
            sim::FaultRule rule;
            rule.request_id = CANMSG_WHOAMI_REQUEST;
            rule.kind = sim::FaultKind(fault);
            rule.param = param;
            rule.times = -1;
            sim::unit().addFault(rule);
        }
        CommsManager comms;
        OutputCapture out;
        const bool connected = comms.establish_connection();
        const QStringList lines = out.lines();

        QCOMPARE(sim::unit().receivedReports().front(), (std::vector<uint8_t>{0x05, 0x10, 0, 0, 0, 0x02, 0xEF, 0x15}));
        QCOMPARE(lines.mid(0, 2), (QStringList{"Attempting to connect to USB HID device 0x16D0:0x14C7",
                                               "USB HID connected, verifying with serial number request..."}));
        QVERIFY2(lines.value(2).startsWith(answerLine), qPrintable(lines.value(2)));
        QCOMPARE(comms.isConnected(), connected);
        QCOMPARE(device_serial, connected ? 0xAE00ABCDu : 0xFFFFFFFFu);
        QCOMPARE(fw.version, connected ? 0x020A0307u : 0u);
        if (connected) {
            QCOMPARE(lines.size(), 3);
            return;
        }
        QCOMPARE(sim::open_hid_devices(), 0);
        QCOMPARE(comms.write(sim::make_frame(0x370, CAN_2_BYTES, {0xCC, 1})), -1);
        QCOMPARE(out.lines().mid(3),
                 (QStringList{"Failed to get serial number from USB HID - disconnecting",
                              "USB HID unavailable, attempting CAN FD interface: can0", "Failed to connect to CAN FD",
                              "Failed to connect via USB HID or CAN FD", "No interface connected."}));
    }

    // The reply is known by the low 11 bits of its identifier and by its length.
    void identityReplyMatchedOnLow11BitsAndLength()
    {
        sim::FaultRule silent;
        silent.request_id = CANMSG_WHOAMI_REQUEST;
        sim::unit().addFault(silent);
        for (const uint32_t can_id : {0x010u, 0x810u}) { // the first with another length
            COMMS_MSG_t reply = sim::make_frame(can_id, can_id == 0x010 ? CAN_6_BYTES : CAN_8_BYTES);
            put_u32_le(&reply.data[0], 0xAE000000 | can_id);
            sim::unit().queueUnsolicited(reply);
        }
        CommsManager comms;
        QVERIFY(comms.establish_connection());
        QCOMPARE(device_serial, 0xAE000810u);
    }

    // Decides the firmware packet length.
    void versionAtLeast()
    {
        const auto atLeast = [](uint32_t major_minor_patch_rc, uint8_t major, uint8_t minor, uint8_t patch) {
            fwversion_t version;
            version.version = major_minor_patch_rc;
            return fwversion_at_least(version, major, minor, patch);
        };
        QVERIFY(atLeast(0x02030409, 2, 3, 4)); // the release candidate plays no part
        QVERIFY(!atLeast(0x02030400, 2, 4, 0));
        QVERIFY(atLeast(0x03000000, 2, 9, 9));
        QVERIFY(!atLeast(0x01090900, 2, 0, 0));
        QVERIFY(!atLeast(0x00030100, 0, 3, 2));
    }
};

QTEST_APPLESS_MAIN(TestConnection)
#include "tst_connection.moc"
