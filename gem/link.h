// What the equipment needs of a line, and what it tells whoever watches it.
// The real line is the driver behind ITarvo (driver_link.h); tests use a
// recording one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "gem/comm_state.h"
#include "gem/control_state.h"
#include "gem/message.h"

namespace tarvo::gem {

class Link {
public:
    virtual ~Link() = default;
    // Sends a primary with the system bytes of `m` (its source and
    // transaction IDs); false when the line refused it.
    virtual bool send(const Message& m) = 0;
    // Replies to the message taken last.
    virtual bool reply(const Message& m) = 0;
    virtual bool is_secs1() const = 0;
    virtual int t3_ms() const = 0;
};

// What the equipment reports as it works; every call comes from the
// equipment's own thread.
class Observer {
public:
    virtual ~Observer() = default;
    virtual void comm_state(CommState) {}
    virtual void control_state(ControlState) {}
    virtual void message(bool /*sent*/, const Message&) {}
    virtual void constant(uint32_t /*ecid*/, const Item&) {}
    virtual void error(const std::string&) {}
};

// The program's part: live variable values and news of constants.
struct Hooks {
    // The value of a variable now; nullopt keeps the value last set.
    std::function<std::optional<Item>(uint32_t vid)> read_variable;
    // A constant changed, by the host or by the operator.
    std::function<void(uint32_t ecid, const Item& value)> constant_changed;
};

}  // namespace tarvo::gem
