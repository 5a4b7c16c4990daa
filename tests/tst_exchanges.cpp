// The request/acknowledge exchanges against the simulated unit: exact request
// bytes, every acknowledgement rule with its printed line, and waits that end.

#include <QtTest>

#include <memory>

#include "comms/comms.h"
#include "output_capture.h"
#include "simulated_unit.h"

typedef std::vector<uint8_t> Bytes;

namespace {

void add_fault(uint32_t request_id, sim::FaultKind kind, int param = 0, int reply = -1)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = kind;
    rule.param = param;
    rule.reply = reply;
    sim::unit().addFault(rule);
}

Bytes last_report()
{
    const auto reports = sim::unit().receivedReports();
    return reports.empty() ? Bytes() : reports.back();
}

COMMS_MSG_t settings_reply(uint8_t uid, uint8_t index, uint32_t value, CAN_MSG_LEN_t code = CAN_6_BYTES)
{
    COMMS_MSG_t reply = sim::make_frame(CANMSG_SEND_SETTINGS_VALUE, code, {uid, index});
    put_u32_le(&reply.data[2], value);
    return reply;
}

} // namespace

class TestExchanges : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setValueRequestBytes();
    void setValueAcknowledgement_data();
    void setValueAcknowledgement();
    void ackWaitEndsDespiteChatter();
    void ackWaitSkipsFrameOfAckShape();
    void unconnectedExchangesFailQuietly();

    void flashAcknowledgement_data();
    void flashAcknowledgement();
    void flashAckWithBothPointersNull();
    void flashAckWaitEndsDespiteChatter();

    void getValueRequestBytes();
    void getValueSkipsUnrelatedReplies_data();
    void getValueSkipsUnrelatedReplies();
    void getValueFromSilentUnit();
    void getValueRefusesReplyForAnotherIndex();
    void getValueDeadlineDespiteChatter();
    void storedAllOnesReadsAsValue();
    void calibrationReadAndWrite();
    void saveSettingsFrameAndAcknowledgement();

private:
    std::unique_ptr<CommsManager> comms;
};

void TestExchanges::init()
{
    sim::unit().reset();
    comms.reset(new CommsManager());
    QVERIFY(comms->establish_connection());
    sim::unit().clearRecords();
}

void TestExchanges::cleanup()
{
    comms.reset();
}

void TestExchanges::setValueRequestBytes()
{
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 0x000000C8), 0);
    QCOMPARE(last_report(), (Bytes{0x05, 0x90, 0x03, 0x00, 0x00, 0x05, 0x06, 0xC8, 0x00, 0x00, 0x00}));
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 0xC8u);
}

void TestExchanges::setValueAcknowledgement_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("ACK") << -1 << 0 << 0 << QStringList{};
    QTest::newRow("NACK") << int(sim::FAULT_NACK) << 0 << -1 << QStringList{"NACK received for command CAN ID 0x390."};
    QTest::newRow("status 7") << int(sim::FAULT_BAD_STATUS) << 7 << -1
                              << QStringList{"ACK validation failed: invalid status byte 7 (expected 0 or 1)"};
    QTest::newRow("names 0x350") << int(sim::FAULT_WRONG_ACK_ID) << 0x350 << -1
                                 << QStringList{"ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x350)"};
    QTest::newRow("names 0x490, same low byte") << int(sim::FAULT_WRONG_ACK_ID) << 0x490 << -1
                                                << QStringList{"ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x490)"};
    QTest::newRow("length code 8") << int(sim::FAULT_WRONG_LENGTH_CODE) << 8 << -1
                                   << QStringList{"ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x08)"};
    QTest::newRow("unrelated frames first") << int(sim::FAULT_NOISE_BEFORE) << 6 << 0 << QStringList{};
    QTest::newRow("garbage report first") << int(sim::FAULT_GARBAGE_REPORT) << 30 << 0 << QStringList{};
    QTest::newRow("silent unit") << int(sim::FAULT_NO_REPLY) << 0 << -1
                                 << QStringList{"No ACK received from device (timeout or no data)."};
    QTest::newRow("short report") << int(sim::FAULT_SHORT_REPORT) << 0 << -1 << QStringList{"Error reading ACK from device."};
    QTest::newRow("unit vanishes") << int(sim::FAULT_VANISH) << 0 << -1 << QStringList{"Error reading ACK from device."};
}

void TestExchanges::setValueAcknowledgement()
{
    QFETCH(int, kind);
    QFETCH(int, param);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    if (kind >= 0)
        add_fault(CANMSG_GLOBAL_SET_SETTING, static_cast<sim::FaultKind>(kind), param);
    OutputCapture out;
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VMIN_INDEX, 55), result);
    QCOMPARE(out.lines(), lines);
}

void TestExchanges::ackWaitEndsDespiteChatter()
{
    add_fault(CANMSG_GLOBAL_SET_SETTING, sim::FAULT_NO_REPLY);
    sim::unit().setChatter(2);
    OutputCapture out;
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VMIN_INDEX, 55), -1);
    QCOMPARE(out.lines(), QStringList{"wait_for_ack: timeout waiting for ACK (expected CAN ID 0x390)."});
}

// A GNSS frame (0x2E0) has the acknowledgement's length and the low byte of
// its identifier; it is no acknowledgement.
void TestExchanges::ackWaitSkipsFrameOfAckShape()
{
    sim::unit().queueUnsolicited(sim::make_frame(CANMSG_GNSS_DATA, CAN_4_BYTES));
    QVERIFY(comms->write(sim::make_frame(CANMSG_GLOBAL_SET_SETTING, CAN_5_BYTES, {VMIN_INDEX, 55})) > 0);
    OutputCapture out;
    QVERIFY(wait_for_ack(comms.get(), CANMSG_GLOBAL_SET_SETTING));
    QCOMPARE(out.text(), QString());
}

void TestExchanges::unconnectedExchangesFailQuietly()
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

void TestExchanges::flashAcknowledgement_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("ACK") << -1 << 0 << true << QStringList{};
    QTest::newRow("NACK") << int(sim::FAULT_NACK) << 0 << false << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAE)"};
    QTest::newRow("status 7") << int(sim::FAULT_BAD_STATUS) << 7 << false
                              << QStringList{"wait_for_mx25_ack: invalid status byte 7 (expected 0 or 1)"};
    QTest::newRow("unrelated frames first") << int(sim::FAULT_NOISE_BEFORE) << 3 << true << QStringList{};
    QTest::newRow("silent unit") << int(sim::FAULT_NO_REPLY) << 0 << false
                                 << QStringList{"wait_for_mx25_ack: No response received (timeout or no data)."};
    QTest::newRow("unit vanishes") << int(sim::FAULT_VANISH) << 0 << false
                                   << QStringList{"wait_for_mx25_ack: Error reading response from device."};
}

void TestExchanges::flashAcknowledgement()
{
    QFETCH(int, kind);
    QFETCH(int, param);
    QFETCH(bool, result);
    QFETCH(QStringList, lines);
    // The store command is answered with a flash acknowledgement first.
    if (kind >= 0)
        add_fault(CANMSG_SAVE_USER_SETTINGS, static_cast<sim::FaultKind>(kind), param, 0);
    QVERIFY(comms->write(sim::make_frame(CANMSG_SAVE_USER_SETTINGS, CAN_4_BYTES)) > 0);
    uint8_t op = 0;
    uint32_t value = 0;
    OutputCapture out;
    QCOMPARE(wait_for_mx25_ack(comms.get(), &op, &value), result);
    QCOMPARE(out.lines(), lines);
    if (result || kind == sim::FAULT_NACK) {
        // Filled before the status is looked at.
        QCOMPARE(int(op), 0xAE);
        QCOMPARE(value, 0x03C00000u);
    }
}

void TestExchanges::flashAckWithBothPointersNull()
{
    QVERIFY(comms->write(sim::make_frame(CANMSG_SAVE_USER_SETTINGS, CAN_4_BYTES)) > 0);
    QVERIFY(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
    add_fault(CANMSG_SAVE_USER_SETTINGS, sim::FAULT_NACK, 0, 0);
    QVERIFY(comms->write(sim::make_frame(CANMSG_SAVE_USER_SETTINGS, CAN_4_BYTES)) > 0);
    QVERIFY(!wait_for_mx25_ack(comms.get(), nullptr, nullptr));
}

void TestExchanges::flashAckWaitEndsDespiteChatter()
{
    sim::unit().setChatter(2);
    OutputCapture out;
    QVERIFY(!wait_for_mx25_ack(comms.get(), nullptr, nullptr));
    QCOMPARE(out.lines(), QStringList{"wait_for_mx25_ack: timeout waiting for MX25 ACK."});
}

void TestExchanges::getValueRequestBytes()
{
    QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 150u);
    QCOMPARE(last_report(), (Bytes{0x05, 0x70, 0x03, 0x00, 0x00, 0x02, 0xCC, 0x06}));
}

void TestExchanges::getValueSkipsUnrelatedReplies_data()
{
    QTest::addColumn<int>("uid");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("code");
    QTest::newRow("reply for another index") << 0xCC << 7 << 6;
    QTest::newRow("reply without 0xCC") << 0xCD << 6 << 6;
    QTest::newRow("reply with length code 8") << 0xCC << 6 << 8;
}

void TestExchanges::getValueSkipsUnrelatedReplies()
{
    QFETCH(int, uid);
    QFETCH(int, index);
    QFETCH(int, code);
    sim::unit().queueUnsolicited(settings_reply(uint8_t(uid), uint8_t(index), 0x11111111, CAN_MSG_LEN_t(code)));
    OutputCapture out;
    QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 150u);
    QCOMPARE(out.text(), QString());
}

void TestExchanges::getValueFromSilentUnit()
{
    add_fault(CANMSG_REQUEST_SETTINGS_VALUE, sim::FAULT_NO_REPLY);
    OutputCapture out;
    uint32_t value = 1234;
    QVERIFY(!read_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value));
    QCOMPARE(value, 1234u);
    QCOMPARE(out.lines(), QStringList{"No response received from device (timeout or no data)."});
}

void TestExchanges::getValueRefusesReplyForAnotherIndex()
{
    add_fault(CANMSG_REQUEST_SETTINGS_VALUE, sim::FAULT_WRONG_INDEX);
    uint32_t value = 1234;
    QVERIFY(!read_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value));
    QCOMPARE(value, 1234u);
}

void TestExchanges::getValueDeadlineDespiteChatter()
{
    add_fault(CANMSG_REQUEST_SETTINGS_VALUE, sim::FAULT_NO_REPLY);
    sim::unit().setChatter(2);
    OutputCapture out;
    QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    QCOMPARE(out.lines(), QStringList{"get_value: timeout waiting for response (expected CAN ID 0x380)."});
}

void TestExchanges::storedAllOnesReadsAsValue()
{
    sim::unit().setSettingsValue(AIRPLANE_COLOR_INDEX, 0xFFFFFFFF);
    uint32_t value = 0;
    QVERIFY(read_value(comms.get(), SETTINGS_COMMS, AIRPLANE_COLOR_INDEX, &value));
    QCOMPARE(value, 0xFFFFFFFFu);
    // The plain read cannot tell it from a failure.
    QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, AIRPLANE_COLOR_INDEX), 0xFFFFFFFFu);
}

void TestExchanges::calibrationReadAndWrite()
{
    QCOMPARE(set_value(comms.get(), SENSOR_COMMS, LSM_ACC_SCALE_Y_INDEX, 0x3F800000), 0);
    QCOMPARE(last_report(), (Bytes{0x05, 0x50, 0x03, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x80, 0x3F}));
    // A reply too short to hold a value is skipped.
    sim::unit().queueUnsolicited(sim::make_frame(CANMSG_SEND_SENSOR_CALIB, CAN_2_BYTES, {1, 2}));
    QCOMPARE(get_value(comms.get(), SENSOR_COMMS, LSM_ACC_SCALE_Y_INDEX), 0x3F800000u);
    QCOMPARE(last_report(), (Bytes{0x05, 0x30, 0x03, 0x00, 0x00, 0x01, 0x06}));
}

void TestExchanges::saveSettingsFrameAndAcknowledgement()
{
    QCOMPARE(save_settings(comms.get(), SETTINGS_COMMS, 0xA1B2C3D4), 0);
    QCOMPARE(last_report(), (Bytes{0x05, 0xA0, 0x03, 0x00, 0x00, 0x04, 0xD4, 0xC3, 0xB2, 0xA1}));
    QCOMPARE(save_settings(comms.get(), SENSOR_COMMS, 0x01020304), 0);
    QCOMPARE(last_report(), (Bytes{0x05, 0x60, 0x03, 0x00, 0x00, 0x04, 0x04, 0x03, 0x02, 0x01}));
}

QTEST_APPLESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
