// The device link over CAN FD: the connection manager, the identity request
// and the command exchanges running through the real CAN FD transport to the
// simulated unit's CAN node, on a quiet bus and on one that other nodes keep
// busy; a transmit queue that fills; the unit going away mid-transfer; and
// what a machine without SocketCAN prints.

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <vector>

#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "can_records.h"
#include "can_standin.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "output_capture.h"
#include "simulated_unit.h"

typedef std::vector<uint8_t> Bytes;

using can_records::sent_record;

namespace {

const QString kUsbAttempt = "Attempting to connect to USB HID device 0x16D0:0x14C7";
const QString kUsbFailed = "Failed to connect to USB HID";
const QString kCanFallback = "USB HID unavailable, attempting CAN FD interface: can0";
const QString kCanVerifying = "CAN FD connected, verifying with serial number request...";
const QString kAllFailed = "Failed to connect via USB HID or CAN FD";
const QString kQueueStalled =
    "CAN FD transmit queue of can0 stayed full for 1000 ms; is another node acknowledging frames?";

// Sensor frames from other nodes: one every millisecond.
const int kBusyBusPeriodMs = 1;
// Frames from other nodes a busy bus delivers during even the shortest wait.
const int kBusyBusMinimumFrames = 10;
// A unit busy with its displays takes a little while to answer each request,
// so frames from other nodes arrive in between.
const int kUnitAnswerMs = 2;
// How far past its own deadline a wait may end on a loaded test machine.
const qint64 kWaitSlackMs = 3000;
// The unit takes frames off the bus again this long after a full queue.
const int kQueueHoldMs = 200;
// The unit has no handler for it, so it only records what arrives.
const uint32_t kUnansweredId = CANMSG_HEARTBEAT;

// The order a configuration load reads in: the header words, then every value.
std::vector<uint8_t> load_order()
{
    std::vector<uint8_t> indices = {SETTINGS_CHECKSUM_INDEX, SETTINGS_MAGIC_NUM, SETTINGS_VERSION,
                                    SETTINGS_NUM_ELEMENTS};
    for (uint8_t index = 0; index < SETTINGS_LAST_INDEX; index++)
        indices.push_back(index);
    return indices;
}

void add_fault(uint32_t request_id, sim::FaultKind kind, int param = 0, int after = 0, int times = -1)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = kind;
    rule.param = param;
    rule.after = after;
    rule.times = times;
    sim::unit().addFault(rule);
}

QByteArray record_bytes(const Settings_t& record)
{
    return QByteArray(reinterpret_cast<const char*>(&record), sizeof record);
}

std::vector<Bytes> received_records_of(uint32_t can_id)
{
    const auto frames = sim::unit().receivedFrames();
    const auto reports = sim::unit().receivedReports();
    std::vector<Bytes> records;
    for (size_t i = 0; i < frames.size(); i++) {
        if (frames[i].can_ID == can_id)
            records.push_back(reports[i]);
    }
    return records;
}

// Writes frames that the held unit does not take until the transport's
// queue refuses one; how many it took.
int fill_transmit_queue(CANFD* can)
{
    OutputCapture err(stderr);
    int queued = 0;
    while (can->write(sim::make_frame(kUnansweredId, CAN_1_BYTES, {uint8_t(queued)}), 0) > 0)
        queued++;
    return queued;
}

void verify_unanswered_frames(int count)
{
    const std::vector<Bytes> records = received_records_of(kUnansweredId);
    QCOMPARE(records.size(), size_t(count));
    for (int i = 0; i < count; i++)
        QCOMPARE(records[size_t(i)], sent_record(kUnansweredId, {uint8_t(i)}));
}

} // namespace

class TestCanfdLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectsOverCanFd();
    void identityReplyFound_data();
    void identityReplyFound();
    void silentUnitClosesTheCanLink();
    void noSocketCanOnThisMachine();

    void configurationLoadUpdateSave_data();
    void configurationLoadUpdateSave();
    void everyWaitEndsOnBusyBus_data();
    void everyWaitEndsOnBusyBus();

    void fullTransmitQueueWaitedOut();
    void fullTransmitQueueGivesUpAfterItsBound();
    void unitGoesAwayMidLoad();

private:
    bool connectOverCan();

    std::unique_ptr<CommsManager> comms;
};

void TestCanfdLink::init()
{
    sim::can_node().reset();
    sim::unit().reset();
    sim::unit().setPresent(false);
    qputenv("EFIS_SIM_LINK", "canfd");
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestCanfdLink::cleanup()
{
    comms.reset();
    sim::can_node().reset();
}

bool TestCanfdLink::connectOverCan()
{
    comms = std::make_unique<CommsManager>();
    OutputCapture out;
    return comms->establish_connection() && comms->getActiveInterface() == CAN_FD;
}

void TestCanfdLink::connectsOverCanFd()
{
    sim::unit().setSerial(0xAE00ABCD);
    sim::unit().setFirmware(2, 10, 3, 7);
    CommsManager manager;
    OutputCapture out;
    QVERIFY(manager.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, kUsbFailed, kCanFallback, kCanVerifying,
                                       "Successfully connected via CAN FD! Serial number: 0xAE00ABCD, firmware "
                                       "2.10.3 (rc 7)"}));
    QCOMPARE(manager.getActiveInterface(), CAN_FD);
    QCOMPARE(device_serial, 0xAE00ABCDu);
    QCOMPARE(int(fw.major), 2);

    QCOMPARE(sim::unit().receivedReports(), std::vector<Bytes>{sent_record(CANMSG_WHOAMI_REQUEST, {0xEF, 0x15})});
    QCOMPARE(int(sim::unit().receivedFrames().front().iface), int(CAN_FD));
}

void TestCanfdLink::identityReplyFound_data()
{
    QTest::addColumn<int>("otherNodeFrames");
    QTest::addColumn<int>("replyDelayMs");

    QTest::newRow("at once") << 0 << 0;
    QTest::newRow("after frames from other nodes") << 4 << 0;
    // A read waits 1000 ms: the reply comes after one empty read.
    QTest::newRow("after an empty read") << 0 << 1300;
    QTest::newRow("after other nodes' frames and an empty read") << 4 << 1300;
}

void TestCanfdLink::identityReplyFound()
{
    QFETCH(int, otherNodeFrames);
    QFETCH(int, replyDelayMs);

    // Another node's frames, classic and FD, one of them with the identity
    // reply's identifier but not its length.
    const COMMS_MSG_t others[] = {
        sim::make_frame(CANMSG_ACC, CAN_8_BYTES, {1, 2, 3, 4, 5, 6, 7, 8}),
        sim::make_frame(CANMSG_WHOAMI_REQUEST, CAN_6_BYTES, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}),
        sim::make_frame(CANMSG_GPS_LATLON, CAN_64_BYTES, {9, 9, 9}),
        sim::make_frame(CANMSG_HEARTBEAT, CAN_0_BYTES),
    };
    for (int i = 0; i < otherNodeFrames; i++)
        sim::can_node().sendFromOtherNode(others[i]);
    if (replyDelayMs > 0)
        add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_DELAY, replyDelayMs);

    CommsManager manager;
    OutputCapture out;
    QVERIFY(manager.establish_connection());
    QCOMPARE(out.lines().last(), QString("Successfully connected via CAN FD! Serial number: 0xAE020457, firmware "
                                         "1.3.0 (rc 0)"));
    QCOMPARE(sim::can_node().otherNodeFramesDelivered(), otherNodeFrames);
}

void TestCanfdLink::silentUnitClosesTheCanLink()
{
    add_fault(CANMSG_WHOAMI_REQUEST, sim::FAULT_NO_REPLY);
    CommsManager manager;
    OutputCapture out;
    QVERIFY(!manager.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, kUsbFailed, kCanFallback, kCanVerifying,
                                       "get_serialnumber: No valid WHOAMI response before timeout.",
                                       "Failed to get serial number from CAN FD - disconnecting", kAllFailed}));
    QVERIFY(!manager.getCANFD()->isConnected());
    QCOMPARE(device_serial, 0xFFFFFFFFu);
}

void TestCanfdLink::noSocketCanOnThisMachine()
{
    // Not asked to present the unit on CAN FD, the simulated program opens
    // CAN FD as the product does, through this machine's SocketCAN.
    qunsetenv("EFIS_SIM_LINK");
    const int probe = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (probe >= 0) {
        close(probe);
        QSKIP("this machine has SocketCAN: what can0 says depends on how it is set up");
    }
    if (errno != EAFNOSUPPORT)
        QSKIP("this machine refuses CAN sockets for another reason");

    CommsManager manager;
    OutputCapture out;
    OutputCapture err(stderr);
    QVERIFY(!manager.establish_connection());
    QCOMPARE(out.lines(), (QStringList{kUsbAttempt, kUsbFailed, kCanFallback, "Failed to connect to CAN FD", kAllFailed}));
    QCOMPARE(err.lines(), QStringList{"SocketCAN is not available on this system, so CAN FD interface can0 cannot be used"});
    QVERIFY(!manager.isConnected());
    QVERIFY(!manager.getCANFD()->isConnected());
}

void TestCanfdLink::configurationLoadUpdateSave_data()
{
    QTest::addColumn<int>("busTrafficMs");
    QTest::addColumn<int>("unitChatterMs");

    QTest::newRow("quiet bus") << 0 << 0;
    QTest::newRow("other nodes every millisecond") << kBusyBusPeriodMs << 0;
    QTest::newRow("chatty unit") << 0 << 2;
}

void TestCanfdLink::configurationLoadUpdateSave()
{
    QFETCH(int, busTrafficMs);
    QFETCH(int, unitChatterMs);
    QVERIFY(connectOverCan());
    sim::can_node().setBusTraffic(busTrafficMs);
    sim::unit().setChatter(unitChatterMs);
    add_fault(0, sim::FAULT_DELAY, kUnitAnswerMs);
    OutputCapture out;

    // Load: every header word and value, the unit's record byte for byte.
    Settings_t loaded;
    memset(&loaded, 0, sizeof loaded);
    for (uint8_t index : load_order()) {
        uint32_t value = 0;
        QVERIFY2(read_value(comms.get(), SETTINGS_COMMS, index, &value), qPrintable(QString::number(index)));
        QVERIFY(settings_set_value(&loaded, static_cast<settings_struct_index>(index), &value));
    }
    QCOMPARE(record_bytes(loaded), record_bytes(sim::unit().settings()));

    // Update: two changed values, each acknowledged.
    uint32_t vne = 160;
    uint32_t registration = 0x472D5858; // "G-XX"
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, vne), 0);
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, REGISTRATION_1_INDEX, registration), 0);
    QVERIFY(settings_set_value(&loaded, VNE_INDEX, &vne));
    QVERIFY(settings_set_value(&loaded, REGISTRATION_1_INDEX, &registration));
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 160u);
    QCOMPARE(received_records_of(CANMSG_GLOBAL_SET_SETTING).front(),
             sent_record(CANMSG_GLOBAL_SET_SETTING, {VNE_INDEX, 160, 0, 0, 0}));

    // Save: the checksum of the host's record, stamped as for a store; the
    // unit answers with its flash acknowledgement and then the command's.
    memcpy(&loaded.magic, "KOB_", 4);
    loaded.crc32 = 0;
    const uint32_t crc = settings_CalcCRC(&loaded);
    QCOMPARE(save_settings(comms.get(), SETTINGS_COMMS, crc), 0);
    QCOMPARE(sim::unit().storeCount(), 1);
    QVERIFY(sim::unit().lastStoreChecksumMatched());
    Settings_t stored = sim::unit().storedSettings();
    QCOMPARE(settings_get_value(&stored, VNE_INDEX), 160u);
    QCOMPARE(settings_get_value(&stored, REGISTRATION_1_INDEX), registration);
    QCOMPARE(received_records_of(CANMSG_SAVE_USER_SETTINGS).front(),
             sent_record(CANMSG_SAVE_USER_SETTINGS,
                         {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)}));

    QCOMPARE(out.text(), QString());
    if (busTrafficMs > 0)
        QVERIFY(sim::can_node().otherNodeFramesDelivered() >= kBusyBusMinimumFrames);
}

enum LinkWait {
    WAIT_IDENTITY = 0,
    WAIT_VALUE = 1,
    WAIT_ACK = 2,
    WAIT_FLASH_ACK = 3,
};

void TestCanfdLink::everyWaitEndsOnBusyBus_data()
{
    QTest::addColumn<int>("wait");
    QTest::addColumn<uint32_t>("silentRequest");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QString>("line");

    QTest::newRow("identity") << int(WAIT_IDENTITY) << uint32_t(CANMSG_WHOAMI_REQUEST) << 2000
                              << "get_serialnumber: No valid WHOAMI response before timeout.";
    QTest::newRow("settings value") << int(WAIT_VALUE) << uint32_t(CANMSG_REQUEST_SETTINGS_VALUE) << kValueReplyDeadlineMs
                                    << "get_value: timeout waiting for response (expected CAN ID 0x380).";
    QTest::newRow("command acknowledgement")
        << int(WAIT_ACK) << uint32_t(CANMSG_GLOBAL_SET_SETTING) << kAckDeadlineMs
        << "wait_for_ack: timeout waiting for ACK (expected CAN ID 0x390).";
    QTest::newRow("flash acknowledgement") << int(WAIT_FLASH_ACK) << uint32_t(0) << kAckDeadlineMs
                                           << "wait_for_mx25_ack: timeout waiting for MX25 ACK.";
}

void TestCanfdLink::everyWaitEndsOnBusyBus()
{
    QFETCH(int, wait);
    QFETCH(uint32_t, silentRequest);
    QFETCH(int, deadlineMs);
    QFETCH(QString, line);

    QVERIFY(connectOverCan());
    if (silentRequest != 0)
        add_fault(silentRequest, sim::FAULT_NO_REPLY);
    sim::can_node().setBusTraffic(kBusyBusPeriodMs);
    const int framesBefore = sim::can_node().otherNodeFramesDelivered();
    uint32_t value = 0;

    OutputCapture out;
    QElapsedTimer timer;
    timer.start();
    switch (wait) {
    case WAIT_IDENTITY:
        QCOMPARE(get_serialnumber(comms.get(), CAN_FD, nullptr), 0xFFFFFFFFu);
        break;
    case WAIT_VALUE:
        QVERIFY(!read_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value));
        break;
    case WAIT_ACK:
        QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 160), -1);
        break;
    case WAIT_FLASH_ACK:
        QVERIFY(!wait_for_mx25_ack(comms.get(), nullptr, nullptr));
        break;
    }
    const qint64 elapsedMs = timer.elapsed();
    QCOMPARE(out.lines(), QStringList{line});
    QVERIFY2(elapsedMs < deadlineMs + kWaitSlackMs, qPrintable(QString("%1 ms").arg(elapsedMs)));
    QVERIFY(sim::can_node().otherNodeFramesDelivered() - framesBefore >= kBusyBusMinimumFrames);
}

void TestCanfdLink::fullTransmitQueueWaitedOut()
{
    QVERIFY(connectOverCan());
    sim::unit().clearRecords();
    sim::can_node().holdHostFrames(-1);
    const int queued = fill_transmit_queue(comms->getCANFD());
    QVERIFY(queued > 0);

    // The unit takes frames again a little later: the next write waits for
    // room instead of failing.
    sim::can_node().holdHostFrames(kQueueHoldMs);
    OutputCapture err(stderr);
    QVERIFY(comms->write(sim::make_frame(kUnansweredId, CAN_1_BYTES, {uint8_t(queued)})) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(received_records_of(kUnansweredId).size(), size_t(queued + 1), 10000);
    verify_unanswered_frames(queued + 1);
    QCOMPARE(err.text(), QString());
    QCOMPARE(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 150u);
}

void TestCanfdLink::fullTransmitQueueGivesUpAfterItsBound()
{
    QVERIFY(connectOverCan());
    sim::unit().clearRecords();
    sim::can_node().holdHostFrames(-1);
    const int queued = fill_transmit_queue(comms->getCANFD());

    {
        OutputCapture out;
        OutputCapture err(stderr);
        QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 160), -1);
        QCOMPARE(err.lines(), QStringList{kQueueStalled});
        QCOMPARE(out.text(), QString());
    }

    // Once the unit takes frames again, what was queued arrives in order, the
    // refused write never does, and the link carries exchanges as before.
    sim::can_node().releaseHostFrames();
    QTRY_COMPARE_WITH_TIMEOUT(received_records_of(kUnansweredId).size(), size_t(queued), 10000);
    verify_unanswered_frames(queued);
    QVERIFY(received_records_of(CANMSG_GLOBAL_SET_SETTING).empty());
    QCOMPARE(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 160), 0);
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 160u);
}

void TestCanfdLink::unitGoesAwayMidLoad()
{
    QVERIFY(connectOverCan());
    const int answered = 10;
    add_fault(CANMSG_REQUEST_SETTINGS_VALUE, sim::FAULT_VANISH, 0, answered, 1);

    OutputCapture out;
    int loaded = 0;
    uint32_t value = 0;
    for (uint8_t index : load_order()) {
        if (!read_value(comms.get(), SETTINGS_COMMS, index, &value))
            break;
        loaded++;
    }
    QCOMPARE(loaded, answered);
    QCOMPARE(out.lines(), QStringList{"Error reading response from device."});

    // The link stays down, and says so at once rather than after a time-out.
    COMMS_MSG_t msg;
    errno = 0;
    QCOMPARE(comms->read(&msg), -1);
    QCOMPARE(errno, ECONNRESET);
    errno = 0;
    QCOMPARE(comms->write(sim::make_frame(CANMSG_REQUEST_SETTINGS_VALUE, CAN_2_BYTES, {0xCC, 6})), -1);
    QCOMPARE(errno, EPIPE);
}

QTEST_GUILESS_MAIN(TestCanfdLink)
#include "tst_canfd_link.moc"
