#pragma once

// What an upload worker shares with the window that started it, and the
// throttle that keeps thousands of packet acknowledgements from flooding the
// window's thread with progress reports.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transfer_estimate.h"

class CommsManager;
class MainWindow;

// The progress bars run from 0 to kUploadBarMax during a transfer; the erase
// phase fills the first kEraseBarWeight of it, the write phase the rest.
const uint32_t kUploadBarMax = 10000;
const uint32_t kEraseBarWeight = 1200;

// A report passes at least this often, and whenever the bar moved further.
const std::chrono::milliseconds kProgressEmitInterval(40);
const uint32_t kProgressEmitBarStep = 40;

// The worker keeps the connection manager alive for as long as it runs, also
// when the window closes first. The window withdraws itself as it goes, under
// the same lock the worker posts under, so a report either reaches the window
// while it exists or reaches nobody.
//
// Reports travel in the share's own queue, under its lock, and the window's
// thread is only woken to take them: what a report carries is handed over
// by that lock, not by the event queue of the toolkit's library.
class UploadShare
{
public:
    UploadShare(MainWindow* window, std::shared_ptr<CommsManager> comms);
    UploadShare(const UploadShare&) = delete;
    UploadShare& operator=(const UploadShare&) = delete;

    CommsManager* comms() const;

    // Queues the call for the window's thread; dropped once the window has gone.
    void post(std::function<void(MainWindow*)> call);
    // On the window's thread: runs the calls posted so far, in order.
    void deliver();
    void withdrawWindow();

    // The transfer's outcome, set by the worker before it ends.
    void setCompleted(bool completed);
    bool completed() const;
    // How long the transfer has taken since it was started.
    std::chrono::milliseconds elapsed() const;

private:
    std::mutex mutex_;
    MainWindow* window_;
    std::vector<std::function<void(MainWindow*)>> pending_;
    const std::shared_ptr<CommsManager> comms_;
    std::atomic<bool> completed_;
    const std::chrono::steady_clock::time_point started_;
};

// The progress state of one transfer, on the worker's stack; the transfer
// hands its address to the progress callback. Touched by the worker only.
struct ThrottledUploadProgressCtx {
    typedef std::chrono::steady_clock Clock;

    UploadShare* window = nullptr; // where reports go; null: report nothing
    Clock::time_point last_emit{};
    uint32_t last_posted_bar = 0xFFFFFFFF; // none posted yet
    int last_phase = -2;                   // matches no real phase
    TransferEstimate estimate;             // of the write phase, for the bar's text

    // The bar for a report: erase fills 0..1200, write 1200..10000.
    static uint32_t compute_bar(uint32_t current, uint32_t total, int phase);

    // True when the report should reach the window; the state then records it.
    bool should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total);
    // The same at a given clock reading.
    bool should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total, Clock::time_point now);
};
