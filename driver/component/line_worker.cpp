#include "driver/component/line_worker.h"

#include <limits.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/com/module.h"
#include "platform/sanitizers.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {

namespace {

// Instrumented code needs far more stack.
constexpr size_t kDefaultStackKib = kUnderSanitizer ? 4096 : 512;
constexpr size_t kLeastStackKib = 64;

struct StartArgs {
    std::shared_ptr<LineWorker> worker;
};

}  // namespace

size_t LineWorker::stack_bytes() {
    static const size_t bytes = [] {
        size_t kib = kDefaultStackKib;
        if (const char* text = std::getenv("TARVO_WORKER_STACK_KIB")) {
            char* end = nullptr;
            const unsigned long long value = std::strtoull(text, &end, 10);
            if (end != text && *end == '\0' && value >= kLeastStackKib && value <= (1ull << 22)) {
                kib = static_cast<size_t>(value);
            }
        }
        return std::max<size_t>(kib * 1024, PTHREAD_STACK_MIN);
    }();
    return bytes;
}

void* LineWorker::thread_main(void* arg) {
    std::shared_ptr<LineWorker> self = std::move(static_cast<StartArgs*>(arg)->worker);
    delete static_cast<StartArgs*>(arg);
    self->run();
    self.reset();  // may destroy the worker, on this thread
    return nullptr;
}

LineWorker::LineWorker(std::unique_ptr<secsi> line, std::shared_ptr<LineOwner> owner)
    : line_(std::move(line)), owner_(std::move(owner)) {
    ModuleAddRef();
}

LineWorker::~LineWorker() {
    if (joinable_) {
        if (pthread_equal(thread_, pthread_self())) {
            pthread_detach(thread_);  // the last reference went on the worker itself, after its loop
        } else {
            pthread_join(thread_, nullptr);
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
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc == 0) {
        rc = pthread_attr_setstacksize(&attr, stack_bytes());
        auto* args = new StartArgs{shared_from_this()};
        if (rc == 0) rc = pthread_create(&thread_, &attr, &LineWorker::thread_main, args);
        if (rc != 0) delete args;
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) {
        line_->SetCQuill1(nullptr);
        throw std::system_error(rc, std::generic_category(), "the line's worker thread could not be started");
    }
    joinable_ = true;
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
    line_->wake();
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
    line_->wake();
    std::lock_guard join_lock(join_mutex_);
    if (joinable_) {
        pthread_join(thread_, nullptr);
        joinable_ = false;
    }
}

}  // namespace tarvo
