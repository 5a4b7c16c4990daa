#pragma once

// The unit as efis-cli reaches it: found (waiting for it when asked), and an
// upload that Ctrl-C stops between two packets.

#include <atomic>
#include <memory>

#include "cli.h"

class CommsManager;

namespace cli {

// Connects to the unit, trying again until --wait runs out. kExitSuccess with
// `comms` connected, or kExitNoUnit after saying so.
int connectToUnit(const Invocation& invocation, std::unique_ptr<CommsManager>* comms);

// The transport the unit answered on, as the link names it.
QString transportName(const CommsManager& comms);

// While it lives, Ctrl-C (SIGINT) and SIGTERM set the stop flag an upload
// checks between packets instead of ending the process; a second one ends
// it at once, so nothing can keep it hanging.
class StopOnInterrupt
{
public:
    StopOnInterrupt();
    ~StopOnInterrupt();
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

    const std::atomic<bool>* flag() const;
    bool interrupted() const;
};

} // namespace cli
