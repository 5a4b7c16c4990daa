#pragma once

// What the fuzz targets share: a check that stops the run with the input as
// its reproducer, the program's diagnostic lines kept out of the fuzzer's
// output, and the records an input is cut into for the link targets.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "comms/comms.h"
#include "simulated_unit.h"

// Aborts, so libFuzzer keeps the input, when a property of the code fails.
void fuzz_require(bool holds, const char* property);

// The link, flash and settings code print a line for every refusal; a fuzzer
// running thousands of inputs a second has no use for them.
void fuzz_quiet_standard_output();

// An input's records: each is a length byte followed by that many bytes; the
// last one takes what is left when the input ends early.
std::vector<std::vector<uint8_t>> fuzz_records(const uint8_t* data, size_t size);

// The exchanges that wait for what the unit sends, one picked by `selector`,
// on a link whose reads deliver the input's records and then fail. None of
// them empties the link before its request, so every record is read.
void fuzz_link_exchange(CommsManager* comms, COMM_INTERFACE_t iface, uint8_t selector);

// A link to the simulated unit over USB, the unit set up once with `rule`
// (its answers are slow to rebuild for every input) and nothing recorded.
CommsManager* fuzz_connect_simulated_unit(const sim::FaultRule& rule);

// Takes what an input left unread off the simulated unit's queue, so the
// next input starts on an empty link.
void fuzz_take_leftover_reports();
