// The communications state model of SEMI E30 as a transition table.
//
//   DISABLED, and ENABLED made of NOT COMMUNICATING (WAIT CRA, WAIT DELAY)
//   and COMMUNICATING.
#pragma once

#include <optional>

namespace tarvo::gem {

enum class CommState { disabled, wait_cra, wait_delay, communicating };

enum class CommInput {
    enable,            // the operator enables, and the equipment will ask (S1F13)
    enable_quietly,    // enables, and waits for the host to ask
    disable,           // the operator disables
    cra_accepted,      // S1F14 with COMMACK 0 answered our S1F13
    cra_failed,        // our S1F13 got a refusal, SxF0 or no reply in T3
    delay_expired,     // EstablishCommunicationsTimeout passed in WAIT DELAY
    message_received,  // a message other than S1F13/S1F14 in WAIT DELAY
    cr_accepted,       // the host's S1F13, answered with COMMACK 0
    link_lost,         // the connection to the host is gone
};

// What entering the new state asks of the equipment.
enum class CommAction { none, send_cr, start_delay };

struct CommTransition {
    CommState to;
    CommAction action;
};

// The transition for `input` in `from`; nullopt when the input changes nothing.
std::optional<CommTransition> next_comm(CommState from, CommInput input);

const char* comm_state_name(CommState s);  // "DISABLED", "WAIT_CRA", ...

}  // namespace tarvo::gem
