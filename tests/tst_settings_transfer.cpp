// The settings transfer against the simulated unit: a load reads the whole
// record or leaves the host's alone, a stale reply waiting on the link is never
// taken for the next request, and a store counts only when its flash
// acknowledgement is the erase's and the values read back agree.

#include <QtTest>

#include <cstring>
#include <functional>

#include "can_standin.h"
#include "flash_test_support.h"
#include "settings_transfer.h"

typedef std::function<void(COMM_INTERFACE_t)> Setup;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(COMM_INTERFACE_t)

namespace {

Setup fault(uint32_t requestId, int after, sim::FaultKind kind, int reply = -1)
{
    return [=](COMM_INTERFACE_t) { sim::unit().addFault({requestId, after, 1, kind, 0, reply}); };
}

void noSetup(COMM_INTERFACE_t) {}

// An earlier reply for the checksum word, saying "never stored", still waits on the link.
void staleReply(COMM_INTERFACE_t iface)
{
    const COMMS_MSG_t stale =
        sim::make_frame(CANMSG_SEND_SETTINGS_VALUE, CAN_6_BYTES, {kSettingsWireUid, 252, 0xFF, 0xFF, 0xFF, 0xFF});
    if (iface == USB_HID) {
        sim::unit().queueUnsolicited(stale);
    } else {
        sim::can_node().sendFromOtherNode(stale);
        QTRY_COMPARE_WITH_TIMEOUT(sim::can_node().otherNodeFramesDelivered(), 1, 10000);
    }
}

void neverStored(COMM_INTERFACE_t)
{
    Settings_t erased = sim::unit().settings();
    erased.crc32 = 0xFFFFFFFF;
    sim::unit().setSettings(erased);
}

} // namespace

class TestSettingsTransfer : public QObject
{
    Q_OBJECT

    std::unique_ptr<CommsManager> comms;

    void connectOver(COMM_INTERFACE_t iface)
    {
        if (iface == CAN_FD) {
            sim::unit().setPresent(false);
            qputenv("EFIS_SIM_LINK", "canfd");
        }
        comms = connectToSimulatedUnit();
        QCOMPARE(comms->getActiveInterface(), iface);
        sim::unit().clearRecords();
    }

private slots:
    void init()
    {
        comms.reset();
        qunsetenv("EFIS_SIM_LINK");
        sim::can_node().reset();
        sim::unit().reset();
    }

    void loadIsAllOrNothing_data()
    {
        QTest::addColumn<COMM_INTERFACE_t>("iface");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("failedIndex");

        for (const COMM_INTERFACE_t iface : {USB_HID, CAN_FD}) {
            const char* link = iface == USB_HID ? "USB" : "CAN FD";
            QTest::addRow("%s: complete", link) << iface << Setup(noSetup) << int(SETTINGS_LOAD_OK) << 0;
            QTest::addRow("%s: stale reply", link) << iface << Setup(staleReply) << int(SETTINGS_LOAD_OK) << 0;
            // After the four header words, value 17 goes unanswered.
            QTest::addRow("%s: value 17 silent", link) << iface << fault(0x370, 4 + 17, sim::FAULT_NO_REPLY)
                                                       << int(SETTINGS_LOAD_VALUE_FAILED) << 17;
        }
        QTest::newRow("version silent") << USB_HID << fault(0x370, 2, sim::FAULT_NO_REPLY)
                                        << int(SETTINGS_LOAD_HEADER_FAILED) << 254;
        QTest::newRow("never stored") << USB_HID << Setup(neverStored) << int(SETTINGS_LOAD_NEVER_STORED) << 252;
    }

    void loadIsAllOrNothing()
    {
        QFETCH(COMM_INTERFACE_t, iface);
        QFETCH(Setup, setup);
        QFETCH(int, status);
        QFETCH(int, failedIndex);
        connectOver(iface);
        // White, all ones, is a value like any other and loads as itself.
        sim::unit().setSettingsValue(AIRPLANE_COLOR_INDEX, 0xFFFFFFFF);
        setup(iface);
        Settings_t record = sim::factory_settings();

        settings_load_result_t result;
        printedLines([&] { result = settings_load(comms.get(), &record); });

        QCOMPARE(int(result.status), status);
        QCOMPARE(int(result.failed_index), failedIndex);
        const Settings_t unit = sim::unit().settings();
        const Settings_t expected = status == SETTINGS_LOAD_OK ? unit : sim::factory_settings();
        QVERIFY(memcmp(&record, &expected, sizeof record) == 0);
        if (status == SETTINGS_LOAD_OK) {
            QCOMPARE(result.unit_checksum, unit.crc32);
            QCOMPARE(requestSequence(), QStringLiteral("370*40"));
        }
    }

    void storeOutcome_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("requests");

        const QString stored = "370*2 3a0 370*36";
        // The unit counts 31 elements, exactly the words the record holds.
        QTest::newRow("agrees") << Setup(noSetup) << int(SETTINGS_STORE_OK) << stored;
        QTest::newRow("unit holds another value")
            << Setup([](COMM_INTERFACE_t) { sim::unit().setSettingsValue(VNE_INDEX, 180); })
            << int(SETTINGS_STORE_DIFFERS) << stored;
        QTest::newRow("flash ack names another op")
            << fault(0x3A0, 0, sim::FAULT_WRONG_OP, 0) << int(SETTINGS_STORE_ERASE_FAILED) << "370*2 3a0";
        QTest::newRow("flash ack negative")
            << fault(0x3A0, 0, sim::FAULT_NACK, 0) << int(SETTINGS_STORE_ERASE_FAILED) << "370*2 3a0";
        QTest::newRow("read-back of value 10 silent") << fault(0x370, 2 + 10, sim::FAULT_NO_REPLY)
                                                      << int(SETTINGS_STORE_READ_BACK_FAILED) << "370*2 3a0 370*11";
        QTest::newRow("element count beyond record")
            << Setup([](COMM_INTERFACE_t) { sim::unit().setSettingsValue(SETTINGS_NUM_ELEMENTS, 32); })
            << int(SETTINGS_STORE_TOO_MANY_ELEMENTS) << "370*2";
    }

    void storeOutcome()
    {
        QFETCH(Setup, setup);
        QFETCH(int, status);
        QFETCH(QString, requests);
        setup(USB_HID);
        connectOver(USB_HID);
        Settings_t record = sim::factory_settings();

        settings_store_result_t result;
        printedLines([&] { result = settings_store(comms.get(), &record); });

        QCOMPARE(int(result.status), status);
        QCOMPARE(requestSequence(), requests);
        QCOMPARE(int(result.failed_index), status == SETTINGS_STORE_READ_BACK_FAILED ? 10 : 0);
        QCOMPARE(result.differs, std::vector<uint8_t>(status == SETTINGS_STORE_DIFFERS ? 1 : 0, VNE_INDEX));
        if (status == SETTINGS_STORE_OK || status == SETTINGS_STORE_DIFFERS)
            QCOMPARE(result.read_back.vspeeds.Vne, sim::unit().settings().vspeeds.Vne);
        // The checksum sent is the one the unit computes over what it holds.
        if (status == SETTINGS_STORE_OK)
            QVERIFY(sim::unit().lastStoreChecksumMatched());
    }
};

QTEST_MAIN(TestSettingsTransfer)
#include "tst_settings_transfer.moc"
