// Both uploads, the firmware image and the airport database, against the
// simulated unit over USB and CAN FD: what lands in flash, the frames on the
// wire, and what a refusal, a failure or a stop leaves behind.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "can_standin.h"
#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

using namespace sim;

enum Kind { FIRMWARE, AIRPORT_DB };
typedef QList<std::function<void()>> Steps;
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(COMM_INTERFACE_t)

namespace {

const uint32_t kBank1 = 0x03400000;
const uint32_t kBank2 = 0x03800000;
const uint32_t kBlock = 0x10000;
const uint32_t kWrite = CANMSG_WRITE_MX25;
const std::vector<uint8_t> kOldContents(16, 0);

// A firmware image: a header announcing `announced` payload bytes of an
// image of total_size, then `actual` payload bytes.
QByteArray image(uint32_t total_size, uint32_t announced, int actual = 1000)
{
    firmware_header_t header{};
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
        frames.append(frameBytes(kWrite, bytes_to_dlc_code(uint8_t(piece.size())), piece));
    }
    return frames;
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    int files_ = 0;
    std::unique_ptr<CommsManager> comms_;
    // What a row may change before the upload starts.
    std::unique_ptr<ProgressLog> progress_;
    uint8_t packetLen_ = 64;

    void connectOver(COMM_INTERFACE_t iface)
    {
        cleanup();
        unit().reset();
        if (iface == CAN_FD) {
            unit().setPresent(false);
            qputenv("EFIS_SIM_LINK", "canfd");
        }
        comms_ = connectToSimulatedUnit();
        QCOMPARE(comms_->getActiveInterface(), iface);
        unit().clearRecords();
    }

    // A file of `contents`, made `size` bytes long (sparse) when a size is given.
    QString file(const QByteArray& contents, qint64 size = -1)
    {
        QFile file(dir_.filePath(QString::number(++files_)));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()
            || (size >= 0 && !file.resize(size)))
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    bool upload(Kind kind, const QString& path)
    {
        const QByteArray local = QFile::encodeName(path);
        if (kind == FIRMWARE)
            return send_fw(comms_.get(), local.constData(), packetLen_, ProgressLog::record, progress_.get(),
                           &progress_->stop);
        return send_airport_db(comms_.get(), local.constData(), ProgressLog::record, progress_.get(), &progress_->stop);
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void init()
    {
        connectOver(USB_HID);
        progress_.reset(new ProgressLog);
        packetLen_ = 64;
    }

    void cleanup()
    {
        comms_.reset();
        can_node().reset();
        qunsetenv("EFIS_SIM_LINK");
    }

    void landsInFlash_data()
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
    // nodes talk all the while, so unrelated frames come between the replies.
    void landsInFlash()
    {
        QFETCH(COMM_INTERFACE_t, iface);
        QFETCH(Kind, kind);
        QFETCH(uint32_t, partition);
        QFETCH(uint32_t, start);
        connectOver(iface);
        unit().flash().setPartitionAnswer(partition);
        if (iface == CAN_FD)
            can_node().setBusTraffic(1); // other nodes send sensor frames every millisecond
        else
            unit().addFault({0, 0, -1, FAULT_NOISE_BEFORE, 2, -1});
        const QByteArray contents = kind == FIRMWARE ? image(64 + 130001, 130001, 130001) : patternBytes(65553, 5);
        // Old contents where the upload begins, and in every region it must leave alone.
        const uint32_t erasedEnd = start + 2 * kBlock;
        for (uint32_t at : {0u, kBank1, kBank2, erasedEnd})
            unit().flash().preload(at, kOldContents);

        bool done = false;
        const QStringList lines = printedLines([&] { done = upload(kind, file(contents)); });
        QVERIFY2(done, qPrintable(lines.mid(lines.size() - 4).join('\n')));
        // The open command is not acknowledged: the unit takes it up when it arrives.
        QTRY_VERIFY_WITH_TIMEOUT(unit().flash().airportDbOpen(), 10000);
        QVector<QByteArray> frames{kind == FIRMWARE ? frameBytes(CANMSG_GET_PARTITION, 0)
                                                    : frameBytes(CANMSG_AIRPORT_DB_OP, 1, "\xDC")};
        for (uint32_t block = start >> 16; block < erasedEnd >> 16; block++)
            frames += frameBytes(CANMSG_ERASE_MX25, 3, QByteArray("\xBE", 1) + char(block) + char(block >> 8));
        frames += frameBytes(CANMSG_SET_ADDR_MX25, 4, QByteArray(2, '\0') + char(start >> 16) + char(start >> 24));
        frames += writeFrames(contents, 64);
        if (kind == AIRPORT_DB)
            frames += frameBytes(CANMSG_AIRPORT_DB_OP, 1, "\xDA");
        QCOMPARE(sentFrames(), frames);
        // The unit cannot tell padding from data: it lands after the contents.
        QCOMPARE(flashBytes(start, contents.size() + 4), contents + QByteArray(3, '\0') + '\xFF');
        QCOMPARE(flashBytes(erasedEnd - 16, 16), QByteArray(16, '\xFF'));
        for (uint32_t at : {0u, kBank1, kBank2, erasedEnd}) {
            if (at != start)
                QCOMPARE(flashBytes(at, 16), QByteArray(16, '\0'));
        }
        // A progress line every hundred packets: the twentieth at packet 2000.
        QCOMPARE(lines.filter("send_fw: Progress:").value(19),
                 QString(kind == FIRMWARE ? "send_fw: Progress: 128000/130001 bytes (98.5%)" : ""));
        QVERIFY(iface == USB_HID || can_node().otherNodeFramesDelivered() > 0);
    }

    // A small firmware image in the 8-byte packets of units before firmware
    // 0.3.2, then a small airport database; the header's packets count for no progress.
    void stepByStep()
    {
        packetLen_ = 8;
        const QByteArray firmware = image(84, 20, 20);
        const QByteArray database = patternBytes(130, 2);
        bool done = false;
        const QStringList lines =
            printedLines([&] { done = upload(FIRMWARE, file(firmware)) && upload(AIRPORT_DB, file(database)); });
        // The flash operations' own lines show in the firmware's part.
        QCOMPARE(
            lines.mid(0, 19),
            QStringList({"send_fw: Getting current MX25 partition...",
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
                         "send_fw: Firmware transmission completed successfully (20 bytes, 3 packets)"}));
        QCOMPARE(lines.mid(19).filter("send_airport_db"),
                 QStringList({"send_airport_db: 130 bytes, erasing 1 blocks starting at block 0 (address 0x00000000)",
                              "send_airport_db: closing airport DB on device before flash update...",
                              "send_airport_db_op: sent 0xDC", "send_airport_db: close DB acknowledged",
                              "send_airport_db: Erase complete, setting address 0x00000000 and transferring data...",
                              "send_airport_db: Complete (130 bytes, 3 packets)",
                              "send_airport_db: opening airport DB on device...", "send_airport_db_op: sent 0xDA"}));
        QVERIFY(done);
        QCOMPARE(progress_->reports, QStringList({"erase 1/1", "write 8/20", "write 16/20", "write 20/20", "erase 1/1",
                                                  "write 64/130", "write 128/130", "write 130/130"}));
        QCOMPARE(sentFrames(kWrite), writeFrames(firmware, 8) + writeFrames(database, 64));
    }

    void failureLeavesTheUnitSafe_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("path");
        QTest::addColumn<Steps>("setup");
        QTest::addColumn<QStringList>("lastLines");
        QTest::addColumn<QString>("requests");
        const auto row = [](const char* name, Kind kind, const QString& path, const Steps& setup,
                            const QStringList& lastLines, const char* requests) {
            QTest::newRow(name) << kind << path << setup << lastLines << QString(requests);
        };
        const QString fw = file(image(64 + 1000, 1000));
        const QString fw3 = file(image(3 * kBlock, 1000));
        const QString stub = file(image(0, 0).left(40));
        const QString missing = dir_.filePath("missing");
        const auto packetLen = [this](int len) { return [=] { packetLen_ = uint8_t(len); }; };
        const auto stopAt = [this](const char* report) { return [=] { progress_->stop_at = report; }; };
        const QString fwShort = "send_fw: Firmware transmission incomplete (%1/1000 bytes sent, %2 packets)";
        const QStringList fifth{"send_fw: MX25 write failed at byte offset 256", fwShort.arg(256).arg(4)};
        const QString before = "; stopping before anything is written";
        const QString noFit =
            "send_fw: Error: Header and payload (%1 bytes) do not fit the %2 erased blocks (%3 bytes)";
        const QString nack = "wait_for_mx25_ack: MX25 NACK (op=0xAA)";
        row("firmware: no file", FIRMWARE, missing, {},
            {"send_fw: Failed to open file " + missing + ": No such file or directory"}, "730");
        row("firmware: shorter than a header", FIRMWARE, stub, {},
            {"send_fw: Failed to read firmware header from " + stub + ": unexpected end of file"}, "730");
        row("firmware: packet length 33", FIRMWARE, fw, {packetLen(33)},
            {"send_fw: Invalid max_packet_len 33 (must be a CAN FD payload length: 1..8, 12, 16, 20, 24, 32, 48 or "
             "64)"},
            "");
        row("firmware: packet length 0", FIRMWARE, fw, {packetLen(0)},
            {"send_fw: Invalid max_packet_len 0 (must be 1..64)"}, "");
        row("firmware: unit names no bank", FIRMWARE, fw, {[] { unit().flash().setPartitionAnswer(0); }},
            {"send_fw: Invalid partition (partition_none), cannot proceed"}, "730");
        row("firmware: one byte more than a bank", FIRMWARE, file(image(4194305, 1000)), {},
            {"send_fw: Error: Firmware too large for partition (65 blocks needed, but partition only has 64 blocks)"},
            "730");
        row("firmware: the whole bank, first payload packet NACKed", FIRMWARE, file(image(4194304, 1000)),
            {unitFault(kWrite, 1, FAULT_NACK)},
            {nack, "send_fw: MX25 write failed at byte offset 0", fwShort.arg(0).arg(0)}, "730 430*64 440 420*2");
        row("firmware: payload one byte past its block", FIRMWARE, file(image(kBlock, kBlock - 63)), {},
            {noFit.arg(65537).arg(1).arg(65536)}, "730");
        row("firmware: largest payload a header names", FIRMWARE, file(image(4194304, 0xFFFFFFFF)), {},
            {noFit.arg(4294967359).arg(64).arg(4194304)}, "730");
        row("firmware: file shorter than its header says", FIRMWARE, file(image(64 + 1000, 1000, 300)), {},
            {"send_fw: Reached end of file", fwShort.arg(300).arg(5)}, "730 430 440 420*6");
        row("firmware: second erase NACKed", FIRMWARE, fw3, {unitFault(CANMSG_ERASE_MX25, 1, FAULT_NACK, 1)},
            {"mx25_erase: Erase operation failed or timeout", "send_fw: Erase of page 833 failed" + before},
            "730 430*2");
        row("firmware: address confirmed as another", FIRMWARE, fw,
            {unitFault(CANMSG_SET_ADDR_MX25, 0, FAULT_WRONG_ADDRESS)},
            {"set_mx25_addr: Address mismatch (expected=0x03400000, got=0x03401000)",
             "send_fw: Address 0x03400000 not set" + before},
            "730 430 440");
        row("firmware: header NACKed", FIRMWARE, fw, {unitFault(kWrite, 0, FAULT_NACK)},
            {nack, "send_fw: Failed to send firmware header"}, "730 430 440 420");
        // Write packet 0 carries the header; packet 5 is the fifth of the payload.
        row("firmware: fifth packet NACKed", FIRMWARE, fw, {unitFault(kWrite, 5, FAULT_NACK)},
            QStringList{nack} + fifth, "730 430 440 420*6");
        row("firmware: fifth packet acknowledged as another op", FIRMWARE, fw, {unitFault(kWrite, 5, FAULT_WRONG_OP)},
            QStringList{"send_fw: Starting firmware data transmission (64-byte packets)..."} + fifth,
            "730 430 440 420*6");
        row("CAN FD: firmware, unit goes away at the fifth packet", FIRMWARE, fw,
            {[this] { connectOver(CAN_FD); }, unitFault(kWrite, 5, FAULT_VANISH)},
            QStringList{"wait_for_mx25_ack: Error reading response from device."} + fifth, "730 430 440 420*6");
        row("firmware: stopped while erasing", FIRMWARE, fw3, {stopAt("erase 1/3")},
            {"mx25_erase: Erase completed successfully (address=0x03400000)", "send_fw: Stopped on request"},
            "730 430");
        row("firmware: stopped while writing", FIRMWARE, fw, {stopAt("write 128/1000")},
            {"send_fw: Stopped on request", fwShort.arg(128).arg(2)}, "730 430 440 420*3");

        // The database is closed exactly when the close command went out: in the
        // rows whose requests begin with 450.
        const QString db = file(patternBytes(1000, 4));
        const QString dbShort = "send_airport_db: Incomplete (%1 / %2 bytes); not sending open command";
        const QString stays = "; aborting, airport DB stays closed";
        row("airport: empty", AIRPORT_DB, file(""), {}, {"send_airport_db: File is empty"}, "");
        row("airport: one block too many", AIRPORT_DB, file("", 54525953), {},
            {"send_airport_db: File too large (54525953 bytes, 833 blocks); max 832 blocks before firmware bank"}, "");
        row("airport: 832 blocks, first packet NACKed", AIRPORT_DB, file("", 54525952),
            {unitFault(kWrite, 0, FAULT_NACK)},
            {"send_airport_db: MX25 ACK failed at packet 0", dbShort.arg(0).arg(54525952)}, "450 430*832 440 420");
        row("airport: close acknowledged as the partition query", AIRPORT_DB, db,
            {unitFault(CANMSG_AIRPORT_DB_OP, 0, FAULT_WRONG_ACK_ID, -1, 0x730)},
            {"send_airport_db: no ACK for close DB (expected CAN ID 0x450 in ACK payload), aborting"}, "450");
        row("airport: erase NACKed", AIRPORT_DB, db, {unitFault(CANMSG_ERASE_MX25, 0, FAULT_NACK, 1)},
            {"send_airport_db: Erase of block 0 failed" + stays}, "450 430");
        row("airport: address confirmed as another", AIRPORT_DB, db,
            {unitFault(CANMSG_SET_ADDR_MX25, 0, FAULT_WRONG_ADDRESS)},
            {"send_airport_db: Address 0x00000000 not set" + stays}, "450 430 440");
        row("airport: fourth packet NACKed", AIRPORT_DB, db, {unitFault(kWrite, 3, FAULT_NACK)},
            {"send_airport_db: MX25 ACK failed at packet 3", dbShort.arg(192).arg(1000)}, "450 430 440 420*4");
        row("airport: fourth packet acknowledged as another op", AIRPORT_DB, db, {unitFault(kWrite, 3, FAULT_WRONG_OP)},
            {"send_airport_db: Op type mismatch (expected OP_WRITE 0xAA, got 0xAB)", dbShort.arg(192).arg(1000)},
            "450 430 440 420*4");
        row("airport: stopped while writing", AIRPORT_DB, db, {stopAt("write 128/1000")},
            {"send_airport_db: Stopped on request", dbShort.arg(128).arg(1000)}, "450 430 440 420*2");
    }

    void failureLeavesTheUnitSafe()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, path);
        QFETCH(Steps, setup);
        QFETCH(QStringList, lastLines);
        QFETCH(QString, requests);
        for (const auto& step : setup)
            step();
        bool done = true;
        const QStringList lines = printedLines([&] { done = upload(kind, path); });
        QVERIFY(!done);
        QCOMPARE(lines.mid(lines.size() - lastLines.size()), lastLines);
        QCOMPARE(requestSequence(), requests);
        QCOMPARE(unit().flash().airportDbOpen(), !requests.startsWith("450"));
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
