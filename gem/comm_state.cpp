#include "gem/comm_state.h"

namespace tarvo::gem {

namespace {

struct Row {
    CommState from;
    CommInput input;
    CommState to;
    CommAction action;
};

using S = CommState;
using I = CommInput;
using A = CommAction;

constexpr Row kTable[] = {
    {S::disabled, I::enable, S::wait_cra, A::send_cr},
    {S::disabled, I::enable_quietly, S::wait_delay, A::none},
    {S::wait_cra, I::disable, S::disabled, A::none},
    {S::wait_delay, I::disable, S::disabled, A::none},
    {S::communicating, I::disable, S::disabled, A::none},
    {S::wait_cra, I::cra_accepted, S::communicating, A::none},
    {S::wait_cra, I::cra_failed, S::wait_delay, A::start_delay},
    {S::wait_delay, I::delay_expired, S::wait_cra, A::send_cr},
    {S::wait_delay, I::message_received, S::wait_cra, A::send_cr},
    {S::wait_cra, I::cr_accepted, S::communicating, A::none},
    {S::wait_delay, I::cr_accepted, S::communicating, A::none},
    {S::communicating, I::link_lost, S::wait_delay, A::start_delay},
    {S::wait_cra, I::link_lost, S::wait_delay, A::start_delay},
};

}  // namespace

std::optional<CommTransition> next_comm(CommState from, CommInput input) {
    for (const Row& r : kTable)
        if (r.from == from && r.input == input) return CommTransition{r.to, r.action};
    return std::nullopt;
}

const char* comm_state_name(CommState s) {
    switch (s) {
    case S::disabled: return "DISABLED";
    case S::wait_cra: return "WAIT_CRA";
    case S::wait_delay: return "WAIT_DELAY";
    case S::communicating: return "COMMUNICATING";
    }
    return "?";
}

}  // namespace tarvo::gem
