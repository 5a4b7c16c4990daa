#pragma once

// The unit's external flash and the unit's side of the flash requests. The
// flash is an MX25 part: erased bytes read 0xFF, programming only clears
// bits, erase works by 4 KiB sector, 64 KiB block or the whole chip. Sectors
// are allocated when first programmed, so the whole part costs nothing until
// something is written to it.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"

namespace sim {

class SimulatedUnit;

class SimulatedFlash
{
public:
    // A 512 Mbit part: the airport database, both banks and the settings fit.
    static constexpr uint32_t kChipSize = 64u * 1024 * 1024;

    SimulatedFlash();
    SimulatedFlash(const SimulatedFlash&) = delete;
    SimulatedFlash& operator=(const SimulatedFlash&) = delete;

    // Answers erase, set-address, write, airport database and partition
    // requests on the unit's behalf.
    void registerHandlers(SimulatedUnit& unit);

    // Factory state: all erased, write address 0, bank 1 reported, the
    // airport database open, contents kept.
    void reset();

    // ---- Contents ----
    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    // Contents left by earlier use, stored as they are (not programmed), so a
    // test can see what an upload overwrites and what it leaves alone.
    void preload(uint32_t address, const std::vector<uint8_t>& bytes);
    size_t allocatedSectors() const;
    // Without contents the unit still checks and acknowledges every request
    // but stores nothing, so a benchmark's memory shows the host alone.
    void setKeepContents(bool keep);

    // ---- The unit's flash state ----
    uint32_t writeAddress() const;
    // What the unit answers to the partition query; any value, valid or not.
    void setPartitionAnswer(uint32_t value);
    bool airportDbOpen() const;

    // ---- Saved state (see SimulatedUnit::saveState) ----
    void writeState(std::ostream& out) const;
    // Takes one line of a saved state; false when the key is not the flash's.
    bool readStateLine(const std::string& key, std::istream& fields);

private:
    typedef std::vector<uint8_t> Sector;

    void onErase(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onSetAddress(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onAirportDbOp(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onGetPartition(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);

    bool eraseLocked(uint8_t op, uint16_t number, uint32_t* address);
    void eraseSectorsLocked(uint32_t first_sector, uint32_t count);
    void programLocked(uint32_t address, const uint8_t* bytes, size_t length);
    Sector& sectorLocked(uint32_t sector);

    mutable std::mutex mutex_;
    std::unordered_map<uint32_t, Sector> sectors_;
    bool keep_contents_;
    uint32_t write_address_;
    uint32_t partition_answer_;
    bool airport_db_open_;
};

} // namespace sim
