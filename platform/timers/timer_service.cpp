#include "platform/timers/timer_service.h"

#include <new>
#include <system_error>
#include <utility>

namespace tarvo::timers {

namespace {

// Stops the timer thread during static destruction. Constructed right after
// the service, so everything that existed before the first timer still exists
// while the last callbacks run.
struct StopAtExit {
    TimerService* service;
    ~StopAtExit() { service->shutdown(); }
};

}  // namespace

TimerService& TimerService::instance() {
    // Intentionally leaked: lines owned by other static objects, or threads
    // the host never joined, may still call in during exit; they must find a
    // live (stopped) service rather than freed memory.
    static TimerService* const service = new TimerService();
    static const StopAtExit stop_at_exit{service};
    return *service;
}

TimerId TimerService::next_id_locked() {
    // Ids only repeat after 2^32 timers; even then skip 0 and any id still in use.
    do {
        ++last_id_;
    } while (last_id_ == 0 || last_id_ == running_ || pending_.count(last_id_) != 0);
    return last_id_;
}

TimerId TimerService::set(uint32_t delay_ms, TimerCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || pending_.size() >= limit_) return 0;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&TimerService::run, this);
        } catch (const std::system_error&) {
            return 0;  // no thread, no timer
        }
        thread_id_ = thread_.get_id();
    }
    const TimerId id = next_id_locked();
    const Key key{Clock::now() + std::chrono::milliseconds(delay_ms), ++sequence_};
    try {
        auto queued = queue_.emplace(key, id).first;
        try {
            pending_.emplace(id, Pending{key, std::move(callback)});
        } catch (...) {
            queue_.erase(queued);
            throw;
        }
    } catch (const std::bad_alloc&) {
        return 0;  // no memory for one more timer
    }
    // Only a timer due before the thread wakes anyway needs a wake-up: a
    // line that sets and cancels a timer per block then costs the thread one
    // wake-up per period, not two per block.
    if (key.due < sleeps_until_) {
        sleeps_until_ = Clock::time_point::min();
        wake_.notify_one();
    }
    return id;
}

bool TimerService::remove_pending_locked(TimerId id, TimerCallback& dropped) {
    auto it = pending_.find(id);
    if (it == pending_.end()) return false;
    queue_.erase(it->second.key);
    dropped = std::move(it->second.callback);
    pending_.erase(it);
    return true;
}

bool TimerService::kill(TimerId id) {
    TimerCallback dropped;  // destroyed after the lock is released
    std::unique_lock<std::mutex> lock(mutex_);
    if (id == 0) return false;
    if (remove_pending_locked(id, dropped)) return true;
    // Not pending: it fired already or is firing now. Wait until its callback
    // has returned, unless this is the timer thread itself (the callback is
    // killing its own timer, or another timer's callback cannot be running).
    if (std::this_thread::get_id() != thread_id_) {
        finished_.wait(lock, [&] { return running_ != id; });
    }
    return false;
}

bool TimerService::cancel(TimerId id) {
    TimerCallback dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    return id != 0 && remove_pending_locked(id, dropped);
}

size_t TimerService::live() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

size_t TimerService::limit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return limit_;
}

void TimerService::set_limit(size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_ = limit;
}

bool TimerService::on_timer_thread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_id_ != std::thread::id() && std::this_thread::get_id() == thread_id_;
}

void TimerService::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            sleeps_until_ = Clock::time_point::max();
            wake_.wait(lock);
            sleeps_until_ = Clock::time_point::min();
            continue;
        }
        // A copy: the timer may be killed while this thread waits.
        const Clock::time_point due = queue_.begin()->first.due;
        if (due > Clock::now()) {
            sleeps_until_ = due;
            wake_.wait_until(lock, due);
            sleeps_until_ = Clock::time_point::min();
            continue;
        }
        const TimerId id = queue_.begin()->second;
        TimerCallback callback;
        remove_pending_locked(id, callback);
        running_ = id;
        lock.unlock();
        try {
            callback(id);
        } catch (...) {
            // A callback that throws must not end the timer thread for the
            // whole process; its exception has nowhere else to go.
        }
        callback = nullptr;  // what it captured goes before a killer is released
        lock.lock();
        running_ = 0;
        finished_.notify_all();
    }
}

void TimerService::shutdown() {
    std::unordered_map<TimerId, Pending> dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
        queue_.clear();
        dropped.swap(pending_);
        thread = std::move(thread_);
        wake_.notify_all();
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();  // exit() called from a callback: the thread ends after it
    } else {
        thread.join();
    }
}

}  // namespace tarvo::timers
