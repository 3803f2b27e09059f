// A GEM equipment: the configuration, the driver's line and the program's
// hooks, run on one thread of the equipment's own. Messages, timers, hooks
// and the observer's calls all happen there, never on the driver's threads,
// so a slow hook delays GEM handling and never the line's own timers.
//
// The calls below may come from any thread (a hook included); each waits
// until the equipment has done it.
#pragma once

#include <memory>
#include <string>

#include "gem/comm_state.h"
#include "gem/config.h"
#include "gem/control_state.h"
#include "gem/item.h"
#include "gem/link.h"

namespace tarvo::gem {

class Equipment {
public:
    Equipment(Config config, Hooks hooks, Observer& observer);
    ~Equipment();  // stop()
    Equipment(const Equipment&) = delete;
    Equipment& operator=(const Equipment&) = delete;

    // Creates the driver, sets up and opens the line, starts the equipment.
    // False with a reason when the driver cannot be created; a line that
    // does not open at once is reported to the observer and kept trying.
    bool start(std::string* error);
    // Closes the line and ends the thread (idempotent).
    void stop();

    bool trigger(uint32_t ceid, std::string* error = nullptr);
    bool set(uint32_t id, const Item& value, std::string* error = nullptr);
    bool control_online(bool online, std::string* error = nullptr);
    bool control_remote(bool remote, std::string* error = nullptr);
    bool communications(bool enable, std::string* error = nullptr);
    bool alarm_set(uint32_t alid, std::string* error = nullptr);
    bool alarm_clear(uint32_t alid, std::string* error = nullptr);
    bool terminal(const std::string& text, std::string* error = nullptr);
    bool finish(const std::string& rcmd, std::string* error = nullptr);

    CommState comm_state();
    ControlState control_state();

private:
    struct Running;
    std::unique_ptr<Running> running_;
    Config config_;
    Hooks hooks_;
    Observer& observer_;
};

}  // namespace tarvo::gem
