#include "cli_unit.h"

#include <csignal>

#include <QElapsedTimer>
#include <QThread>

#include "cli_output.h"
#include "comms/comms.h"

namespace cli {

namespace {

// A unit being plugged in is looked for this often while --wait lasts.
const unsigned long kUnitPollIntervalMs = 500;

std::atomic<bool> g_stop_requested{false};

void request_stop(int)
{
    g_stop_requested.store(true);
}

void set_handler(int signal_number, void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

bool attemptConnection(std::unique_ptr<CommsManager>* comms)
{
    comms->reset(new CommsManager());
    if ((*comms)->establish_connection())
        return true;
    comms->reset();
    return false;
}

} // namespace

int connectToUnit(const Invocation& invocation, std::unique_ptr<CommsManager>* comms)
{
    QElapsedTimer waited;
    waited.start();
    const qint64 wait_ms = static_cast<qint64>(invocation.waitSeconds) * 1000;
    if (attemptConnection(comms))
        return kExitSuccess;
    if (wait_ms > 0) {
        printError(QStringLiteral("no unit yet; waiting up to %1 s for one").arg(invocation.waitSeconds));
        const QuietStandardError quiet(invocation.verbose);
        while (waited.elapsed() < wait_ms) {
            QThread::msleep(kUnitPollIntervalMs);
            if (attemptConnection(comms))
                return kExitSuccess;
        }
    }
    printError(QStringLiteral("no unit found on USB HID or CAN FD"));
    return kExitNoUnit;
}

QString transportName(const CommsManager& comms)
{
    return comms.getActiveInterface() == CAN_FD ? QStringLiteral("CAN FD") : QStringLiteral("USB HID");
}

StopOnInterrupt::StopOnInterrupt()
{
    g_stop_requested.store(false);
    set_handler(SIGINT, request_stop, SA_RESETHAND);
    set_handler(SIGTERM, request_stop, SA_RESETHAND);
}

StopOnInterrupt::~StopOnInterrupt()
{
    set_handler(SIGINT, SIG_DFL, 0);
    set_handler(SIGTERM, SIG_DFL, 0);
}

const std::atomic<bool>* StopOnInterrupt::flag() const
{
    return &g_stop_requested;
}

bool StopOnInterrupt::interrupted() const
{
    return g_stop_requested.load();
}

} // namespace cli
