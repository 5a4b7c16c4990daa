// The simulated unit's state in a file, so it lasts from one simulated
// program run to the next: one line per item, a key and its fields, binary
// records as hexadecimal. A program started with EFIS_SIM_STATE=<file>
// loads the file at start-up (when it exists) and saves the unit there at exit.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "simulated_flash.h"
#include "simulated_unit.h"

namespace sim {

namespace {

const char kStateHeader[] = "efis-sim-state 1";

std::string to_hex(const void* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    std::string hex(length * 2, '0');
    for (size_t i = 0; i < length; i++) {
        hex[2 * i] = digits[in[i] >> 4];
        hex[2 * i + 1] = digits[in[i] & 0x0F];
    }
    return hex;
}

// Fills exactly `length` bytes; false for a field of another length or with other characters.
bool from_hex(std::istream& fields, void* bytes, size_t length)
{
    std::string hex;
    fields >> hex;
    if (hex.size() != length * 2)
        return false;
    uint8_t* out = static_cast<uint8_t*>(bytes);
    for (size_t i = 0; i < length; i++) {
        char* end = nullptr;
        const std::string pair = hex.substr(2 * i, 2);
        out[i] = static_cast<uint8_t>(strtoul(pair.c_str(), &end, 16));
        if (*end != '\0')
            return false;
    }
    return true;
}

template <typename Value>
bool read_number(std::istream& fields, Value* value)
{
    long long number = 0;
    if (!(fields >> number))
        return false;
    *value = static_cast<Value>(number);
    return true;
}

// Loads the unit once at start-up and saves it once at exit.
const char* state_file()
{
    return getenv("EFIS_SIM_STATE");
}

void save_at_exit()
{
    unit().saveState(state_file());
}

bool load_state_named_in_environment()
{
    if (state_file() == nullptr || *state_file() == '\0')
        return false;
    // The unit exists before the saver is registered, so the saver runs
    // before the unit is destroyed.
    SimulatedUnit& the_unit = unit();
    std::ifstream exists(state_file());
    if (exists)
        the_unit.loadState(state_file());
    atexit(save_at_exit);
    return true;
}

const bool g_state_loaded = load_state_named_in_environment();

} // namespace

bool SimulatedUnit::saveState(const std::string& path) const
{
    std::ostringstream out;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out << kStateHeader << "\n";
        out << "present " << present_ << " " << vendor_interface_present_ << " " << open_fails_ << " " << vanished_
            << "\n";
        out << "identity " << serial_ << " " << firmware_.version << "\n";
        out << "settings " << to_hex(&settings_, sizeof settings_) << "\n";
        out << "stored " << to_hex(&stored_settings_, sizeof stored_settings_) << "\n";
        out << "stores " << store_count_ << " " << last_store_matched_ << " " << last_store_checksum_ << "\n";
        out << "reboot " << reboot_requested_ << "\n";
        out << "report_delay_us " << report_delay_.count() << "\n";
        for (const ActiveFault& fault : faults_) {
            const FaultRule& r = fault.rule;
            out << "fault " << r.request_id << " " << r.after << " " << r.times << " " << int(r.kind) << " "
                << r.param << " " << r.reply << " " << fault.matched << "\n";
        }
        for (const COMMS_MSG_t& frame : received_frames_)
            out << "frame " << to_hex(&frame, sizeof frame) << "\n";
    }
    flash_.writeState(out);
    std::ofstream file(path, std::ios::trunc);
    file << out.str();
    return file.good();
}

bool SimulatedUnit::loadState(const std::string& path)
{
    std::ifstream file(path);
    std::string header;
    if (!std::getline(file, header) || header != kStateHeader)
        return false;
    reset();
    std::lock_guard<std::mutex> lock(mutex_);
    std::string line;
    bool good = true;
    while (good && std::getline(file, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "present") {
            good = read_number(fields, &present_) && read_number(fields, &vendor_interface_present_)
                   && read_number(fields, &open_fails_) && read_number(fields, &vanished_);
        } else if (key == "identity") {
            good = read_number(fields, &serial_) && read_number(fields, &firmware_.version);
        } else if (key == "settings") {
            good = from_hex(fields, &settings_, sizeof settings_);
        } else if (key == "stored") {
            good = from_hex(fields, &stored_settings_, sizeof stored_settings_);
        } else if (key == "stores") {
            good = read_number(fields, &store_count_) && read_number(fields, &last_store_matched_)
                   && read_number(fields, &last_store_checksum_);
        } else if (key == "reboot") {
            good = read_number(fields, &reboot_requested_);
        } else if (key == "report_delay_us") {
            long long us = 0;
            good = read_number(fields, &us);
            report_delay_ = std::chrono::microseconds(us);
        } else if (key == "fault") {
            ActiveFault fault{FaultRule(), 0};
            FaultRule& r = fault.rule;
            good = read_number(fields, &r.request_id) && read_number(fields, &r.after) && read_number(fields, &r.times)
                   && read_number(fields, &r.kind) && read_number(fields, &r.param) && read_number(fields, &r.reply)
                   && read_number(fields, &fault.matched);
            faults_.push_back(fault);
        } else if (key == "frame") {
            COMMS_MSG_t frame;
            good = from_hex(fields, &frame, sizeof frame);
            received_frames_.push_back(frame);
        } else {
            good = flash_.readStateLine(key, fields);
        }
    }
    return good;
}

void SimulatedFlash::writeState(std::ostream& out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    out << "flash " << write_address_ << " " << partition_answer_ << " " << airport_db_open_ << " " << keep_contents_
        << "\n";
    for (const auto& sector : sectors_)
        out << "sector " << sector.first << " " << to_hex(sector.second.data(), sector.second.size()) << "\n";
}

bool SimulatedFlash::readStateLine(const std::string& key, std::istream& fields)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (key == "flash") {
        return read_number(fields, &write_address_) && read_number(fields, &partition_answer_)
               && read_number(fields, &airport_db_open_) && read_number(fields, &keep_contents_);
    }
    if (key == "sector") {
        uint32_t number = 0;
        Sector contents(MX25_SECTOR_SIZE);
        if (!read_number(fields, &number) || !from_hex(fields, contents.data(), contents.size()))
            return false;
        sectors_[number] = contents;
        return true;
    }
    return false;
}

} // namespace sim
