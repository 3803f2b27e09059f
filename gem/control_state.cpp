#include "gem/control_state.h"

namespace tarvo::gem {

namespace {

using S = ControlState;
using I = ControlInput;
using T = ControlTarget;

struct Row {
    S from;
    I input;
    T to;
};

constexpr Row kTable[] = {
    {S::equipment_offline, I::operator_online, T::attempt_online},
    {S::attempt_online, I::attempt_succeeded, T::online_by_switch},
    {S::attempt_online, I::attempt_failed, T::fallback},
    {S::attempt_online, I::operator_offline, T::equipment_offline},
    {S::host_offline, I::host_online, T::online_by_switch},
    {S::host_offline, I::operator_offline, T::equipment_offline},
    {S::online_local, I::host_offline, T::host_offline},
    {S::online_remote, I::host_offline, T::host_offline},
    {S::online_local, I::operator_offline, T::equipment_offline},
    {S::online_remote, I::operator_offline, T::equipment_offline},
    {S::online_local, I::operator_remote, T::online_remote},
    {S::online_remote, I::operator_local, T::online_local},
};

}  // namespace

std::optional<ControlTarget> next_control(ControlState from, ControlInput input) {
    for (const Row& r : kTable)
        if (r.from == from && r.input == input) return r.to;
    return std::nullopt;
}

ControlState resolve(ControlTarget target, bool remote, ControlState fallback) {
    switch (target) {
    case T::equipment_offline: return S::equipment_offline;
    case T::attempt_online: return S::attempt_online;
    case T::host_offline: return S::host_offline;
    case T::online_local: return S::online_local;
    case T::online_remote: return S::online_remote;
    case T::online_by_switch: return remote ? S::online_remote : S::online_local;
    case T::fallback: return fallback;
    }
    return fallback;
}

bool is_online(ControlState s) { return s == S::online_local || s == S::online_remote; }

const char* control_state_name(ControlState s) {
    switch (s) {
    case S::equipment_offline: return "EQUIPMENT_OFFLINE";
    case S::attempt_online: return "ATTEMPT_ONLINE";
    case S::host_offline: return "HOST_OFFLINE";
    case S::online_local: return "ONLINE_LOCAL";
    case S::online_remote: return "ONLINE_REMOTE";
    }
    return "?";
}

}  // namespace tarvo::gem
