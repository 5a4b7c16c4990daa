// The request/acknowledge exchanges against the simulated unit, over USB and
// over CAN FD: exact request bytes, every acknowledgement rule with its
// printed line, replies that are not the awaited one, and waits that end
// however busy the link.

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

#include "can_records.h"
#include "can_standin.h"
#include "comms/comms.h"
#include "output_capture.h"

Q_DECLARE_METATYPE(COMMS_MSG_t)

namespace {

enum Exchange { Identity, GetValue, SetValue, FlashAck, SetCalibration, SaveSettings, SaveCalibration };

// The unit's chatter on USB, sensor frames from other nodes on CAN FD: one
// every millisecond.
const int kBusyLinkPeriodMs = 1;
// A unit busy with its displays takes a little while to answer each request,
// so frames from other nodes arrive in between.
const int kUnitAnswerMs = 2;
// An acknowledgement held back this long keeps the frames queued behind it
// from the dropping before the next request.
const int kHeldBackMs = 200;
// The longest wait (the identity reply's, 2000 ms) and how far past it a
// wait may end on a loaded machine.
const qint64 kWaitBoundMs = 2000 + 3000;

void add_fault(uint32_t request_id, int kind, int param = 0, int reply = -1)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = sim::FaultKind(kind);
    rule.param = param;
    rule.reply = reply;
    sim::unit().addFault(rule);
}

// The record a frame travels in on CAN FD, from the report it travels in on USB.
Bytes record_of(const Bytes& report)
{
    return can_records::sent_record(get_u32_le(&report[1]), Bytes(report.begin() + 6, report.end()));
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
        const bool connected
            = comms->establish_connection() && comms->getActiveInterface() == (transport == Usb ? USB_HID : CAN_FD);
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

    // Each exchange's request on the wire, and how each wait ends: the rules
    // of the command and flash acknowledgements, and waits on a silent or
    // vanishing unit or a link kept busy (the unit's chatter on USB, other
    // nodes' frames on CAN FD, and a unit that takes a moment to answer).
    void exchange_data()
    {
        QTest::addColumn<int>("transport");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("line"); // none when the exchange succeeds
        QTest::addColumn<Bytes>("report"); // the request as it travels on USB; in a record on CAN FD
        const auto add = [](const QByteArray& name, int exchange, int fault, int param, const QString& line,
                            int transport = Usb, bool busy = false, const Bytes& report = {}) {
            transport_row(transport, name.constData()) << exchange << fault << param << busy << line << report;
        };
        for (int transport : {Usb, CanFd}) {
            add("set value", SetValue, -1, 0, {}, transport, true,
                {0x05, 0x90, 0x03, 0x00, 0x00, 0x05, 0x06, 0xC8, 0x00, 0x00, 0x00});
            add("get value", GetValue, -1, 0, {}, transport, true, {0x05, 0x70, 0x03, 0x00, 0x00, 0x02, 0xCC, 0x06});
            add("set calibration", SetCalibration, -1, 0, {}, transport, true,
                {0x05, 0x50, 0x03, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x80, 0x3F});
            add("save settings", SaveSettings, -1, 0, {}, transport, true,
                {0x05, 0xA0, 0x03, 0x00, 0x00, 0x04, 0xD4, 0xC3, 0xB2, 0xA1});
            add("save calibration", SaveCalibration, -1, 0, {}, transport, true,
                {0x05, 0x60, 0x03, 0x00, 0x00, 0x04, 0x04, 0x03, 0x02, 0x01});
            add("identity, busy link", Identity, sim::FAULT_NO_REPLY, 0,
                "get_serialnumber: No valid WHOAMI response before timeout.", transport, true);
            add("value, busy link", GetValue, sim::FAULT_NO_REPLY, 0,
                "get_value: timeout waiting for response (expected CAN ID 0x380).", transport, true);
            add("acknowledgement, busy link", SetValue, sim::FAULT_NO_REPLY, 0,
                "wait_for_ack: timeout waiting for ACK (expected CAN ID 0x390).", transport, true);
            add("flash acknowledgement, busy link", FlashAck, sim::FAULT_NO_REPLY, 0,
                "wait_for_mx25_ack: timeout waiting for MX25 ACK.", transport, true);
        }
        for (int exchange : {SetValue, FlashAck}) {
            const bool flash = exchange == FlashAck;
            const QByteArray kind = flash ? "flash acknowledgement: " : "acknowledgement: ";
            const QString prefix = flash ? "wait_for_mx25_ack: " : "";
            add(kind + "ACK", exchange, -1, 0, {});
            add(kind + "NACK", exchange, sim::FAULT_NACK, 0,
                flash ? "wait_for_mx25_ack: MX25 NACK (op=0xAE)" : "NACK received for command CAN ID 0x390.");
            add(kind + "status 7", exchange, sim::FAULT_BAD_STATUS, 7,
                (flash ? prefix : "ACK validation failed: ") + "invalid status byte 7 (expected 0 or 1)");
            add(kind + "unrelated frames first", exchange, sim::FAULT_NOISE_BEFORE, 6, {});
            add(kind + "silent unit", exchange, sim::FAULT_NO_REPLY, 0,
                flash ? "wait_for_mx25_ack: No response received (timeout or no data)."
                      : "No ACK received from device (timeout or no data).");
            add(kind + "unit vanishes", exchange, sim::FAULT_VANISH, 0,
                flash ? prefix + "Error reading response from device." : "Error reading ACK from device.");
        }
        const QString mismatch = "ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x%1)";
        add("acknowledgement: names 0x350", SetValue, sim::FAULT_WRONG_ACK_ID, 0x350, mismatch.arg(350));
        add("acknowledgement: names 0x490, same low byte", SetValue, sim::FAULT_WRONG_ACK_ID, 0x490, mismatch.arg(490));
        add("acknowledgement: length code 8", SetValue, sim::FAULT_WRONG_LENGTH_CODE, 8,
            "ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x08)");
        add("acknowledgement: short report", SetValue, sim::FAULT_SHORT_REPORT, 0, "Error reading ACK from device.");
        add("value: silent unit", GetValue, sim::FAULT_NO_REPLY, 0,
            "No response received from device (timeout or no data).");
        add("value: unit goes away", GetValue, sim::FAULT_VANISH, 0, "Error reading response from device.", CanFd);
    }

    void exchange()
    {
        QFETCH(int, transport);
        QFETCH(int, exchange);
        QFETCH(int, fault);
        QFETCH(int, param);
        QFETCH(bool, busy);
        QFETCH(QString, line);
        QFETCH(Bytes, report);
        QVERIFY(connectOver(transport));
        // The store command is answered with a flash acknowledgement first.
        const uint32_t requests[] = {CANMSG_WHOAMI_REQUEST, CANMSG_REQUEST_SETTINGS_VALUE, CANMSG_GLOBAL_SET_SETTING,
                                     CANMSG_SAVE_USER_SETTINGS};
        if (fault >= 0)
            add_fault(requests[exchange], fault, param, exchange == FlashAck ? 0 : -1);
        if (busy) {
            add_fault(0, sim::FAULT_DELAY, kUnitAnswerMs);
            transport == Usb ? sim::unit().setChatter(kBusyLinkPeriodMs)
                             : sim::can_node().setBusTraffic(kBusyLinkPeriodMs);
        }
        uint8_t op = 0;
        uint32_t value = 1234;
        bool succeeded = false;
        OutputCapture out;
        QElapsedTimer timer;
        timer.start();
        switch (exchange) {
        case Identity:
            succeeded = get_serialnumber(comms.get(), transport == Usb ? USB_HID : CAN_FD, nullptr) != 0xFFFFFFFF;
            break;
        case GetValue:
            succeeded = read_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value);
            break;
        case SetValue:
            succeeded = set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 0xC8) == 0;
            break;
        case FlashAck:
            succeeded = comms->write(sim::make_frame(requests[exchange], CAN_4_BYTES)) > 0
                && wait_for_mx25_ack(comms.get(), &op, &value);
            break;
        case SetCalibration:
            succeeded = set_value(comms.get(), SENSOR_COMMS, LSM_ACC_SCALE_Y_INDEX, 0x3F800000) == 0;
            break;
        default:
            succeeded = save_settings(comms.get(), exchange == SaveSettings ? SETTINGS_COMMS : SENSOR_COMMS,
                                      get_u32_le(&report[6]))
                == 0;
        }
        QVERIFY2(timer.elapsed() < kWaitBoundMs, qPrintable(QString("%1 ms").arg(timer.elapsed())));
        QCOMPARE(succeeded, line.isEmpty());
        QCOMPARE(out.lines(), line.isEmpty() ? QStringList() : QStringList{line});
        if (!report.empty())
            QCOMPARE(sim::unit().receivedReports().back(), transport == Usb ? report : record_of(report));
        // Filled from any flash acknowledgement, before its status is looked at.
        if (exchange == FlashAck && (succeeded || fault == sim::FAULT_NACK || fault == sim::FAULT_BAD_STATUS))
            QCOMPARE(QList<uint32_t>({op, value}), QList<uint32_t>({0xAE, 0x03C00000}));
        else
            QCOMPARE(value, exchange == GetValue && succeeded ? 150u : 1234u);
        if (exchange == SetValue && succeeded)
            QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 0xC8u);
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

    void valueReplyNotAwaited_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<COMMS_MSG_t>("reply");
        QTest::addColumn<bool>("stale"); // waiting on the link before the request
        QTest::newRow("stale reply for this index") << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX) << true;
        QTest::newRow("reply for another index") << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX + 1) << false;
        QTest::newRow("reply without 0xCC") << int(SETTINGS_COMMS) << settings_reply(0xCD, VNE_INDEX) << false;
        QTest::newRow("reply with length code 8")
            << int(SETTINGS_COMMS) << settings_reply(0xCC, VNE_INDEX, CAN_8_BYTES) << false;
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
};

QTEST_APPLESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
