// Both uploads over CAN FD, through the real CAN FD transport into the
// simulated unit's flash: on a quiet bus and on one where other nodes send
// sensor frames every millisecond, and with the unit going away mid-transfer.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <vector>

#include "can_records.h"
#include "can_standin.h"
#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

typedef std::vector<uint8_t> Bytes;

using can_records::sent_record;

namespace {

const uint32_t kBank1 = 0x03400000;
const uint32_t kBlock = 0x10000;
const int kBusyBusPeriodMs = 1;
const int kBusyBusMinimumFrames = 10;

QByteArray firmware_header(uint32_t total_size, uint32_t encrypted_size)
{
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.magic = 0x57464B43;
    header.version = 0x01040000;
    header.total_size = total_size;
    header.plaintext_size = encrypted_size;
    header.encrypted_size = encrypted_size;
    header.offset = sizeof header;
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header);
}

// A write packet as it travels: the chunk, zero-padded to what its length
// code carries.
Bytes write_record(const QByteArray& chunk)
{
    const size_t carried = dlc_code_to_bytes(bytes_to_dlc_code(uint8_t(chunk.size())));
    Bytes payload(chunk.begin(), chunk.end());
    payload.resize(carried, 0);
    return sent_record(CANMSG_WRITE_MX25, payload);
}

std::vector<Bytes> write_records()
{
    const auto frames = sim::unit().receivedFrames();
    const auto records = sim::unit().receivedReports();
    std::vector<Bytes> writes;
    for (size_t i = 0; i < frames.size(); i++) {
        if (frames[i].can_ID == CANMSG_WRITE_MX25)
            writes.push_back(records[i]);
    }
    return writes;
}

QStringList closing(const QStringList& lines, int count)
{
    return lines.mid(lines.size() - count);
}

} // namespace

class TestCanfdFlash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firmwareUpload_data();
    void firmwareUpload();
    void airportDatabaseUpload_data();
    void airportDatabaseUpload();
    void unitGoesAwayMidUpload();

private:
    QString writeFile(const QByteArray& contents);

    QTemporaryDir dir_;
    int files_ = 0;
    std::unique_ptr<CommsManager> comms_;
};

void TestCanfdFlash::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void TestCanfdFlash::init()
{
    sim::can_node().reset();
    sim::unit().reset();
    sim::unit().setPresent(false);
    qputenv("EFIS_SIM_LINK", "canfd");
    comms_ = connectToSimulatedUnit();
    QCOMPARE(comms_->getActiveInterface(), CAN_FD);
    sim::unit().clearRecords();
}

void TestCanfdFlash::cleanup()
{
    comms_.reset();
    sim::can_node().reset();
}

QString TestCanfdFlash::writeFile(const QByteArray& contents)
{
    const QString path = dir_.filePath(QStringLiteral("upload%1").arg(++files_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestCanfdFlash::firmwareUpload_data()
{
    QTest::addColumn<int>("busTrafficMs");
    QTest::newRow("quiet bus") << 0;
    QTest::newRow("other nodes every millisecond") << kBusyBusPeriodMs;
}

void TestCanfdFlash::firmwareUpload()
{
    QFETCH(int, busTrafficMs);
    // 2031 whole packets and a 17-byte tail, which travels as 20 bytes.
    const int payloadSize = 130001;
    const QByteArray header = firmware_header(3 * kBlock, payloadSize);
    const QByteArray payload = patternBytes(payloadSize, 3);
    const QByteArray path = QFile::encodeName(writeFile(header + payload));
    sim::can_node().setBusTraffic(busTrafficMs);

    bool done = false;
    const QStringList lines = printedLines([&] { done = send_fw(comms_.get(), path.constData(), 64, nullptr, nullptr); });
    QVERIFY2(done, qPrintable(closing(lines, 4).join('\n')));
    QCOMPARE(lines.last(),
             QStringLiteral("send_fw: Firmware transmission completed successfully (130001 bytes, 2032 packets)"));
    QCOMPARE(flashBytes(kBank1, header.size()), header);
    QCOMPARE(flashBytes(kBank1 + header.size(), payloadSize), payload);

    const std::vector<Bytes> writes = write_records();
    QCOMPARE(writes.size(), size_t(1 + 2032));
    QCOMPARE(writes.front(), write_record(header));
    QCOMPARE(writes[1], write_record(payload.left(64)));
    QCOMPARE(writes.back(), write_record(payload.right(17)));
    if (busTrafficMs > 0)
        QVERIFY(sim::can_node().otherNodeFramesDelivered() >= kBusyBusMinimumFrames);
}

void TestCanfdFlash::airportDatabaseUpload_data()
{
    QTest::addColumn<int>("busTrafficMs");
    QTest::newRow("quiet bus") << 0;
    QTest::newRow("other nodes every millisecond") << kBusyBusPeriodMs;
}

void TestCanfdFlash::airportDatabaseUpload()
{
    QFETCH(int, busTrafficMs);
    const QByteArray database = patternBytes(65537, 5);
    const QByteArray path = QFile::encodeName(writeFile(database));
    sim::can_node().setBusTraffic(busTrafficMs);

    bool done = false;
    const QStringList lines = printedLines([&] { done = send_airport_db(comms_.get(), path.constData(), nullptr, nullptr); });
    QVERIFY2(done, qPrintable(closing(lines, 4).join('\n')));
    QCOMPARE(flashBytes(0, database.size()), database);
    // The open command is not acknowledged: the unit takes it up when it arrives.
    QTRY_VERIFY_WITH_TIMEOUT(sim::unit().flash().airportDbOpen(), 10000);

    const std::vector<Bytes> writes = write_records();
    QCOMPARE(writes.size(), size_t(1025));
    QCOMPARE(writes.front(), write_record(database.left(64)));
    QCOMPARE(writes.back(), write_record(database.right(1)));
    if (busTrafficMs > 0)
        QVERIFY(sim::can_node().otherNodeFramesDelivered() >= kBusyBusMinimumFrames);
}

void TestCanfdFlash::unitGoesAwayMidUpload()
{
    // Write packet 0 carries the header; the unit goes after taking the fifth
    // payload packet.
    sim::FaultRule vanish;
    vanish.request_id = CANMSG_WRITE_MX25;
    vanish.after = 5;
    vanish.kind = sim::FAULT_VANISH;
    sim::unit().addFault(vanish);
    const QByteArray payload = patternBytes(1000, 3);
    const QByteArray path = QFile::encodeName(writeFile(firmware_header(kBlock, 1000) + payload));

    bool done = true;
    const QStringList lines = printedLines([&] { done = send_fw(comms_.get(), path.constData(), 64, nullptr, nullptr); });
    QVERIFY(!done);
    QCOMPARE(closing(lines, 3),
             QStringList({"wait_for_mx25_ack: Error reading response from device.",
                          "send_fw: MX25 write failed at byte offset 256",
                          "send_fw: Firmware transmission incomplete (256/1000 bytes sent, 4 packets)"}));
    // What was acknowledged before the unit went stays written.
    QCOMPARE(flashBytes(kBank1 + 64, 256), payload.left(256));

    COMMS_MSG_t msg;
    errno = 0;
    QCOMPARE(comms_->read(&msg), -1);
    QCOMPARE(errno, ECONNRESET);
}

QTEST_GUILESS_MAIN(TestCanfdFlash)
#include "tst_canfd_flash.moc"
