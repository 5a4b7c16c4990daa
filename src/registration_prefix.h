#pragma once

// Nationality prefixes of aircraft registrations, in the order the prefix
// list shows them. Lookups take the first entry that fits, so the order
// matters: single letters come before the longer prefixes they begin, and the
// entries that occur twice are always found at their first place.

#include <QString>

enum { NUM_REGISTRATION_PREFIXES = 193 };

extern const char* const REGISTRATION_PREFIXES[NUM_REGISTRATION_PREFIXES];

// Position of the first entry that the registration begins with
// (case-sensitive); -1 when none fits.
int registration_prefix_position(const QString& registration);
