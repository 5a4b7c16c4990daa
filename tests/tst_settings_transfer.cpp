// The settings transfer against the simulated unit: a load reads the whole
// record or leaves the host's alone, a stale reply waiting on the link is never
// taken for the next request, and a store counts only when its flash
// acknowledgement is the erase's and the values read back agree.

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

typedef std::function<void(COMM_INTERFACE_t)> Setup;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(COMM_INTERFACE_t)

namespace {

Setup fault(uint32_t requestId, int after, sim::FaultKind kind, int reply = -1)
{
    return [=](COMM_INTERFACE_t) { sim::unit().addFault({requestId, after, 1, kind, 0, reply}); };
}

void noSetup(COMM_INTERFACE_t) {}

} // namespace

class TestSettingsTransfer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadIsAllOrNothing_data();
    void loadIsAllOrNothing();
    void storeOutcome_data();
    void storeOutcome();

private:
    void connectOver(COMM_INTERFACE_t iface);

    std::unique_ptr<CommsManager> comms;
};

void TestSettingsTransfer::init()
{
    comms.reset();
    qunsetenv("EFIS_SIM_LINK");
    sim::can_node().reset();
    sim::unit().reset();
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

    // After the four header words, value 17 goes unanswered.
    const Setup silentValue17 = fault(0x370, 4 + 17, sim::FAULT_NO_REPLY);
    const Setup neverStored = [](COMM_INTERFACE_t) {
        Settings_t erased = sim::unit().settings();
        erased.crc32 = 0xFFFFFFFF;
        sim::unit().setSettings(erased);
    };
    // An earlier reply for the checksum word, saying "never stored", still waits on the link.
    const Setup staleReply = [](COMM_INTERFACE_t iface) {
        const COMMS_MSG_t stale = sim::make_frame(CANMSG_SEND_SETTINGS_VALUE, CAN_6_BYTES,
                                                  {kSettingsWireUid, 252, 0xFF, 0xFF, 0xFF, 0xFF});
        if (iface == USB_HID) {
            sim::unit().queueUnsolicited(stale);
        } else {
            sim::can_node().sendFromOtherNode(stale);
            QTRY_COMPARE_WITH_TIMEOUT(sim::can_node().otherNodeFramesDelivered(), 1, 10000);
        }
    };
    for (const COMM_INTERFACE_t iface : {USB_HID, CAN_FD}) {
        const char* link = iface == USB_HID ? "USB" : "CAN FD";
        QTest::addRow("%s: complete", link) << iface << Setup(noSetup) << int(SETTINGS_LOAD_OK) << 0;
        QTest::addRow("%s: stale reply", link) << iface << staleReply << int(SETTINGS_LOAD_OK) << 0;
        QTest::addRow("%s: value 17 silent", link) << iface << silentValue17 << int(SETTINGS_LOAD_VALUE_FAILED) << 17;
    }
    QTest::newRow("version silent") << USB_HID << fault(0x370, 2, sim::FAULT_NO_REPLY)
                                    << int(SETTINGS_LOAD_HEADER_FAILED) << 254;
    QTest::newRow("never stored") << USB_HID << neverStored << int(SETTINGS_LOAD_NEVER_STORED) << 252;
}

void TestSettingsTransfer::loadIsAllOrNothing()
{
    QFETCH(COMM_INTERFACE_t, iface);
    QFETCH(Setup, setup);
    QFETCH(int, status);
    QFETCH(int, failedIndex);

    connectOver(iface);
    // White, all ones, is a value like any other and loads as itself.
    sim::unit().setSettingsValue(AIRPLANE_COLOR_INDEX, 0xFFFFFFFF);
    setup(iface);
    Settings_t record;
    memset(&record, 0xA5, sizeof record);
    const Settings_t before = record;
    OutputCapture out;

    const settings_load_result_t result = settings_load(comms.get(), &record);

    QCOMPARE(int(result.status), status);
    QCOMPARE(int(result.failed_index), failedIndex);
    const Settings_t unit = sim::unit().settings();
    QVERIFY(memcmp(&record, status == SETTINGS_LOAD_OK ? &unit : &before, sizeof record) == 0);
    if (status != SETTINGS_LOAD_OK)
        return;
    QCOMPARE(result.unit_checksum, unit.crc32);
    QCOMPARE(sim::unit().receivedFrames().size(), size_t(4 + SETTINGS_LAST_INDEX));
}

void TestSettingsTransfer::storeOutcome_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<uint32_t>("hostVne");
    QTest::addColumn<int>("status");

    const uint32_t unitVne = sim::factory_settings().vspeeds.Vne;
    // The unit counts 31 elements, exactly the words the record holds.
    QTest::newRow("agrees") << Setup(noSetup) << unitVne << int(SETTINGS_STORE_OK);
    QTest::newRow("edit never sent") << Setup(noSetup) << 180u << int(SETTINGS_STORE_DIFFERS);
    QTest::newRow("flash ack names another op") << fault(0x3A0, 0, sim::FAULT_WRONG_OP, 0) << unitVne
                                                << int(SETTINGS_STORE_ERASE_FAILED);
    QTest::newRow("flash ack negative") << fault(0x3A0, 0, sim::FAULT_NACK, 0) << unitVne
                                        << int(SETTINGS_STORE_ERASE_FAILED);
    QTest::newRow("read-back of value 10 silent") << fault(0x370, 2 + 10, sim::FAULT_NO_REPLY) << unitVne
                                                  << int(SETTINGS_STORE_READ_BACK_FAILED);
    QTest::newRow("element count beyond record")
        << Setup([](COMM_INTERFACE_t) { sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 32); }) << unitVne
        << int(SETTINGS_STORE_TOO_MANY_ELEMENTS);
}

void TestSettingsTransfer::storeOutcome()
{
    QFETCH(Setup, setup);
    QFETCH(uint32_t, hostVne);
    QFETCH(int, status);

    setup(USB_HID);
    connectOver(USB_HID);
    Settings_t record = sim::unit().settings();
    settings_set_value(&record, VNE_INDEX, &hostVne);
    OutputCapture out;

    const settings_store_result_t result = settings_store(comms.get(), &record);

    QCOMPARE(int(result.status), status);
    // A unit counting too many words is never asked to store.
    QCOMPARE(sim::unit().storeCount(), status == SETTINGS_STORE_TOO_MANY_ELEMENTS ? 0 : 1);
    QCOMPARE(result.differs, status == SETTINGS_STORE_DIFFERS ? std::vector<uint8_t>{VNE_INDEX} : std::vector<uint8_t>{});
    if (status == SETTINGS_STORE_OK || status == SETTINGS_STORE_DIFFERS)
        QCOMPARE(int(result.read_back.vspeeds.Vne), int(sim::factory_settings().vspeeds.Vne));
    QCOMPARE(int(result.failed_index), status == SETTINGS_STORE_READ_BACK_FAILED ? 10 : 0);
    if (status == SETTINGS_STORE_OK)
        QVERIFY(sim::unit().lastStoreChecksumMatched());
}

QTEST_MAIN(TestSettingsTransfer)
#include "tst_settings_transfer.moc"
