// Benchmarks against the simulated unit; one per first argument.
//
// settings, flash: the transfers on USB or, with --canfd, on CAN FD (the
// program's CAN FD transport talks to the simulated unit's CAN node through a
// socket pair). The modelled link puts a fixed delay on every report in each
// direction: by default 1000 us, one full-speed USB frame, as the unit's HID
// interrupt endpoints are polled once per 1 ms frame (a CAN FD frame with 64
// data bytes at 500 kbit/s and 2 Mbit/s takes about 350 us on the bus). Each
// figure is set against the bound of the exchanges involved: every report's
// delay plus the pauses the transfer takes.
//
//   settings: median of N runs (default 15) of
//     load     4 header words and 36 values: 40 exchanges of two reports, and
//              a 1 ms pause after each value
//     update   one value: its write and its acknowledgement, and a 1 ms pause
//     save     layout version and element count (2 exchanges), the store
//              command with its two acknowledgements (3 reports), then the 36
//              values read back, each followed by a 1 ms pause
//   flash: the firmware upload and the airport database upload.
//     (a) With no link delay: what the host spends per write packet beyond
//         the pause the protocol asks for after each acknowledged packet.
//     (b) With the modelled link: KiB/s and the ratio of the measured time to
//         the bound.
//     Also the process's peak memory after each transfer (VmHWM), which must not
//     grow with the file.
//
// startup: with three kinds of manifest server (a reachable one on 127.0.0.1,
// a name that never resolves (the default address) and a server that accepts
// the connection and never answers, as behind a filtering firewall), the time
// from building the window to the window being on screen, and to the unit's
// configuration being loaded, with the program's own network time-out unless
// told otherwise.
//
// Usage: bench_efis settings [--link-delay-us N] [--runs N] [--canfd]
//        bench_efis flash [--link-delay-us N] [--fw-bytes N] [--db-bytes N] [--small-db-bytes N] [--no-link]
//                         [--canfd]
//        bench_efis startup [--timeout-ms N]      (default: the program's 60000)

#include <QApplication>
#include <QStandardPaths>

#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "firmware_manifest.h"
#include "firmware_ops/firmware_ops.h"
#include "manifest_scratch.h"
#include "settings_transfer.h"
#include "window_harness.h"

namespace {

typedef std::chrono::steady_clock Clock;

const int kGiveUpMs = 300000; // only bounds a broken run: well beyond one time-out

// The figures; the program's own lines go to /dev/null, as a benchmark
// measures the transfers, not the terminal.
FILE* g_figures = stdout;
QStringList g_arguments;

// The write phase from the progress reports: from the first acknowledged
// payload packet to the last.
Clock::time_point g_first_write, g_last_write;
uint32_t g_writes = 0;

long option(const char* name, long fallback)
{
    const int at = g_arguments.indexOf(QLatin1String(name));
    return at > 0 && at + 1 < g_arguments.size() ? g_arguments[at + 1].toLong() : fallback;
}

double us_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double pieces(uint32_t bytes, uint32_t piece)
{
    return (bytes + piece - 1) / piece;
}

long peak_memory_kib()
{
    rusage usage;
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

// ---- settings ----------------------------------------------------------------------

void settings_figure(const char* what, const std::function<bool()>& transfer, int reports, int pauses)
{
    std::vector<double> times;
    bool ok = true;
    for (int i = 0; i < option("--runs", 15); i++) {
        const Clock::time_point start = Clock::now();
        ok = transfer() && ok;
        times.push_back(us_since(start) / 1000);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2], delay_ms = option("--link-delay-us", 1000) / 1000.0;
    const double bound = reports * delay_ms + pauses * double(kSettingsPauseMs);
    fprintf(g_figures,
            "%-8s median %7.2f ms; bound %7.2f ms (%d reports of %.3f ms, %d pauses of %lu ms); ratio %.3f%s\n", what,
            median, bound, reports, delay_ms, pauses, kSettingsPauseMs, median / bound, ok ? "" : "; FAILED");
}

void bench_settings(CommsManager* comms)
{
    const int values = SETTINGS_LAST_INDEX;
    Settings_t record = sim::factory_settings();
    settings_figure("load", [&] { return settings_load(comms, &record).status == SETTINGS_LOAD_OK; }, 2 * (4 + values),
                    values);
    settings_figure("update", [&] { return settings_update(comms, record, {VNE_INDEX}).failed.empty(); }, 2, 1);
    settings_figure("save", [&] { return settings_store(comms, &record).status == SETTINGS_STORE_OK; },
                    2 * 2 + 3 + 2 * values, values);
}

// ---- flash -------------------------------------------------------------------------

void on_progress(uint32_t /*current*/, uint32_t /*total*/, int phase, void* /*user_data*/)
{
    if (phase != FW_PROGRESS_WRITE)
        return;
    if (g_writes++ == 0)
        g_first_write = Clock::now();
    g_last_write = Clock::now();
}

// send_fw or send_airport_db, as the file's extension says: the host's cost
// per packet beyond the pause, and the time against the bound (every
// report's delay plus the pauses).
void upload(CommsManager* comms, const char* what, const QString& path, double pause_us,
            const std::function<double(double)>& bound_s, uint32_t payload_bytes)
{
    g_writes = 0;
    const QByteArray file = QFile::encodeName(path);
    const Clock::time_point start = Clock::now();
    const bool completed = path.endsWith(".bin") ? send_fw(comms, file.constData(), 64, on_progress, nullptr)
                                                 : send_airport_db(comms, file.constData(), on_progress, nullptr);
    const double seconds = us_since(start) / 1e6;
    const double per_packet_us
        = g_writes < 2 ? 0.0 : (us_since(g_first_write) - us_since(g_last_write)) / (g_writes - 1);
    const double bound = bound_s(double(sim::unit().reportDelay().count()));
    fprintf(g_figures,
            "%-28s %s in %.2f s; %.1f KiB/s; per packet %.2f us, %.2f us beyond the %.0f us pause; "
            "bound %.2f s, ratio %.4f; peak memory %ld KiB\n",
            what, completed ? "completed" : "FAILED", seconds, payload_bytes / 1024.0 / seconds, per_packet_us,
            per_packet_us - pause_us, pause_us, bound, seconds / bound, peak_memory_kib());
}

int bench_flash(CommsManager* comms, const char* link, const QString& dir)
{
    const uint32_t fw_bytes = uint32_t(option("--fw-bytes", FW_BANK_SIZE));
    const uint32_t db_bytes = uint32_t(option("--db-bytes", 16 << 20));
    // Run first, so peak memory shows whether it grows with the file.
    const uint32_t small_db_bytes = uint32_t(option("--small-db-bytes", 1 << 20));
    const QString fw = dir + "/image.bin", db = dir + "/airports.db", small_db = dir + "/small.db";
    firmware_header_t header = {};
    header.magic = 0x57464B43;
    header.total_size = fw_bytes;
    header.encrypted_size = header.plaintext_size = fw_bytes - uint32_t(sizeof header);
    // Sparse files, so making them does not itself raise the peak.
    if (fw_bytes <= sizeof header || fw_bytes > FW_BANK_SIZE
        || !writeWholeFile(fw, QByteArray(reinterpret_cast<const char*>(&header), sizeof header))
        || !QFile::resize(fw, fw_bytes) || !writeWholeFile(db, {}) || !QFile::resize(db, db_bytes)
        || !writeWholeFile(small_db, {}) || !QFile::resize(small_db, small_db_bytes))
        return 1;
    fprintf(g_figures,
            "link %s; firmware image %u bytes, airport databases %u and %u bytes, 64-byte packets; peak memory at "
            "start %ld KiB\n",
            link, fw_bytes, small_db_bytes, db_bytes, peak_memory_kib());
    const auto fw_bound_s = [&](double delay_us) {
        // The partition query and its two answers, three reports per block erased, the address, then
        // the header and the payload packets, each with its acknowledgement and a 100 us pause.
        const double packets = 1 + pieces(fw_bytes - 64, 64);
        return ((3 + 3 * pieces(fw_bytes, MX25_BLOCK_SIZE) + 2 + 2 * packets) * delay_us + packets * 100) / 1e6;
    };
    const auto db_bound_s = [](uint32_t bytes) {
        // The close and its acknowledgement, a 10 ms settle, three reports per block erased, the
        // address, the packets each with its acknowledgement and a 200 us pause, then the open.
        return [bytes](double delay_us) {
            const double packets = pieces(bytes, 64), blocks = pieces(bytes, MX25_BLOCK_SIZE);
            return ((2 + 3 * blocks + 2 + 2 * packets + 1) * delay_us + 10000 + packets * 200) / 1e6;
        };
    };
    fprintf(g_figures, "(a) no link delay\n");
    upload(comms, "  send_fw", fw, 100, fw_bound_s, fw_bytes - 64);
    upload(comms, "  send_airport_db (small)", small_db, 200, db_bound_s(small_db_bytes), small_db_bytes);
    upload(comms, "  send_airport_db", db, 200, db_bound_s(db_bytes), db_bytes);
    if (g_arguments.contains("--no-link"))
        return 0;

    sim::unit().setReportDelay(std::chrono::microseconds(option("--link-delay-us", 1000)));
    fprintf(g_figures, "(b) link delay %ld us per report in each direction\n", option("--link-delay-us", 1000));
    upload(comms, "  send_fw", fw, 100, fw_bound_s, fw_bytes - 64);
    upload(comms, "  send_airport_db", db, 200, db_bound_s(db_bytes), db_bytes);
    return 0;
}

int bench_transfer(bool flash, const QString& dir)
{
    // The unit keeps no record of frames and no flash contents, so what
    // memory the process needs is the host's.
    sim::unit().reset();
    sim::unit().setRecording(false);
    sim::unit().flash().setKeepContents(false);
    const bool canfd = g_arguments.contains("--canfd");
    if (canfd) {
        qputenv("EFIS_SIM_LINK", "canfd");
        sim::unit().setPresent(false);
    }
    CommsManager comms;
    if (!comms.establish_connection())
        return 1;
    if (flash)
        return bench_flash(&comms, canfd ? "CAN FD" : "USB HID", dir);
    sim::unit().setReportDelay(std::chrono::microseconds(option("--link-delay-us", 1000)));
    fprintf(g_figures, "link %s, %ld us per report in each direction, median of %ld runs\n",
            canfd ? "CAN FD" : "USB HID", option("--link-delay-us", 1000), option("--runs", 15));
    bench_settings(&comms);
    return 0;
}

// ---- the window --------------------------------------------------------------------

int bench_startup()
{
    // The unit's own version: nothing to offer, so start-up runs straight through.
    const char manifest[] = R"({"firmware_packages": [{"device_type": "AE", "display_name": "Halcyra EFIS",
        "firmware_version": "1.3.0", "firmware_file": "halcyra-1.3.0.bin"}]})";
    const int timeout_ms = int(option("--timeout-ms", kNetworkTimeoutMs));
    ManifestScratch scratch;
    if (!scratch.start(QStringLiteral(EFIS_BENCH_TLS_DIR)) || !scratch.reset())
        return 1;
    const QPair<const char*, QString> cases[] = {{"reachable server", scratch.manifest_url},
                                                 {"unresolvable name", firmwareManifestUrl()},
                                                 {"server that never answers", scratch.silentUrl()}};
    fprintf(g_figures, "network time-out %d ms\n", timeout_ms);
    for (const auto& one : cases) {
        if (!scratch.reset())
            return 1;
        scratch.server().serve(QLatin1String(kTestManifestPath), manifest);
        scratch.manifest_url = one.second;
        sim::unit().reset();
        device_serial = 0xFFFFFFFF;
        double shown_s = -1.0, loaded_s = -1.0;
        const Clock::time_point start = Clock::now();
        MainWindow window(scratch.sources(timeout_ms));
        window.show();
        // On screen once the event loop turns with the window shown.
        QTimer::singleShot(0, [&] { shown_s = us_since(start) / 1e6; });
        QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
            loaded_s = text == QLatin1String(harness::kLoadedStatus) ? us_since(start) / 1e6 : loaded_s;
        });
        // A start-up that never loads shows -1.
        static_cast<void>(QTest::qWaitFor([&] { return loaded_s >= 0; }, kGiveUpMs));
        fprintf(g_figures, "%-27s window shown %.3f s, configuration loaded %.3f s\n",
                (QString(one.first) + ':').toUtf8().constData(), shown_s, loaded_s);
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    g_arguments = app.arguments();
    const QString which = g_arguments.value(1);
    if (!QStringList{"settings", "flash", "startup"}.contains(which)) {
        fprintf(stderr, "usage: %s settings|flash|startup [options] (see the head of bench_efis.cpp)\n",
                argv[0]);
        return 2;
    }
    fflush(stdout);
    g_figures = fdopen(dup(STDOUT_FILENO), "w");
    setvbuf(g_figures, nullptr, _IOLBF, 0);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    if (which == "startup")
        return bench_startup();
    return bench_transfer(which == "flash", home.path());
}
