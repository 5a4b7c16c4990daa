// The settings transfer against the simulated unit, on both transports: a
// load that fails changes nothing, a late acknowledgement is never taken for
// the next request, and a store counts only when its flash acknowledgement is
// right and the values read back agree.

#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

#include "EFIS_shared/get_set.h"
#include "can_standin.h"
#include "comms/comms.h"
#include "output_capture.h"
#include "settings_transfer.h"
#include "simulated_unit.h"

typedef std::function<void()> Setup;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(COMM_INTERFACE_t)

namespace {

const int kHeaderReads = 4;
const int kValueReads = 36;

void add_fault(uint32_t request_id, int after, sim::FaultKind kind, int reply = -1)
{
    sim::unit().addFault({request_id, after, 1, kind, 0, reply});
}

// A record no load would produce, to see that a failed one leaves it alone.
Settings_t patterned_record()
{
    Settings_t record;
    memset(&record, 0xA5, sizeof record);
    return record;
}

uint32_t word(Settings_t record, uint32_t index)
{
    return settings_get_value(&record, static_cast<settings_struct_index>(index));
}

} // namespace

class TestSettingsTransfer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadIsAllOrNothing_data();
    void loadIsAllOrNothing();
    void lateAcknowledgementIsNotTakenForNextWrite_data();
    void lateAcknowledgementIsNotTakenForNextWrite();
    void storeOutcome_data();
    void storeOutcome();

private:
    void connectOver(COMM_INTERFACE_t iface);
    void addTransportRows(const char* name);

    std::unique_ptr<CommsManager> comms;
};

void TestSettingsTransfer::init()
{
    sim::can_node().reset();
    sim::unit().reset();
}

void TestSettingsTransfer::cleanup()
{
    comms.reset();
    sim::can_node().reset();
    qunsetenv("EFIS_SIM_LINK");
}

void TestSettingsTransfer::connectOver(COMM_INTERFACE_t iface)
{
    if (iface == CAN_FD) {
        sim::unit().setPresent(false);
        qputenv("EFIS_SIM_LINK", "canfd");
    }
    comms = std::make_unique<CommsManager>();
    OutputCapture out;
    QVERIFY(comms->establish_connection());
    QCOMPARE(comms->getActiveInterface(), iface);
    sim::unit().clearRecords();
}

void TestSettingsTransfer::loadIsAllOrNothing_data()
{
    QTest::addColumn<COMM_INTERFACE_t>("iface");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("failedIndex");

    const Setup silentValue17 = [] { add_fault(0x370, kHeaderReads + 17, sim::FAULT_NO_REPLY); };
    const Setup silentVersion = [] { add_fault(0x370, 2, sim::FAULT_NO_REPLY); };
    const Setup neverStored = [] {
        Settings_t erased = sim::unit().settings();
        erased.crc32 = 0xFFFFFFFF;
        sim::unit().setSettings(erased);
    };
    for (const COMM_INTERFACE_t iface : {USB_HID, CAN_FD}) {
        const char* link = iface == USB_HID ? "USB" : "CAN FD";
        QTest::addRow("%s: complete", link) << iface << Setup([] {}) << int(SETTINGS_LOAD_OK) << 0;
        QTest::addRow("%s: value 17 silent", link) << iface << silentValue17 << int(SETTINGS_LOAD_VALUE_FAILED) << 17;
        QTest::addRow("%s: version silent", link) << iface << silentVersion << int(SETTINGS_LOAD_HEADER_FAILED) << 254;
        QTest::addRow("%s: never stored", link) << iface << neverStored << int(SETTINGS_LOAD_NEVER_STORED) << 252;
    }
}

void TestSettingsTransfer::loadIsAllOrNothing()
{
    QFETCH(COMM_INTERFACE_t, iface);
    QFETCH(Setup, setup);
    QFETCH(int, status);
    QFETCH(int, failedIndex);

    sim::unit().setSettingsValue(AIRPLANE_COLOR_INDEX, 0xFFFFFFFF);
    setup();
    connectOver(iface);
    Settings_t record = patterned_record();
    const Settings_t before = record;
    OutputCapture out;

    const settings_load_result_t result = settings_load(comms.get(), &record);

    QCOMPARE(int(result.status), status);
    QCOMPARE(int(result.failed_index), failedIndex);
    if (status != SETTINGS_LOAD_OK) {
        QVERIFY(memcmp(&record, &before, sizeof record) == 0);
        return;
    }
    const Settings_t unit = sim::unit().settings();
    QCOMPARE(result.unit_checksum, unit.crc32);
    QCOMPARE(record.crc32, unit.crc32);
    for (uint32_t i = 0; i < SETTINGS_LAST_INDEX; i++)
        QCOMPARE(word(record, i), word(unit, i));
    QCOMPARE(sim::unit().receivedFrames().size(), size_t(kHeaderReads + kValueReads));
}

void TestSettingsTransfer::lateAcknowledgementIsNotTakenForNextWrite_data()
{
    QTest::addColumn<COMM_INTERFACE_t>("iface");
    QTest::newRow("USB") << USB_HID;
    QTest::newRow("CAN FD") << CAN_FD;
}

// The positive acknowledgement of an earlier write that timed out is already
// waiting on the link when the next write goes out; the unit refuses that one.
void TestSettingsTransfer::lateAcknowledgementIsNotTakenForNextWrite()
{
    QFETCH(COMM_INTERFACE_t, iface);
    connectOver(iface);
    const COMMS_MSG_t late = sim::command_ack(CANMSG_GLOBAL_SET_SETTING, ACK);
    if (iface == USB_HID) {
        sim::unit().queueUnsolicited(late);
    } else {
        sim::can_node().sendFromOtherNode(late);
        QTRY_COMPARE_WITH_TIMEOUT(sim::can_node().otherNodeFramesDelivered(), 1, 10000);
    }
    add_fault(0x390, 0, sim::FAULT_NACK);
    Settings_t record = sim::unit().settings();
    OutputCapture out;

    const settings_update_result_t result = settings_update(comms.get(), record, {VNE_INDEX});

    QCOMPARE(result.sent, 0u);
    QCOMPARE(result.failed, std::vector<uint8_t>{VNE_INDEX});
    QCOMPARE(out.lines(), QStringList{QStringLiteral("NACK received for command CAN ID 0x390.")});
}

void TestSettingsTransfer::storeOutcome_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<uint32_t>("hostVne");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("storeFrames");
    QTest::addColumn<std::vector<uint8_t>>("differs");

    const uint32_t unitVne = sim::factory_settings().vspeeds.Vne;
    const Setup none = [] {};
    QTest::newRow("agrees") << none << unitVne << int(SETTINGS_STORE_OK) << 1 << std::vector<uint8_t>{};
    QTest::newRow("edit never sent") << none << 180u << int(SETTINGS_STORE_DIFFERS) << 1
                                     << std::vector<uint8_t>{VNE_INDEX};
    QTest::newRow("flash ack names another op") << Setup([] { add_fault(0x3A0, 0, sim::FAULT_WRONG_OP, 0); })
                                                << unitVne << int(SETTINGS_STORE_ERASE_FAILED) << 1
                                                << std::vector<uint8_t>{};
    QTest::newRow("flash ack negative") << Setup([] { add_fault(0x3A0, 0, sim::FAULT_NACK, 0); }) << unitVne
                                        << int(SETTINGS_STORE_ERASE_FAILED) << 1 << std::vector<uint8_t>{};
    QTest::newRow("read-back silent") << Setup([] { add_fault(0x370, 2 + 10, sim::FAULT_NO_REPLY); }) << unitVne
                                      << int(SETTINGS_STORE_READ_BACK_FAILED) << 1 << std::vector<uint8_t>{};
    QTest::newRow("element count beyond record")
        << Setup([] { sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 32); }) << unitVne
        << int(SETTINGS_STORE_TOO_MANY_ELEMENTS) << 0 << std::vector<uint8_t>{};
}

void TestSettingsTransfer::storeOutcome()
{
    QFETCH(Setup, setup);
    QFETCH(uint32_t, hostVne);
    QFETCH(int, status);
    QFETCH(int, storeFrames);
    QFETCH(std::vector<uint8_t>, differs);

    setup();
    connectOver(USB_HID);
    Settings_t record = sim::unit().settings();
    settings_set_value(&record, VNE_INDEX, &hostVne);
    OutputCapture out;

    const settings_store_result_t result = settings_store(comms.get(), &record);

    QCOMPARE(int(result.status), status);
    QCOMPARE(result.differs, differs);
    const std::vector<COMMS_MSG_t> frames = sim::unit().receivedFrames();
    QCOMPARE(int(std::count_if(frames.begin(), frames.end(),
                               [](const COMMS_MSG_t& frame) { return frame.can_ID == CANMSG_SAVE_USER_SETTINGS; })),
             storeFrames);
    if (status == SETTINGS_STORE_READ_BACK_FAILED)
        QCOMPARE(int(result.failed_index), 10);
    if (status == SETTINGS_STORE_OK || status == SETTINGS_STORE_DIFFERS)
        QCOMPARE(word(result.read_back, VNE_INDEX), sim::factory_settings().vspeeds.Vne + 0u);
}

QTEST_MAIN(TestSettingsTransfer)
#include "tst_settings_transfer.moc"
