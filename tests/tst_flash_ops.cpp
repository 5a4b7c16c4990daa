#include <QtTest>

#include <memory>

#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

namespace {

const QByteArray kOldContents(16, '\0');

QByteArray bytes(std::initializer_list<uint8_t> values)
{
    QByteArray result;
    for (uint8_t value : values)
        result.append(char(value));
    return result;
}

sim::FaultRule fault(uint32_t request_id, sim::FaultKind kind, int reply = -1, int param = 0)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.kind = kind;
    rule.reply = reply;
    rule.param = param;
    return rule;
}

} // namespace

Q_DECLARE_METATYPE(sim::FaultRule)

class TestFlashOps : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eraseRequest_data();
    void eraseRequest();
    void eraseFailure_data();
    void eraseFailure();
    void chipEraseAcceptsAnyAddress();

    void setAddress();
    void setAddressFailure_data();
    void setAddressFailure();

    void partitionAnswer_data();
    void partitionAnswer();
    void partitionQueryFailure_data();
    void partitionQueryFailure();

    void unconnectedLinkSendsNothing();
    void simulatedFlashBehavesLikeMx25();

private:
    std::unique_ptr<CommsManager> comms_;
};

void TestFlashOps::init()
{
    sim::unit().reset();
    comms_ = connectToSimulatedUnit();
    sim::unit().clearRecords();
}

void TestFlashOps::cleanup()
{
    comms_.reset();
}

void TestFlashOps::eraseRequest_data()
{
    QTest::addColumn<uint32_t>("op");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QString>("sentLine");
    QTest::addColumn<QString>("completedLine");
    QTest::addColumn<uint32_t>("erasedFrom");
    QTest::addColumn<uint32_t>("erasedLength");

    QTest::newRow("block 833") << uint32_t(OP_BLOCK_ERASE) << 833 << hostReport(0x430, 3, bytes({0xBE, 0x41, 0x03}))
                               << "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=833)"
                               << "mx25_erase: Erase completed successfully (address=0x03410000)" << 0x03410000u
                               << 0x10000u;
    QTest::newRow("sector 5") << uint32_t(OP_SECTOR_ERASE) << 5 << hostReport(0x430, 3, bytes({0xAE, 0x05, 0x00}))
                              << "mx25_erase: Successfully sent erase command (op_type=0xAE, block/sector=5)"
                              << "mx25_erase: Erase completed successfully (address=0x00005000)" << 0x5000u << 0x1000u;
    QTest::newRow("chip") << uint32_t(OP_CHIP_ERASE) << 0 << hostReport(0x430, 3, bytes({0xCE, 0x00, 0x00}))
                          << "mx25_erase: Successfully sent erase command (op_type=0xCE, block/sector=0)"
                          << "mx25_erase: Erase completed successfully (address=0x00000000)" << 0u
                          << sim::SimulatedFlash::kChipSize;
}

void TestFlashOps::eraseRequest()
{
    QFETCH(uint32_t, op);
    QFETCH(int, number);
    QFETCH(QByteArray, report);
    QFETCH(QString, sentLine);
    QFETCH(QString, completedLine);
    QFETCH(uint32_t, erasedFrom);
    QFETCH(uint32_t, erasedLength);
    // Old contents at both ends of the region and just outside it.
    const uint32_t erasedEnd = erasedFrom + erasedLength;
    if (erasedFrom > 0)
        preloadFlash(erasedFrom - 16, kOldContents);
    preloadFlash(erasedFrom, kOldContents);
    preloadFlash(erasedEnd - 16, kOldContents);
    if (erasedEnd < sim::SimulatedFlash::kChipSize)
        preloadFlash(erasedEnd, kOldContents);

    QStringList progress;
    bool done = false;
    const QStringList lines = printedLines(
        [&] { done = mx25_erase(comms_.get(), FlashOpType(op), uint16_t(number), recordProgress, &progress, 4, 9); });
    QVERIFY(done);

    QCOMPARE(receivedReports(), QVector<QByteArray>{report});
    QCOMPARE(lines, QStringList({sentLine, "mx25_erase: ACK received, erase command acknowledged", completedLine}));
    QCOMPARE(progress, QStringList{"erase 5/9"});
    QCOMPARE(flashBytes(erasedFrom, 16), QByteArray(16, '\xFF'));
    QCOMPARE(flashBytes(erasedEnd - 16, 16), QByteArray(16, '\xFF'));
    if (erasedFrom > 0)
        QCOMPARE(flashBytes(erasedFrom - 16, 16), kOldContents);
    if (erasedEnd < sim::SimulatedFlash::kChipSize)
        QCOMPARE(flashBytes(erasedEnd, 16), kOldContents);
}

void TestFlashOps::eraseFailure_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<QStringList>("closingLines");

    QTest::newRow("command NACK") << fault(0x430, sim::FAULT_NACK, 0)
                                  << QStringList{"NACK received for command CAN ID 0x430.",
                                                 "mx25_erase: ACK validation failed"};
    QTest::newRow("erase NACK") << fault(0x430, sim::FAULT_NACK, 1)
                                << QStringList{"mx25_erase: ACK received, erase command acknowledged",
                                               "wait_for_mx25_ack: MX25 NACK (op=0xBE)",
                                               "mx25_erase: Erase operation failed or timeout"};
    QTest::newRow("wrong op") << fault(0x430, sim::FAULT_WRONG_OP, 1)
                              << QStringList{"mx25_erase: ACK received, erase command acknowledged",
                                             "mx25_erase: Op type mismatch in response (expected=0xBE, got=0xBF)"};
    QTest::newRow("wrong address") << fault(0x430, sim::FAULT_WRONG_ADDRESS, 1)
                                   << QStringList{"mx25_erase: ACK received, erase command acknowledged",
                                                  "mx25_erase: Address mismatch (expected=0x03410000, got=0x03411000)"};
    QTest::newRow("unit vanishes") << fault(
        0x430, sim::FAULT_VANISH) << QStringList{"Error reading ACK from device.", "mx25_erase: ACK validation failed"};
}

void TestFlashOps::eraseFailure()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(QStringList, closingLines);
    sim::unit().addFault(rule);

    QStringList progress;
    bool done = false;
    const QStringList lines =
        printedLines([&] { done = mx25_erase(comms_.get(), OP_BLOCK_ERASE, 833, recordProgress, &progress, 0, 1); });
    QVERIFY(!done);

    QCOMPARE(lines.mid(lines.size() - closingLines.size()), closingLines);
    QVERIFY(progress.isEmpty());
}

void TestFlashOps::chipEraseAcceptsAnyAddress()
{
    sim::unit().addFault(fault(0x430, sim::FAULT_WRONG_ADDRESS, 1));
    QStringList progress;
    bool done = false;
    const QStringList lines =
        printedLines([&] { done = mx25_erase(comms_.get(), OP_CHIP_ERASE, 0, recordProgress, &progress, 0, 1); });
    QVERIFY(done);
    QCOMPARE(lines.last(), QStringLiteral("mx25_erase: Erase completed successfully (address=0x00001000)"));
    QCOMPARE(progress, QStringList{"erase 1/1"});
}

void TestFlashOps::setAddress()
{
    bool done = false;
    const QStringList lines = printedLines([&] { done = set_mx25_addr(comms_.get(), 0x03400000); });
    QVERIFY(done);
    QCOMPARE(receivedReports(), QVector<QByteArray>{hostReport(0x440, 4, bytes({0x00, 0x00, 0x40, 0x03}))});
    QCOMPARE(lines, QStringList({"set_mx25_addr: Successfully sent address (0x03400000)",
                                 "set_mx25_addr: Address set successfully (0x03400000)"}));
    QCOMPARE(sim::unit().flash().writeAddress(), 0x03400000u);
}

void TestFlashOps::setAddressFailure_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<uint32_t>("address");
    QTest::addColumn<QString>("closingLine");

    QTest::newRow("NACK") << fault(0x440, sim::FAULT_NACK) << 0x03400000u
                          << "set_mx25_addr: Failed to receive acknowledgment or operation failed";
    QTest::newRow("wrong op") << fault(0x440, sim::FAULT_WRONG_OP) << 0x03400000u
                              << "set_mx25_addr: Op type mismatch (expected=OP_SETADDR/0xA1, got=0xA2)";
    QTest::newRow("wrong address") << fault(0x440, sim::FAULT_WRONG_ADDRESS) << 0x03400000u
                                   << "set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)";
}

void TestFlashOps::setAddressFailure()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(uint32_t, address);
    QFETCH(QString, closingLine);
    sim::unit().addFault(rule);

    bool done = false;
    const QStringList lines = printedLines([&] { done = set_mx25_addr(comms_.get(), address); });
    QVERIFY(!done);
    QCOMPARE(lines.last(), closingLine);
}

void TestFlashOps::partitionAnswer_data()
{
    QTest::addColumn<uint32_t>("answer");
    QTest::addColumn<uint32_t>("result");
    QTest::addColumn<QString>("closingLine");

    QTest::newRow("bank 1") << 0xB1B1B1B1u << uint32_t(partition_1)
                            << "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, "
                               "raw=0xB1B1B1B1)";
    QTest::newRow("bank 2") << 0xB2B2B2B2u << uint32_t(partition_2)
                            << "get_mx25_partition: Partition retrieved successfully (partition=0xB2B2B2B2, "
                               "raw=0xB2B2B2B2)";
    QTest::newRow("none") << 0u << uint32_t(partition_none)
                          << "get_mx25_partition: Partition retrieved successfully (partition=0x00, raw=0x00000000)";
    QTest::newRow("debug") << 0xB3B3B3B3u << uint32_t(partition_none)
                           << "get_mx25_partition: Invalid partition value received (raw=0xB3B3B3B3)";
    QTest::newRow("unknown") << 0xFFFFFFFFu << uint32_t(partition_none)
                             << "get_mx25_partition: Invalid partition value received (raw=0xFFFFFFFF)";
    QTest::newRow("anything else") << 0x000000B1u << uint32_t(partition_none)
                                   << "get_mx25_partition: Invalid partition value received (raw=0x000000B1)";
}

void TestFlashOps::partitionAnswer()
{
    QFETCH(uint32_t, answer);
    QFETCH(uint32_t, result);
    QFETCH(QString, closingLine);
    sim::unit().flash().setPartitionAnswer(answer);

    mx25_partition partition = partition_none;
    const QStringList lines = printedLines([&] { partition = get_mx25_partition(comms_.get()); });
    QCOMPARE(uint32_t(partition), result);
    QCOMPARE(receivedReports(), QVector<QByteArray>{hostReport(0x730, 0)});
    QCOMPARE(lines, QStringList({"get_mx25_partition: Sending command - CAN_ID=0x00000730, msg_len=0x00",
                                 "get_mx25_partition: Successfully sent get partition command", closingLine}));
}

void TestFlashOps::partitionQueryFailure_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<QStringList>("closingLines");

    QTest::newRow("command NACK") << fault(0x730, sim::FAULT_NACK, 0)
                                  << QStringList{"NACK received for command CAN ID 0x730.",
                                                 "get_mx25_partition: ACK validation failed"};
    QTest::newRow("unrelated frame before the answer")
        << fault(0x730, sim::FAULT_NOISE_BEFORE, 1, 1)
        << QStringList{"get_mx25_partition: Unexpected response (can_ID=0x00000100, msg_len=0x08, expected MX25 ACK "
                       "len 6)"};
    QTest::newRow("answer of another length")
        << fault(0x730, sim::FAULT_WRONG_LENGTH_CODE, 1, 8)
        << QStringList{"get_mx25_partition: Unexpected response (can_ID=0x000000F0, msg_len=0x08, expected MX25 ACK "
                       "len 6)"};
    QTest::newRow("answer NACK") << fault(0x730, sim::FAULT_NACK, 1) << QStringList{"get_mx25_partition: MX25 NACK"};
    QTest::newRow("answer bad status") << fault(0x730, sim::FAULT_BAD_STATUS, 1)
                                       << QStringList{"get_mx25_partition: invalid MX25 status byte 7 (expected 0 or "
                                                      "1)"};
    QTest::newRow("unit vanishes") << fault(0x730, sim::FAULT_VANISH)
                                   << QStringList{"Error reading ACK from device.",
                                                  "get_mx25_partition: ACK validation failed"};
    // Waits out one read time-out.
    QTest::newRow("no answer") << fault(0x730, sim::FAULT_DROP_REPLY, 1)
                               << QStringList{"get_mx25_partition: No response received (timeout or no data)."};
}

void TestFlashOps::partitionQueryFailure()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(QStringList, closingLines);
    sim::unit().addFault(rule);

    mx25_partition partition = partition_1;
    const QStringList lines = printedLines([&] { partition = get_mx25_partition(comms_.get()); });
    QCOMPARE(partition, partition_none);
    QCOMPARE(lines.mid(lines.size() - closingLines.size()), closingLines);
}

void TestFlashOps::unconnectedLinkSendsNothing()
{
    CommsManager unconnected;
    bool erased = true, addressed = true, noLinkErased = true;
    mx25_partition partition = partition_1;
    const QStringList lines = printedLines([&] {
        erased = mx25_erase(&unconnected, OP_BLOCK_ERASE, 0, nullptr, nullptr, 0, 1);
        addressed = set_mx25_addr(&unconnected, 0);
        partition = get_mx25_partition(&unconnected);
        noLinkErased = mx25_erase(nullptr, OP_BLOCK_ERASE, 0, nullptr, nullptr, 0, 1);
    });
    QVERIFY(!erased && !addressed && !noLinkErased);
    QCOMPARE(partition, partition_none);
    QCOMPARE(lines,
             QStringList({"mx25_erase: CommsManager not connected", "set_mx25_addr: CommsManager not connected",
                          "get_mx25_partition: CommsManager not connected", "mx25_erase: CommsManager not connected"}));
    QVERIFY(receivedReports().isEmpty());
}

// What the upload suites rely on: erased bytes read 0xFF, programming only
// clears bits, a padded chunk moves the write address by its padded length,
// and storage is spent only on sectors actually programmed.
void TestFlashOps::simulatedFlashBehavesLikeMx25()
{
    const uint32_t address = 60u << 20;
    QCOMPARE(flashBytes(address, 4), QByteArray(4, '\xFF'));
    preloadFlash(address, bytes({0xF0}));
    QVERIFY(set_mx25_addr(comms_.get(), address));

    COMMS_MSG_t packet = sim::make_frame(CANMSG_WRITE_MX25, CAN_50_BYTES, {0x3C, 0x11});
    QVERIFY(comms_->write(packet) > 0);
    uint8_t op = 0;
    uint32_t landed = 0;
    QVERIFY(wait_for_mx25_ack(comms_.get(), &op, &landed));
    QCOMPARE(op, uint8_t(OP_WRITE));
    QCOMPARE(landed, address);

    QCOMPARE(flashBytes(address, 3), bytes({0x30, 0x11, 0x00}));
    QCOMPARE(flashBytes(address + 64, 1), bytes({0xFF}));
    QCOMPARE(sim::unit().flash().writeAddress(), address + 64);
    QCOMPARE(sim::unit().flash().allocatedSectors(), size_t(1));
}

QTEST_GUILESS_MAIN(TestFlashOps)
#include "tst_flash_ops.moc"
