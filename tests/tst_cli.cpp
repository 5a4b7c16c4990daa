// efis-cli as a shop or a script runs it: the simulated program as a
// subprocess, the simulated unit set up before each run and read back after
// it through the state file the simulated programs load and save.

#include <QtTest>

#include <QProcess>

#include <csignal>

#include "EFIS_shared/get_set.h"
#include "manifest_scratch.h"
#include "settings_file.h"
#include "simulated_unit.h"
#include "update_tab.h"

namespace {

const int kRunBoundMs = 120000;

enum Setup {
    UNIT = 0,
    NO_UNIT = 1,
    UNIT_ON_OFFERED_FIRMWARE = 2,
    VANISHES_DURING_UPLOAD = 3,
};

const char kIdentityLines[] = "Transport:         USB HID\n"
                              "Serial number:     0xAE020457\n"
                              "Device type:       Halcyra (AE)\n"
                              "Hardware revision: 2\n"
                              "Firmware version:  1.3.0 (rc 0)\n";

const char kIdentityJson[] = "{\n"
                             "    \"device_type\": \"AE\",\n"
                             "    \"device_type_name\": \"Halcyra\",\n"
                             "    \"firmware_rc\": 0,\n"
                             "    \"firmware_version\": \"1.3.0\",\n"
                             "    \"hardware_revision\": 2,\n"
                             "    \"serial_number\": \"0xAE020457\",\n"
                             "    \"transport\": \"USB HID\"\n"
                             "}\n";

void prepareUnit(Setup setup)
{
    sim::unit().reset();
    switch (setup) {
    case NO_UNIT:
        sim::unit().setPresent(false);
        break;
    case UNIT_ON_OFFERED_FIRMWARE:
        sim::unit().setFirmware(1, 4, 0);
        break;
    case VANISHES_DURING_UPLOAD:
        sim::unit().addFault({CANMSG_WRITE_MX25, 5, 1, sim::FAULT_VANISH, 0, -1});
        break;
    case UNIT:
        break;
    }
}

int framesSent(uint32_t can_id)
{
    int count = 0;
    for (const COMMS_MSG_t& frame : sim::unit().receivedFrames())
        count += frame.can_ID == can_id ? 1 : 0;
    return count;
}

struct Result {
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void interruptStopsUploadWithoutReboot();

private:
    void startProgram(QProcess* process, const QStringList& arguments);
    Result run(const QStringList& arguments);
    QString unitAfterRun() const;
    QString statePath() const { return dir.filePath("unit.state"); }

    QTemporaryDir dir;
    QByteArray image;
    QByteArray database;
};

// The working directory holds a local manifest (no server is ever reached)
// listing one firmware package and one airport database beside it, and a
// copy of the package whose bytes were changed.
void TestCli::initTestCase()
{
    QVERIFY(dir.isValid());
    image = updates::firmwareImage(640, 3);
    database = patternBytes(1000, 5);
    QByteArray tampered = image;
    tampered[100] = char(tampered[100] ^ 1);
    const QByteArray manifest = QStringLiteral(R"({"firmware_packages": [{"device_type": "AE",
        "firmware_file": "efis_1.4.0.bin", "firmware_version": "1.4.0", "sha256": "%1"}],
        "database_files": [{"db_type": "airport", "database_file": "airport_2026.db",
        "cycle_effective_date": "2026-11-27", "sha256": "%2"}]})")
                                    .arg(updates::sha256Hex(image), updates::sha256Hex(database))
                                    .toUtf8();
    QVERIFY(writeWholeFile(dir.filePath("firmware/downloads_manifest.json"), manifest));
    QVERIFY(writeWholeFile(dir.filePath("firmware/efis_1.4.0.bin"), image));
    QVERIFY(writeWholeFile(dir.filePath("firmware/airport_2026.db"), database));
    QVERIFY(writeWholeFile(dir.filePath("tampered/efis_1.4.0.bin"), tampered));

    Settings_t settings = sim::factory_settings();
    const settings_file_unit_t unit = {sim::SimulatedUnit::kDefaultSerial, {0x01030000}};
    QVERIFY(writeWholeFile(dir.filePath("settings/factory.json"), settings_file_export(settings, unit)));
    uint32_t vne = 160;
    settings_set_value(&settings, VNE_INDEX, &vne);
    QVERIFY(writeWholeFile(dir.filePath("settings/vne160.json"), settings_file_export(settings, unit)));
}

void TestCli::startProgram(QProcess* process, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
    env.insert("EFIS_SIM_STATE", statePath());
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(dir.path());
    process->start(EFIS_CLI_SIMULATED_PATH, arguments);
}

Result TestCli::run(const QStringList& arguments)
{
    QProcess process;
    startProgram(&process, arguments);
    Result result;
    if (!process.waitForFinished(kRunBoundMs) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// What a run left on the unit, in words.
QString TestCli::unitAfterRun() const
{
    QStringList facts;
    if (sim::unit().receivedFrames().empty())
        facts << "untouched";
    if (flashBytes(updates::kBank1Address, image.size()) == image)
        facts << "bank 1 holds the image";
    if (flashBytes(0, database.size()) == database)
        facts << "airport region holds the database";
    if (!sim::unit().flash().airportDbOpen())
        facts << "airport database closed";
    if (framesSent(CANMSG_ENTER_BL) > 0)
        facts << "reboot frame sent";
    if (framesSent(CANMSG_GLOBAL_SET_SETTING) > 0)
        facts << "settings sent";
    if (sim::unit().storeCount() > 0)
        facts << (sim::unit().lastStoreChecksumMatched() ? "settings stored" : "stored with a wrong checksum");
    if (sim::unit().settingsValue(VNE_INDEX) != 150)
        facts << QStringLiteral("vne %1").arg(sim::unit().settingsValue(VNE_INDEX));
    return facts.join(", ");
}

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // a trailing * compares the start only
    QTest::addColumn<QString>("err"); // a text standard error must contain
    QTest::addColumn<QString>("unitAfter");

    const QString rebooting = "Firmware update completed: efis_1.4.0.bin; the unit is rebooting\n";
    const QString flashed = "bank 1 holds the image, reboot frame sent";
    const QString db_written = "Airport database transfer finished: airport_2026.db (1000 bytes)\n";

    QTest::newRow("identify") << QStringList{"identify"} << int(UNIT) << 0 << kIdentityLines << "" << "";
    QTest::newRow("identify --json") << QStringList{"identify", "--json"} << int(UNIT) << 0 << kIdentityJson << ""
                                     << "";
    QTest::newRow("identify, no unit") << QStringList{"identify"} << int(NO_UNIT) << 3 << ""
                                       << "no unit found on USB HID or CAN FD" << "untouched";
    QTest::newRow("waiting for a unit that never comes")
        << QStringList{"--wait", "1", "identify"} << int(NO_UNIT) << 3 << ""
        << "no unit yet; waiting up to 1 s for one" << "untouched";
    QTest::newRow("reboot") << QStringList{"reboot"} << int(UNIT) << 0 << "Reboot command sent to device\n" << ""
                            << "reboot frame sent";
    QTest::newRow("firmware FILE") << QStringList{"firmware", "firmware/efis_1.4.0.bin"} << int(UNIT) << 0
                                   << rebooting << "" << flashed;
    QTest::newRow("firmware --latest") << QStringList{"--wait", "5", "firmware", "--latest"} << int(UNIT) << 0
                                       << rebooting << "" << flashed;
    QTest::newRow("firmware FILE, digest mismatch")
        << QStringList{"firmware", "tampered/efis_1.4.0.bin"} << int(UNIT) << 4 << ""
        << "Firmware file SHA-256 does not match the manifest." << "untouched";
    QTest::newRow("firmware FILE, unit vanishes during the upload")
        << QStringList{"firmware", "firmware/efis_1.4.0.bin"} << int(VANISHES_DURING_UPLOAD) << 1 << ""
        << "firmware update failed; the unit was not rebooted" << "";
    QTest::newRow("firmware FILE, no unit") << QStringList{"firmware", "firmware/efis_1.4.0.bin"} << int(NO_UNIT)
                                            << 3 << "" << "no unit found" << "untouched";
    QTest::newRow("firmware FILE, no such file") << QStringList{"firmware", "missing.bin"} << int(UNIT) << 1 << ""
                                                 << "firmware file not found: missing.bin" << "untouched";
    QTest::newRow("airport-db FILE") << QStringList{"airport-db", "firmware/airport_2026.db"} << int(UNIT) << 0
                                     << db_written << "" << "airport region holds the database";
    QTest::newRow("airport-db --latest") << QStringList{"airport-db", "--latest"} << int(UNIT) << 0 << db_written
                                         << "" << "airport region holds the database";
    QTest::newRow("check-updates, newer offered")
        << QStringList{"check-updates"} << int(UNIT) << 10
        << "Update available: firmware 1.4.0 (efis_1.4.0.bin); the unit runs 1.3.0\n" << "" << "";
    QTest::newRow("check-updates, up to date")
        << QStringList{"check-updates"} << int(UNIT_ON_OFFERED_FIRMWARE) << 0
        << "Up to date: the unit runs firmware 1.4.0; the manifest offers 1.4.0\n" << "" << "";
    const QString vne160 = "settings sent, settings stored, vne 160";
    QTest::newRow("settings show") << QStringList{"settings", "show"} << int(UNIT) << 0
                                   << "airspeed_units                Knots\naltitude_units                Feet\n*"
                                   << "" << "";
    QTest::newRow("settings get") << QStringList{"settings", "get", "vne", "registration"} << int(UNIT) << 0
                                  << "150\nG-ABCD\n" << "" << "";
    QTest::newRow("settings set") << QStringList{"settings", "set", "vne=160"} << int(UNIT) << 0
                                  << "Settings changed (1 value(s) sent, stored and read back)\n" << "" << vne160;
    QTest::newRow("settings set, unknown name") << QStringList{"settings", "set", "vnx=160"} << int(UNIT) << 2 << ""
                                                << "unknown setting \"vnx\"" << "untouched";
    QTest::newRow("settings set, value out of range")
        << QStringList{"settings", "set", "vmin=45", "vne=9999"} << int(UNIT) << 2 << ""
        << "vne: 9999 is outside 0 to 240" << "untouched";
    QTest::newRow("settings set, no unit") << QStringList{"settings", "set", "vne=160"} << int(NO_UNIT) << 3 << ""
                                           << "no unit found" << "untouched";
    QTest::newRow("settings export") << QStringList{"settings", "export", "exported.json"} << int(UNIT) << 0
                                     << "Settings exported to exported.json\n" << "" << "";
    QTest::newRow("settings import --store")
        << QStringList{"settings", "import", "settings/vne160.json", "--store"} << int(UNIT) << 0
        << "Settings imported from settings/vne160.json (1 value(s) sent, stored and read back)\n" << "" << vne160;
    QTest::newRow("settings import, not a settings file")
        << QStringList{"settings", "import", "firmware/downloads_manifest.json"} << int(UNIT) << 1 << ""
        << "nothing was sent" << "";
    QTest::newRow("settings diff, equal") << QStringList{"settings", "diff", "settings/factory.json"} << int(UNIT)
                                          << 0 << "The unit's settings equal settings/factory.json\n" << "" << "";
    QTest::newRow("settings diff, different") << QStringList{"settings", "diff", "settings/vne160.json"}
                                              << int(UNIT) << 1 << "vne: unit 150, file 160\n" << "" << "";
    QTest::newRow("--help") << QStringList{"--help"} << int(UNIT) << 0
                            << "Usage: efis-cli-simulated [options] <command> [arguments]\n*" << "" << "untouched";
    QTest::newRow("no command") << QStringList{} << int(UNIT) << 2 << "" << "no command given" << "untouched";
    QTest::newRow("unknown command") << QStringList{"flash"} << int(UNIT) << 2 << "" << "unknown command \"flash\""
                                     << "untouched";
    QTest::newRow("firmware without FILE") << QStringList{"firmware"} << int(UNIT) << 2 << ""
                                           << "firmware needs one FILE or --latest" << "untouched";
    QTest::newRow("firmware FILE and --latest") << QStringList{"firmware", "x.bin", "--latest"} << int(UNIT) << 2
                                                << "" << "takes no FILE with --latest" << "untouched";
    QTest::newRow("--wait without a number") << QStringList{"identify", "--wait", "soon"} << int(UNIT) << 2 << ""
                                             << "--wait takes a whole number of seconds" << "untouched";
}

void TestCli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, setup);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, unitAfter);

    prepareUnit(Setup(setup));
    QVERIFY(sim::unit().saveState(statePath().toStdString()));
    const Result result = run(arguments);
    QVERIFY(sim::unit().loadState(statePath().toStdString()));

    QVERIFY2(result.status == status, qPrintable(QStringLiteral("status %1\n%2").arg(result.status).arg(result.err)));
    if (out.endsWith('*'))
        QVERIFY2(result.out.startsWith(out.chopped(1)), qPrintable(result.out));
    else
        QCOMPARE(result.out, out);
    QVERIFY2(result.err.contains(err), qPrintable(result.err));
    QCOMPARE(unitAfterRun(), unitAfter);
}

// Ctrl-C in the middle of the payload: the upload stops between packets, the
// program says so and ends with status 1, and the unit is not rebooted.
void TestCli::interruptStopsUploadWithoutReboot()
{
    sim::unit().reset();
    sim::unit().setReportDelay(std::chrono::milliseconds(3));
    QVERIFY(sim::unit().saveState(statePath().toStdString()));
    const int kLargeImagePackets = 3000;
    QVERIFY(writeWholeFile(dir.filePath("large.bin"), updates::firmwareImage(64 * kLargeImagePackets, 7)));

    QProcess process;
    startProgram(&process, {"--verbose", "firmware", "large.bin"});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).contains("Starting firmware data transmission"),
                             kRunBoundMs);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(kRunBoundMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("interrupted: the firmware upload stopped between two packets"));
    QVERIFY(sim::unit().loadState(statePath().toStdString()));
    // Some of the payload went out, and far from all of it.
    QVERIFY(framesSent(CANMSG_WRITE_MX25) > 0);
    QVERIFY(framesSent(CANMSG_WRITE_MX25) < kLargeImagePackets / 2);
    QCOMPARE(framesSent(CANMSG_ENTER_BL), 0);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
