// The flash operations on their own against the simulated unit: the frame
// each sends, what the unit's answer must say before it counts, and what a
// refused answer leaves behind.

#include <QtTest>

#include <functional>

#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

// An operation's outcome as a number: 1/0 for done/refused, or the partition.
typedef std::function<uint32_t(CommsManager*, ProgressLog*)> Operation;
typedef std::function<void()> Setup;
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Setup)

namespace {

const QByteArray kOldContents(16, '\0');

Setup fault(uint32_t request_id, sim::FaultKind kind, int reply = -1, int param = 0)
{
    return [=] { sim::unit().addFault({request_id, 0, 1, kind, param, reply}); };
}

Setup answer(uint32_t partition)
{
    return [=] { sim::unit().flash().setPartitionAnswer(partition); };
}

Operation erase(FlashOpType op, uint16_t number)
{
    return [=](CommsManager* comms, ProgressLog* log) {
        return uint32_t(mx25_erase(comms, op, number, ProgressLog::record, log, 0, 1));
    };
}

} // namespace

class TestFlashOps : public QObject
{
    Q_OBJECT

    std::unique_ptr<CommsManager> comms_;

private slots:
    void init()
    {
        sim::unit().reset();
        comms_ = connectToSimulatedUnit();
        sim::unit().clearRecords();
    }
    void cleanup() { comms_.reset(); }

    void eraseClearsExactlyItsRegion_data();
    void eraseClearsExactlyItsRegion();
    void answers_data();
    void answers();
    void refusedBeforeAnythingIsSent();
};

void TestFlashOps::eraseClearsExactlyItsRegion_data()
{
    QTest::addColumn<uint32_t>("op");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<uint32_t>("from");
    QTest::addColumn<uint32_t>("length");

    QTest::newRow("block 833") << uint32_t(OP_BLOCK_ERASE) << 833 << QByteArray("\xBE\x41\x03") << 0x03410000u
                               << 0x10000u;
    QTest::newRow("sector 5") << uint32_t(OP_SECTOR_ERASE) << 5 << QByteArray("\xAE\x05\x00", 3) << 0x5000u << 0x1000u;
    QTest::newRow("chip") << uint32_t(OP_CHIP_ERASE) << 0 << QByteArray("\xCE\x00\x00", 3) << 0u
                          << sim::SimulatedFlash::kChipSize;
}

void TestFlashOps::eraseClearsExactlyItsRegion()
{
    QFETCH(uint32_t, op);
    QFETCH(int, number);
    QFETCH(QByteArray, payload);
    QFETCH(uint32_t, from);
    QFETCH(uint32_t, length);
    const uint32_t end = from + length;
    // Old contents at both ends of the region and just outside it.
    for (uint32_t at : {from - 16, from, end - 16, end}) {
        if (at < sim::SimulatedFlash::kChipSize)
            preloadFlash(at, kOldContents);
    }

    ProgressLog log;
    bool done = false;
    printedLines([&] { done = mx25_erase(comms_.get(), FlashOpType(op), uint16_t(number), ProgressLog::record, &log, 4, 9); });
    QVERIFY(done);
    QCOMPARE(sentFrames(), QVector<QByteArray>{frameBytes(CANMSG_ERASE_MX25, 3, payload)});
    QCOMPARE(log.reports, QStringList{"erase 5/9"});
    QCOMPARE(flashBytes(from, 16) + flashBytes(end - 16, 16), QByteArray(32, '\xFF'));
    if (from > 0)
        QCOMPARE(flashBytes(from - 16, 16), kOldContents);
    if (end < sim::SimulatedFlash::kChipSize)
        QCOMPARE(flashBytes(end, 16), kOldContents);
}

// Each operation's answers, accepted and refused: the unit's answer counts
// only when it names this operation, its op code, its address and its bank.
void TestFlashOps::answers_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QList<Setup>>("setup");
    QTest::addColumn<uint32_t>("result");
    QTest::addColumn<QString>("lastLine");

    const Operation block833 = erase(OP_BLOCK_ERASE, 833);
    const QByteArray erase833 = frameBytes(CANMSG_ERASE_MX25, 3, "\xBE\x41\x03");
    const QString eraseRefused = "mx25_erase: ACK validation failed";
    QTest::newRow("erase: command NACKed") << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_NACK, 0)}
                                           << 0u << eraseRefused;
    QTest::newRow("erase: command acknowledged as another")
        << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_WRONG_ACK_ID, 0, 0x440)} << 0u << eraseRefused;
    QTest::newRow("erase: unit vanishes") << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_VANISH)}
                                          << 0u << eraseRefused;
    QTest::newRow("erase: erase NACKed") << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_NACK, 1)}
                                         << 0u << "mx25_erase: Erase operation failed or timeout";
    QTest::newRow("erase: another op done")
        << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_WRONG_OP, 1)} << 0u
        << "mx25_erase: Op type mismatch in response (expected=0xBE, got=0xBF)";
    QTest::newRow("erase: another block erased")
        << block833 << erase833 << QList<Setup>{fault(0x430, sim::FAULT_WRONG_ADDRESS, 1)} << 0u
        << "mx25_erase: Address mismatch (expected=0x03410000, got=0x03411000)";
    QTest::newRow("chip erase: any address") << erase(OP_CHIP_ERASE, 0)
                                             << frameBytes(CANMSG_ERASE_MX25, 3, QByteArray("\xCE\x00\x00", 3))
                                             << QList<Setup>{fault(0x430, sim::FAULT_WRONG_ADDRESS, 1)} << 1u
                                             << "mx25_erase: Erase completed successfully (address=0x00001000)";

    const Operation setAddress = [](CommsManager* comms, ProgressLog*) {
        return uint32_t(set_mx25_addr(comms, 0x03400000));
    };
    const QByteArray address = frameBytes(CANMSG_SET_ADDR_MX25, 4, QByteArray("\x00\x00\x40\x03", 4));
    QTest::newRow("address: confirmed") << setAddress << address << QList<Setup>{} << 1u
                                        << "set_mx25_addr: Address set successfully (0x03400000)";
    QTest::newRow("address: NACKed") << setAddress << address << QList<Setup>{fault(0x440, sim::FAULT_NACK)} << 0u
                                     << "set_mx25_addr: Failed to receive acknowledgment or operation failed";
    QTest::newRow("address: another op") << setAddress << address << QList<Setup>{fault(0x440, sim::FAULT_WRONG_OP)}
                                         << 0u << "set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0xA1, got=0xA2)";
    QTest::newRow("address: another address")
        << setAddress << address << QList<Setup>{fault(0x440, sim::FAULT_WRONG_ADDRESS)} << 0u
        << "set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)";

    // The unit acknowledges the query, then answers with a flash acknowledgement.
    const Operation partition = [](CommsManager* comms, ProgressLog*) { return uint32_t(get_mx25_partition(comms)); };
    const QByteArray query = frameBytes(CANMSG_GET_PARTITION, 0);
    const QString retrieved = "get_mx25_partition: Partition retrieved successfully (partition=%1, raw=%2)";
    const QString invalid = "get_mx25_partition: Invalid partition value received (raw=%1)";
    const QString unexpected = "get_mx25_partition: Unexpected response (can_ID=%1, msg_len=%2, expected MX25 ACK len 6)";
    QTest::newRow("partition: bank 1") << partition << query << QList<Setup>{} << uint32_t(partition_1)
                                       << retrieved.arg("0xB1B1B1B1", "0xB1B1B1B1");
    QTest::newRow("partition: bank 2") << partition << query << QList<Setup>{answer(partition_2)}
                                       << uint32_t(partition_2) << retrieved.arg("0xB2B2B2B2", "0xB2B2B2B2");
    QTest::newRow("partition: none") << partition << query << QList<Setup>{answer(0)} << 0u
                                     << retrieved.arg("0x00", "0x00000000");
    QTest::newRow("partition: debug") << partition << query << QList<Setup>{answer(partition_debug)} << 0u
                                      << invalid.arg("0xB3B3B3B3");
    QTest::newRow("partition: low byte of bank 1") << partition << query << QList<Setup>{answer(0xB1)} << 0u
                                                   << invalid.arg("0x000000B1");
    QTest::newRow("partition: query NACKed") << partition << query << QList<Setup>{fault(0x730, sim::FAULT_NACK, 0)}
                                             << 0u << "get_mx25_partition: ACK validation failed";
    QTest::newRow("partition: query acknowledged as another")
        << partition << query << QList<Setup>{fault(0x730, sim::FAULT_WRONG_ACK_ID, 0, 0x450)} << 0u
        << "get_mx25_partition: ACK validation failed";
    QTest::newRow("partition: unit vanishes") << partition << query << QList<Setup>{fault(0x730, sim::FAULT_VANISH)}
                                              << 0u << "get_mx25_partition: ACK validation failed";
    QTest::newRow("partition: unrelated frame first")
        << partition << query << QList<Setup>{fault(0x730, sim::FAULT_NOISE_BEFORE, 1, 1)} << 0u
        << unexpected.arg("0x00000100", "0x08");
    // Another node's frame of an answer's length is no answer either.
    QTest::newRow("partition: six-byte frame of another node first")
        << partition << query
        << QList<Setup>{fault(0x730, sim::FAULT_NOISE_BEFORE, 1, 1), fault(0x730, sim::FAULT_WRONG_LENGTH_CODE, 1, 6)}
        << 0u << unexpected.arg("0x00000100", "0x06");
    QTest::newRow("partition: answer of another length")
        << partition << query << QList<Setup>{fault(0x730, sim::FAULT_WRONG_LENGTH_CODE, 1, 8)} << 0u
        << unexpected.arg("0x000000F0", "0x08");
    QTest::newRow("partition: answer NACKed") << partition << query << QList<Setup>{fault(0x730, sim::FAULT_NACK, 1)}
                                              << 0u << "get_mx25_partition: MX25 NACK";
    QTest::newRow("partition: answer of bad status")
        << partition << query << QList<Setup>{fault(0x730, sim::FAULT_BAD_STATUS, 1)} << 0u
        << "get_mx25_partition: invalid MX25 status byte 7 (expected 0 or 1)";
    // Waits out one read time-out.
    QTest::newRow("partition: no answer") << partition << query << QList<Setup>{fault(0x730, sim::FAULT_DROP_REPLY, 1)}
                                          << 0u << "get_mx25_partition: No response received (timeout or no data).";
}

void TestFlashOps::answers()
{
    QFETCH(Operation, operation);
    QFETCH(QByteArray, request);
    QFETCH(QList<Setup>, setup);
    QFETCH(uint32_t, result);
    QFETCH(QString, lastLine);
    for (const Setup& step : setup)
        step();

    ProgressLog log;
    uint32_t outcome = 0;
    const QStringList lines = printedLines([&] { outcome = operation(comms_.get(), &log); });
    QCOMPARE(outcome, result);
    QCOMPARE(lines.last(), lastLine);
    QCOMPARE(sentFrames(), QVector<QByteArray>{request});
    // Progress is reported exactly when an erase is done.
    const bool erased = result != 0 && lastLine.startsWith("mx25_erase");
    QCOMPARE(log.reports, erased ? QStringList{"erase 1/1"} : QStringList());
}

void TestFlashOps::refusedBeforeAnythingIsSent()
{
    CommsManager unconnected;
    bool any = false;
    const QStringList lines = printedLines([&] {
        any |= mx25_erase(&unconnected, OP_BLOCK_ERASE, 0, nullptr, nullptr, 0, 1);
        any |= mx25_erase(nullptr, OP_BLOCK_ERASE, 0, nullptr, nullptr, 0, 1);
        any |= set_mx25_addr(&unconnected, 0);
        any |= get_mx25_partition(&unconnected) != partition_none;
        any |= send_fw(&unconnected, "firmware.bin", 64, nullptr, nullptr);
        any |= send_fw(comms_.get(), nullptr, 64, nullptr, nullptr);
        any |= send_airport_db(&unconnected, "airports.db", nullptr, nullptr);
        any |= send_airport_db(comms_.get(), nullptr, nullptr, nullptr);
    });
    QVERIFY(!any);
    QCOMPARE(lines, QStringList({"mx25_erase: CommsManager not connected", "mx25_erase: CommsManager not connected",
                                 "set_mx25_addr: CommsManager not connected",
                                 "get_mx25_partition: CommsManager not connected", "send_fw: CommsManager not connected",
                                 "send_fw: Invalid encrypted file path", "send_airport_db: CommsManager not connected",
                                 "send_airport_db: Invalid file path"}));
    QVERIFY(sentFrames().isEmpty());
}

QTEST_GUILESS_MAIN(TestFlashOps)
#include "tst_flash_ops.moc"
