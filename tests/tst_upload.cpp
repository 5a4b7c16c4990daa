// Both uploads, the firmware image and the airport database, against the
// simulated unit over USB and CAN FD: what lands in flash, the frames on the
// wire, and what a refusal, a failure or a stop leaves behind.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <functional>

#include "can_standin.h"
#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

enum Kind { FIRMWARE, AIRPORT_DB };
typedef std::function<void()> Setup;
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(COMM_INTERFACE_t)

namespace {

const uint32_t kBank1 = 0x03400000;
const uint32_t kBank2 = 0x03800000;
const uint32_t kBlock = 0x10000;
const QByteArray kOldContents(16, '\0');
const int kBusyBusPeriodMs = 1;
const int kBusyBusMinimumFrames = 10;

// A firmware image: a header announcing `announced` payload bytes of an
// image of total_size, then `actual` payload bytes.
QByteArray image(uint32_t total_size, uint32_t announced, int actual = 1000)
{
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.magic = 0x57464B43;
    header.version = 0x01040000;
    header.total_size = total_size;
    header.plaintext_size = header.encrypted_size = announced;
    header.offset = sizeof header;
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header) + patternBytes(actual, 3);
}

// The write packets of `data` in pieces of packet_len, each zero-padded to
// what its length code carries.
QVector<QByteArray> writeFrames(const QByteArray& data, int packet_len)
{
    QVector<QByteArray> frames;
    for (int at = 0; at < data.size(); at += packet_len) {
        const QByteArray piece = data.mid(at, packet_len);
        frames.append(frameBytes(CANMSG_WRITE_MX25, bytes_to_dlc_code(uint8_t(piece.size())), piece));
    }
    return frames;
}

QByteArray le32(uint32_t value)
{
    return frameBytes(value, 0).left(4);
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void init();
    void cleanup();

    void landsInFlash_data();
    void landsInFlash();
    void stepByStep_data();
    void stepByStep();
    void failureLeavesTheUnitSafe_data();
    void failureLeavesTheUnitSafe();

private:
    void connectOver(COMM_INTERFACE_t iface);
    bool upload(Kind kind, const QByteArray& contents);
    Setup overCanFd() { return [this] { connectOver(CAN_FD); }; }
    Setup fault(uint32_t request_id, int after, sim::FaultKind kind, int reply = -1, int param = 0)
    {
        return [=] { sim::unit().addFault({request_id, after, 1, kind, param, reply}); };
    }

    QTemporaryDir dir_;
    int files_ = 0;
    std::unique_ptr<CommsManager> comms_;
    // What a row may change before the upload starts.
    ProgressLog progress_;
    uint8_t packetLen_ = 64;
    qint64 fileSize_ = -1; // -1: the contents as given; -2: no file at all
    QString path_;
};

void TestUpload::init()
{
    connectOver(USB_HID);
    progress_.reports.clear();
    progress_.stop_at.clear();
    progress_.stop = false;
    packetLen_ = 64;
    fileSize_ = -1;
}

void TestUpload::cleanup()
{
    comms_.reset();
    sim::can_node().reset();
    qunsetenv("EFIS_SIM_LINK");
}

void TestUpload::connectOver(COMM_INTERFACE_t iface)
{
    comms_.reset();
    sim::can_node().reset();
    sim::unit().reset();
    if (iface == CAN_FD) {
        sim::unit().setPresent(false);
        qputenv("EFIS_SIM_LINK", "canfd");
    }
    comms_ = connectToSimulatedUnit();
    QCOMPARE(comms_->getActiveInterface(), iface);
    sim::unit().clearRecords();
}

bool TestUpload::upload(Kind kind, const QByteArray& contents)
{
    path_ = dir_.filePath(QString::number(++files_));
    QFile file(path_);
    if (fileSize_ != -2
        && (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()
            || (fileSize_ >= 0 && !file.resize(fileSize_))))
        qFatal("cannot write %s", qPrintable(path_));
    file.close();
    const QByteArray path = QFile::encodeName(path_);
    if (kind == FIRMWARE)
        return send_fw(comms_.get(), path.constData(), packetLen_, ProgressLog::record, &progress_, &progress_.stop);
    return send_airport_db(comms_.get(), path.constData(), ProgressLog::record, &progress_, &progress_.stop);
}

void TestUpload::landsInFlash_data()
{
    QTest::addColumn<COMM_INTERFACE_t>("iface");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<uint32_t>("partition");
    QTest::addColumn<uint32_t>("start");

    QTest::newRow("USB: firmware into bank 1") << USB_HID << FIRMWARE << uint32_t(partition_1) << kBank1;
    QTest::newRow("USB: firmware into bank 2") << USB_HID << FIRMWARE << uint32_t(partition_2) << kBank2;
    QTest::newRow("CAN FD: firmware into bank 1") << CAN_FD << FIRMWARE << uint32_t(partition_1) << kBank1;
    QTest::newRow("USB: airport database") << USB_HID << AIRPORT_DB << uint32_t(partition_1) << 0u;
    QTest::newRow("CAN FD: airport database") << CAN_FD << AIRPORT_DB << uint32_t(partition_1) << 0u;
}

// Two blocks' worth, the last piece 17 bytes, which travels as 20; other
// nodes talk all the while: unrelated frames come between the unit's replies.
void TestUpload::landsInFlash()
{
    QFETCH(COMM_INTERFACE_t, iface);
    QFETCH(Kind, kind);
    QFETCH(uint32_t, partition);
    QFETCH(uint32_t, start);
    connectOver(iface);
    sim::unit().flash().setPartitionAnswer(partition);
    if (iface == CAN_FD)
        sim::can_node().setBusTraffic(kBusyBusPeriodMs);
    else
        sim::unit().addFault({0, 0, -1, sim::FAULT_NOISE_BEFORE, 2, -1});
    const QByteArray contents = kind == FIRMWARE ? image(64 + 130001, 130001, 130001) : patternBytes(65553, 5);
    // Old contents where the upload begins, and in every region it must leave alone.
    const uint32_t erasedEnd = start + 2 * kBlock;
    for (uint32_t at : {0u, kBank1, kBank2, erasedEnd})
        preloadFlash(at, kOldContents);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(kind, contents); });
    QVERIFY2(done, qPrintable(lines.mid(lines.size() - 4).join('\n')));
    // The open command is not acknowledged: the unit takes it up when it arrives.
    QTRY_VERIFY_WITH_TIMEOUT(sim::unit().flash().airportDbOpen(), 10000);

    const QByteArray close = frameBytes(CANMSG_AIRPORT_DB_OP, 1, "\xDC");
    const QByteArray open = frameBytes(CANMSG_AIRPORT_DB_OP, 1, "\xDA");
    QVector<QByteArray> frames{kind == FIRMWARE ? frameBytes(CANMSG_GET_PARTITION, 0) : close};
    for (uint32_t block = start >> 16; block < erasedEnd >> 16; block++)
        frames.append(frameBytes(CANMSG_ERASE_MX25, 3, QByteArray("\xBE", 1) + le32(block).left(2)));
    frames.append(frameBytes(CANMSG_SET_ADDR_MX25, 4, le32(start)));
    frames += writeFrames(contents, 64);
    if (kind == AIRPORT_DB)
        frames.append(open);
    QCOMPARE(sentFrames(), frames);

    // The unit cannot tell padding from data: it lands after the contents.
    QCOMPARE(flashBytes(start, contents.size() + 4), contents + QByteArray(3, '\0') + '\xFF');
    QCOMPARE(flashBytes(erasedEnd - 16, 16), QByteArray(16, '\xFF'));
    for (uint32_t at : {0u, kBank1, kBank2, erasedEnd}) {
        if (at != start)
            QCOMPARE(flashBytes(at, 16), kOldContents);
    }
    QCOMPARE(lines.filter("send_fw: Progress:").size(), kind == FIRMWARE ? 20 : 0);
    if (iface == CAN_FD)
        QVERIFY(sim::can_node().otherNodeFramesDelivered() >= kBusyBusMinimumFrames);
}

void TestUpload::stepByStep_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("packetLen");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("progress");

    // Units before firmware 0.3.2 take 8-byte packets; the header's packets count for no progress.
    QTest::newRow("firmware, 8-byte packets")
        << FIRMWARE << 8 << image(84, 20, 20)
        << QStringList{"send_fw: Getting current MX25 partition...",
                       "get_mx25_partition: Sending command - CAN_ID=0x00000730, msg_len=0x00",
                       "get_mx25_partition: Successfully sent get partition command",
                       "get_mx25_partition: Partition retrieved successfully (partition=0xB1B1B1B1, raw=0xB1B1B1B1)",
                       "send_fw: Using partition_1 (BANK1), starting at page 832",
                       "send_fw: Read firmware header (total_size=84, plaintext_size=20, encrypted_size=20, "
                       "offset=0x00000040)",
                       "send_fw: Firmware size: 84 bytes, will erase 1 blocks (pages 832 to 832)",
                       "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=832)",
                       "mx25_erase: ACK received, erase command acknowledged",
                       "mx25_erase: Erase completed successfully (address=0x03400000)",
                       "send_fw: All blocks erased, setting address and sending firmware header...",
                       "send_fw: Setting MX25 address to 0x03400000 for header",
                       "set_mx25_addr: Successfully sent address (0x03400000)",
                       "set_mx25_addr: Address set successfully (0x03400000)",
                       "send_fw: Writing firmware header (8-byte packets)...",
                       "send_fw: Firmware header written successfully",
                       "send_fw: Encrypted data size: 20 bytes (0x00000014)",
                       "send_fw: Starting firmware data transmission (8-byte packets)...",
                       "send_fw: Firmware transmission completed successfully (20 bytes, 3 packets)"}
        << QStringList{"erase 1/1", "write 8/20", "write 16/20", "write 20/20"};
    QTest::newRow("airport database") << AIRPORT_DB << 64 << patternBytes(130, 2)
                                      << QStringList{"send_airport_db: 130 bytes, erasing 1 blocks starting at block 0 "
                                                     "(address 0x00000000)",
                                                     "send_airport_db: closing airport DB on device before flash "
                                                     "update...",
                                                     "send_airport_db_op: sent 0xDC",
                                                     "send_airport_db: close DB acknowledged",
                                                     "mx25_erase: Successfully sent erase command (op_type=0xBE, "
                                                     "block/sector=0)",
                                                     "mx25_erase: ACK received, erase command acknowledged",
                                                     "mx25_erase: Erase completed successfully (address=0x00000000)",
                                                     "send_airport_db: Erase complete, setting address 0x00000000 and "
                                                     "transferring data...",
                                                     "set_mx25_addr: Successfully sent address (0x00000000)",
                                                     "set_mx25_addr: Address set successfully (0x00000000)",
                                                     "send_airport_db: Complete (130 bytes, 3 packets)",
                                                     "send_airport_db: opening airport DB on device...",
                                                     "send_airport_db_op: sent 0xDA"}
                                      << QStringList{"erase 1/1", "write 64/130", "write 128/130", "write 130/130"};
}

void TestUpload::stepByStep()
{
    QFETCH(Kind, kind);
    QFETCH(int, packetLen);
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, progress);
    packetLen_ = uint8_t(packetLen);

    bool done = false;
    QCOMPARE(printedLines([&] { done = upload(kind, contents); }), lines);
    QVERIFY(done);
    QCOMPARE(progress_.reports, progress);
    QCOMPARE(sentFrames(CANMSG_WRITE_MX25), writeFrames(contents, packetLen));
}

void TestUpload::failureLeavesTheUnitSafe_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<Setup>>("setup");
    QTest::addColumn<QStringList>("lastLines"); // %1: the file's path
    QTest::addColumn<QString>("requests");

    const QByteArray fw = image(64 + 1000, 1000);
    const Setup missing = [this] { fileSize_ = -2; };
    auto packetLen = [this](int len) { return Setup([=] { packetLen_ = uint8_t(len); }); };
    auto sparse = [this](qint64 size) { return Setup([=] { fileSize_ = size; }); };
    auto stopAt = [this](const char* report) { return Setup([=] { progress_.stop_at = report; }); };
    const QString fwIncomplete = "send_fw: Firmware transmission incomplete (%1/1000 bytes sent, %2 packets)";
    const QStringList fifthPacket{"send_fw: MX25 write failed at byte offset 256", fwIncomplete.arg(256).arg(4)};
    const uint32_t write = CANMSG_WRITE_MX25;

    QTest::newRow("firmware: no file") << FIRMWARE << fw << QList<Setup>{missing}
                                       << QStringList{"send_fw: Failed to open file %1: No such file or directory"}
                                       << "730";
    QTest::newRow("firmware: shorter than a header")
        << FIRMWARE << fw.left(40) << QList<Setup>{}
        << QStringList{"send_fw: Failed to read firmware header from %1: unexpected end of file"} << "730";
    QTest::newRow("firmware: packet length 33") << FIRMWARE << fw << QList<Setup>{packetLen(33)}
                                                << QStringList{"send_fw: Invalid max_packet_len 33 (must be a CAN FD "
                                                               "payload length: 1..8, 12, 16, 20, 24, 32, 48 or 64)"}
                                                << "";
    QTest::newRow("firmware: packet length 65") << FIRMWARE << fw << QList<Setup>{packetLen(65)}
                                                << QStringList{"send_fw: Invalid max_packet_len 65 (must be 1..64)"}
                                                << "";
    QTest::newRow("firmware: unit names no bank")
        << FIRMWARE << fw << QList<Setup>{[] { sim::unit().flash().setPartitionAnswer(partition_none); }}
        << QStringList{"send_fw: Invalid partition (partition_none), cannot proceed"} << "730";
    QTest::newRow("firmware: one byte more than a bank")
        << FIRMWARE << image(4194305, 1000) << QList<Setup>{}
        << QStringList{"send_fw: Error: Firmware too large for partition (65 blocks needed, but partition only has "
                       "64 blocks)"}
        << "730";
    QTest::newRow("firmware: the whole bank, then the first packet NACKed")
        << FIRMWARE << image(4194304, 1000) << QList<Setup>{fault(write, 1, sim::FAULT_NACK)}
        << QStringList{"send_fw: MX25 write failed at byte offset 0", fwIncomplete.arg(0).arg(0)}
        << "730 430*64 440 420*2";
    QTest::newRow("firmware: payload one byte past its block")
        << FIRMWARE << image(kBlock, kBlock - 63) << QList<Setup>{}
        << QStringList{"send_fw: Error: Header and payload (65537 bytes) do not fit the 1 erased blocks (65536 bytes)"}
        << "730";
    QTest::newRow("firmware: largest payload a header can name")
        << FIRMWARE << image(4194304, 0xFFFFFFFF) << QList<Setup>{}
        << QStringList{"send_fw: Error: Header and payload (4294967359 bytes) do not fit the 64 erased blocks "
                       "(4194304 bytes)"}
        << "730";
    QTest::newRow("firmware: file shorter than its header says")
        << FIRMWARE << image(64 + 1000, 1000, 300) << QList<Setup>{}
        << QStringList{"send_fw: Reached end of file", fwIncomplete.arg(300).arg(5)} << "730 430 440 420*6";
    QTest::newRow("firmware: second erase NACKed")
        << FIRMWARE << image(3 * kBlock, 1000) << QList<Setup>{fault(CANMSG_ERASE_MX25, 1, sim::FAULT_NACK, 1)}
        << QStringList{"mx25_erase: Erase operation failed or timeout",
                       "send_fw: Erase of page 833 failed; stopping before anything is written"}
        << "730 430*2";
    QTest::newRow("firmware: address confirmed as another")
        << FIRMWARE << fw << QList<Setup>{fault(CANMSG_SET_ADDR_MX25, 0, sim::FAULT_WRONG_ADDRESS)}
        << QStringList{"set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)",
                       "send_fw: Address 0x03400000 not set; stopping before anything is written"}
        << "730 430 440";
    QTest::newRow("firmware: header NACKed")
        << FIRMWARE << fw << QList<Setup>{fault(write, 0, sim::FAULT_NACK)}
        << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)", "send_fw: Failed to send firmware header"}
        << "730 430 440 420";
    // Write packet 0 carries the header; packet 5 is the fifth of the payload.
    QTest::newRow("firmware: fifth packet NACKed")
        << FIRMWARE << fw << QList<Setup>{fault(write, 5, sim::FAULT_NACK)}
        << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)"} + fifthPacket << "730 430 440 420*6";
    QTest::newRow("firmware: fifth packet acknowledged as another op")
        << FIRMWARE << fw << QList<Setup>{fault(write, 5, sim::FAULT_WRONG_OP)}
        << QStringList{"send_fw: Starting firmware data transmission (64-byte packets)..."} + fifthPacket
        << "730 430 440 420*6";
    // Waits out one read time-out.
    QTest::newRow("firmware: unit silent at the fifth packet")
        << FIRMWARE << fw << QList<Setup>{fault(write, 5, sim::FAULT_NO_REPLY)}
        << QStringList{"wait_for_mx25_ack: No response received (timeout or no data)."} + fifthPacket
        << "730 430 440 420*6";
    QTest::newRow("CAN FD: firmware, unit goes away at the fifth packet")
        << FIRMWARE << fw << QList<Setup>{overCanFd(), fault(write, 5, sim::FAULT_VANISH)}
        << QStringList{"wait_for_mx25_ack: Error reading response from device."} + fifthPacket
        << "730 430 440 420*6";
    QTest::newRow("firmware: stopped while erasing")
        << FIRMWARE << image(3 * kBlock, 1000) << QList<Setup>{stopAt("erase 1/3")}
        << QStringList{"mx25_erase: Erase completed successfully (address=0x03400000)", "send_fw: Stopped on request"}
        << "730 430";
    QTest::newRow("firmware: stopped while writing")
        << FIRMWARE << fw << QList<Setup>{stopAt("write 128/1000")}
        << QStringList{"send_fw: Stopped on request", fwIncomplete.arg(128).arg(2)} << "730 430 440 420*3";

    // The database is closed exactly when the close command went out: the rows
    // whose requests begin with 450.
    const QByteArray db = patternBytes(1000, 4);
    const QString dbIncomplete = "send_airport_db: Incomplete (%1 / %2 bytes); not sending open command";
    const QString closeRefused =
        "send_airport_db: no ACK for close DB (expected CAN ID 0x450 in ACK payload), aborting";
    const QStringList fourthPacket{"send_airport_db: MX25 ACK failed at packet 3", dbIncomplete.arg(192).arg(1000)};
    QTest::newRow("airport: no file") << AIRPORT_DB << db << QList<Setup>{missing}
                                      << QStringList{"send_airport_db: Failed to open file %1: No such file or "
                                                     "directory"}
                                      << "";
    QTest::newRow("airport: empty") << AIRPORT_DB << QByteArray() << QList<Setup>{}
                                    << QStringList{"send_airport_db: File is empty"} << "";
    QTest::newRow("airport: one block too many")
        << AIRPORT_DB << QByteArray() << QList<Setup>{sparse(54525953)}
        << QStringList{"send_airport_db: File too large (54525953 bytes, 833 blocks); max 832 blocks before firmware "
                       "bank"}
        << "";
    QTest::newRow("airport: 832 blocks, then the first packet NACKed")
        << AIRPORT_DB << QByteArray() << QList<Setup>{sparse(54525952), fault(write, 0, sim::FAULT_NACK)}
        << QStringList{"send_airport_db: MX25 ACK failed at packet 0", dbIncomplete.arg(0).arg(54525952)}
        << "450 430*832 440 420";
    QTest::newRow("airport: close NACKed")
        << AIRPORT_DB << db << QList<Setup>{fault(CANMSG_AIRPORT_DB_OP, 0, sim::FAULT_NACK)}
        << QStringList{"NACK received for command CAN ID 0x450.", closeRefused} << "450";
    QTest::newRow("airport: close acknowledged as the partition query")
        << AIRPORT_DB << db << QList<Setup>{fault(CANMSG_AIRPORT_DB_OP, 0, sim::FAULT_WRONG_ACK_ID, -1, 0x730)}
        << QStringList{closeRefused} << "450";
    QTest::newRow("airport: erase NACKed")
        << AIRPORT_DB << db << QList<Setup>{fault(CANMSG_ERASE_MX25, 0, sim::FAULT_NACK, 1)}
        << QStringList{"mx25_erase: Erase operation failed or timeout",
                       "send_airport_db: Erase of block 0 failed; aborting, airport DB stays closed"}
        << "450 430";
    QTest::newRow("airport: address confirmed as another")
        << AIRPORT_DB << db << QList<Setup>{fault(CANMSG_SET_ADDR_MX25, 0, sim::FAULT_WRONG_ADDRESS)}
        << QStringList{"set_mx25_addr: Address mismatch (expected=0x00000000, got=0x00001000)",
                       "send_airport_db: Address 0x00000000 not set; aborting, airport DB stays closed"}
        << "450 430 440";
    QTest::newRow("airport: fourth packet NACKed")
        << AIRPORT_DB << db << QList<Setup>{fault(write, 3, sim::FAULT_NACK)}
        << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)"} + fourthPacket << "450 430 440 420*4";
    QTest::newRow("airport: fourth packet acknowledged as another op")
        << AIRPORT_DB << db << QList<Setup>{fault(write, 3, sim::FAULT_WRONG_OP)}
        << QStringList{"send_airport_db: Op type mismatch (expected OP_WRITE 0xAA, got 0xAB)",
                       dbIncomplete.arg(192).arg(1000)}
        << "450 430 440 420*4";
    QTest::newRow("CAN FD: airport, unit goes away at the fourth packet")
        << AIRPORT_DB << db << QList<Setup>{overCanFd(), fault(write, 3, sim::FAULT_VANISH)}
        << QStringList{"wait_for_mx25_ack: Error reading response from device."} + fourthPacket
        << "450 430 440 420*4";
    QTest::newRow("airport: stopped while writing")
        << AIRPORT_DB << db << QList<Setup>{stopAt("write 128/1000")}
        << QStringList{"send_airport_db: Stopped on request", dbIncomplete.arg(128).arg(1000)} << "450 430 440 420*2";
}

void TestUpload::failureLeavesTheUnitSafe()
{
    QFETCH(Kind, kind);
    QFETCH(QByteArray, contents);
    QFETCH(QList<Setup>, setup);
    QFETCH(QStringList, lastLines);
    QFETCH(QString, requests);
    for (const Setup& step : setup)
        step();

    bool done = true;
    const QStringList lines = printedLines([&] { done = upload(kind, contents); });
    QVERIFY(!done);
    QCOMPARE(lines.mid(lines.size() - lastLines.size()), lastLines.replaceInStrings("%1", path_));
    QCOMPARE(requestSequence(), requests);
    QCOMPARE(sim::unit().flash().airportDbOpen(), !requests.startsWith("450"));
    // What was acknowledged before the failure stays written.
    const int written = lastLines.last().contains("(256/1000") ? 256 : 0;
    QCOMPARE(flashBytes(kBank1 + 64, written), contents.mid(64, written));
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
