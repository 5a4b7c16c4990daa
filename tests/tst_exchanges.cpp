// The request/acknowledge exchanges against the simulated unit, over USB and
// over CAN FD: exact request bytes, every acknowledgement rule with its
// printed line, replies that are not the awaited one, waits that end however
// busy the link; and connecting over CAN FD.

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <memory>

#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include "can_records.h"
#include "can_standin.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "output_capture.h"

Q_DECLARE_METATYPE(COMMS_MSG_t)

namespace {

enum Transport { Usb, CanFd };
enum Exchange { SetValue, GetValue, SetCalibration, GetCalibration, SaveSettings, SaveCalibration };
enum Wait { WaitIdentity, WaitValue, WaitAck, WaitFlashAck };

// Sensor frames from other nodes: one every millisecond.
const int kBusyBusPeriodMs = 1;
// Frames from other nodes a busy bus delivers during even the shortest wait.
const int kBusyBusMinimumFrames = 10;
const int kChatterPeriodMs = 2;
// A unit busy with its displays takes a little while to answer each request,
// so frames from other nodes arrive in between.
const int kUnitAnswerMs = 2;
// Longer than a read waits (1000 ms): the identity reply comes after an empty read.
const int kAfterAnEmptyReadMs = 1300;
// An acknowledgement held back this long keeps the frames queued behind it
// from the dropping before the next request.
const int kHeldBackMs = 200;
// The longest wait (the identity reply's), and how far past it a wait may end on a loaded machine.
const qint64 kLongestWaitMs = 2000;
const qint64 kWaitSlackMs = 3000;
const QStringList kCanFdStart = {"Attempting to connect to USB HID device 0x16D0:0x14C7", "Failed to connect to USB HID",
                                 "USB HID unavailable, attempting CAN FD interface: can0"};
const QString kAllFailed = "Failed to connect via USB HID or CAN FD";

void add_fault(uint32_t request_id, int kind, int param = 0, int reply = -1)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = sim::FaultKind(kind);
    rule.param = param;
    rule.reply = reply;
    sim::unit().addFault(rule);
}

QTestData& row(int transport, const char* name)
{
    return QTest::addRow("%s: %s", transport == Usb ? "USB" : "CAN FD", name) << transport;
}

// The record a frame travels in on CAN FD, from the report it travels in on USB.
Bytes record_of(const Bytes& report)
{
    const uint32_t can_id = report[1] | report[2] << 8 | report[3] << 16 | uint32_t(report[4]) << 24;
    return can_records::sent_record(can_id, Bytes(report.begin() + 6, report.end()));
}

COMMS_MSG_t settings_reply(uint8_t uid, uint8_t index, CAN_MSG_LEN_t code = CAN_6_BYTES)
{
    return sim::make_frame(CANMSG_SEND_SETTINGS_VALUE, code, {uid, index, 0x11, 0x11, 0x11, 0x11});
}

} // namespace

class TestExchanges : public QObject
{
    Q_OBJECT

    std::unique_ptr<CommsManager> comms;

    bool connectOver(int transport)
    {
        if (transport == CanFd) {
            sim::unit().setPresent(false);
            qputenv("EFIS_SIM_LINK", "canfd");
        }
        comms = std::make_unique<CommsManager>();
        OutputCapture out;
        const bool connected = comms->establish_connection() && comms->getActiveInterface() == (transport == Usb ? USB_HID : CAN_FD);
        sim::unit().clearRecords();
        return connected;
    }

private slots:
    void init()
    {
        qunsetenv("EFIS_SIM_LINK");
        sim::can_node().reset();
        sim::unit().reset();
        device_serial = 0xFFFFFFFF;
    }

    void cleanup()
    {
        comms.reset();
        sim::can_node().reset();
    }

    void connectOverCanFd_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QStringList>("lines");
        const QString verifying = "CAN FD connected, verifying with serial number request...";
        QTest::newRow("after other nodes' frames and an empty read")
            << true << QStringList{verifying, "Successfully connected via CAN FD! Serial number: 0xAE00ABCD, firmware 2.10.3 (rc 7)"};
        QTest::newRow("silent unit") << false << QStringList{verifying, "get_serialnumber: No valid WHOAMI response before timeout.",
                                                             "Failed to get serial number from CAN FD - disconnecting", kAllFailed};
    }

    void connectOverCanFd()
    {
        QFETCH(bool, answers);
        QFETCH(QStringList, lines);
        sim::unit().setSerial(0xAE00ABCD);
        sim::unit().setFirmware(2, 10, 3, 7);
        sim::unit().setPresent(false);
        qputenv("EFIS_SIM_LINK", "canfd");
        // Another node's frames, classic and FD, one with the identity reply's identifier but not its length.
        sim::can_node().sendFromOtherNode(sim::make_frame(CANMSG_ACC, CAN_8_BYTES, {1, 2, 3, 4, 5, 6, 7, 8}));
        sim::can_node().sendFromOtherNode(sim::make_frame(CANMSG_WHOAMI_REQUEST, CAN_6_BYTES, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
        sim::can_node().sendFromOtherNode(sim::make_frame(CANMSG_GPS_LATLON, CAN_64_BYTES, {9, 9, 9}));
        add_fault(CANMSG_WHOAMI_REQUEST, answers ? sim::FAULT_DELAY : sim::FAULT_NO_REPLY, kAfterAnEmptyReadMs);
        CommsManager manager;
        OutputCapture out;
        QCOMPARE(manager.establish_connection(), answers);
        QCOMPARE(out.lines(), kCanFdStart + lines);
        QCOMPARE(manager.getCANFD()->isConnected(), answers);
        QCOMPARE(device_serial, answers ? 0xAE00ABCDu : 0xFFFFFFFFu);
        QCOMPARE(sim::can_node().otherNodeFramesDelivered(), 3);
        QCOMPARE(sim::unit().receivedReports(), std::vector<Bytes>{can_records::sent_record(CANMSG_WHOAMI_REQUEST, {0xEF, 0x15})});
        QCOMPARE(int(sim::unit().receivedFrames().front().iface), int(CAN_FD));
    }

    // The simulated program opens CAN FD as the product does, through this
    // machine's SocketCAN, unless asked to present the unit there.
    void noSocketCanOnThisMachine()
    {
        const int probe = socket(PF_CAN, SOCK_RAW, CAN_RAW);
        if (probe >= 0 || errno != EAFNOSUPPORT) {
            close(probe);
            QSKIP("this machine has SocketCAN, or refuses CAN sockets for another reason");
        }
        sim::unit().setPresent(false);
        CommsManager manager;
        OutputCapture out;
        OutputCapture err(stderr);
        QVERIFY(!manager.establish_connection());
        QCOMPARE(out.lines(), kCanFdStart + QStringList({"Failed to connect to CAN FD", kAllFailed}));
        QCOMPARE(err.lines(), QStringList{"SocketCAN is not available on this system, so CAN FD interface can0 cannot be used"});
    }

    // On CAN FD, each on a busy bus with a unit that takes a moment to answer.
    void requestBytes_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<Bytes>("report"); // on USB; the same frame travels in a record on CAN FD
        for (int transport : {Usb, CanFd}) {
            row(transport, "set value") << int(SetValue) << Bytes{0x05, 0x90, 0x03, 0x00, 0x00, 0x05, 0x06, 0xC8, 0x00, 0x00, 0x00};
            row(transport, "get value") << int(GetValue) << Bytes{0x05, 0x70, 0x03, 0x00, 0x00, 0x02, 0xCC, 0x06};
            row(transport, "set calibration") << int(SetCalibration) << Bytes{0x05, 0x50, 0x03, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x80, 0x3F};
            row(transport, "get calibration") << int(GetCalibration) << Bytes{0x05, 0x30, 0x03, 0x00, 0x00, 0x01, 0x06};
            row(transport, "save settings") << int(SaveSettings) << Bytes{0x05, 0xA0, 0x03, 0x00, 0x00, 0x04, 0xD4, 0xC3, 0xB2, 0xA1};
            row(transport, "save calibration") << int(SaveCalibration) << Bytes{0x05, 0x60, 0x03, 0x00, 0x00, 0x04, 0x04, 0x03, 0x02, 0x01};
        }
    }

    void requestBytes()
    {
        QFETCH(int, transport);
        QFETCH(int, exchange);
        QFETCH(Bytes, report);
        QVERIFY(connectOver(transport));
        if (transport == CanFd) {
            sim::can_node().setBusTraffic(kBusyBusPeriodMs);
            add_fault(0, sim::FAULT_DELAY, kUnitAnswerMs);
        }
        OutputCapture out;
        switch (exchange) {
        case SetValue:
            QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 0xC8), 0);
            QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 0xC8u);
            break;
        case GetValue:
            QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 150u);
            break;
        case GetCalibration:
        case SetCalibration:
            QCOMPARE(set_value(comms.get(), SENSOR_COMMS, LSM_ACC_SCALE_Y_INDEX, 0x3F800000), 0);
            if (exchange == GetCalibration)
                QCOMPARE(get_value(comms.get(), SENSOR_COMMS, LSM_ACC_SCALE_Y_INDEX), 0x3F800000u);
            break;
        default:
            QCOMPARE(save_settings(comms.get(), exchange == SaveSettings ? SETTINGS_COMMS : SENSOR_COMMS,
                                   get_u32_le(&report[6])), 0);
        }
        QCOMPARE(sim::unit().receivedReports().back(), transport == Usb ? report : record_of(report));
        QCOMPARE(out.text(), QString());
    }

    void acknowledgement_data()
    {
        QTest::addColumn<bool>("flash");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<QString>("line"); // none when acknowledged
        for (bool flash : {false, true}) {
            const char* kind = flash ? "flash" : "command";
            const QString readError = flash ? "wait_for_mx25_ack: Error reading response from device." : "Error reading ACK from device.";
            QTest::addRow("%s: ACK", kind) << flash << -1 << 0 << QString();
            QTest::addRow("%s: NACK", kind) << flash << int(sim::FAULT_NACK) << 0
                                           << (flash ? "wait_for_mx25_ack: MX25 NACK (op=0xAE)" : "NACK received for command CAN ID 0x390.");
            QTest::addRow("%s: status 7", kind) << flash << int(sim::FAULT_BAD_STATUS) << 7
                                               << QString(flash ? "wait_for_mx25_ack: " : "ACK validation failed: ") + "invalid status byte 7 (expected 0 or 1)";
            QTest::addRow("%s: unrelated frames first", kind) << flash << int(sim::FAULT_NOISE_BEFORE) << 6 << QString();
            QTest::addRow("%s: silent unit", kind) << flash << int(sim::FAULT_NO_REPLY) << 0
                                                  << (flash ? "wait_for_mx25_ack: No response received (timeout or no data)."
                                                            : "No ACK received from device (timeout or no data).");
            QTest::addRow("%s: unit vanishes", kind) << flash << int(sim::FAULT_VANISH) << 0 << readError;
        }
        QTest::newRow("command: names 0x350") << false << int(sim::FAULT_WRONG_ACK_ID) << 0x350
                                              << "ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x350)";
        QTest::newRow("command: names 0x490, same low byte") << false << int(sim::FAULT_WRONG_ACK_ID) << 0x490
                                                             << "ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x490)";
        QTest::newRow("command: length code 8") << false << int(sim::FAULT_WRONG_LENGTH_CODE) << 8
                                                << "ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x08)";
        QTest::newRow("command: garbage report first") << false << int(sim::FAULT_GARBAGE_REPORT) << 30 << QString();
        QTest::newRow("command: short report") << false << int(sim::FAULT_SHORT_REPORT) << 0 << "Error reading ACK from device.";
    }

    // The store command is answered with a flash acknowledgement first.
    void acknowledgement()
    {
        QFETCH(bool, flash);
        QFETCH(int, fault);
        QFETCH(int, param);
        QFETCH(QString, line);
        QVERIFY(connectOver(Usb));
        const uint32_t command = flash ? CANMSG_SAVE_USER_SETTINGS : CANMSG_GLOBAL_SET_SETTING;
        if (fault >= 0)
            add_fault(command, fault, param, flash ? 0 : -1);
        uint8_t op = 0;
        uint32_t value = 0;
        OutputCapture out;
        const bool acknowledged = flash ? comms->write(sim::make_frame(command, CAN_4_BYTES)) > 0 && wait_for_mx25_ack(comms.get(), &op, &value)
                                        : set_value(comms.get(), SETTINGS_COMMS, VMIN_INDEX, 55) == 0;
        QCOMPARE(acknowledged, line.isEmpty());
        QCOMPARE(out.lines(), line.isEmpty() ? QStringList() : QStringList{line});
        if (flash && (acknowledged || fault == sim::FAULT_NACK)) // filled before the status is looked at
            QCOMPARE(QList<uint32_t>({op, value}), QList<uint32_t>({0xAE, 0x03C00000}));
        if (flash && acknowledged) {
            QVERIFY(comms->write(sim::make_frame(command, CAN_4_BYTES)) > 0);
            QVERIFY(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
        }
    }

    // A GNSS frame (0x2E0) has the acknowledgement's length and the low byte
    // of its identifier; it is no acknowledgement.
    void ackWaitSkipsFrameOfAckShape()
    {
        QVERIFY(connectOver(Usb));
        sim::unit().queueUnsolicited(sim::make_frame(CANMSG_GNSS_DATA, CAN_4_BYTES));
        QVERIFY(comms->write(sim::make_frame(CANMSG_GLOBAL_SET_SETTING, CAN_5_BYTES, {VMIN_INDEX, 55})) > 0);
        OutputCapture out;
        QVERIFY(wait_for_ack(comms.get(), CANMSG_GLOBAL_SET_SETTING));
        QCOMPARE(out.text(), QString());
    }

    void unconnectedExchangesFailQuietly()
    {
        CommsManager closed;
        OutputCapture out;
        QVERIFY(!wait_for_ack(&closed, CANMSG_GLOBAL_SET_SETTING));
        QVERIFY(!wait_for_mx25_ack(&closed, nullptr, nullptr));
        QVERIFY(!wait_for_ack(nullptr, CANMSG_GLOBAL_SET_SETTING));
        QCOMPARE(set_value(&closed, SETTINGS_COMMS, 1, 2), -1);
        QCOMPARE(save_settings(nullptr, SETTINGS_COMMS, 2), -1);
        QCOMPARE(out.text(), QString());
        QCOMPARE(get_value(&closed, SETTINGS_COMMS, 1), 0xFFFFFFFFu);
        QCOMPARE(out.lines(), QStringList{"CommsManager not connected."});
    }

    void valueReplyNotAwaited_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<COMMS_MSG_t>("reply");
        QTest::addColumn<bool>("stale"); // waiting on the link before the request
        QTest::newRow("stale reply for this index") << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX) << true;
        QTest::newRow("reply for another index") << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX + 1) << false;
        QTest::newRow("reply without 0xCC") << int(SETTINGS_COMMS) << settings_reply(0xCD, VNE_INDEX) << false;
        QTest::newRow("reply with length code 8") << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX, CAN_8_BYTES) << false;
        QTest::newRow("calibration reply too short for a value")
            << int(SENSOR_COMMS) << sim::make_frame(CANMSG_SEND_SENSOR_CALIB, CAN_3_BYTES, {0x11, 0x11, 0x11}) << false;
    }

    void valueReplyNotAwaited()
    {
        QFETCH(int, target);
        QFETCH(COMMS_MSG_t, reply);
        QFETCH(bool, stale);
        QVERIFY(connectOver(Usb));
        const uint8_t index = target == SETTINGS_COMMS ? VNE_INDEX : LSM_ACC_SCALE_Y_INDEX;
        const uint32_t value = get_value(comms.get(), target_comms_t(target), index);
        if (!stale) {
            add_fault(CANMSG_GLOBAL_SET_SETTING, sim::FAULT_DELAY, kHeldBackMs);
            QVERIFY(comms->write(sim::make_frame(CANMSG_GLOBAL_SET_SETTING, CAN_5_BYTES, {VMIN_INDEX, 55})) > 0);
        }
        sim::unit().queueUnsolicited(reply);
        OutputCapture out;
        QCOMPARE(get_value(comms.get(), target_comms_t(target), index), value);
        QCOMPARE(out.text(), QString());
    }

    void waitsEnd_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("traffic"); // the unit's chatter on USB, other nodes' frames on CAN FD
        QTest::addColumn<QString>("line");
        for (int transport : {Usb, CanFd}) {
            row(transport, "identity, busy link") << int(WaitIdentity) << int(sim::FAULT_NO_REPLY) << true
                                                  << "get_serialnumber: No valid WHOAMI response before timeout.";
            row(transport, "value, busy link") << int(WaitValue) << int(sim::FAULT_NO_REPLY) << true
                                               << "get_value: timeout waiting for response (expected CAN ID 0x380).";
            row(transport, "acknowledgement, busy link") << int(WaitAck) << int(sim::FAULT_NO_REPLY) << true
                                                         << "wait_for_ack: timeout waiting for ACK (expected CAN ID 0x390).";
            row(transport, "flash acknowledgement, busy link") << int(WaitFlashAck) << -1 << true
                                                               << "wait_for_mx25_ack: timeout waiting for MX25 ACK.";
        }
        row(Usb, "value, silent unit") << int(WaitValue) << int(sim::FAULT_NO_REPLY) << false
                                       << "No response received from device (timeout or no data).";
        row(CanFd, "value, unit goes away") << int(WaitValue) << int(sim::FAULT_VANISH) << false << "Error reading response from device.";
    }

    void waitsEnd()
    {
        QFETCH(int, transport);
        QFETCH(int, wait);
        QFETCH(int, fault);
        QFETCH(bool, traffic);
        QFETCH(QString, line);
        QVERIFY(connectOver(transport));
        const uint32_t requests[] = {CANMSG_WHOAMI_REQUEST, CANMSG_REQUEST_SETTINGS_VALUE, CANMSG_GLOBAL_SET_SETTING};
        if (fault >= 0)
            add_fault(requests[wait], fault);
        if (traffic && transport == Usb)
            sim::unit().setChatter(kChatterPeriodMs);
        if (traffic && transport == CanFd)
            sim::can_node().setBusTraffic(kBusyBusPeriodMs);
        const int framesBefore = sim::can_node().otherNodeFramesDelivered();
        uint32_t value = 1234;
        OutputCapture out;
        QElapsedTimer timer;
        timer.start();
        switch (wait) {
        case WaitIdentity:
            QCOMPARE(get_serialnumber(comms.get(), transport == Usb ? USB_HID : CAN_FD, nullptr), 0xFFFFFFFFu);
            break;
        case WaitValue:
            QVERIFY(!read_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value));
            break;
        case WaitAck:
            QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 160), -1);
            break;
        case WaitFlashAck:
            QVERIFY(!wait_for_mx25_ack(comms.get(), nullptr, nullptr));
        }
        QVERIFY2(timer.elapsed() < kLongestWaitMs + kWaitSlackMs, qPrintable(QString("%1 ms").arg(timer.elapsed())));
        QCOMPARE(out.lines(), QStringList{line});
        QCOMPARE(value, 1234u);
        if (traffic && transport == CanFd)
            QVERIFY(sim::can_node().otherNodeFramesDelivered() - framesBefore >= kBusyBusMinimumFrames);
    }
};

QTEST_APPLESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
