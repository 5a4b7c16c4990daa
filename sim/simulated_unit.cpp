#include "simulated_unit.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "EFIS_shared/can_export.h"
#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "EFIS_shared/mem_layout.h"

namespace sim {

namespace {

typedef std::chrono::steady_clock Clock;

const int kDefaultBadStatus = 7;
const uint32_t kDefaultAddressShift = 0x1000;
const int kDefaultGarbageBytes = 20;

void set_magic(Settings_t* settings)
{
    memcpy(&settings->magic, "KOB_", 4);
}

void put_value(Settings_t* settings, settings_struct_index index, uint32_t value)
{
    settings_set_value(settings, index, &value);
}

uint32_t float_bits(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Where the status byte of an acknowledgement sits; -1 for other frames.
int status_offset(const COMMS_MSG_t& frame)
{
    if (frame.can_ID == CANMSG_ACK)
        return 3;
    if (frame.can_ID == CANMSG_MX25_ACK)
        return 5;
    return -1;
}

void corrupt_reply(COMMS_MSG_t& reply, const FaultRule& rule)
{
    const int status = status_offset(reply);
    switch (rule.kind) {
    case FAULT_NACK:
        if (status >= 0)
            reply.data[status] = NACK;
        break;
    case FAULT_BAD_STATUS:
        if (status >= 0)
            reply.data[status] = static_cast<uint8_t>(rule.param != 0 ? rule.param : kDefaultBadStatus);
        break;
    case FAULT_WRONG_OP:
        if (reply.can_ID == CANMSG_MX25_ACK)
            reply.data[0] = static_cast<uint8_t>(reply.data[0] + 1);
        break;
    case FAULT_WRONG_ADDRESS:
        if (reply.can_ID == CANMSG_MX25_ACK) {
            const uint32_t shift = rule.param != 0 ? static_cast<uint32_t>(rule.param) : kDefaultAddressShift;
            put_u32_le(&reply.data[1], get_u32_le(&reply.data[1]) + shift);
        }
        break;
    case FAULT_WRONG_LENGTH_CODE:
        reply.msg_len = static_cast<CAN_MSG_LEN_t>(rule.param);
        break;
    case FAULT_WRONG_ACK_ID:
        if (reply.can_ID == CANMSG_ACK)
            put_u16_le(&reply.data[1], static_cast<uint16_t>(rule.param));
        break;
    case FAULT_WRONG_INDEX:
        if (reply.can_ID == CANMSG_SEND_SETTINGS_VALUE)
            reply.data[1] = static_cast<uint8_t>(reply.data[1] + 1);
        break;
    default:
        break;
    }
}

bool corrupts_replies(FaultKind kind)
{
    switch (kind) {
    case FAULT_NACK:
    case FAULT_BAD_STATUS:
    case FAULT_WRONG_OP:
    case FAULT_WRONG_ADDRESS:
    case FAULT_WRONG_LENGTH_CODE:
    case FAULT_WRONG_ACK_ID:
    case FAULT_WRONG_INDEX:
        return true;
    default:
        return false;
    }
}

// A report whose identifier bytes can never match a frame the host waits for.
std::vector<uint8_t> garbage_report(int length)
{
    std::vector<uint8_t> raw(static_cast<size_t>(std::max(length, 7)));
    for (size_t i = 0; i < raw.size(); i++)
        raw[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    raw[0] = SimulatedUnit::kReportId;
    put_u32_le(&raw[2], 0xDEADBEEF);
    return raw;
}

} // namespace

void wait_precisely_until(std::chrono::steady_clock::time_point when)
{
    // A sleeping thread wakes late by its timer slack; the last stretch is spun.
    const std::chrono::microseconds spin_window(100);
    if (when - Clock::now() > spin_window)
        std::this_thread::sleep_until(when - spin_window);
    while (Clock::now() < when) {
        // Spin: yielding hands the core to a busy neighbour for a whole time slice.
    }
}

COMMS_MSG_t make_frame(uint32_t can_id, CAN_MSG_LEN_t msg_len, std::initializer_list<uint8_t> payload)
{
    COMMS_MSG_t frame;
    memset(&frame, 0, sizeof frame);
    frame.can_ID = can_id;
    frame.msg_len = msg_len;
    size_t i = 0;
    for (uint8_t byte : payload) {
        if (i < sizeof frame.data)
            frame.data[i++] = byte;
    }
    return frame;
}

COMMS_MSG_t command_ack(uint32_t acknowledged_id, uint8_t status)
{
    COMMS_MSG_t ack = make_frame(CANMSG_ACK, CAN_4_BYTES);
    put_u16_le(&ack.data[1], static_cast<uint16_t>(acknowledged_id));
    ack.data[3] = status;
    return ack;
}

COMMS_MSG_t flash_ack(uint8_t op, uint32_t value, uint8_t status)
{
    COMMS_MSG_t ack = make_frame(CANMSG_MX25_ACK, CAN_6_BYTES);
    ack.data[0] = op;
    put_u32_le(&ack.data[1], value);
    ack.data[5] = status;
    return ack;
}

Settings_t factory_settings()
{
    Settings_t s;
    memset(&s, 0, sizeof s);
    set_magic(&s);
    put_value(&s, SETTINGS_VERSION, 3);
    put_value(&s, SETTINGS_NUM_ELEMENTS, 31);
    // Knots, feet, Celsius, inHg.
    put_value(&s, UNITS_VALUE_INDEX, (1u << 1) | (1u << 3) | (1u << 6) | (1u << 7));
    const uint32_t vspeeds[] = {40, 45, 50, 85, 120, 150, 60, 100};
    for (uint32_t i = 0; i < 8; i++)
        put_value(&s, static_cast<settings_struct_index>(VMIN_INDEX + i), vspeeds[i]);
    put_value(&s, MIN_VOLTS_INDEX, 115);
    put_value(&s, MAX_VOLTS_INDEX, 150);
    put_value(&s, REGISTRATION_1_INDEX, 0x472D4142); // "G-AB"
    put_value(&s, REGISTRATION_2_INDEX, 0x43440000); // "CD"
    put_value(&s, SKY_COLOR_0_INDEX, 0xFF1E64C8);
    put_value(&s, SKY_COLOR_1_INDEX, 0xFF5A9BE6);
    put_value(&s, GROUND_COLOR_0_INDEX, 0xFF8C5A28);
    put_value(&s, GROUND_COLOR_1_INDEX, 0xFF5A3C1E);
    put_value(&s, APPROACH_COLOR_INDEX, 0xFFFF00FF);
    put_value(&s, AIRPLANE_COLOR_INDEX, 0xFFFFFFFF); // white
    put_value(&s, GREEN_ARC_COLOR_INDEX, 0xFF00C800);
    put_value(&s, YELLOW_ARC_COLOR_INDEX, 0xFFFFDC00);
    put_value(&s, RED_ARC_COLOR_INDEX, 0xFFDC0000);
    put_value(&s, GEAR_INDI_COLOR_INDEX, 0xFF00FF00);
    put_value(&s, BACKLIGHT_BRIGHTNESS_INDEX, 15);
    put_value(&s, ROLL_CORRECTION_INDEX, float_bits(0.5f));
    put_value(&s, PITCH_CORRECTION_INDEX, float_bits(-1.5f));
    put_value(&s, MIN_VOLTS_ALERT_INDEX, 110);
    put_value(&s, MAX_VOLTS_ALERT_INDEX, 155);
    put_value(&s, TEXT_BG_ALPHA_INDEX, 150);
    put_value(&s, OWNSHIP_ICAO_INDEX, 0x406B2F);
    put_value(&s, EMITTER_CAT_INDEX, 1);
    put_value(&s, TERM_RESISTOR_INDEX, 1);
    return s;
}

SimulatedUnit& SimulatedUnit::instance()
{
    static SimulatedUnit the_unit;
    return the_unit;
}

SimulatedUnit::SimulatedUnit()
{
    registerBuiltinHandlers();
    flash_.registerHandlers(*this);
    resetLocked();
}

void SimulatedUnit::registerBuiltinHandlers()
{
    using std::placeholders::_1;
    using std::placeholders::_2;
    handlers_[CANMSG_WHOAMI_REQUEST] = std::bind(&SimulatedUnit::onIdentity, this, _1, _2);
    handlers_[CANMSG_REQUEST_SETTINGS_VALUE] = std::bind(&SimulatedUnit::onSettingsRead, this, _1, _2);
    handlers_[CANMSG_GLOBAL_SET_SETTING] = std::bind(&SimulatedUnit::onSettingsWrite, this, _1, _2);
    handlers_[CANMSG_SAVE_USER_SETTINGS] = std::bind(&SimulatedUnit::onSettingsStore, this, _1, _2);
    handlers_[CANMSG_REQUEST_SENSOR_CALIB] = std::bind(&SimulatedUnit::onCalibRead, this, _1, _2);
    handlers_[CANMSG_SET_SENSOR_CALIB] = std::bind(&SimulatedUnit::onCalibWrite, this, _1, _2);
    handlers_[CANMSG_SAVE_SENSOR_CALIB] = std::bind(&SimulatedUnit::onCalibStore, this, _1, _2);
    handlers_[CANMSG_ENTER_BL] = std::bind(&SimulatedUnit::onReboot, this, _1, _2);
}

void SimulatedUnit::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    resetLocked();
}

void SimulatedUnit::resetLocked()
{
    present_ = true;
    vendor_interface_present_ = true;
    open_fails_ = false;
    vanished_ = false;
    serial_ = kDefaultSerial;
    firmware_.version = 0;
    firmware_.major = 1;
    firmware_.minor = 3;
    firmware_.patch = 0;
    settings_ = factory_settings();
    stored_settings_ = settings_;
    memset(&calib_, 0, sizeof calib_);
    store_count_ = 0;
    last_store_matched_ = false;
    last_store_checksum_ = 0;
    reboot_requested_ = false;
    faults_.clear();
    outbound_.clear();
    chatter_period_ms_ = 0;
    report_delay_ = std::chrono::microseconds(0);
    recording_ = true;
    received_frames_.clear();
    received_reports_.clear();
    flash_.reset();
}

// ---- Enumeration ----------------------------------------------------------

void SimulatedUnit::setPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = present;
}

void SimulatedUnit::setVendorInterfacePresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    vendor_interface_present_ = present;
}

void SimulatedUnit::setOpenFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    open_fails_ = fails;
}

bool SimulatedUnit::present() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

bool SimulatedUnit::vendorInterfacePresent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return vendor_interface_present_;
}

bool SimulatedUnit::openFails() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return open_fails_;
}

bool SimulatedUnit::vanished() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return vanished_;
}

// ---- Identity and settings --------------------------------------------------

void SimulatedUnit::setSerial(uint32_t serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    serial_ = serial;
}

void SimulatedUnit::setFirmware(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc)
{
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_.major = major;
    firmware_.minor = minor;
    firmware_.patch = patch;
    firmware_.rc = rc;
}

uint32_t SimulatedUnit::serial() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return serial_;
}

Settings_t SimulatedUnit::settings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

Settings_t SimulatedUnit::storedSettings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_settings_;
}

void SimulatedUnit::setSettings(const Settings_t& settings)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
}

void SimulatedUnit::setSettingsValue(uint8_t index, uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_set_value(&settings_, static_cast<settings_struct_index>(index), &value);
}

uint32_t SimulatedUnit::settingsValue(uint8_t index) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Settings_t copy = settings_;
    return settings_get_value(&copy, static_cast<settings_struct_index>(index));
}

int SimulatedUnit::storeCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return store_count_;
}

bool SimulatedUnit::lastStoreChecksumMatched() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_store_matched_;
}

uint32_t SimulatedUnit::lastStoreChecksum() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_store_checksum_;
}

void SimulatedUnit::powerCycle()
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = stored_settings_;
    reboot_requested_ = false;
    outbound_.clear();
}

bool SimulatedUnit::rebootRequested() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reboot_requested_;
}

// ---- Faults and traffic -------------------------------------------------------

void SimulatedUnit::addFault(const FaultRule& rule)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(ActiveFault{rule, 0});
}

void SimulatedUnit::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void SimulatedUnit::setChatter(int period_ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    chatter_period_ms_ = period_ms;
    next_chatter_ = Clock::now() + std::chrono::milliseconds(period_ms);
    outbound_ready_.notify_all();
}

void SimulatedUnit::queueUnsolicited(const COMMS_MSG_t& frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enqueueLocked(frame, {}, Clock::now());
}

void SimulatedUnit::queueRawReport(const std::vector<uint8_t>& report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enqueueLocked(make_frame(0, CAN_0_BYTES), report, Clock::now());
}

void SimulatedUnit::setReportDelay(std::chrono::microseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    report_delay_ = delay;
}

std::chrono::microseconds SimulatedUnit::reportDelay() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return report_delay_;
}

void SimulatedUnit::setRecording(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = on;
}

std::vector<COMMS_MSG_t> SimulatedUnit::receivedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_frames_;
}

std::vector<std::vector<uint8_t>> SimulatedUnit::receivedReports() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_reports_;
}

void SimulatedUnit::clearRecords()
{
    std::lock_guard<std::mutex> lock(mutex_);
    received_frames_.clear();
    received_reports_.clear();
}

void SimulatedUnit::registerHandler(uint32_t request_id, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[request_id] = std::move(handler);
}

SimulatedFlash& SimulatedUnit::flash()
{
    return flash_;
}

// ---- The host's side -----------------------------------------------------------

bool SimulatedUnit::receive(const COMMS_MSG_t& frame, const std::vector<uint8_t>& report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (vanished_)
        return false;
    if (recording_) {
        received_frames_.push_back(frame);
        received_reports_.push_back(report);
    }

    std::vector<COMMS_MSG_t> replies;
    answer(frame, replies);
    bool swallow = false;
    std::chrono::milliseconds delay(0);
    applyFaults(frame, replies, &swallow, &delay);
    if (!swallow)
        enqueueReplies(replies, delay);
    outbound_ready_.notify_all();
    return true;
}

void SimulatedUnit::answer(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    const uint32_t request_id = request.can_ID; // a packed field binds to no reference
    auto handler = handlers_.find(request_id);
    if (handler != handlers_.end())
        handler->second(request, replies);
}

void SimulatedUnit::applyFaults(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies, bool* swallow,
                                std::chrono::milliseconds* delay)
{
    const uint32_t request_id = request.can_ID;
    const Clock::time_point now = Clock::now();
    for (ActiveFault& fault : faults_) {
        const FaultRule& rule = fault.rule;
        if (rule.request_id != 0 && rule.request_id != request_id)
            continue;
        const int seen = fault.matched++;
        if (seen < rule.after || (rule.times >= 0 && seen >= rule.after + rule.times))
            continue;
        if (corrupts_replies(rule.kind)) {
            for (size_t i = 0; i < replies.size(); i++) {
                if (rule.reply < 0 || static_cast<size_t>(rule.reply) == i)
                    corrupt_reply(replies[i], rule);
            }
            continue;
        }
        switch (rule.kind) {
        case FAULT_NO_REPLY:
            *swallow = true;
            break;
        case FAULT_DELAY:
            *delay += std::chrono::milliseconds(rule.param);
            break;
        case FAULT_NOISE_BEFORE:
            insertNoise(rule, replies, now);
            break;
        case FAULT_SHORT_REPORT:
            enqueueLocked(make_frame(0, CAN_0_BYTES), {kReportId, USB_HID, 0x10}, now);
            break;
        case FAULT_GARBAGE_REPORT:
            enqueueLocked(make_frame(0, CAN_0_BYTES), garbage_report(rule.param != 0 ? rule.param : kDefaultGarbageBytes),
                          now);
            break;
        case FAULT_VANISH:
            vanished_ = true;
            *swallow = true;
            break;
        case FAULT_DROP_REPLY:
            if (rule.reply < 0)
                replies.clear();
            else if (static_cast<size_t>(rule.reply) < replies.size())
                replies.erase(replies.begin() + rule.reply);
            break;
        default:
            break;
        }
    }
}

void SimulatedUnit::enqueueReplies(const std::vector<COMMS_MSG_t>& replies, std::chrono::milliseconds delay)
{
    Clock::time_point ready_at = Clock::now() + delay;
    for (const COMMS_MSG_t& reply : replies) {
        ready_at += report_delay_;
        enqueueLocked(reply, {}, ready_at);
    }
}

void SimulatedUnit::enqueueLocked(const COMMS_MSG_t& frame, const std::vector<uint8_t>& raw, Clock::time_point ready_at)
{
    Outbound item;
    item.frame = frame;
    item.raw = raw;
    // A report never overtakes the one queued before it.
    item.ready_at = outbound_.empty() ? ready_at : std::max(ready_at, outbound_.back().ready_at);
    outbound_.push_back(item);
}

// Noise before every reply goes out at once; noise before one reply goes out
// in its place among the replies, so it can come between two of them.
void SimulatedUnit::insertNoise(const FaultRule& rule, std::vector<COMMS_MSG_t>& replies, Clock::time_point now)
{
    for (int i = 0; i < rule.param; i++) {
        if (rule.reply < 0)
            enqueueLocked(chatterFrame(), {}, now);
        else
            replies.insert(replies.begin() + std::min<size_t>(static_cast<size_t>(rule.reply), replies.size()),
                           chatterFrame());
    }
}

COMMS_MSG_t SimulatedUnit::chatterFrame() const
{
    return make_frame(CANMSG_EFIS_LOG, CAN_8_BYTES, {0x4C, 0x4F, 0x47, 0, 1, 2, 3, 4});
}

int SimulatedUnit::takeOutbound(Outbound* out, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (vanished_)
            return -1;
        const Clock::time_point now = Clock::now();
        if (!outbound_.empty() && outbound_.front().ready_at <= now) {
            *out = outbound_.front();
            outbound_.pop_front();
            return 1;
        }
        if (chatter_period_ms_ > 0 && next_chatter_ <= now) {
            next_chatter_ = now + std::chrono::milliseconds(chatter_period_ms_);
            out->frame = chatterFrame();
            out->raw.clear();
            out->ready_at = now;
            return 1;
        }
        if (now >= deadline)
            return 0;
        Clock::time_point wake = deadline;
        if (chatter_period_ms_ > 0)
            wake = std::min(wake, next_chatter_);
        if (!outbound_.empty() && outbound_.front().ready_at < wake) {
            // A report in transit arrives on time, not a timer slack late.
            const Clock::time_point arrival = outbound_.front().ready_at;
            lock.unlock();
            wait_precisely_until(arrival);
            lock.lock();
            continue;
        }
        outbound_ready_.wait_until(lock, wake);
    }
}

// ---- Request handlers ------------------------------------------------------------

void SimulatedUnit::onIdentity(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    if (request.data[0] != WHOAMI_REQUEST_BYTE0 || request.data[1] != WHOAMI_REQUEST_BYTE1)
        return;
    COMMS_MSG_t reply = make_frame(CANMSG_WHOAMI_REQUEST, CAN_8_BYTES);
    put_u32_le(&reply.data[0], serial_);
    put_u32_le(&reply.data[4], firmware_.version);
    replies.push_back(reply);
}

void SimulatedUnit::onSettingsRead(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    if (request.data[0] != kSettingsWireUid)
        return;
    const uint8_t index = request.data[1];
    COMMS_MSG_t reply = make_frame(CANMSG_SEND_SETTINGS_VALUE, CAN_6_BYTES, {kSettingsWireUid, index});
    put_u32_le(&reply.data[2], settings_get_value(&settings_, static_cast<settings_struct_index>(index)));
    replies.push_back(reply);
}

void SimulatedUnit::onSettingsWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    uint32_t value = get_u32_le(&request.data[1]);
    const bool accepted = settings_set_value(&settings_, static_cast<settings_struct_index>(request.data[0]), &value);
    replies.push_back(command_ack(request.can_ID, accepted ? ACK : NACK));
}

void SimulatedUnit::onSettingsStore(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    // The unit checks the host's checksum against the record it holds, stamped
    // the way the host stamps its own before computing.
    Settings_t stamped = settings_;
    set_magic(&stamped);
    stamped.crc32 = 0;
    const uint32_t own = settings_CalcCRC(&stamped);
    last_store_checksum_ = get_u32_le(&request.data[0]);
    last_store_matched_ = own == last_store_checksum_;
    stamped.crc32 = own;
    settings_ = stamped;
    stored_settings_ = stamped;
    store_count_++;
    replies.push_back(flash_ack(SETTINGS_STORE_ERASE_OP, SETTINGS_FLASH_ADDRESS, ACK));
    replies.push_back(command_ack(request.can_ID, ACK));
}

void SimulatedUnit::onCalibRead(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    COMMS_MSG_t reply = make_frame(CANMSG_SEND_SENSOR_CALIB, CAN_4_BYTES);
    put_u32_le(&reply.data[0], calib_get_value(&calib_, static_cast<sensor_calib_struct_index>(request.data[0])));
    replies.push_back(reply);
}

void SimulatedUnit::onCalibWrite(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    uint32_t value = get_u32_le(&request.data[1]);
    const bool accepted = calib_set_value(&calib_, static_cast<sensor_calib_struct_index>(request.data[0]), &value);
    replies.push_back(command_ack(request.can_ID, accepted ? ACK : NACK));
}

void SimulatedUnit::onCalibStore(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& replies)
{
    replies.push_back(command_ack(request.can_ID, ACK));
}

void SimulatedUnit::onReboot(const COMMS_MSG_t& request, std::vector<COMMS_MSG_t>& /*replies*/)
{
    if (request.data[0] == ENTER_BL_REBOOT)
        reboot_requested_ = true;
}

} // namespace sim
