// Driver calls that may wait (opening or closing a line, replacing a driver
// object, taking a large received message) run on threads of their own, so
// the window never freezes. Each call's ending comes back to the window's
// thread as a queued call.
//
// A call's work is destroyed on its own thread before its ending is queued:
// whatever the work holds (a driver object it keeps alive) is let go there,
// never by a queued call that is dropped with the window.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace tarvo::client {

class BackgroundCalls {
public:
    // Endings run on `context`'s thread, which must call wait() (or destroy
    // this object) before it goes; endings still queued then are dropped.
    explicit BackgroundCalls(QObject* context);
    ~BackgroundCalls();  // waits for every call's work
    BackgroundCalls(const BackgroundCalls&) = delete;
    BackgroundCalls& operator=(const BackgroundCalls&) = delete;

    // Runs `work` on a thread of its own, then `ending` on the context's
    // thread. Call on the context's thread.
    void run(std::function<void()> work, std::function<void()> ending = {});
    // Calls whose ending has not run yet.
    int running() const { return running_; }
    // Blocks until every call's work has returned (their endings may still
    // be queued).
    void wait();

private:
    struct Thread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    void join_finished();

    QObject* context_;
    int running_ = 0;
    std::list<Thread> threads_;
};

}  // namespace tarvo::client
