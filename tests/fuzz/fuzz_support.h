#pragma once

// What the fuzz targets share: a check that stops the run with the input as
// its reproducer, the records an input is cut into for the link targets, and
// the link exchanges that judge them. Linking this also keeps the program's
// diagnostic lines out of the fuzzer's output.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "comms/comms.h"
#include "simulated_unit.h"

// Aborts, so libFuzzer keeps the input, when a property of the code fails.
void fuzz_require(bool holds, const char* property);

// An input's records: each is a length byte followed by that many bytes; the
// last one takes what is left when the input ends early. Empty records are
// left out: neither hidapi nor SocketCAN ever delivers one.
std::vector<std::vector<uint8_t>> fuzz_records(const uint8_t* data, size_t size);

// The exchanges that wait for what the unit sends, one picked by `selector`,
// on a link whose reads deliver the input's records and then fail. None of
// them empties the link before its request, so every record is read.
void fuzz_link_exchange(CommsManager* comms, COMM_INTERFACE_t iface, uint8_t selector);

// A link to the simulated unit over USB, the unit set up once with `rule`
// (its answers are slow to rebuild for every input) and nothing recorded.
CommsManager* fuzz_connect_simulated_unit(const sim::FaultRule& rule);

// Takes what the last input left unread off the simulated unit's queue.
void fuzz_take_leftover_reports();
