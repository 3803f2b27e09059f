#include "client/background_calls.h"

#include <QMetaObject>
#include <QObject>

namespace tarvo::client {

BackgroundCalls::BackgroundCalls(QObject* context) : context_(context) {}

BackgroundCalls::~BackgroundCalls() { wait(); }

void BackgroundCalls::run(std::function<void()> work, std::function<void()> ending) {
    join_finished();
    ++running_;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto* self = this;
    // The context outlives every thread: its owner waits for them first.
    QObject* context = context_;
    std::thread thread([self, context, finished, work = std::move(work), ending = std::move(ending)]() mutable {
        work();
        work = nullptr;  // what the work held goes here, on this thread
        // The ending runs on the context's thread; it is dropped if the
        // context goes first (and this object with it).
        QMetaObject::invokeMethod(
            context,
            [self, ending = std::move(ending)] {
                --self->running_;
                if (ending) ending();
            },
            Qt::QueuedConnection);
        finished->store(true);
    });
    threads_.push_back({std::move(thread), std::move(finished)});
}

void BackgroundCalls::join_finished() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->finished->load()) {
            it->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

void BackgroundCalls::wait() {
    for (Thread& t : threads_) t.thread.join();
    threads_.clear();
}

}  // namespace tarvo::client
