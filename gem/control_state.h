// The control state model of SEMI E30 as a transition table.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvo::gem {

// Numbered as the ControlState variable reports them.
enum class ControlState : uint8_t {
    equipment_offline = 1, attempt_online = 2, host_offline = 3, online_local = 4, online_remote = 5,
};

enum class ControlInput {
    operator_online,    // the operator's switch to on line
    operator_offline,   // the operator's switch to off line
    attempt_succeeded,  // S1F2 answered ATTEMPT ON-LINE's S1F1
    attempt_failed,     // S1F0 or no reply within T3
    host_offline,       // S1F15 accepted
    host_online,        // S1F17 accepted
    operator_local,     // the local/remote switch to local
    operator_remote,    // ... to remote
};

// Where an input leads: a state, the on-line state the local/remote switch
// selects, or the configured fallback of a failed attempt.
enum class ControlTarget : uint8_t {
    equipment_offline, attempt_online, host_offline, online_local, online_remote, online_by_switch, fallback,
};

std::optional<ControlTarget> next_control(ControlState from, ControlInput input);

// Resolves a target; `remote` is the local/remote switch, `fallback` the
// state a failed attempt goes to.
ControlState resolve(ControlTarget target, bool remote, ControlState fallback);

bool is_online(ControlState s);
const char* control_state_name(ControlState s);  // "EQUIPMENT_OFFLINE", ...

}  // namespace tarvo::gem
