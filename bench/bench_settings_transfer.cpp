// Time of the settings transfers against the simulated unit with a modelled
// link: a fixed delay on every report in each direction (default 1000 us, one
// full-speed USB frame). Median of N runs (default 15) of each:
//
//   load       4 header words and 36 values: 40 exchanges of two reports,
//              and a 1 ms pause after each value
//   update     one value: its write and its acknowledgement, and a 1 ms pause
//   save       layout version and element count (2 exchanges), the store
//              command with its two acknowledgements (3 reports), then the
//              36 values read back, each followed by a 1 ms pause
//
// Each line shows the bound of the exchanges involved: every report's delay
// plus the pauses the transfer takes.
//
// Usage: bench_settings_transfer [--link-delay-us N] [--runs N] [--canfd]

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "settings_transfer.h"
#include "quiet_stdout.h"
#include "simulated_unit.h"

namespace {

typedef std::chrono::steady_clock Clock;

const int kHeaderWords = 4;
const int kLayoutWords = 2;
const int kValues = SETTINGS_LAST_INDEX;
const int kStoreReports = 3;

struct Options {
    long link_delay_us = 1000;
    int runs = 15;
    bool canfd = false;
};

bool parse_options(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--canfd")
            options->canfd = true;
        else if (arg == "--link-delay-us" && has_value)
            options->link_delay_us = strtol(argv[++i], nullptr, 10);
        else if (arg == "--runs" && has_value)
            options->runs = atoi(argv[++i]);
        else
            return false;
    }
    return options->runs > 0 && options->link_delay_us >= 0;
}

// The store logs its acknowledgements; the benchmark measures the exchanges,
// not the terminal.
void quiet_messages(QtMsgType, const QMessageLogContext&, const QString&)
{
}

// Milliseconds of each run of what, and whether every run succeeded.
double median_ms(int runs, const std::function<bool()>& what, bool* all_ok)
{
    std::vector<double> times;
    *all_ok = true;
    for (int i = 0; i < runs; i++) {
        QuietStdout quiet;
        const Clock::time_point start = Clock::now();
        *all_ok = what() && *all_ok;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void print_figure(const char* what, double median, bool ok, int reports, int pauses, double delay_ms)
{
    const double bound = reports * delay_ms + pauses * double(kSettingsPauseMs);
    printf("%-8s median %7.2f ms; bound %7.2f ms (%d reports of %.3f ms, %d pauses of %lu ms); ratio %.3f%s\n", what,
           median, bound, reports, delay_ms, pauses, kSettingsPauseMs, median / bound, ok ? "" : "; FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, &options)) {
        fprintf(stderr, "usage: %s [--link-delay-us N] [--runs N] [--canfd]\n", argv[0]);
        return 2;
    }
    qInstallMessageHandler(quiet_messages);
    sim::unit().reset();
    sim::unit().setRecording(false);
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
    sim::unit().setReportDelay(std::chrono::microseconds(options.link_delay_us));
    const double delay_ms = options.link_delay_us / 1000.0;
    printf("link %s, %ld us per report in each direction, median of %d runs\n", options.canfd ? "CAN FD" : "USB HID",
           options.link_delay_us, options.runs);

    Settings_t record = sim::factory_settings();
    bool ok = false;
    double median = median_ms(options.runs, [&] { return settings_load(&comms, &record).status == SETTINGS_LOAD_OK; },
                              &ok);
    print_figure("load", median, ok, 2 * (kHeaderWords + kValues), kValues, delay_ms);

    median = median_ms(options.runs, [&] { return settings_update(&comms, record, {VNE_INDEX}).failed.empty(); },
                       &ok);
    print_figure("update", median, ok, 2, 1, delay_ms);

    median = median_ms(options.runs, [&] { return settings_store(&comms, &record).status == SETTINGS_STORE_OK; },
                       &ok);
    print_figure("save", median, ok, 2 * kLayoutWords + kStoreReports + 2 * kValues, kValues, delay_ms);
    return 0;
}
