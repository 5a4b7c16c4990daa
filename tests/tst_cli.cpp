// efis-cli as a shop or a script runs it: the simulated program as a
// subprocess, the simulated unit set up before each run and read back after
// it through the state file the simulated programs load and save.

#include <QtTest>

#include <csignal>

#include "EFIS_shared/get_set.h"
#include "manifest_scratch.h"
#include "settings_file.h"
#include "update_tab.h"
#include "window_harness.h"

namespace {

const int kRunBoundMs = 120000;

enum Setup { UNIT, NO_UNIT, UNIT_ON_OFFERED_FIRMWARE, VANISHES_DURING_UPLOAD };

int framesSent(uint32_t can_id)
{
    return int(harness::framesWithId(can_id).size());
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QByteArray image = updates::firmwareImage(640, 3);
    const QByteArray database = patternBytes(1000, 5);
    const std::string statePath = dir.filePath("unit.state").toStdString();

    void start(QProcess* process, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        env.insert("EFIS_SIM_STATE", QString::fromStdString(statePath));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        process->start(EFIS_CLI_SIMULATED_PATH, arguments);
    }

    // What a run left on the unit, in words.
    QString unitAfterRun() const
    {
        QStringList facts;
        const auto fact = [&](bool holds, const QString& text) { facts << (holds ? text : QString()); };
        fact(sim::unit().receivedFrames().empty(), "untouched");
        fact(flashBytes(updates::kBank1Address, image.size()) == image, "bank 1 holds the image");
        fact(flashBytes(0, database.size()) == database, "airport region holds the database");
        fact(!sim::unit().flash().airportDbOpen(), "airport database closed");
        fact(framesSent(CANMSG_ENTER_BL) > 0, "reboot frame sent");
        fact(framesSent(CANMSG_GLOBAL_SET_SETTING) > 0, "settings sent");
        if (sim::unit().storeCount() > 0)
            facts << (sim::unit().lastStoreChecksumMatched() ? "settings stored" : "stored with a wrong checksum");
        const uint32_t vne = sim::unit().settingsValue(VNE_INDEX);
        fact(vne != 150, QStringLiteral("vne %1").arg(vne));
        facts.removeAll(QString());
        return facts.join(", ");
    }

private slots:
    // The working directory holds a local manifest (no server is ever
    // reached) listing one firmware package and one airport database beside
    // it, a copy of the package whose bytes were changed, and two settings files.
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QByteArray tampered = image;
        tampered[100] = char(tampered[100] ^ 1);
        const QByteArray manifest = QStringLiteral(R"({"firmware_packages": [{"device_type": "AE", "firmware_file":
            "efis_1.4.0.bin", "firmware_version": "1.4.0", "sha256": "%1"}], "database_files": [{"db_type": "airport",
            "database_file": "airport_2026.db", "cycle_effective_date": "2026-11-27", "sha256": "%2"}]})")
                                        .arg(updates::sha256Hex(image), updates::sha256Hex(database)).toUtf8();
        Settings_t settings = sim::factory_settings();
        const settings_file_unit_t unit = {sim::SimulatedUnit::kDefaultSerial, {0x01030000}};
        const QByteArray factory = settings_file_export(settings, unit);
        uint32_t vne = 160;
        settings_set_value(&settings, VNE_INDEX, &vne);
        const QList<QPair<QString, QByteArray>> files
            = {{"firmware/downloads_manifest.json", manifest},
               {"firmware/efis_1.4.0.bin", image},
               {"firmware/airport_2026.db", database},
               {"tampered/efis_1.4.0.bin", tampered},
               {"settings/factory.json", factory},
               {"settings/vne160.json", settings_file_export(settings, unit)}};
        for (const auto& file : files)
            QVERIFY(writeWholeFile(dir.filePath(file.first), file.second));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a trailing * compares the start only
        QTest::addColumn<QString>("err"); // a text standard error must contain
        QTest::addColumn<QString>("unitAfter");
        const auto row = [](const char* name, const char* arguments, Setup setup, int status, const QString& out,
                            const QString& err, const QString& unit_after) {
            QTest::newRow(name) << QString(arguments) << int(setup) << status << out << err << unit_after;
        };
        const QString rebooting = "Firmware update completed: efis_1.4.0.bin; the unit is rebooting\n";
        const QString flashed = "bank 1 holds the image, reboot frame sent";
        const QString db_done = "Airport database transfer finished: airport_2026.db (1000 bytes)\n";
        const QString db_flashed = "airport region holds the database";
        const QString vne160 = "settings sent, settings stored, vne 160";
        const QString none = "untouched";

        row("identify", "identify", UNIT, 0,
            "Transport:         USB HID\nSerial number:     0xAE020457\nDevice type:       Halcyra (AE)\n"
            "Hardware revision: 2\nFirmware version:  1.3.0 (rc 0)\n", "", "");
        row("identify --json", "identify --json", UNIT, 0,
            "{\n    \"device_type\": \"AE\",\n    \"device_type_name\": \"Halcyra\",\n    \"firmware_rc\": 0,\n"
            "    \"firmware_version\": \"1.3.0\",\n    \"hardware_revision\": 2,\n"
            "    \"serial_number\": \"0xAE020457\",\n    \"transport\": \"USB HID\"\n}\n", "", "");
        row("waiting for a unit that never comes", "--wait 1 identify", NO_UNIT, 3, "",
            "no unit yet; waiting up to 1 s for one", none);
        row("--wait without a number", "identify --wait soon", UNIT, 2, "", "--wait takes a whole number of seconds",
            none);
        row("reboot", "reboot", UNIT, 0, "Reboot command sent to device\n", "", "reboot frame sent");
        row("firmware FILE", "firmware firmware/efis_1.4.0.bin", UNIT, 0, rebooting, "", flashed);
        row("firmware --latest", "--wait 5 firmware --latest", UNIT, 0, rebooting, "", flashed);
        row("firmware FILE, digest mismatch", "firmware tampered/efis_1.4.0.bin", UNIT, 4, "",
            "Firmware file SHA-256 does not match the manifest.", none);
        row("firmware FILE, unit vanishes", "firmware firmware/efis_1.4.0.bin", VANISHES_DURING_UPLOAD, 1, "",
            "firmware update failed; the unit was not rebooted", "");
        row("firmware FILE, no unit", "firmware firmware/efis_1.4.0.bin", NO_UNIT, 3, "",
            "no unit found on USB HID or CAN FD", none);
        row("firmware without FILE", "firmware", UNIT, 2, "", "firmware needs one FILE or --latest", none);
        row("firmware FILE and --latest", "firmware x.bin --latest", UNIT, 2, "", "takes no FILE with --latest", none);
        row("airport-db FILE", "airport-db firmware/airport_2026.db", UNIT, 0, db_done, "", db_flashed);
        row("airport-db --latest", "airport-db --latest", UNIT, 0, db_done, "", db_flashed);
        row("check-updates, newer offered", "check-updates", UNIT, 10,
            "Update available: firmware 1.4.0 (efis_1.4.0.bin); the unit runs 1.3.0\n", "", "");
        row("check-updates, up to date", "check-updates", UNIT_ON_OFFERED_FIRMWARE, 0,
            "Up to date: the unit runs firmware 1.4.0; the manifest offers 1.4.0\n", "", "");
        row("settings show", "settings show", UNIT, 0,
            "airspeed_units                Knots\naltitude_units                Feet\n*", "", "");
        row("settings get", "settings get vne registration", UNIT, 0, "150\nG-ABCD\n", "", "");
        row("settings set", "settings set vne=160", UNIT, 0,
            "Settings changed (1 value(s) sent, stored and read back)\n", "", vne160);
        row("settings set, unknown name", "settings set vnx=160", UNIT, 2, "", "unknown setting \"vnx\"", none);
        row("settings set, value out of range", "settings set vmin=45 vne=9999", UNIT, 2, "",
            "vne: 9999 is outside 0 to 240", none);
        row("settings set, no unit", "settings set vne=160", NO_UNIT, 3, "", "no unit found", none);
        row("settings export", "settings export out.json", UNIT, 0, "Settings exported to out.json\n", "", "");
        row("settings import --store", "settings import settings/vne160.json --store", UNIT, 0,
            "Settings imported from settings/vne160.json (1 value(s) sent, stored and read back)\n", "", vne160);
        row("settings import, no settings file", "settings import firmware/downloads_manifest.json", UNIT, 1, "",
            "nothing was sent", "");
        row("settings diff, equal", "settings diff settings/factory.json", UNIT, 0,
            "The unit's settings equal settings/factory.json\n", "", "");
        row("settings diff, different", "settings diff settings/vne160.json", UNIT, 1, "vne: unit 150, file 160\n",
            "", "");
        // 2, not 1: a script must not take a file that could not be read for one that differs.
        row("settings diff, no such file", "settings diff missing.json", UNIT, 2, "", "could not read missing.json",
            none);
        row("--help", "--help", UNIT, 0, "Usage: efis-cli-simulated [options] <command> [arguments]\n*", "", none);
        row("no command", "", UNIT, 2, "", "no command given", none);
        row("unknown command", "flash", UNIT, 2, "", "unknown command \"flash\"", none);
    }

    void commands()
    {
        QFETCH(QString, arguments);
        QFETCH(int, setup);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        sim::unit().reset();
        sim::unit().setPresent(setup != NO_UNIT);
        if (setup == UNIT_ON_OFFERED_FIRMWARE)
            sim::unit().setFirmware(1, 4, 0);
        if (setup == VANISHES_DURING_UPLOAD)
            sim::unit().addFault({CANMSG_WRITE_MX25, 5, 1, sim::FAULT_VANISH, 0, -1});
        QVERIFY(sim::unit().saveState(statePath));

        QProcess process;
        start(&process, arguments.split(' ', Qt::SkipEmptyParts));
        QVERIFY(process.waitForFinished(kRunBoundMs));
        const QString printed = process.readAllStandardOutput(), errors = process.readAllStandardError();
        QVERIFY(sim::unit().loadState(statePath));

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == status, qPrintable(QString::number(process.exitCode()) + "\n" + errors));
        QVERIFY2(out.endsWith('*') ? printed.startsWith(out.chopped(1)) : printed == out, qPrintable(printed));
        QVERIFY2(errors.contains(err), qPrintable(errors));
        QTEST(unitAfterRun(), "unitAfter");
    }

    // Ctrl-C in the middle of the payload: the upload stops between packets,
    // the program says so and ends with status 1, and the unit is not rebooted.
    void interruptStopsUploadWithoutReboot()
    {
        sim::unit().reset();
        sim::unit().setReportDelay(std::chrono::milliseconds(3));
        QVERIFY(sim::unit().saveState(statePath));
        const int kLargeImagePackets = 3000;
        QVERIFY(writeWholeFile(dir.filePath("large.bin"), updates::firmwareImage(64 * kLargeImagePackets, 7)));

        QProcess process;
        start(&process, {"--verbose", "firmware", "large.bin"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += process.readAllStandardOutput()).contains("Starting firmware data transmission"), kRunBoundMs);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(kRunBoundMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(
            process.readAllStandardError().contains("interrupted: the firmware upload stopped between two packets"));
        QVERIFY(sim::unit().loadState(statePath));
        // Some of the payload went out, and far from all of it.
        QVERIFY(framesSent(CANMSG_WRITE_MX25) > 0);
        QVERIFY(framesSent(CANMSG_WRITE_MX25) < kLargeImagePackets / 2);
        QCOMPARE(framesSent(CANMSG_ENTER_BL), 0);
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
