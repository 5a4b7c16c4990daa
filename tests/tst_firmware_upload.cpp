#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

namespace {

const uint32_t kBank1 = 0x03400000;
const uint32_t kBank2 = 0x03800000;
const uint32_t kBlock = 0x10000;
const int kHeaderBytes = 64;
const QByteArray kOldContents(16, '\0');

QByteArray firmwareHeader(uint32_t total_size, uint32_t encrypted_size)
{
    firmware_header_t header;
    header.magic = 0x57464B43;
    header.version = 0x01040000;
    header.total_size = total_size;
    header.plaintext_size = encrypted_size > 16 ? encrypted_size - 16 : 0;
    header.encrypted_size = encrypted_size;
    header.crc32_plaintext = 0x1A2B3C4D;
    header.crc32_encrypted = 0x5E6F7081;
    for (uint32_t i = 0; i < 4; i++) {
        header.iv[i] = 0x01020304u * (i + 1);
        header.padding[i] = 0xA5A5A500u + i;
    }
    header.offset = 0x40;
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header);
}

QByteArray payloadBytes(int length)
{
    return patternBytes(length, 3);
}

sim::FaultRule fault(uint32_t request_id, int after, sim::FaultKind kind, int reply = -1)
{
    sim::FaultRule rule;
    rule.request_id = request_id;
    rule.after = after;
    rule.kind = kind;
    rule.reply = reply;
    return rule;
}

QStringList closing(const QStringList& lines, int count)
{
    return lines.mid(lines.size() - count);
}

// The write packets of a transfer: the chunk lengths in order, each padded
// to what its length code carries.
QVector<QByteArray> writePackets(const QByteArray& data, const QVector<int>& chunkLengths)
{
    QVector<QByteArray> reports;
    int offset = 0;
    for (int length : chunkLengths) {
        const CAN_MSG_LEN_t code = bytes_to_dlc_code(uint8_t(length));
        QByteArray chunk = data.mid(offset, length);
        chunk.append(QByteArray(dlc_code_to_bytes(code) - length, '\0'));
        reports.append(hostReport(CANMSG_WRITE_MX25, code, chunk));
        offset += length;
    }
    return reports;
}

} // namespace

Q_DECLARE_METATYPE(sim::FaultRule)

class TestFirmwareUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writesIntoTheNamedBank_data();
    void writesIntoTheNamedBank();
    void printsEachStepOfASmallUpload();
    void packetisation_data();
    void packetisation();
    void headerOnlyImage();
    void progressReports();
    void progressLineEveryHundredPackets();
    void unrelatedFramesAreSkipped();

    void bankSizeLimits_data();
    void bankSizeLimits();
    void imageOverrunningItsErasedBlocksIsRefused_data();
    void imageOverrunningItsErasedBlocksIsRefused();
    void unusableFile_data();
    void unusableFile();
    void shortPayloadEndsIncomplete();
    void badArguments_data();
    void badArguments();
    void noUsablePartition_data();
    void noUsablePartition();

    void failedEraseOrAddressStopsBeforeWriting_data();
    void failedEraseOrAddressStopsBeforeWriting();
    void failedPacketEndsTheTransfer_data();
    void failedPacketEndsTheTransfer();

private:
    QString writeImage(const QByteArray& contents);
    bool upload(const QString& path, uint8_t packetLen = 64, QStringList* progress = nullptr);

    QTemporaryDir dir_;
    int files_ = 0;
    std::unique_ptr<CommsManager> comms_;
};

void TestFirmwareUpload::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void TestFirmwareUpload::init()
{
    sim::unit().reset();
    comms_ = connectToSimulatedUnit();
    sim::unit().clearRecords();
}

void TestFirmwareUpload::cleanup()
{
    comms_.reset();
}

QString TestFirmwareUpload::writeImage(const QByteArray& contents)
{
    const QString path = dir_.filePath(QStringLiteral("image%1.bin").arg(++files_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool TestFirmwareUpload::upload(const QString& path, uint8_t packetLen, QStringList* progress)
{
    const QByteArray localPath = QFile::encodeName(path);
    return send_fw(comms_.get(), localPath.constData(), packetLen, progress != nullptr ? recordProgress : nullptr,
                   progress);
}

void TestFirmwareUpload::writesIntoTheNamedBank_data()
{
    QTest::addColumn<uint32_t>("partition");
    QTest::addColumn<uint32_t>("bankStart");
    QTest::addColumn<uint32_t>("otherBankStart");
    QTest::addColumn<int>("firstPage");

    QTest::newRow("bank 1") << uint32_t(partition_1) << kBank1 << kBank2 << 832;
    QTest::newRow("bank 2") << uint32_t(partition_2) << kBank2 << kBank1 << 896;
}

void TestFirmwareUpload::writesIntoTheNamedBank()
{
    QFETCH(uint32_t, partition);
    QFETCH(uint32_t, bankStart);
    QFETCH(uint32_t, otherBankStart);
    QFETCH(int, firstPage);
    const int payloadSize = 130000;
    const uint32_t erasedEnd = bankStart + 3 * kBlock;
    const QByteArray header = firmwareHeader(3 * kBlock, payloadSize);
    const QByteArray payload = payloadBytes(payloadSize);
    sim::unit().flash().setPartitionAnswer(partition);
    // Old contents just outside the erased blocks, in the other bank, and
    // inside the blocks, where the image must replace them.
    for (uint32_t at : {bankStart - 16, bankStart + 100, erasedEnd - 16, erasedEnd, otherBankStart})
        preloadFlash(at, kOldContents);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeImage(header + payload)); });
    QVERIFY(done);

    QCOMPARE(requestSequence(), QStringLiteral("730 430*3 440 420*2033"));
    QVector<QByteArray> erases;
    for (int page = firstPage; page < firstPage + 3; page++)
        erases.append(hostReport(CANMSG_ERASE_MX25, 3, QByteArray("\xBE", 1) + char(page) + char(page >> 8)));
    QCOMPARE(receivedReportsWithId(CANMSG_ERASE_MX25), erases);
    QCOMPARE(flashBytes(bankStart, kHeaderBytes), header);
    QCOMPARE(flashBytes(bankStart + kHeaderBytes, payloadSize), payload);
    const int rest = int(erasedEnd - bankStart) - kHeaderBytes - payloadSize;
    QCOMPARE(flashBytes(bankStart + kHeaderBytes + payloadSize, rest), QByteArray(rest, '\xFF'));
    QCOMPARE(flashBytes(bankStart - 16, 16), kOldContents);
    QCOMPARE(flashBytes(erasedEnd, 16), kOldContents);
    QCOMPARE(flashBytes(otherBankStart, 16), kOldContents);
    QCOMPARE(lines.last(),
             QStringLiteral("send_fw: Firmware transmission completed successfully (130000 bytes, 2032 packets)"));
}

void TestFirmwareUpload::printsEachStepOfASmallUpload()
{
    const QString path = writeImage(firmwareHeader(kBlock, 100) + payloadBytes(100));
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(done);
    QCOMPARE(lines, QStringList({
                        "send_fw: Getting current MX25 partition...",
                        "get_mx25_partition: Sending command - CAN_ID=0x00000730, msg_len=0x00",
                        "get_mx25_partition: Successfully sent get partition command",
                        "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, raw=0xB1B1B1B1)",
                        "send_fw: Using partition_1 (BANK1), starting at page 832",
                        "send_fw: Read firmware header (total_size=65536, plaintext_size=84, encrypted_size=100, "
                        "offset=0x00000040)",
                        "send_fw: Firmware size: 65536 bytes, will erase 1 blocks (pages 832 to 832)",
                        "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=832)",
                        "mx25_erase: ACK received, erase command acknowledged",
                        "mx25_erase: Erase completed successfully (address=0x03400000)",
                        "send_fw: All blocks erased, setting address and sending firmware header...",
                        "send_fw: Setting MX25 address to 0x03400000 for header",
                        "set_mx25_addr: Successfully sent address (0x03400000)",
                        "set_mx25_addr: Address set successfully (0x03400000)",
                        "send_fw: Writing firmware header (64-byte packets)...",
                        "send_fw: Firmware header written successfully",
                        "send_fw: Encrypted data size: 100 bytes (0x00000064)",
                        "send_fw: Starting firmware data transmission (64-byte packets)...",
                        "send_fw: Firmware transmission completed successfully (100 bytes, 2 packets)",
                    }));
    QCOMPARE(receivedReportsWithId(CANMSG_SET_ADDR_MX25),
             QVector<QByteArray>{hostReport(CANMSG_SET_ADDR_MX25, 4, QByteArray("\x00\x00\x40\x03", 4))});
}

void TestFirmwareUpload::packetisation_data()
{
    QTest::addColumn<int>("packetLen");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<QVector<int>>("headerChunks");
    QTest::addColumn<QVector<int>>("payloadChunks");

    QTest::newRow("130 bytes in 64-byte packets") << 64 << 130 << QVector<int>{64} << QVector<int>{64, 64, 2};
    // 50 is no CAN FD length: the one packet travels as 64 bytes, 14 of them zero.
    QTest::newRow("50 bytes in 64-byte packets") << 64 << 50 << QVector<int>{64} << QVector<int>{50};
    QTest::newRow("20 bytes in 8-byte packets") << 8 << 20 << QVector<int>(8, 8) << QVector<int>{8, 8, 4};
}

void TestFirmwareUpload::packetisation()
{
    QFETCH(int, packetLen);
    QFETCH(int, payloadSize);
    QFETCH(QVector<int>, headerChunks);
    QFETCH(QVector<int>, payloadChunks);
    const QByteArray header = firmwareHeader(kBlock, payloadSize);
    const QByteArray payload = payloadBytes(payloadSize);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeImage(header + payload), uint8_t(packetLen)); });
    QVERIFY(done);

    QCOMPARE(receivedReportsWithId(CANMSG_WRITE_MX25),
             writePackets(header, headerChunks) + writePackets(payload, payloadChunks));
    // The unit cannot tell padding from data: it lands in flash after the payload.
    const QVector<QByteArray> sent = writePackets(payload, payloadChunks);
    const int padding = sent.last().size() - 6 - payloadChunks.last();
    QCOMPARE(flashBytes(kBank1 + kHeaderBytes, payloadSize + padding + 1),
             payload + QByteArray(padding, '\0') + '\xFF');
}

void TestFirmwareUpload::headerOnlyImage()
{
    const QByteArray header = firmwareHeader(kBlock, 0);
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeImage(header)); });
    QVERIFY(done);
    QCOMPARE(requestSequence(), QStringLiteral("730 430 440 420"));
    QCOMPARE(flashBytes(kBank1, kHeaderBytes + 1), header + '\xFF');
    QCOMPARE(lines.last(),
             QStringLiteral("send_fw: Firmware transmission completed successfully (0 bytes, 0 packets)"));
}

void TestFirmwareUpload::progressReports()
{
    const QString path = writeImage(firmwareHeader(2 * kBlock, 200) + payloadBytes(200));
    QStringList progress;
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path, 64, &progress); });
    QVERIFY(done);
    // The header's packets are not counted; the write phase counts payload bytes.
    QCOMPARE(progress, QStringList({"erase 1/2", "erase 2/2", "write 64/200", "write 128/200", "write 192/200",
                                    "write 200/200"}));
}

void TestFirmwareUpload::progressLineEveryHundredPackets()
{
    const QString path = writeImage(firmwareHeader(kBlock, 250 * 64) + payloadBytes(250 * 64));
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(done);
    QCOMPARE(
        lines.filter(QStringLiteral("send_fw: Progress:")),
        QStringList({"send_fw: Progress: 6400/16000 bytes (40.0%)", "send_fw: Progress: 12800/16000 bytes (80.0%)"}));
}

void TestFirmwareUpload::unrelatedFramesAreSkipped()
{
    sim::FaultRule noise = fault(0, 0, sim::FAULT_NOISE_BEFORE);
    noise.times = -1;
    noise.param = 2;
    sim::unit().addFault(noise);
    const QByteArray image = firmwareHeader(kBlock, 1000) + payloadBytes(1000);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeImage(image)); });
    QVERIFY(done);
    QCOMPARE(flashBytes(kBank1, image.size()), image);
}

void TestFirmwareUpload::bankSizeLimits_data()
{
    QTest::addColumn<uint32_t>("totalSize");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("sizeLine");
    QTest::addColumn<QString>("requests");

    QTest::newRow("4194304: the whole bank")
        << 4194304u << true << "send_fw: Firmware size: 4194304 bytes, will erase 64 blocks (pages 832 to 895)"
        << "730 430*64 440 420*17";
    QTest::newRow("4194305: one byte more")
        << 4194305u << false
        << "send_fw: Error: Firmware too large for partition (65 blocks needed, but partition only has 64 blocks)"
        << "730";
}

void TestFirmwareUpload::bankSizeLimits()
{
    QFETCH(uint32_t, totalSize);
    QFETCH(bool, accepted);
    QFETCH(QString, sizeLine);
    QFETCH(QString, requests);
    const QString path = writeImage(firmwareHeader(totalSize, 1000) + payloadBytes(1000));

    bool done = !accepted;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QCOMPARE(done, accepted);
    QVERIFY2(lines.contains(sizeLine), qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(requestSequence(), requests);
}

void TestFirmwareUpload::imageOverrunningItsErasedBlocksIsRefused_data()
{
    QTest::addColumn<uint32_t>("totalSize");
    QTest::addColumn<uint32_t>("encryptedSize");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("one byte past its block")
        << kBlock << kBlock - 63
        << "send_fw: Error: Header and payload (65537 bytes) do not fit the 1 erased blocks (65536 bytes)";
    QTest::newRow("nothing erased") << 0u << 0u
                                    << "send_fw: Error: Header and payload (64 bytes) do not fit the 0 erased blocks "
                                       "(0 bytes)";
    QTest::newRow("past the bank")
        << 4194304u << 4194304u
        << "send_fw: Error: Header and payload (4194368 bytes) do not fit the 64 erased blocks (4194304 bytes)";
    QTest::newRow("largest payload the header can name")
        << 4194304u << 0xFFFFFFFFu
        << "send_fw: Error: Header and payload (4294967359 bytes) do not fit the 64 erased blocks (4194304 bytes)";
}

void TestFirmwareUpload::imageOverrunningItsErasedBlocksIsRefused()
{
    QFETCH(uint32_t, totalSize);
    QFETCH(uint32_t, encryptedSize);
    QFETCH(QString, refusal);
    const QString path = writeImage(firmwareHeader(totalSize, encryptedSize) + payloadBytes(100));

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(!done);
    QCOMPARE(lines.last(), refusal);
    QCOMPARE(requestSequence(), QStringLiteral("730"));
}

void TestFirmwareUpload::unusableFile_data()
{
    QTest::addColumn<int>("fileSize"); // -1: no file at all
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << -1 << "Failed to open file %1: No such file or directory";
    QTest::newRow("empty") << 0 << "Failed to read firmware header from %1: unexpected end of file";
    QTest::newRow("shorter than a header") << 40 << "Failed to read firmware header from %1: unexpected end of file";
}

void TestFirmwareUpload::unusableFile()
{
    QFETCH(int, fileSize);
    QFETCH(QString, reason);
    const QString path = fileSize < 0 ? dir_.filePath(QStringLiteral("absent.bin"))
                                      : writeImage(firmwareHeader(kBlock, 100).left(fileSize));

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(!done);
    QCOMPARE(lines.last(), QStringLiteral("send_fw: ") + reason.arg(path));
    QCOMPARE(requestSequence(), QStringLiteral("730"));
}

void TestFirmwareUpload::shortPayloadEndsIncomplete()
{
    const QByteArray payload = payloadBytes(300);
    QStringList progress;
    bool done = false;
    const QStringList lines =
        printedLines([&] { done = upload(writeImage(firmwareHeader(kBlock, 1000) + payload), 64, &progress); });
    QVERIFY(!done);

    QCOMPARE(closing(lines, 2),
             QStringList({"send_fw: Reached end of file",
                          "send_fw: Firmware transmission incomplete (300/1000 bytes sent, 5 packets)"}));
    // The last short packet was written before the end of the file showed.
    QCOMPARE(flashBytes(kBank1 + kHeaderBytes, 300), payload);
    QCOMPARE(progress.last(), QStringLiteral("write 300/1000"));
}

void TestFirmwareUpload::badArguments_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("packetLen");
    QTest::addColumn<bool>("withPath");
    QTest::addColumn<QString>("line");

    QTest::newRow("not connected") << false << 64 << true << "send_fw: CommsManager not connected";
    QTest::newRow("packet length 0") << true << 0 << true << "send_fw: Invalid max_packet_len 0 (must be 1..64)";
    QTest::newRow("packet length 65") << true << 65 << true << "send_fw: Invalid max_packet_len 65 (must be 1..64)";
    const QString not_fd = "send_fw: Invalid max_packet_len %1 (must be a CAN FD payload length: 1..8, 12, 16, 20, "
                           "24, 32, 48 or 64)";
    QTest::newRow("packet length 10") << true << 10 << true << not_fd.arg(10);
    QTest::newRow("packet length 33") << true << 33 << true << not_fd.arg(33);
    QTest::newRow("no path") << true << 64 << false << "send_fw: Invalid encrypted file path";
}

void TestFirmwareUpload::badArguments()
{
    QFETCH(bool, connected);
    QFETCH(int, packetLen);
    QFETCH(bool, withPath);
    QFETCH(QString, line);
    const QByteArray path = QFile::encodeName(writeImage(firmwareHeader(kBlock, 10) + payloadBytes(10)));
    CommsManager unconnected;

    bool done = true;
    const QStringList lines = printedLines([&] {
        done = send_fw(connected ? comms_.get() : &unconnected, withPath ? path.constData() : nullptr,
                       uint8_t(packetLen), nullptr, nullptr);
    });
    QVERIFY(!done);
    QCOMPARE(lines, QStringList{line});
    QVERIFY(receivedReports().isEmpty());
}

void TestFirmwareUpload::noUsablePartition_data()
{
    QTest::addColumn<uint32_t>("answer");
    QTest::newRow("none") << uint32_t(partition_none);
    QTest::newRow("debug") << uint32_t(partition_debug);
}

void TestFirmwareUpload::noUsablePartition()
{
    QFETCH(uint32_t, answer);
    sim::unit().flash().setPartitionAnswer(answer);
    bool done = false;
    const QStringList lines =
        printedLines([&] { done = upload(writeImage(firmwareHeader(kBlock, 10) + payloadBytes(10))); });
    QVERIFY(!done);
    QCOMPARE(lines.last(), QStringLiteral("send_fw: Invalid partition (partition_none), cannot proceed"));
    QCOMPARE(requestSequence(), QStringLiteral("730"));
}

void TestFirmwareUpload::failedEraseOrAddressStopsBeforeWriting_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<QStringList>("closingLines");
    QTest::addColumn<QString>("requests");
    QTest::addColumn<QStringList>("progress");

    QTest::newRow("second erase NACKed")
        << fault(CANMSG_ERASE_MX25, 1, sim::FAULT_NACK, 1)
        << QStringList{"mx25_erase: Erase operation failed or timeout",
                       "send_fw: Erase of page 833 failed; stopping before anything is written"}
        << "730 430*2" << QStringList{"erase 1/3"};
    QTest::newRow("third erase at another address")
        << fault(CANMSG_ERASE_MX25, 2, sim::FAULT_WRONG_ADDRESS, 1)
        << QStringList{"mx25_erase: Address mismatch (expected=0x03420000, got=0x03421000)",
                       "send_fw: Erase of page 834 failed; stopping before anything is written"}
        << "730 430*3" << QStringList{"erase 1/3", "erase 2/3"};
    QTest::newRow("address confirmed as another")
        << fault(CANMSG_SET_ADDR_MX25, 0, sim::FAULT_WRONG_ADDRESS)
        << QStringList{"set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)",
                       "send_fw: Address 0x03400000 not set; stopping before anything is written"}
        << "730 430*3 440" << QStringList{"erase 1/3", "erase 2/3", "erase 3/3"};
}

void TestFirmwareUpload::failedEraseOrAddressStopsBeforeWriting()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(QStringList, closingLines);
    QFETCH(QString, requests);
    QFETCH(QStringList, progress);
    sim::unit().addFault(rule);
    const QString path = writeImage(firmwareHeader(3 * kBlock, 1000) + payloadBytes(1000));

    QStringList reported;
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path, 64, &reported); });
    QVERIFY(!done);
    QCOMPARE(closing(lines, closingLines.size()), closingLines);
    QCOMPARE(requestSequence(), requests);
    QCOMPARE(reported, progress);
}

void TestFirmwareUpload::failedPacketEndsTheTransfer_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<QStringList>("closingLines");

    const QStringList fifthPacketFailed{"send_fw: MX25 write failed at byte offset 256",
                                        "send_fw: Firmware transmission incomplete (256/1000 bytes sent, 4 packets)"};
    // Write packet 0 carries the header; packet 5 is the fifth of the payload.
    QTest::newRow("NACK") << fault(CANMSG_WRITE_MX25, 5, sim::FAULT_NACK)
                          << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)"} + fifthPacketFailed;
    QTest::newRow("acknowledged as another op") << fault(CANMSG_WRITE_MX25, 5, sim::FAULT_WRONG_OP)
                                                << QStringList{"send_fw: Starting firmware data transmission "
                                                               "(64-byte packets)..."}
                                                       + fifthPacketFailed;
    QTest::newRow("unit vanishes") << fault(CANMSG_WRITE_MX25, 5, sim::FAULT_VANISH)
                                   << QStringList{"wait_for_mx25_ack: Error reading response from device."}
                                          + fifthPacketFailed;
    // Waits out one read time-out.
    QTest::newRow("unit silent") << fault(CANMSG_WRITE_MX25, 5, sim::FAULT_NO_REPLY)
                                 << QStringList{"wait_for_mx25_ack: No response received (timeout or no data)."}
                                        + fifthPacketFailed;
    QTest::newRow("header NACKed") << fault(CANMSG_WRITE_MX25, 0, sim::FAULT_NACK)
                                   << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)",
                                                  "send_fw: Failed to send firmware header"};
}

void TestFirmwareUpload::failedPacketEndsTheTransfer()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(QStringList, closingLines);
    sim::unit().addFault(rule);
    const QByteArray payload = payloadBytes(1000);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeImage(firmwareHeader(kBlock, 1000) + payload)); });
    QVERIFY(!done);
    QCOMPARE(closing(lines, closingLines.size()), closingLines);
    // What was acknowledged before the failure stays written.
    const int written = rule.after > 0 ? 256 : 0;
    QCOMPARE(flashBytes(kBank1 + kHeaderBytes, written), payload.left(written));
}

QTEST_GUILESS_MAIN(TestFirmwareUpload)
#include "tst_firmware_upload.moc"
