// The window's start-up against the simulated unit: the devices table with
// and without a downloads manifest, the link it found (USB or CAN FD), and
// the Help menu.

#include <QtTest>

#include <hidapi.h>

#include <QAction>
#include <QDesktopServices>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "can_standin.h"
#include "efis_version.h"
#include "manifest_scratch.h"
#include "output_capture.h"
#include "update_tab.h"

using harness::child;
using harness::statusText;

namespace {

const char kManifest[] = R"json({"firmware_packages": [
    {"device_type": "AE", "display_name": "Halcyra EFIS (demonstration)", "firmware_version": "1.4.0",
     "firmware_file": "halcyra-1.4.0.bin"},
    {"device_type": "ED", "display_name": "", "firmware_version": "2.0.0", "firmware_file": "mirrow-2.0.0.bin"}]})json";

// Takes the place of the desktop's file manager.
class FolderOpener : public QObject
{
    Q_OBJECT

public slots:
    void open(const QUrl& url) { opened.append(url); }

public:
    QList<QUrl> opened;
};

} // namespace

class TestDevicesTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(scratch.start(QStringLiteral(EFIS_TEST_DATA_DIR "/tls"))); }
    void init();
    void cleanup();

    void startsBeforeTheNetworkAnswers();
    void listsTheUnit_data();
    void listsTheUnit();
    void silentUnitIsNotListed();
    void configuresTheUnitOverCanFd();
    void helpMenu();

private:
    std::unique_ptr<MainWindow> loadedWindow();

    ManifestScratch scratch;
};

void TestDevicesTable::init()
{
    sim::unit().reset();
    sim::can_node().reset();
    QVERIFY(scratch.reset());
    device_serial = 0xFFFFFFFF;
    fw.version = 0;
}

void TestDevicesTable::cleanup()
{
    qunsetenv("EFIS_SIM_LINK");
    sim::can_node().reset();
    scratch.leave();
}

std::unique_ptr<MainWindow> TestDevicesTable::loadedWindow()
{
    auto window = std::make_unique<MainWindow>(scratch.sources());
    window->show();
    if (!harness::waitForLoaded(*window))
        qWarning("the window never loaded the settings: %s", qPrintable(statusText(*window)));
    return window;
}

// The window is up before the manifest is asked for; the unit's row is
// read-only, its name on the left and the rest centred.
void TestDevicesTable::startsBeforeTheNetworkAnswers()
{
    OutputCapture err(stderr);
    const QRegularExpression prefetchFailed("^Debug: Downloads manifest prefetch at launch failed: .+ \\(.*mainwindow.cpp:");
    MainWindow window(scratch.sources());
    QVERIFY2(err.lines().filter(prefetchFailed).isEmpty(), qPrintable(err.text()));
    auto* table = child<QTableWidget>(window, "table_devices");
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(statusText(window), QString("Initializing..."));
    QCOMPARE(window.windowTitle(), QString("Corvane EFIS Config"));
    QVERIFY(harness::waitForLoaded(window));
    QCOMPARE(err.lines().filter(prefetchFailed).size(), 1);
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QString("FIrmware Version"));
    for (int column = 0; column < 4; column++) {
        QVERIFY(!(table->item(0, column)->flags() & Qt::ItemIsEditable));
        QCOMPARE(table->item(0, column)->textAlignment(), column == 0 ? 0 : int(Qt::AlignCenter));
    }
}

void TestDevicesTable::listsTheUnit_data()
{
    QTest::addColumn<bool>("manifest");
    QTest::addColumn<uint32_t>("serial");
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("update");
    const QString halcyra = "Halcyra EFIS (demonstration)";
    QTest::newRow("older than listed") << true << 0xAE020457u << 3 << halcyra << "Yes";
    QTest::newRow("as listed") << true << 0xAE020457u << 4 << halcyra << "No";
    QTest::newRow("newer than listed") << true << 0xAE020457u << 5 << halcyra << "No";
    QTest::newRow("listed without a name") << true << 0xED000001u << 0 << "ED" << "Yes";
    QTest::newRow("not listed") << true << 0x0C00ABCDu << 0 << "Unknown (0x0c)" << "Unknown";
    QTest::newRow("no manifest, Halcyra") << false << 0xAE020457u << 3 << "Halcyra" << "Unknown";
    QTest::newRow("no manifest, Mirrow") << false << 0xED00BEEFu << 3 << "Mirrow" << "Unknown";
    QTest::newRow("no manifest, Sondrel") << false << 0xFF000001u << 3 << "Sondrel" << "Unknown";
}

void TestDevicesTable::listsTheUnit()
{
    QFETCH(bool, manifest);
    QFETCH(uint32_t, serial);
    QFETCH(int, minor);
    QFETCH(QString, name);
    QFETCH(QString, update);
    if (manifest)
        scratch.server().serve(QLatin1String(kTestManifestPath), kManifest);
    sim::unit().setSerial(serial);
    sim::unit().setFirmware(1, uint8_t(minor), 0);
    // An offered update is declined, and the load follows.
    harness::ModalAnswers decline([](QWidget* modal) { updates::clickBoxButton(modal, QMessageBox::No); });
    auto window = loadedWindow();
    QCOMPARE(decline.titles.size(), int(update == "Yes"));
    auto* table = child<QTableWidget>(*window, "table_devices");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), name);
    QVERIFY(table->columnWidth(0) > table->fontMetrics().horizontalAdvance(name));
    QCOMPARE(table->item(0, 1)->text(), "0x" + QString::number(serial, 16).toUpper().rightJustified(8, '0'));
    QCOMPARE(table->item(0, 2)->text(), QString("1.%1.0").arg(minor));
    QCOMPARE(table->item(0, 3)->text(), update);
}

void TestDevicesTable::silentUnitIsNotListed()
{
    sim::FaultRule silent;
    silent.request_id = CANMSG_WHOAMI_REQUEST;
    silent.times = -1;
    sim::unit().addFault(silent);
    MainWindow window(scratch.sources());
    QVERIFY(harness::waitForStatus(window, "Failed to connect to EFIS via USB or CAN FD - please check connections"));
    QCOMPARE(child<QTableWidget>(window, "table_devices")->rowCount(), 0);
    QCOMPARE(device_serial, 0xFFFFFFFFu);
}

// With the unit only on CAN FD the window connects there, says so, and its
// settings go over that link.
void TestDevicesTable::configuresTheUnitOverCanFd()
{
    sim::unit().setPresent(false);
    qputenv("EFIS_SIM_LINK", "canfd");
    QStringList statuses;
    auto window = std::make_unique<MainWindow>(scratch.sources());
    connect(window->statusBar(), &QStatusBar::messageChanged, [&](const QString& text) { statuses.append(text); });
    QVERIFY(harness::waitForLoaded(*window));
    QVERIFY(statuses.contains("Connected via CAN FD"));
    QCOMPARE(child<QTableWidget>(*window, "table_devices")->item(0, 1)->text(), QString("0xAE020457"));
    child<QSpinBox>(*window, "spinBox_vne")->setValue(201);
    child<QPushButton>(*window, "pushButton_update")->click();
    QCOMPARE(sim::unit().settingsValue(VNE_INDEX), 201u);
    QCOMPARE(int(sim::unit().receivedFrames().back().iface), int(CAN_FD));
}

// About names the version, the manifest address and the libraries; Open Log
// Folder hands the support log's folder, made if missing, to the desktop.
void TestDevicesTable::helpMenu()
{
    auto window = loadedWindow();
    harness::ModalAnswers about([](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });
    child<QAction>(*window, "actionAbout")->trigger();
    QCOMPARE(about.titles, QStringList{"About Corvane EFIS Config"});
    QCOMPARE(about.texts.value(0), QString("Corvane EFIS Config " EFIS_VERSION "\nDownloads manifest: %1\nQt %2\nhidapi %3")
                                       .arg(firmwareManifestUrl(), qVersion(), HID_API_VERSION_STR " (simulated)"));

    const QString folder = QDir::homePath() + "/.local/state/" + QCoreApplication::applicationName();
    QVERIFY(QDir(folder).removeRecursively());
    FolderOpener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    child<QAction>(*window, "actionOpenLogFolder")->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile(folder)});
    QVERIFY(QFileInfo(folder).isDir());
}

QTEST_MAIN(TestDevicesTable)
#include "tst_devices_table.moc"
