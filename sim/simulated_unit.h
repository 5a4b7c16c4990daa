#pragma once

// A unit, seen from the unit's side of the link. It answers every request the
// program relies on a unit to answer, records every frame it receives, and can
// be told to misbehave per request. The hidapi stand-in routes the program's
// reports here, so the program's own link code runs unchanged against it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "EFIS_shared/calib_types.h"
#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "EFIS_shared/settings_types.h"
#include "simulated_flash.h"

namespace sim {

// What a fault rule does to the request it matches, or to that request's replies.
enum FaultKind : uint8_t {
    FAULT_NO_REPLY = 0,          // the request is swallowed: no reply at all
    FAULT_NACK = 1,              // status byte of the reply says NACK
    FAULT_BAD_STATUS = 2,        // status byte of the reply is neither ACK nor NACK (param, default 7)
    FAULT_WRONG_OP = 3,          // a flash acknowledgement names another op code
    FAULT_WRONG_ADDRESS = 4,     // a flash acknowledgement carries another value (value + param, default 0x1000)
    FAULT_WRONG_LENGTH_CODE = 5, // the reply carries another length code (param)
    FAULT_WRONG_ACK_ID = 6,      // a command acknowledgement names another identifier (param)
    FAULT_DELAY = 7,             // replies held back param milliseconds
    FAULT_NOISE_BEFORE = 8,      // param unrelated frames (0x100) come before the replies (before reply `reply` when set)
    FAULT_SHORT_REPORT = 9,      // a report too short to hold a frame comes before the replies
    FAULT_GARBAGE_REPORT = 10,   // a report of param random bytes comes before the replies
    FAULT_VANISH = 11,           // the unit vanishes after taking the request: reads and writes fail
    FAULT_DROP_REPLY = 12,       // the selected reply is left out
    FAULT_WRONG_INDEX = 13,      // a settings value reply names another index (index + 1)
};

struct FaultRule {
    uint32_t request_id = 0; // request identifier it matches; 0 matches every request
    int after = 0;           // matching requests, counted from when the rule is added, let through first
    int times = 1;           // requests it applies to; -1 for every one
    FaultKind kind = FAULT_NO_REPLY;
    int param = 0;
    int reply = -1; // which reply of the request it changes; -1 for all
};

// One report the unit sends. A frame, unless raw holds a malformed report.
struct Outbound {
    COMMS_MSG_t frame;
    std::vector<uint8_t> raw;
    std::chrono::steady_clock::time_point ready_at;
};

class SimulatedUnit
{
public:
    typedef std::function<void(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)> Handler;

    static const uint32_t kDefaultSerial = 0xAE020457;
    static const uint8_t kReportId = 5;

    // The unit the hidapi stand-in routes to.
    static SimulatedUnit& instance();

    // Factory state: present, default identity and settings, no faults, nothing recorded.
    void reset();

    // ---- Enumeration ----
    void setPresent(bool present);
    void setVendorInterfacePresent(bool present);
    void setOpenFails(bool fails);
    bool present() const;
    bool vendorInterfacePresent() const;
    bool openFails() const;
    bool vanished() const;

    // ---- Identity ----
    void setSerial(uint32_t serial);
    void setFirmware(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc = 0);
    uint32_t serial() const;

    // ---- Settings ----
    Settings_t settings() const;       // what the unit holds now
    Settings_t storedSettings() const; // its non-volatile copy
    void setSettings(const Settings_t& settings);
    void setSettingsValue(uint8_t index, uint32_t value);
    uint32_t settingsValue(uint8_t index) const;
    int storeCount() const;
    bool lastStoreChecksumMatched() const;
    uint32_t lastStoreChecksum() const;
    // The unit restarts from its stored copy.
    void powerCycle();
    bool rebootRequested() const;

    // ---- Faults and traffic ----
    void addFault(const FaultRule& rule);
    void clearFaults();
    // Unrelated frames (identifier 0x100) every period, whenever the host
    // waits; 0 stops them.
    void setChatter(int period_ms);
    void queueUnsolicited(const COMMS_MSG_t& frame);
    // A report exactly as given (report ID first), malformed or not.
    void queueRawReport(const std::vector<uint8_t>& report);
    // Fixed transfer time of one report in each direction.
    void setReportDelay(std::chrono::microseconds delay);
    void setRecording(bool on);
    std::vector<COMMS_MSG_t> receivedFrames() const;
    std::vector<std::vector<uint8_t>> receivedReports() const;
    void clearRecords();

    // Further request kinds (the flash) join here.
    void registerHandler(uint32_t request_id, Handler handler);

    // ---- External flash ----
    // Reset with the unit; thread-safe on its own.
    SimulatedFlash& flash();

    // ---- Saved state ----
    // Everything a later run needs to go on where this one ended: presence,
    // identity, settings and stores, the reboot request, faults with what
    // they matched so far, the link model, the frames received and the flash.
    // A simulated program started with the environment variable
    // EFIS_SIM_STATE naming a file loads the unit from it when it exists and
    // saves the unit there when it exits, so a test can set a unit up before
    // a run and look at it afterwards. False when the file cannot be written,
    // or cannot be read or is no state file (the unit is then left as it was).
    bool saveState(const std::string& path) const;
    bool loadState(const std::string& path);

    // ---- The host's side, for the link stand-ins ----
    // Takes one frame the host sent; false when the unit has vanished.
    bool receive(const COMMS_MSG_t& frame, const std::vector<uint8_t>& report);
    // Waits up to timeout for the next report the unit sends. 1: out filled;
    // 0: nothing in time; -1: the unit has vanished.
    int takeOutbound(Outbound* out, int timeout_ms);
    std::chrono::microseconds reportDelay() const;

private:
    SimulatedUnit();
    void resetLocked();
    void registerBuiltinHandlers();
    void answer(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void applyFaults(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies, bool* swallow,
                     std::chrono::milliseconds* delay);
    void enqueueReplies(const std::vector<COMMS_MSG_t>& replies, std::chrono::milliseconds delay);
    void enqueueLocked(const COMMS_MSG_t& frame, const std::vector<uint8_t>& raw,
                       std::chrono::steady_clock::time_point ready_at);
    void insertNoise(const FaultRule& rule, std::vector<COMMS_MSG_t>& replies,
                     std::chrono::steady_clock::time_point now);
    COMMS_MSG_t chatterFrame() const;

    void onIdentity(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onSettingsRead(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onSettingsWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onSettingsStore(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onCalibRead(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onCalibWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onCalibStore(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);
    void onReboot(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies);

    mutable std::mutex mutex_;
    std::condition_variable outbound_ready_;

    bool present_;
    bool vendor_interface_present_;
    bool open_fails_;
    bool vanished_;
    uint32_t serial_;
    fwversion_t firmware_;

    Settings_t settings_;
    Settings_t stored_settings_;
    SENSOR_CALIB_t calib_;
    int store_count_;
    bool last_store_matched_;
    uint32_t last_store_checksum_;
    bool reboot_requested_;

    struct ActiveFault {
        FaultRule rule;
        int matched; // requests it matched so far
    };
    std::vector<ActiveFault> faults_;
    std::map<uint32_t, Handler> handlers_;
    std::deque<Outbound> outbound_;
    int chatter_period_ms_;
    std::chrono::steady_clock::time_point next_chatter_;
    std::chrono::microseconds report_delay_;
    bool recording_;
    std::vector<COMMS_MSG_t> received_frames_;
    std::vector<std::vector<uint8_t>> received_reports_;

    SimulatedFlash flash_;
};

// Shorthand for the unit every stand-in routes to.
inline SimulatedUnit& unit()
{
    return SimulatedUnit::instance();
}

// Waits until `when`: the link model's delays are a USB frame or so, too
// short to leave to a sleep that wakes by a timer slack late.
void wait_precisely_until(std::chrono::steady_clock::time_point when);

// A zeroed frame with identifier, length code and payload bytes.
COMMS_MSG_t make_frame(uint32_t can_id, CAN_MSG_LEN_t msg_len, std::initializer_list<uint8_t> payload = {});

// The settings a unit leaves the factory with: a checksum that matches.
Settings_t factory_settings();

// A command acknowledgement naming acknowledged_id.
COMMS_MSG_t command_ack(uint32_t acknowledged_id, uint8_t status);
// An external-flash acknowledgement: op code, value, status.
COMMS_MSG_t flash_ack(uint8_t op, uint32_t value, uint8_t status);

} // namespace sim
