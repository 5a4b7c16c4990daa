#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "firmware_ops/firmware_ops.h"
#include "flash_test_support.h"

namespace {

const uint32_t kBlock = 0x10000;
const uint32_t kBank1 = 0x03400000;
const qint64 kLargestDatabase = 54525952; // 832 blocks
const QByteArray kOldContents(16, '\0');

const QByteArray kCloseReport = hostReport(CANMSG_AIRPORT_DB_OP, 1, QByteArray(1, '\xDC'));
const QByteArray kOpenReport = hostReport(CANMSG_AIRPORT_DB_OP, 1, QByteArray(1, '\xDA'));

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

} // namespace

Q_DECLARE_METATYPE(sim::FaultRule)

class TestAirportUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writesTheDatabaseFromAddressZero();
    void printsEachStepOfASmallUpload();
    void packetsAndProgress();
    void sizeLimits_data();
    void sizeLimits();
    void unusableFile_data();
    void unusableFile();
    void notConnected();
    void closeRefusedStopsBeforeErasing();

    void brokenTransferLeavesDatabaseClosed_data();
    void brokenTransferLeavesDatabaseClosed();
    void nextCompleteTransferOpensItAgain();

private:
    QString writeDatabase(const QByteArray& contents);
    bool upload(const QString& path, QStringList* progress = nullptr);

    QTemporaryDir dir_;
    int files_ = 0;
    std::unique_ptr<CommsManager> comms_;
};

void TestAirportUpload::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void TestAirportUpload::init()
{
    sim::unit().reset();
    comms_ = connectToSimulatedUnit();
    sim::unit().clearRecords();
}

void TestAirportUpload::cleanup()
{
    comms_.reset();
}

QString TestAirportUpload::writeDatabase(const QByteArray& contents)
{
    const QString path = dir_.filePath(QStringLiteral("airports%1.db").arg(++files_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool TestAirportUpload::upload(const QString& path, QStringList* progress)
{
    const QByteArray localPath = QFile::encodeName(path);
    return send_airport_db(comms_.get(), localPath.constData(), progress != nullptr ? recordProgress : nullptr,
                           progress);
}

void TestAirportUpload::writesTheDatabaseFromAddressZero()
{
    const QByteArray database = patternBytes(65537, 5);
    // Old contents in both blocks the file needs (erased before writing) and
    // after them (left alone).
    for (uint32_t at : {0u, kBlock, 2 * kBlock, kBank1})
        preloadFlash(at, kOldContents);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeDatabase(database)); });
    QVERIFY(done);

    QCOMPARE(requestSequence(), QStringLiteral("450 430*2 440 420*1025 450"));
    const QVector<QByteArray> reports = receivedReports();
    QCOMPARE(reports.first(), kCloseReport);
    QCOMPARE(reports[1], hostReport(CANMSG_ERASE_MX25, 3, QByteArray("\xBE\x00\x00", 3)));
    QCOMPARE(reports[2], hostReport(CANMSG_ERASE_MX25, 3, QByteArray("\xBE\x01\x00", 3)));
    QCOMPARE(reports[3], hostReport(CANMSG_SET_ADDR_MX25, 4, QByteArray(4, '\0')));
    QCOMPARE(reports[reports.size() - 2], hostReport(CANMSG_WRITE_MX25, 1, database.right(1)));
    QCOMPARE(reports.last(), kOpenReport);

    QCOMPARE(flashBytes(0, database.size()), database);
    const int rest = int(2 * kBlock) - database.size();
    QCOMPARE(flashBytes(database.size(), rest), QByteArray(rest, '\xFF'));
    QCOMPARE(flashBytes(2 * kBlock, 16), kOldContents);
    QCOMPARE(flashBytes(kBank1, 16), kOldContents);
    QVERIFY(sim::unit().flash().airportDbOpen());
}

void TestAirportUpload::printsEachStepOfASmallUpload()
{
    const QString path = writeDatabase(patternBytes(100, 1));
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(done);
    QCOMPARE(lines, QStringList({
                        "send_airport_db: 100 bytes, erasing 1 blocks starting at block 0 (address 0x00000000)",
                        "send_airport_db: closing airport DB on device before flash update...",
                        "send_airport_db_op: sent 0xDC",
                        "send_airport_db: close DB acknowledged",
                        "mx25_erase: Successfully sent erase command (op_type=0xBE, block/sector=0)",
                        "mx25_erase: ACK received, erase command acknowledged",
                        "mx25_erase: Erase completed successfully (address=0x00000000)",
                        "send_airport_db: Erase complete, setting address 0x00000000 and transferring data...",
                        "set_mx25_addr: Successfully sent address (0x00000000)",
                        "set_mx25_addr: Address set successfully (0x00000000)",
                        "send_airport_db: Complete (100 bytes, 2 packets)",
                        "send_airport_db: opening airport DB on device...",
                        "send_airport_db_op: sent 0xDA",
                    }));
}

void TestAirportUpload::packetsAndProgress()
{
    const QByteArray database = patternBytes(130, 2);
    QStringList progress;
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeDatabase(database), &progress); });
    QVERIFY(done);

    QCOMPARE(receivedReportsWithId(CANMSG_WRITE_MX25),
             QVector<QByteArray>({hostReport(CANMSG_WRITE_MX25, 15, database.left(64)),
                                  hostReport(CANMSG_WRITE_MX25, 15, database.mid(64, 64)),
                                  hostReport(CANMSG_WRITE_MX25, 2, database.right(2))}));
    // The write phase counts file bytes; its total is the file size.
    QCOMPARE(progress, QStringList({"erase 1/1", "write 64/130", "write 128/130", "write 130/130"}));
}

void TestAirportUpload::sizeLimits_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("erases");

    QTest::newRow("832 blocks") << kLargestDatabase
                                << "send_airport_db: 54525952 bytes, erasing 832 blocks starting at block 0 (address "
                                   "0x00000000)"
                                << 832;
    QTest::newRow("one byte more") << kLargestDatabase + 1
                                   << "send_airport_db: File too large (54525953 bytes, 833 blocks); max 832 blocks "
                                      "before firmware bank"
                                   << 0;
}

// The file is sparse, and the first write packet is refused, so the largest
// database is accepted and erased without being written whole.
void TestAirportUpload::sizeLimits()
{
    QFETCH(qint64, size);
    QFETCH(QString, verdict);
    QFETCH(int, erases);
    const QString path = dir_.filePath(QStringLiteral("large%1.db").arg(++files_));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    file.close();
    sim::unit().addFault(fault(CANMSG_WRITE_MX25, 0, sim::FAULT_NACK));

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(!done);
    QVERIFY2(lines.contains(verdict), qPrintable(lines.first()));
    const QVector<QByteArray> erased = receivedReportsWithId(CANMSG_ERASE_MX25);
    QCOMPARE(erased.size(), erases);
    if (erases > 0)
        QCOMPARE(erased.last(), hostReport(CANMSG_ERASE_MX25, 3, QByteArray("\xBE\x3F\x03", 3)));
    else
        QVERIFY(receivedReports().isEmpty());
}

void TestAirportUpload::unusableFile_data()
{
    QTest::addColumn<int>("fileSize"); // -1: no file at all
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << -1 << "send_airport_db: Failed to open file %1: No such file or directory";
    QTest::newRow("empty") << 0 << "send_airport_db: File is empty";
}

void TestAirportUpload::unusableFile()
{
    QFETCH(int, fileSize);
    QFETCH(QString, reason);
    const QString path =
        fileSize < 0 ? dir_.filePath(QStringLiteral("absent.db")) : writeDatabase(QByteArray(fileSize, 'x'));

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(!done);
    QCOMPARE(lines, QStringList{QString(reason).replace(QLatin1String("%1"), path)});
    QVERIFY(receivedReports().isEmpty());
    QVERIFY(sim::unit().flash().airportDbOpen());
}

void TestAirportUpload::notConnected()
{
    CommsManager unconnected;
    const QByteArray path = QFile::encodeName(writeDatabase("abc"));
    bool unconnectedDone = true, pathlessDone = true;
    const QStringList lines = printedLines([&] {
        unconnectedDone = send_airport_db(&unconnected, path.constData(), nullptr, nullptr);
        pathlessDone = send_airport_db(comms_.get(), nullptr, nullptr, nullptr);
    });
    QVERIFY(!unconnectedDone && !pathlessDone);
    QCOMPARE(lines, QStringList({"send_airport_db: CommsManager not connected", "send_airport_db: Invalid file path"}));
    QVERIFY(receivedReports().isEmpty());
}

void TestAirportUpload::closeRefusedStopsBeforeErasing()
{
    sim::unit().addFault(fault(CANMSG_AIRPORT_DB_OP, 0, sim::FAULT_NACK));
    preloadFlash(0, kOldContents);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeDatabase(patternBytes(100, 1))); });
    QVERIFY(!done);
    QCOMPARE(closing(lines, 3),
             QStringList({"send_airport_db_op: sent 0xDC", "NACK received for command CAN ID 0x450.",
                          "send_airport_db: no ACK for close DB (expected CAN ID 0x450 in ACK payload), aborting"}));
    QCOMPARE(receivedReports(), QVector<QByteArray>{kCloseReport});
    QCOMPARE(flashBytes(0, 16), kOldContents);
}

void TestAirportUpload::brokenTransferLeavesDatabaseClosed_data()
{
    QTest::addColumn<sim::FaultRule>("rule");
    QTest::addColumn<QStringList>("closingLines");
    QTest::addColumn<QString>("requests");

    const QString incomplete =
        QStringLiteral("send_airport_db: Incomplete (192 / 1000 bytes); not sending open command");
    QTest::newRow("packet NACKed") << fault(CANMSG_WRITE_MX25, 3, sim::FAULT_NACK)
                                   << QStringList{"wait_for_mx25_ack: MX25 NACK (op=0xAA)",
                                                  "send_airport_db: MX25 ACK failed at packet 3", incomplete}
                                   << "450 430 440 420*4";
    QTest::newRow("packet acknowledged as another op")
        << fault(CANMSG_WRITE_MX25, 3, sim::FAULT_WRONG_OP)
        << QStringList{"send_airport_db: Op type mismatch (expected OP_WRITE 0xAA, got 0xAB)", incomplete}
        << "450 430 440 420*4";
    QTest::newRow("unit vanishes") << fault(CANMSG_WRITE_MX25, 3, sim::FAULT_VANISH)
                                   << QStringList{"wait_for_mx25_ack: Error reading response from device.",
                                                  "send_airport_db: MX25 ACK failed at packet 3", incomplete}
                                   << "450 430 440 420*4";
    QTest::newRow("erase NACKed")
        << fault(CANMSG_ERASE_MX25, 0, sim::FAULT_NACK, 1)
        << QStringList{"mx25_erase: Erase operation failed or timeout",
                       "send_airport_db: Erase of block 0 failed; aborting, airport DB stays closed"}
        << "450 430";
    QTest::newRow("address confirmed as another")
        << fault(CANMSG_SET_ADDR_MX25, 0, sim::FAULT_WRONG_ADDRESS)
        << QStringList{"set_mx25_addr: Address mismatch (expected=0x00000000, got=0x00001000)",
                       "send_airport_db: Address 0x00000000 not set; aborting, airport DB stays closed"}
        << "450 430 440";
}

void TestAirportUpload::brokenTransferLeavesDatabaseClosed()
{
    QFETCH(sim::FaultRule, rule);
    QFETCH(QStringList, closingLines);
    QFETCH(QString, requests);
    sim::unit().addFault(rule);

    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(writeDatabase(patternBytes(1000, 4))); });
    QVERIFY(!done);
    QCOMPARE(closing(lines, closingLines.size()), closingLines);
    QCOMPARE(requestSequence(), requests);
    QVERIFY(!sim::unit().flash().airportDbOpen());
}

void TestAirportUpload::nextCompleteTransferOpensItAgain()
{
    const QString path = writeDatabase(patternBytes(1000, 6));
    sim::unit().addFault(fault(CANMSG_WRITE_MX25, 5, sim::FAULT_NACK));
    bool done = false;
    const QStringList lines = printedLines([&] { done = upload(path); });
    QVERIFY(!done);
    QVERIFY(!sim::unit().flash().airportDbOpen());

    sim::unit().clearFaults();
    sim::unit().clearRecords();
    QVERIFY(upload(path));
    QVERIFY(sim::unit().flash().airportDbOpen());
    QCOMPARE(receivedReports().last(), kOpenReport);
    QCOMPARE(flashBytes(0, 1000), patternBytes(1000, 6));
}

QTEST_GUILESS_MAIN(TestAirportUpload)
#include "tst_airport_upload.moc"
