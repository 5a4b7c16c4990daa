#pragma once

// The checksum that the host and the unit compute over the settings record.
// Shared with the unit's firmware: both must give the same value.

#include <cstdint>

#include "settings_types.h"

// CRC-32/MPEG-2 over whole 32-bit words (polynomial 0x04C11DB7, start
// 0xFFFFFFFF, no reflection, no final inversion): the same as the byte-wise
// CRC over each word written most significant byte first.
uint32_t EFIS_crc(uint32_t* data, uint32_t words);

// The record checksum: EFIS_crc over num_elements words from magic on (never
// more than the 31 the record holds), or 0 for an erased record (crc32 reads
// 0xFFFFFFFF).
uint32_t settings_CalcCRC(const Settings_t* s);
