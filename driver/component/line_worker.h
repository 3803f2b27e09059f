// One line and the worker thread that runs it.
//
// The worker calls the line's Step again and again (the line's own waits pace
// it) until it is told to stop; on request it closes the line between two
// steps. The line is destroyed only after its worker has ended, and the line's
// owner (the event relay) is kept alive until the line is gone, so nothing the
// line raises can reach a freed owner.
//
// The worker holds a reference to this object while it runs. stop() ends it
// and joins it; when stop() is called on the worker's own thread (from inside
// an event sink) it cannot join itself, so the loop ends after the current
// step and the object is destroyed on the worker thread when its last
// reference goes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>

#include <thread>

#include "driver/line/secsi.h"

namespace tarvo {

class LineWorker : public std::enable_shared_from_this<LineWorker> {
public:
    // `owner` is what the line raises its events through; it is released
    // only after the line has been destroyed. A stop or a deactivation ends
    // the line's current wait (secsi::wake), so it is seen at once.
    LineWorker(std::unique_ptr<secsi> line, std::shared_ptr<LineOwner> owner);
    ~LineWorker();

    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Gives the line its owner and starts the worker thread, with a stack of
    // stack_bytes(). Throws std::system_error when no thread can be had
    // (nothing has started then).
    void start();
    // The worker's stack: 512 KiB, or TARVO_WORKER_STACK_KIB KiB (64 to
    // 4194304) for hosts whose event sinks need more. Sinks run on it.
    static size_t stack_bytes();

    secsi& line() { return *line_; }
    bool on_worker_thread() const;

    // Closes the line on the worker thread between two steps and returns once
    // it is closed. Called on the worker thread itself, it closes at once.
    void deactivate();
    // Drops a deactivation that the worker has not carried out yet (the line
    // is wanted open again); a caller waiting in deactivate() returns.
    void cancel_deactivation();

    // Ends the worker and joins it (unless called on the worker thread). The
    // worker closes the line as it ends, raising what that brings (every
    // queued message ends with OnSecsWritten(0)), and then detaches the line
    // from its owner: later events are dropped. Idempotent.
    void stop();

    bool finished() const;

private:
    void run();

    std::unique_ptr<secsi> line_;
    std::shared_ptr<LineOwner> owner_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_requested_ = false;
    bool finished_ = false;
    // Deactivation requests are numbered so that every waiter is answered,
    // however requests and cancellations interleave.
    uint64_t deactivation_requested_ = 0;
    uint64_t deactivation_done_ = 0;

    static void* thread_main(void* arg);

    std::mutex join_mutex_;  // one joiner at a time
    pthread_t thread_{};
    bool joinable_ = false;  // set by start(), cleared by the joiner (join_mutex_)
    std::atomic<std::thread::id> worker_id_{};
};

}  // namespace tarvo
