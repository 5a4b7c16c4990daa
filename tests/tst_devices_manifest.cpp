// The devices table with a downloads manifest: the product name and whether
// an update is available. The network is out of reach, so the window falls
// back to the cached manifest; one manifest serves the whole suite, since the
// window keeps the first one it loads for the life of the process.

#include <QtTest>

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include <memory>

#include "comms/comms.h"
#include "firmware_manifest.h"
#include "mainwindow.h"
#include "scratch_home.h"
#include "simulated_unit.h"
#include "window_harness.h"

namespace {

const int kConnectBoundMs = 15000;

const char kManifest[] = R"json({
  "firmware_packages": [
    {"device_type": "AE", "display_name": "Halcyra EFIS (demonstration)", "firmware_version": "1.4.0",
     "firmware_file": "halcyra-1.4.0.bin"},
    {"device_type": "ED", "display_name": "", "firmware_version": "2.0.0",
     "firmware_file": "mirrow-2.0.0.bin"}
  ]
})json";

} // namespace

class TestDevicesManifest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void showsManifestNameAndUpdate_data();
    void showsManifestNameAndUpdate();

private:
    std::unique_ptr<ScratchHome> home;
};

void TestDevicesManifest::initTestCase()
{
    home.reset(new ScratchHome());
    QVERIFY(home->isValid());
    QFile cached(firmwareCacheDirectory() + "/" + kManifestFileName);
    QVERIFY(cached.open(QIODevice::WriteOnly));
    QVERIFY(cached.write(kManifest) > 0);
}

void TestDevicesManifest::init()
{
    sim::unit().reset();
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestDevicesManifest::showsManifestNameAndUpdate_data()
{
    QTest::addColumn<uint32_t>("serial");
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("update");
    QTest::newRow("older firmware") << 0xAE020457u << 3 << "Halcyra EFIS (demonstration)" << "Yes";
    QTest::newRow("same firmware") << 0xAE020457u << 4 << "Halcyra EFIS (demonstration)" << "No";
    QTest::newRow("newer firmware") << 0xAE020457u << 5 << "Halcyra EFIS (demonstration)" << "No";
    QTest::newRow("entry without a name") << 0xED000001u << 0 << "ED" << "Yes";
    QTest::newRow("no entry") << 0x42000001u << 0 << "Unknown (0x42)" << "Unknown";
}

void TestDevicesManifest::showsManifestNameAndUpdate()
{
    QFETCH(uint32_t, serial);
    QFETCH(int, minor);
    QFETCH(QString, name);
    QFETCH(QString, update);
    sim::unit().setSerial(serial);
    sim::unit().setFirmware(1, uint8_t(minor), 0);

    // A unit with older firmware is offered the update first; declined, the load follows.
    harness::ModalAnswers declineOffer(
        [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click(); });
    MainWindow window;
    window.show();
    QTableWidget* table = window.findChild<QTableWidget*>("table_devices");
    QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(),
                              QString("Configuration successfully loaded from device"), kConnectBoundMs);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), name);
    QVERIFY(table->columnWidth(0) > table->fontMetrics().horizontalAdvance(name));
    QCOMPARE(table->item(0, 2)->text(), QString("1.%1.0").arg(minor));
    QCOMPARE(table->item(0, 3)->text(), update);
}

QTEST_MAIN(TestDevicesManifest)
#include "tst_devices_manifest.moc"
