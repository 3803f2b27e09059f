// The communications and control state models, row by row, and what they
// refuse.
#include <gtest/gtest.h>

#include "gem/comm_state.h"
#include "gem/control_state.h"

namespace tarvo::gem {
namespace {

TEST(CommStateModel, Transitions) {
    using S = CommState;
    using I = CommInput;
    using A = CommAction;
    struct Row {
        S from;
        I input;
        S to;
        A action;
    };
    const Row rows[] = {
        {S::disabled, I::enable, S::wait_cra, A::send_cr},
        {S::disabled, I::enable_quietly, S::wait_delay, A::none},
        {S::wait_cra, I::cra_accepted, S::communicating, A::none},
        {S::wait_cra, I::cra_failed, S::wait_delay, A::start_delay},
        {S::wait_delay, I::delay_expired, S::wait_cra, A::send_cr},
        {S::wait_delay, I::message_received, S::wait_cra, A::send_cr},
        {S::wait_cra, I::cr_accepted, S::communicating, A::none},
        {S::wait_delay, I::cr_accepted, S::communicating, A::none},
        {S::communicating, I::link_lost, S::wait_delay, A::start_delay},
        {S::communicating, I::disable, S::disabled, A::none},
        {S::wait_delay, I::disable, S::disabled, A::none},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(comm_state_name(r.from)) + " input " + std::to_string(static_cast<int>(r.input)));
        const auto t = next_comm(r.from, r.input);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->to, r.to);
        EXPECT_EQ(t->action, r.action);
    }
    // What changes nothing: a late S1F14 once communicating, a message
    // while waiting for the answer, enabling twice, anything when disabled.
    const std::pair<S, I> nothing[] = {
        {S::communicating, I::cra_accepted}, {S::wait_cra, I::message_received}, {S::communicating, I::enable},
        {S::disabled, I::cr_accepted},       {S::disabled, I::delay_expired},    {S::communicating, I::cr_accepted},
    };
    for (const auto& [from, input] : nothing) EXPECT_FALSE(next_comm(from, input)) << comm_state_name(from);
}

TEST(ControlStateModel, Transitions) {
    using S = ControlState;
    using I = ControlInput;
    struct Row {
        S from;
        I input;
        bool remote;
        S fallback;
        S to;
    };
    const Row rows[] = {
        {S::equipment_offline, I::operator_online, true, S::equipment_offline, S::attempt_online},
        {S::attempt_online, I::attempt_succeeded, true, S::equipment_offline, S::online_remote},
        {S::attempt_online, I::attempt_succeeded, false, S::equipment_offline, S::online_local},
        {S::attempt_online, I::attempt_failed, true, S::equipment_offline, S::equipment_offline},
        {S::attempt_online, I::attempt_failed, true, S::host_offline, S::host_offline},
        {S::host_offline, I::host_online, false, S::equipment_offline, S::online_local},
        {S::online_remote, I::host_offline, true, S::equipment_offline, S::host_offline},
        {S::online_local, I::operator_offline, false, S::host_offline, S::equipment_offline},
        {S::host_offline, I::operator_offline, true, S::host_offline, S::equipment_offline},
        {S::online_local, I::operator_remote, true, S::equipment_offline, S::online_remote},
        {S::online_remote, I::operator_local, false, S::equipment_offline, S::online_local},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(control_state_name(r.from)) + " input " + std::to_string(static_cast<int>(r.input)));
        const auto target = next_control(r.from, r.input);
        ASSERT_TRUE(target);
        EXPECT_EQ(resolve(*target, r.remote, r.fallback), r.to);
    }
    const std::pair<S, I> nothing[] = {
        {S::equipment_offline, I::host_online}, {S::equipment_offline, I::host_offline},
        {S::online_remote, I::operator_online}, {S::host_offline, I::operator_online},
        {S::online_remote, I::host_online},     {S::equipment_offline, I::attempt_succeeded},
    };
    for (const auto& [from, input] : nothing) EXPECT_FALSE(next_control(from, input)) << control_state_name(from);
    EXPECT_EQ(static_cast<int>(S::online_remote), 5);
}

}  // namespace
}  // namespace tarvo::gem
