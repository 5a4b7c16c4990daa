#include "mainwindow_upload_progress.h"

#include <QMetaObject>

#include "firmware_ops/firmware_ops.h"
#include "mainwindow.h"

UploadShare::UploadShare(MainWindow* window, std::shared_ptr<CommsManager> comms)
    : window_(window), comms_(std::move(comms)), completed_(false), started_(std::chrono::steady_clock::now())
{
}

std::chrono::milliseconds UploadShare::elapsed() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
}

CommsManager* UploadShare::comms() const
{
    return comms_.get();
}

// The window is woken once for every batch: a call that finds the queue
// empty asks for a delivery, which takes along whatever follows it in time.
void UploadShare::post(std::function<void(MainWindow*)> call)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (window_ == nullptr)
        return;
    pending_.push_back(std::move(call));
    if (pending_.size() == 1)
        QMetaObject::invokeMethod(window_, "deliverUploadReports", Qt::QueuedConnection);
}

void UploadShare::deliver()
{
    std::vector<std::function<void(MainWindow*)>> calls;
    MainWindow* window = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.swap(pending_);
        window = window_;
    }
    if (window == nullptr)
        return;
    for (const std::function<void(MainWindow*)>& call : calls)
        call(window);
}

void UploadShare::withdrawWindow()
{
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = nullptr;
    pending_.clear();
}

void UploadShare::setCompleted(bool completed)
{
    completed_ = completed;
}

bool UploadShare::completed() const
{
    return completed_;
}

uint32_t ThrottledUploadProgressCtx::compute_bar(uint32_t current, uint32_t total, int phase)
{
    if (total == 0)
        return 0;
    if (phase == FW_PROGRESS_ERASE)
        return static_cast<uint32_t>(uint64_t(current) * kEraseBarWeight / total);
    return kEraseBarWeight + static_cast<uint32_t>(uint64_t(current) * (kUploadBarMax - kEraseBarWeight) / total);
}

bool ThrottledUploadProgressCtx::should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total)
{
    return should_emit(bar, phase, current, total, Clock::now());
}

bool ThrottledUploadProgressCtx::should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total,
                                             Clock::time_point now)
{
    bool emit_now = false;
    if (phase != last_phase) {
        last_phase = phase;
        emit_now = true;
    } else if (current == total && total != 0) {
        emit_now = true; // the last report of a phase
    } else if (last_posted_bar == 0xFFFFFFFF || bar > last_posted_bar + kProgressEmitBarStep) {
        emit_now = true;
    } else if (now - last_emit >= kProgressEmitInterval) {
        emit_now = true;
    }
    if (emit_now) {
        last_posted_bar = bar;
        last_emit = now;
    }
    return emit_now;
}
