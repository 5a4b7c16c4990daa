// Start-up against the simulated unit with three kinds of manifest server: a
// reachable one on 127.0.0.1, a name that never resolves (the default
// address) and a server that accepts the connection and never answers, as
// behind a filtering firewall. For each, the time from building the window
// to the window being on screen, and to the unit's configuration being
// loaded, with the program's own network time-out unless told otherwise.
//
// Usage: bench_startup [--timeout-ms N]   (default: the program's 60000)

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "comms/comms.h"
#include "firmware_manifest.h"
#include "mainwindow.h"
#include "manifest_scratch.h"
#include "simulated_unit.h"

namespace {

const char kLoadedStatus[] = "Configuration successfully loaded from device";
// Only bounds a broken run: well beyond one time-out.
const int kGiveUpMs = 300000;

// The unit's own version: nothing to offer, so start-up runs straight through.
const char kManifest[] = R"({"firmware_packages": [{"device_type": "AE", "display_name": "Halcyra EFIS",
    "firmware_version": "1.3.0", "firmware_file": "halcyra-1.3.0.bin"}]})";

struct StartupTimes {
    double shown_s = -1.0;
    double loaded_s = -1.0;
};

StartupTimes measureStartup(const ManifestSources& sources)
{
    sim::unit().reset();
    device_serial = 0xFFFFFFFF;
    StartupTimes times;
    QElapsedTimer clock;
    clock.start();
    MainWindow window(sources);
    window.show();
    // On screen once the event loop turns with the window shown.
    QTimer::singleShot(0, [&] { times.shown_s = double(clock.nsecsElapsed()) / 1e9; });
    QEventLoop loop;
    QObject::connect(window.statusBar(), &QStatusBar::messageChanged, &loop, [&](const QString& text) {
        if (text == QLatin1String(kLoadedStatus)) {
            times.loaded_s = double(clock.nsecsElapsed()) / 1e9;
            loop.quit();
        }
    });
    QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
    loop.exec();
    return times;
}

} // namespace

int main(int argc, char* argv[])
{
    int timeout_ms = kNetworkTimeoutMs;
    if (argc == 3 && strcmp(argv[1], "--timeout-ms") == 0)
        timeout_ms = int(strtol(argv[2], nullptr, 10));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ManifestScratch scratch;
    if (!scratch.start(QStringLiteral(EFIS_BENCH_TLS_DIR)))
        return 1;

    // Nothing of the program's own lines: only the figures.
    fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);

    struct Case {
        const char* name;
        QString url;
    };
    if (!scratch.reset())
        return 1;
    const QString reachable = scratch.manifest_url;
    const Case cases[] = {
        {"reachable server", reachable},
        {"unresolvable name", firmwareManifestUrl()},
        {"server that never answers", scratch.silentUrl()},
    };
    QString report = QStringLiteral("network time-out %1 ms\n").arg(timeout_ms);
    for (const Case& one : cases) {
        if (!scratch.reset())
            return 1;
        scratch.server().serve(QLatin1String(kTestManifestPath), kManifest);
        scratch.manifest_url = one.url;
        const StartupTimes times = measureStartup(scratch.sources(timeout_ms));
        report += QStringLiteral("%1 window shown %2 s, configuration loaded %3 s\n")
                      .arg(QLatin1String(one.name) + QLatin1Char(':'), -27)
                      .arg(times.shown_s, 0, 'f', 3)
                      .arg(times.loaded_s, 0, 'f', 3);
    }
    fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    printf("%s", report.toUtf8().constData());
    return 0;
}
