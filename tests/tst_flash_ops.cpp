// The flash operations on their own against the simulated unit: the region an
// erase clears, what the unit's answer must say before it counts, and that
// nothing goes out over a link that is not there.

#include <QtTest>

#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

// An operation's outcome as a number: 1/0 for done/refused, or the partition.
typedef std::function<uint32_t(CommsManager*, ProgressLog*)> Operation;
typedef std::function<void()> Setup;
Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Setup)

namespace {

const std::vector<uint8_t> kOldContents(16, 0);

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

    // A block, a sector and the chip: the frame, and flash erased to both ends
    // of the region and no further.
    void eraseClearsExactlyItsRegion()
    {
        const uint32_t chip = sim::SimulatedFlash::kChipSize;
        const QList<std::tuple<FlashOpType, uint16_t, QByteArray, uint32_t, uint32_t>> erases{
            {OP_BLOCK_ERASE, 833, "\xBE\x41\x03", 0x03410000, 0x10000},
            {OP_SECTOR_ERASE, 5, QByteArray("\xAE\x05\x00", 3), 0x5000, 0x1000},
            {OP_CHIP_ERASE, 0, QByteArray("\xCE\x00\x00", 3), 0, chip}};
        for (const auto& [op, number, payload, from, length] : erases) {
            const uint32_t end = from + length;
            for (uint32_t at : {from - 16, from, end - 16, end}) {
                if (at < chip)
                    sim::unit().flash().preload(at, kOldContents);
            }
            ProgressLog log;
            sim::unit().clearRecords();
            bool done = false;
            printedLines([&] { done = mx25_erase(comms_.get(), op, number, ProgressLog::record, &log, 4, 9); });
            QVERIFY(done);
            QCOMPARE(sentFrames(), QVector<QByteArray>{frameBytes(CANMSG_ERASE_MX25, 3, payload)});
            QCOMPARE(log.reports, QStringList{"erase 5/9"});
            QCOMPARE(flashBytes(from, 16) + flashBytes(end - 16, 16), QByteArray(32, '\xFF'));
            if (from > 0)
                QCOMPARE(flashBytes(from - 16, 16), QByteArray(16, '\0'));
            if (end < chip)
                QCOMPARE(flashBytes(end, 16), QByteArray(16, '\0'));
        }
    }

    // Each operation's answers, taken and refused: an answer counts only when
    // it names this operation, its op code, its address and a bank.
    void answers_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<uint32_t>("result");
        QTest::addColumn<QString>("lastLine");
        const auto row = [](const char* name, const Operation& op, const Setup& setup, uint32_t result,
                            const QString& lastLine) { QTest::newRow(name) << op << setup << result << lastLine; };

        const Operation block = erase(OP_BLOCK_ERASE, 833);
        const QString refused = "mx25_erase: ACK validation failed";
        row("erase: acknowledged as another command", block, unitFault(0x430, 0, sim::FAULT_WRONG_ACK_ID, 0, 0x440), 0,
            refused);
        row("erase: erase NACKed", block, unitFault(0x430, 0, sim::FAULT_NACK, 1), 0,
            "mx25_erase: Erase operation failed or timeout");
        row("erase: another op done", block, unitFault(0x430, 0, sim::FAULT_WRONG_OP, 1), 0,
            "mx25_erase: Op type mismatch in response (expected=0xBE, got=0xBF)");
        row("erase: another block erased", block, unitFault(0x430, 0, sim::FAULT_WRONG_ADDRESS, 1), 0,
            "mx25_erase: Address mismatch (expected=0x03410000, got=0x03411000)");
        row("chip erase: any address", erase(OP_CHIP_ERASE, 0), unitFault(0x430, 0, sim::FAULT_WRONG_ADDRESS, 1), 1,
            "mx25_erase: Erase completed successfully (address=0x00001000)");

        const Operation address = [](CommsManager* comms, ProgressLog*) {
            return uint32_t(set_mx25_addr(comms, 0x03400000));
        };
        row("address: NACKed", address, unitFault(0x440, 0, sim::FAULT_NACK), 0,
            "set_mx25_addr: Failed to receive acknowledgment or operation failed");
        row("address: another op", address, unitFault(0x440, 0, sim::FAULT_WRONG_OP), 0,
            "set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0xA1, got=0xA2)");
        row("address: another address", address, unitFault(0x440, 0, sim::FAULT_WRONG_ADDRESS), 0,
            "set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)");

        // The unit acknowledges the query, then answers with a flash acknowledgement.
        const auto answer = [](uint32_t value) {
            return Setup([=] { sim::unit().flash().setPartitionAnswer(value); });
        };
        const Operation partition = [](CommsManager* comms, ProgressLog*) {
            return uint32_t(get_mx25_partition(comms));
        };
        const QString invalid = "get_mx25_partition: Invalid partition value received (raw=%1)";
        const QString unexpected =
            "get_mx25_partition: Unexpected response (can_ID=0x%1, msg_len=0x%2, expected MX25 ACK len 6)";
        row("partition: debug", partition, answer(partition_debug), 0, invalid.arg("0xB3B3B3B3"));
        row("partition: low byte of bank 1", partition, answer(0xB1), 0, invalid.arg("0x000000B1"));
        row("partition: acknowledged as another command", partition,
            unitFault(0x730, 0, sim::FAULT_WRONG_ACK_ID, 0, 0x450), 0, "get_mx25_partition: ACK validation failed");
        // Another node's frame of an answer's length is no answer either.
        const Setup sixBytesOfAnotherNode = [] {
            unitFault(0x730, 0, sim::FAULT_NOISE_BEFORE, 1, 1)();
            unitFault(0x730, 0, sim::FAULT_WRONG_LENGTH_CODE, 1, CAN_6_BYTES)();
        };
        row("partition: another node's six bytes first", partition, sixBytesOfAnotherNode, 0,
            unexpected.arg("00000100", "06"));
        row("partition: answer of another length", partition, unitFault(0x730, 0, sim::FAULT_WRONG_LENGTH_CODE, 1, 8),
            0, unexpected.arg("000000F0", "08"));
        row("partition: answer NACKed", partition, unitFault(0x730, 0, sim::FAULT_NACK, 1), 0,
            "get_mx25_partition: MX25 NACK");
        row("partition: answer of bad status", partition, unitFault(0x730, 0, sim::FAULT_BAD_STATUS, 1), 0,
            "get_mx25_partition: invalid MX25 status byte 7 (expected 0 or 1)");
        // Waits out one read time-out.
        row("partition: no answer", partition, unitFault(0x730, 0, sim::FAULT_DROP_REPLY, 1), 0,
            "get_mx25_partition: No response received (timeout or no data).");
    }

    void answers()
    {
        QFETCH(Operation, operation);
        QFETCH(Setup, setup);
        QFETCH(uint32_t, result);
        QFETCH(QString, lastLine);
        setup();
        ProgressLog log;
        uint32_t outcome = 0;
        const QStringList lines = printedLines([&] { outcome = operation(comms_.get(), &log); });
        QCOMPARE(outcome, result);
        QCOMPARE(lines.last(), lastLine);
        QCOMPARE(sentFrames().size(), 1);
        // Progress is reported exactly when an erase is done.
        QCOMPARE(log.reports, result != 0 && lastLine.startsWith("mx25") ? QStringList{"erase 1/1"} : QStringList());
    }

    void refusedBeforeAnythingIsSent()
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
        QCOMPARE(
            lines,
            QStringList({"mx25_erase: CommsManager not connected", "mx25_erase: CommsManager not connected",
                         "set_mx25_addr: CommsManager not connected", "get_mx25_partition: CommsManager not connected",
                         "send_fw: CommsManager not connected", "send_fw: Invalid encrypted file path",
                         "send_airport_db: CommsManager not connected", "send_airport_db: Invalid file path"}));
        QVERIFY(sentFrames().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFlashOps)
#include "tst_flash_ops.moc"
