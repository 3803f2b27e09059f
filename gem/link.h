// What the equipment needs of a line, and what it tells whoever watches it.
// The real line is the driver behind ITarvo (driver_link.h); tests use a
// recording one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    // A process program stored (with its size) or deleted.
    virtual void program(bool /*stored*/, const std::string& /*ppid*/, size_t /*bytes*/) {}
    virtual void error(const std::string&) {}
};

// What a remote command hook answers: HCACK, and for HCACK 3 a CPACK for
// each parameter it refuses.
struct CommandAnswer {
    uint8_t hcack = 0;
    std::vector<std::pair<std::string, uint8_t>> cpacks;
};

// The program's part: live variable values, news of constants, remote
// commands, terminal texts and process programs.
struct Hooks {
    // The value of a variable now; nullopt keeps the value last set.
    std::function<std::optional<Item>(uint32_t vid)> read_variable;
    // A constant changed, by the host or by the operator.
    std::function<void(uint32_t ecid, const Item& value)> constant_changed;
    // A remote command the equipment knows, with its parameters (names
    // already checked); without a hook every command is done (HCACK 0).
    std::function<CommandAnswer(const std::string& rcmd, const std::vector<std::pair<std::string, Item>>& parameters)>
        remote_command;
    // A text line from the host's terminal (S10F3, each line of S10F5); without
    // a hook the host gets ACKC10 2.
    std::function<void(int tid, const std::string& text)> terminal_text;
    // A process program the host sends (S7F3), before it is stored: false
    // refuses it (ACKC7 1) and nothing is stored.
    std::function<bool(const std::string& ppid, const std::string& body)> program_stored;
    // A process program the host asks for (S7F5): its body, or nullopt to
    // give the stored file (none: <L>).
    std::function<std::optional<std::string>(const std::string& ppid)> program_requested;
};

}  // namespace tarvo::gem
