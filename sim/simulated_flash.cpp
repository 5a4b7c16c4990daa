#include "simulated_flash.h"

#include <algorithm>
#include <functional>

#include "EFIS_shared/can_export.h"
#include "simulated_unit.h"

namespace sim {

namespace {

const uint8_t kErased = 0xFF;
const uint32_t kSectorsPerBlock = MX25_BLOCK_SIZE / MX25_SECTOR_SIZE;

bool fits_chip(uint64_t address, uint64_t length)
{
    return address + length <= SimulatedFlash::kChipSize;
}

} // namespace

SimulatedFlash::SimulatedFlash()
{
    reset();
}

void SimulatedFlash::registerHandlers(SimulatedUnit& unit)
{
    using std::placeholders::_1;
    using std::placeholders::_2;
    unit.registerHandler(CANMSG_ERASE_MX25, std::bind(&SimulatedFlash::onErase, this, _1, _2));
    unit.registerHandler(CANMSG_SET_ADDR_MX25, std::bind(&SimulatedFlash::onSetAddress, this, _1, _2));
    unit.registerHandler(CANMSG_WRITE_MX25, std::bind(&SimulatedFlash::onWrite, this, _1, _2));
    unit.registerHandler(CANMSG_AIRPORT_DB_OP, std::bind(&SimulatedFlash::onAirportDbOp, this, _1, _2));
    unit.registerHandler(CANMSG_GET_PARTITION, std::bind(&SimulatedFlash::onGetPartition, this, _1, _2));
}

void SimulatedFlash::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sectors_.clear();
    keep_contents_ = true;
    write_address_ = 0;
    partition_answer_ = partition_1;
    airport_db_open_ = true;
}

// ---- Contents ---------------------------------------------------------------

std::vector<uint8_t> SimulatedFlash::read(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(length, kErased);
    for (size_t i = 0; i < length; i++) {
        const uint64_t at = static_cast<uint64_t>(address) + i;
        auto sector = sectors_.find(static_cast<uint32_t>(at / MX25_SECTOR_SIZE));
        if (sector != sectors_.end())
            bytes[i] = sector->second[at % MX25_SECTOR_SIZE];
    }
    return bytes;
}

void SimulatedFlash::preload(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size(); i++) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        sectorLocked(at / MX25_SECTOR_SIZE)[at % MX25_SECTOR_SIZE] = bytes[i];
    }
}

size_t SimulatedFlash::allocatedSectors() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sectors_.size();
}

void SimulatedFlash::setKeepContents(bool keep)
{
    std::lock_guard<std::mutex> lock(mutex_);
    keep_contents_ = keep;
}

uint32_t SimulatedFlash::writeAddress() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return write_address_;
}

void SimulatedFlash::setPartitionAnswer(uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    partition_answer_ = value;
}

bool SimulatedFlash::airportDbOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return airport_db_open_;
}

SimulatedFlash::Sector& SimulatedFlash::sectorLocked(uint32_t sector)
{
    auto found = sectors_.find(sector);
    if (found == sectors_.end())
        found = sectors_.emplace(sector, Sector(MX25_SECTOR_SIZE, kErased)).first;
    return found->second;
}

// An erased sector needs no storage: it reads 0xFF.
void SimulatedFlash::eraseSectorsLocked(uint32_t first_sector, uint32_t count)
{
    for (uint32_t sector = first_sector; sector < first_sector + count; sector++)
        sectors_.erase(sector);
}

// Programming can only turn ones into zeros; only an erase brings them back.
void SimulatedFlash::programLocked(uint32_t address, const uint8_t* bytes, size_t length)
{
    if (!keep_contents_)
        return;
    for (size_t i = 0; i < length; i++) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        sectorLocked(at / MX25_SECTOR_SIZE)[at % MX25_SECTOR_SIZE] &= bytes[i];
    }
}

// Erases what op names; false for an unknown op or a region past the chip.
bool SimulatedFlash::eraseLocked(uint8_t op, uint16_t number, uint32_t* address)
{
    switch (op) {
    case OP_CHIP_ERASE:
        *address = 0;
        sectors_.clear();
        return true;
    case OP_SECTOR_ERASE:
        *address = static_cast<uint32_t>(number) << MX25_SECTOR_SHIFT;
        if (!fits_chip(*address, MX25_SECTOR_SIZE))
            return false;
        eraseSectorsLocked(number, 1);
        return true;
    case OP_BLOCK_ERASE:
        *address = static_cast<uint32_t>(number) << MX25_BLOCK_SHIFT;
        if (!fits_chip(*address, MX25_BLOCK_SIZE))
            return false;
        eraseSectorsLocked(number * kSectorsPerBlock, kSectorsPerBlock);
        return true;
    default:
        return false;
    }
}

// ---- Requests ------------------------------------------------------------------

// The unit acknowledges the command at once and the erase when it is done.
void SimulatedFlash::onErase(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t op = request.data[0];
    const bool known_op = op == OP_CHIP_ERASE || op == OP_SECTOR_ERASE || op == OP_BLOCK_ERASE;
    replies.push_back(command_ack(CANMSG_ERASE_MX25, known_op ? ACK : NACK));
    if (!known_op)
        return;
    uint32_t address = 0;
    const bool erased = eraseLocked(op, get_u16_le(&request.data[1]), &address);
    replies.push_back(flash_ack(op, address, erased ? ACK : NACK));
}

void SimulatedFlash::onSetAddress(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t address = get_u32_le(&request.data[0]);
    const bool inside = address < kChipSize;
    if (inside)
        write_address_ = address;
    replies.push_back(flash_ack(OP_SETADDR, address, inside ? ACK : NACK));
}

// The chunk lands at the write address, padding and all: the unit cannot tell
// padding from data, so the address moves on by the length code's byte count.
void SimulatedFlash::onWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t length = dlc_code_to_bytes(request.msg_len);
    const uint32_t address = write_address_;
    if (!fits_chip(address, length)) {
        replies.push_back(flash_ack(OP_WRITE, address, NACK));
        return;
    }
    programLocked(address, request.data, length);
    write_address_ = address + length;
    replies.push_back(flash_ack(OP_WRITE, address, ACK));
}

// Closing is acknowledged; opening is not.
void SimulatedFlash::onAirportDbOp(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    switch (request.data[0]) {
    case AIRPORT_DB_OP_CLOSE:
        airport_db_open_ = false;
        replies.push_back(command_ack(CANMSG_AIRPORT_DB_OP, ACK));
        break;
    case AIRPORT_DB_OP_OPEN:
        airport_db_open_ = true;
        break;
    default:
        replies.push_back(command_ack(CANMSG_AIRPORT_DB_OP, NACK));
        break;
    }
}

// The answer follows the command acknowledgement at once.
void SimulatedFlash::onGetPartition(const COMMS_MSG_t& /*request*/, std::vector<COMMS_MSG_t>& replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies.push_back(command_ack(CANMSG_GET_PARTITION, ACK));
    replies.push_back(flash_ack(OP_GETPART, partition_answer_, ACK));
}

} // namespace sim
