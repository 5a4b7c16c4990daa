#pragma once

// efis-cli: the unit from a terminal and from scripts, over the same core as
// the window. Results go to standard output, messages and progress to
// standard error; the link's own diagnostic lines appear only with --verbose.

#include <QString>
#include <QStringList>

#include "firmware_manifest.h"

namespace cli {

// What the program tells its caller; listed in --help and the README.
enum ExitStatus {
    kExitSuccess = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoUnit = 3,
    kExitVerification = 4,
    kExitUpdateAvailable = 10,
};

// One run of the program: the command, its arguments and every option.
struct Invocation {
    QStringList arguments; // the command's positional arguments
    int waitSeconds = 0;   // how long to wait for a unit to appear
    bool verbose = false;  // the link's diagnostic lines on standard output
    bool json = false;     // identify: one JSON object
    bool latest = false;   // firmware, airport-db: the manifest's package
    bool store = false;    // settings import: store after sending
    ManifestSources sources;
};

// Parses the command line (arguments().first() is the program) and runs the
// command; the exit status.
int run(const QStringList& arguments, const ManifestSources& sources);

// ---- Commands (each returns an ExitStatus) ----
int identify(const Invocation& invocation);
int reboot(const Invocation& invocation);
int updateFirmware(const Invocation& invocation);
int updateAirportDb(const Invocation& invocation);
int checkUpdates(const Invocation& invocation);
int settings(const Invocation& invocation);

// What follows "settings" on the command line.
extern const char kSettingsActions[];

} // namespace cli
