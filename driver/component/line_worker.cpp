#include "driver/component/line_worker.h"

#include <utility>

#include "platform/com/module.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {

LineWorker::LineWorker(std::unique_ptr<secsi> line, std::shared_ptr<LineOwner> owner, Wake wake)
    : line_(std::move(line)), owner_(std::move(owner)), wake_(wake) {
    ModuleAddRef();
}

LineWorker::~LineWorker() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // the last reference went on the worker itself, after its loop
        } else {
            thread_.join();
        }
    }
    // The line closes its sockets and cancels its timers as it is destroyed;
    // its owner stays alive until then, so a timer that fires meanwhile still
    // finds it.
    line_->SetCQuill1(nullptr);
    line_.reset();
    owner_.reset();
    ModuleRelease();
}

void LineWorker::start() {
    line_->SetCQuill1(owner_.get());
    thread_ = std::thread([self = shared_from_this()]() mutable {
        self->run();
        self.reset();  // may destroy this object, on this thread
    });
}

bool LineWorker::on_worker_thread() const {
    return worker_id_.load() == std::this_thread::get_id();
}

bool LineWorker::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void LineWorker::run() {
    worker_id_.store(std::this_thread::get_id());
    for (;;) {
        uint64_t deactivate_to = 0;
        {
            std::lock_guard lock(mutex_);
            if (deactivation_done_ < deactivation_requested_) deactivate_to = deactivation_requested_;
        }
        if (deactivate_to != 0) {
            line_->port_disconnect();
            std::lock_guard lock(mutex_);
            if (deactivation_done_ < deactivate_to) deactivation_done_ = deactivate_to;
            changed_.notify_all();
        }
        {
            std::lock_guard lock(mutex_);
            if (stop_requested_) break;
        }
        line_->Step();
    }
    // The line closes while its owner still hears it: every message still
    // queued ends with its OnSecsWritten(0). Later events are dropped.
    line_->port_disconnect();
    line_->SetCQuill1(nullptr);
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void LineWorker::deactivate() {
    std::unique_lock lock(mutex_);
    if (on_worker_thread() || finished_) {
        // Nobody else will close it: do it here, without holding our lock.
        lock.unlock();
        line_->port_disconnect();
        return;
    }
    const uint64_t ticket = ++deactivation_requested_;
    lock.unlock();
    if (wake_) wake_(*line_);
    // Inside a timer callback the worker may itself be waiting for that
    // callback to end: ask, but do not wait.
    if (timers::on_timer_thread()) return;
    lock.lock();
    // The line's own waits are bounded, so the worker comes round within one
    // cycle unless a sink holds it up; wait for as long as that takes.
    changed_.wait(lock, [&] { return deactivation_done_ >= ticket || finished_; });
}

void LineWorker::cancel_deactivation() {
    std::lock_guard lock(mutex_);
    deactivation_done_ = deactivation_requested_;
    changed_.notify_all();
}

void LineWorker::stop() {
    // Waits for a peer (an opening, room to send) give up from now on.
    line_->stopping.store(true);
    {
        std::lock_guard lock(mutex_);
        stop_requested_ = true;
        changed_.notify_all();
    }
    if (on_worker_thread()) return;  // the loop ends when the current step returns
    if (wake_) wake_(*line_);
    std::lock_guard join_lock(join_mutex_);
    if (thread_.joinable()) thread_.join();
}

}  // namespace tarvo
