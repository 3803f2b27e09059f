#include "tools/tarvosh/event_log.h"

namespace tarvosh {

namespace {

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

void EventLog::Add(const std::string& name, std::vector<std::int64_t> args, const std::string& text) {
    {
        // Record and print under one lock, so the printed order is the
        // order in which waits find the events.
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Event{name, std::move(args), false});
        console_.line(text);
    }
    arrived_.notify_all();
}

bool EventLog::TakeLocked(const std::string& name, std::optional<std::int64_t> code) {
    for (Event& e : events_) {
        if (e.consumed || !same_name(e.name, name)) continue;
        if (code && (e.args.empty() || e.args[0] != *code)) continue;
        e.consumed = true;
        return true;
    }
    return false;
}

bool EventLog::Wait(const std::string& name, std::optional<std::int64_t> code, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (TakeLocked(name, code)) return true;
        if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout) return TakeLocked(name, code);
    }
}

std::size_t EventLog::size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

}  // namespace tarvosh
