#pragma once

// The unit's external flash (an MX25 part) as the unit lays it out: the
// airport database first, then the two firmware banks. Shared with the
// unit's firmware.

#include <cstdint>

// Geometry. Block and sector numbers travel as 16-bit values; block n starts
// at n << MX25_BLOCK_SHIFT, sector n at n << MX25_SECTOR_SHIFT.
static const uint32_t MX25_SECTOR_SHIFT = 12;
static const uint32_t MX25_SECTOR_SIZE = 1u << MX25_SECTOR_SHIFT; // 4 KiB
static const uint32_t MX25_BLOCK_SHIFT = 16;
static const uint32_t MX25_BLOCK_SIZE = 1u << MX25_BLOCK_SHIFT; // 64 KiB, a "page" in the firmware's messages

// Map, in blocks.
static const uint32_t AIRPORT_DB_FIRST_BLOCK = 0;
static const uint32_t AIRPORT_DB_BLOCKS = 832;
static const uint32_t FW_BANK1_FIRST_BLOCK = 832;
static const uint32_t FW_BANK2_FIRST_BLOCK = 896;
static const uint32_t FW_BANK_BLOCKS = 64;
// The unit's stored settings live in the block after bank 2.
static const uint32_t SETTINGS_FIRST_BLOCK = 960;
static const uint32_t SETTINGS_FLASH_ADDRESS = SETTINGS_FIRST_BLOCK << MX25_BLOCK_SHIFT;

static const uint32_t AIRPORT_DB_MAX_SIZE = AIRPORT_DB_BLOCKS * MX25_BLOCK_SIZE; // 52 MiB
static const uint32_t FW_BANK_SIZE = FW_BANK_BLOCKS * MX25_BLOCK_SIZE;           // 4 MiB

static_assert(FW_BANK1_FIRST_BLOCK == AIRPORT_DB_FIRST_BLOCK + AIRPORT_DB_BLOCKS,
              "bank 1 follows the airport database");
static_assert(FW_BANK2_FIRST_BLOCK == FW_BANK1_FIRST_BLOCK + FW_BANK_BLOCKS, "bank 2 follows bank 1");
static_assert(SETTINGS_FIRST_BLOCK == FW_BANK2_FIRST_BLOCK + FW_BANK_BLOCKS, "the settings follow bank 2");
static_assert(MX25_BLOCK_SIZE % MX25_SECTOR_SIZE == 0, "a block is whole sectors");
