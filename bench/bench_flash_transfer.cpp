// Throughput of the two uploads against the simulated unit.
//
// (a) With no link delay: what the host spends per write packet beyond the
//     pause the protocol asks for after each acknowledged packet.
// (b) With a modelled full-speed USB link: a fixed delay on every report in
//     each direction (default 1000 us, one full-speed frame: the unit's HID
//     interrupt endpoints are polled once per 1 ms frame). Reports KiB/s and
//     the ratio of the measured time to the protocol's bound, that is every
//     report's delay plus the mandated pauses.
//
// Also: what a 100 us and a 200 us pause cost on this machine with the
// thread's default timer slack and with the slack the uploads set, and the
// process's peak memory after each transfer (VmHWM), which must not grow
// with the file.
//
// With --canfd the unit sits on the CAN FD link instead of USB: the program's
// CAN FD transport talks to the simulated unit's CAN node through a socket
// pair, with the same delay per frame in each direction. A CAN FD frame with
// 64 data bytes at 500 kbit/s and 2 Mbit/s takes about 350 us on the bus.
//
// Usage: bench_flash_transfer [--link-delay-us N] [--fw-bytes N] [--db-bytes N] [--small-db-bytes N]
//                             [--no-link] [--canfd]

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <thread>

#include "comms/comms.h"
#include "firmware_ops/firmware_ops.h"
#include "quiet_stdout.h"
#include "simulated_unit.h"

namespace {

typedef std::chrono::steady_clock Clock;

const uint32_t kPacketLen = 64;
const double kWritePauseUs = 100.0;
const double kDatabasePauseUs = 200.0;
const double kCloseSettleUs = 10000.0;
const int kPauseSamples = 1000;

struct Options {
    long link_delay_us = 1000;
    uint32_t fw_bytes = FW_BANK_SIZE;   // the whole image: header and payload
    uint32_t db_bytes = 16u << 20;      // 16 MiB
    uint32_t small_db_bytes = 1u << 20; // run first, so peak memory shows whether it grows with the file
    bool with_link = true;
    bool canfd = false;
};

bool parse_options(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--no-link")
            options->with_link = false;
        else if (arg == "--canfd")
            options->canfd = true;
        else if (arg == "--link-delay-us" && has_value)
            options->link_delay_us = strtol(argv[++i], nullptr, 10);
        else if (arg == "--fw-bytes" && has_value)
            options->fw_bytes = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
        else if (arg == "--db-bytes" && has_value)
            options->db_bytes = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
        else if (arg == "--small-db-bytes" && has_value)
            options->small_db_bytes = static_cast<uint32_t>(strtoul(argv[++i], nullptr, 10));
        else
            return false;
    }
    return options->fw_bytes > sizeof(firmware_header_t) && options->fw_bytes <= FW_BANK_SIZE;
}

long peak_memory_kib()
{
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, "VmHWM:", 6) == 0)
            kib = strtol(line + 6, nullptr, 10);
    }
    fclose(status);
    return kib;
}

// Written in 64 KiB pieces, so making the file does not itself raise the peak.
bool write_file(const QString& path, const QByteArray& head, uint32_t total_bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(head) != head.size())
        return false;
    QByteArray piece(64 * 1024, '\0');
    for (int i = 0; i < piece.size(); i++)
        piece[i] = char((i * 131 + (i >> 8) * 7) & 0xFF);
    for (uint32_t written = uint32_t(head.size()); written < total_bytes;) {
        const qint64 n = std::min<qint64>(piece.size(), total_bytes - written);
        if (file.write(piece.constData(), n) != n)
            return false;
        written += uint32_t(n);
    }
    return true;
}

QByteArray firmware_header(uint32_t image_bytes)
{
    firmware_header_t header;
    memset(&header, 0, sizeof header);
    header.magic = 0x57464B43;
    header.total_size = image_bytes;
    header.encrypted_size = image_bytes - uint32_t(sizeof header);
    header.plaintext_size = header.encrypted_size;
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header);
}

uint32_t packets_for(uint32_t bytes)
{
    return (bytes + kPacketLen - 1) / kPacketLen;
}

uint32_t blocks_for(uint32_t bytes)
{
    return (bytes + MX25_BLOCK_SIZE - 1) / MX25_BLOCK_SIZE;
}

// Mean cost of one sleep_for(pause) on this thread.
double measured_pause_us(std::chrono::microseconds pause)
{
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kPauseSamples; i++)
        std::this_thread::sleep_for(pause);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kPauseSamples;
}

// What one report costs through the simulated link as it runs here, with the
// slack the uploads use: bare set-address exchanges (two reports each, no
// pause) timed over many rounds.
double measured_report_us(CommsManager* comms)
{
    const int rounds = 500;
    const long default_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    QuietStdout quiet;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; i++)
        set_mx25_addr(comms, 0);
    const double exchange_us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(default_slack), 0, 0, 0);
    return exchange_us / 2;
}

void report_pause_costs()
{
    const long default_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    printf("pause cost, default timer slack (%ld ns): 100 us -> %.1f us, 200 us -> %.1f us\n", default_slack,
           measured_pause_us(std::chrono::microseconds(100)), measured_pause_us(std::chrono::microseconds(200)));
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    printf("pause cost, timer slack 1 ns:            100 us -> %.1f us, 200 us -> %.1f us\n",
           measured_pause_us(std::chrono::microseconds(100)), measured_pause_us(std::chrono::microseconds(200)));
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(default_slack), 0, 0, 0);
}

// Times the write phase from the progress reports: from the first
// acknowledged payload packet to the last, and each packet's cycle in a
// histogram of whole microseconds, whose median shows the typical packet
// apart from the times another process held the core.
struct WritePhaseClock {
    static const int kHistogramUs = 4000;
    Clock::time_point first;
    Clock::time_point last;
    uint32_t reports = 0;
    uint32_t cycles_us[kHistogramUs] = {};
};

void on_progress(uint32_t /*current*/, uint32_t /*total*/, int phase, void* user_data)
{
    if (phase != FW_PROGRESS_WRITE)
        return;
    WritePhaseClock* clock = static_cast<WritePhaseClock*>(user_data);
    const Clock::time_point now = Clock::now();
    if (clock->reports++ == 0) {
        clock->first = now;
    } else {
        const long cycle_us = long(std::chrono::duration<double, std::micro>(now - clock->last).count());
        clock->cycles_us[std::min<long>(cycle_us, WritePhaseClock::kHistogramUs - 1)]++;
    }
    clock->last = now;
}

double median_cycle_us(const WritePhaseClock& clock)
{
    const uint32_t half = (clock.reports - 1) / 2;
    uint32_t seen = 0;
    for (int us = 0; us < WritePhaseClock::kHistogramUs; us++) {
        seen += clock.cycles_us[us];
        if (seen > half)
            return us + 0.5;
    }
    return WritePhaseClock::kHistogramUs;
}

struct Run {
    bool completed;
    double seconds;
    double per_packet_us;    // mean over the write phase
    double median_packet_us; // to the nearest microsecond
};

template <typename Transfer> Run timed(Transfer transfer)
{
    std::unique_ptr<WritePhaseClock> clock(new WritePhaseClock());
    QuietStdout quiet;
    const Clock::time_point start = Clock::now();
    const bool completed = transfer(clock.get());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (clock->reports < 2)
        return {completed, seconds, 0.0, 0.0};
    const double write_us = std::chrono::duration<double, std::micro>(clock->last - clock->first).count();
    return {completed, seconds, write_us / (clock->reports - 1), median_cycle_us(*clock)};
}

Run run_firmware(CommsManager* comms, const QByteArray& path)
{
    return timed(
        [&](WritePhaseClock* clock) { return send_fw(comms, path.constData(), kPacketLen, on_progress, clock); });
}

Run run_database(CommsManager* comms, const QByteArray& path)
{
    return timed([&](WritePhaseClock* clock) { return send_airport_db(comms, path.constData(), on_progress, clock); });
}

// Every report's delay plus the pauses: the fastest the protocol allows.
double firmware_bound_s(uint32_t image_bytes, double delay_us)
{
    const double header_packets = 1, payload_packets = packets_for(image_bytes - 64);
    const double blocks = blocks_for(image_bytes);
    const double reports = 3 /* partition query and its two answers */ + 3 * blocks + 2 /* address */
                           + 2 * (header_packets + payload_packets);
    return (reports * delay_us + (header_packets + payload_packets) * kWritePauseUs) / 1e6;
}

double database_bound_s(uint32_t bytes, double delay_us)
{
    const double packets = packets_for(bytes), blocks = blocks_for(bytes);
    const double reports =
        2 /* close and its acknowledgement */ + 3 * blocks + 2 /* address */ + 2 * packets + 1 /* open */;
    return (reports * delay_us + kCloseSettleUs + packets * kDatabasePauseUs) / 1e6;
}

void print_host_cost(const char* what, const Run& run, double pause_us)
{
    printf("%-28s %s in %.2f s; per packet %.2f us, %.2f us beyond the %.0f us pause (median %.1f us, %.1f beyond); "
           "peak memory %ld KiB\n",
           what, run.completed ? "completed" : "FAILED", run.seconds, run.per_packet_us, run.per_packet_us - pause_us,
           pause_us, run.median_packet_us, run.median_packet_us - pause_us, peak_memory_kib());
}

// Against the protocol's bound, and against the same bound with each report
// at what the simulated link measurably costs: the second ratio is the
// host's own share.
void print_link_figures(const char* what, const Run& run, uint32_t payload_bytes, double bound_s,
                        double measured_bound_s)
{
    printf("%-28s %s in %.2f s; %.1f KiB/s; bound %.2f s, ratio %.4f; at the measured report cost %.2f s, ratio "
           "%.4f; peak memory %ld KiB\n",
           what, run.completed ? "completed" : "FAILED", run.seconds, payload_bytes / 1024.0 / run.seconds, bound_s,
           run.seconds / bound_s, measured_bound_s, run.seconds / measured_bound_s, peak_memory_kib());
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, &options)) {
        fprintf(stderr,
                "usage: %s [--link-delay-us N] [--fw-bytes N] [--db-bytes N] [--small-db-bytes N] "
                "[--no-link] [--canfd]\n",
                argv[0]);
        return 2;
    }
    QTemporaryDir dir;
    const QByteArray fw_path = QFile::encodeName(dir.filePath(QStringLiteral("image.bin")));
    const QByteArray db_path = QFile::encodeName(dir.filePath(QStringLiteral("airports.db")));
    const QByteArray small_db_path = QFile::encodeName(dir.filePath(QStringLiteral("small.db")));
    if (!dir.isValid() || !write_file(QFile::decodeName(fw_path), firmware_header(options.fw_bytes), options.fw_bytes)
        || !write_file(QFile::decodeName(db_path), QByteArray(), options.db_bytes)
        || !write_file(QFile::decodeName(small_db_path), QByteArray(), options.small_db_bytes)) {
        fprintf(stderr, "cannot write the test files\n");
        return 1;
    }

    // The unit keeps no record of frames and no flash contents, so what
    // memory the process needs is the host's.
    sim::unit().reset();
    sim::unit().setRecording(false);
    sim::unit().flash().setKeepContents(false);
    if (options.canfd) {
        setenv("EFIS_SIM_LINK", "canfd", 1);
        sim::unit().setPresent(false);
    }
    CommsManager comms;
    {
        QuietStdout quiet;
        if (!comms.establish_connection())
            return 1;
    }
    printf("link %s; firmware image %u bytes, airport databases %u and %u bytes, %u-byte packets; peak memory at "
           "start %ld KiB\n",
           options.canfd ? "CAN FD" : "USB HID", options.fw_bytes, options.small_db_bytes, options.db_bytes, kPacketLen, peak_memory_kib());
    report_pause_costs();

    printf("(a) no link delay\n");
    print_host_cost("  send_fw", run_firmware(&comms, fw_path), kWritePauseUs);
    print_host_cost("  send_airport_db (small)", run_database(&comms, small_db_path), kDatabasePauseUs);
    print_host_cost("  send_airport_db", run_database(&comms, db_path), kDatabasePauseUs);
    if (!options.with_link)
        return 0;

    const double delay_us = double(options.link_delay_us);
    sim::unit().setReportDelay(std::chrono::microseconds(options.link_delay_us));
    const double report_us = measured_report_us(&comms);
    printf("(b) link delay %.0f us per report in each direction; a report measurably costs %.1f us\n", delay_us,
           report_us);
    print_link_figures("  send_fw", run_firmware(&comms, fw_path), options.fw_bytes - 64,
                       firmware_bound_s(options.fw_bytes, delay_us), firmware_bound_s(options.fw_bytes, report_us));
    print_link_figures("  send_airport_db", run_database(&comms, db_path), options.db_bytes,
                       database_bound_s(options.db_bytes, delay_us), database_bound_s(options.db_bytes, report_us));
    return 0;
}
