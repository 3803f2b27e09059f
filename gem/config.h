// What an equipment is: identification, line settings, the control state it
// starts in, the IDs of the built-in items, and the variables, constants and
// collection events it defines. Built in code or read from a TOML file
// (config_reader.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gem/control_state.h"
#include "gem/item.h"

namespace tarvo::gem {

// The driver's line settings; what is not given keeps the driver's default.
struct LineSettings {
    std::optional<std::string> type;  // "hsms" or "secs1"
    std::optional<std::string> mode;  // "active", "passive", "alternating"
    std::optional<std::string> host;
    std::optional<std::string> log_file;
    // port, device_id, t1..t8, retry, baud, master, max_connections,
    // alternate_switches, log_mask, in the order given.
    std::vector<std::pair<std::string, int64_t>> numbers;

    std::optional<int64_t> number(const std::string& key) const {
        for (const auto& [k, v] : numbers)
            if (k == key) return v;
        return std::nullopt;
    }
};

struct BuiltinIds {
    uint32_t clock = 1;
    uint32_t control_state = 2;
    uint32_t previous_control_state = 3;
    uint32_t events_enabled = 4;
    uint32_t alarms_enabled = 5;
    uint32_t alarms_set = 6;
    uint32_t establish_communications_timeout = 10;
    uint32_t time_format = 11;
    uint32_t equipment_offline_event = 101;
    uint32_t host_offline_event = 102;
    uint32_t online_local_event = 103;
    uint32_t online_remote_event = 104;
    uint32_t operator_constant_change_event = 105;
};

struct VariableDef {
    uint32_t id = 0;
    std::string name;
    bool status = true;  // an SV (S1F3, S1F11); false: a DV (reports only)
    Format format = Format::U4;
    std::string units;
    Item value;
};

struct ConstantDef {
    uint32_t id = 0;
    std::string name;
    Format format = Format::U4;
    Item min, max, def;  // min and max: empty items when not numeric
    std::string units;
};

struct EventDef {
    uint32_t id = 0;
    std::string name;
    std::vector<uint32_t> variables;  // what S1F24 lists
};

struct AlarmDef {
    uint32_t id = 0;
    std::string name;
    std::string text;       // ALTX, at most 120 characters
    uint8_t category = 1;   // 1..127, the low 7 bits of ALCD
    uint32_t set_event = 0;
    uint32_t clear_event = 0;
};

struct CommandDef {
    std::string name;                     // RCMD
    std::vector<std::string> parameters;  // the CPNAMEs it takes
    uint8_t hcack = 0;                    // what the simulator answers: 0 done, 4 finishes later
    std::optional<uint32_t> finished_event;
};

struct Config {
    std::string mdln = "TARVO-EQ";
    std::string softrev = "1.0.0";
    std::string state_file;  // empty: nothing is kept across a restart
    bool establish_communications = true;
    std::string program_dir;  // process programs, one file per PPID; empty: none are kept
    uint64_t max_program_bytes = 16 * 1024 * 1024;
    std::string objspec;      // the object S2F49 names
    int device_id = 0;
    LineSettings line;
    ControlState initial = ControlState::online_remote;
    ControlState online_failed = ControlState::equipment_offline;
    BuiltinIds ids;
    std::vector<VariableDef> variables;
    std::vector<ConstantDef> constants;
    std::vector<EventDef> events;
    std::vector<AlarmDef> alarms;
    std::vector<CommandDef> commands;
};

// The format of a variable or constant the program may set (the built-in
// constants included); nullopt for any other ID.
std::optional<Format> settable_format(const Config& c, uint32_t id);

}  // namespace tarvo::gem
