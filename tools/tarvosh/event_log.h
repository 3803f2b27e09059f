// The record of the events that reached the host's sink, for the script's
// wait statements: each event is printed as it arrives ("event NAME ARG...")
// and kept until a wait consumes it. Events arrive on the driver's threads;
// waits run on the script's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/tarvosh/console.h"

namespace tarvosh {

class EventLog {
public:
    explicit EventLog(Console& console) : console_(console) {}

    // Records an event and prints it. `args` are integer arguments (the first
    // one is what a wait's CODE matches); `text` is the printed line.
    void Add(const std::string& name, std::vector<std::int64_t> args, const std::string& text);

    // Waits up to `timeout` for the first event called `name` (ignoring case)
    // that no earlier wait consumed and, when `code` is given, whose first
    // argument equals it; consumes it. True when one came in time.
    bool Wait(const std::string& name, std::optional<std::int64_t> code, std::chrono::milliseconds timeout);

    std::size_t size();

private:
    struct Event {
        std::string name;
        std::vector<std::int64_t> args;
        bool consumed = false;
    };
    bool TakeLocked(const std::string& name, std::optional<std::int64_t> code);

    Console& console_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Event> events_;
};

}  // namespace tarvosh
