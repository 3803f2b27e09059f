// The configuration file: what a full file gives, and each error as the one
// line it is reported in.
#include <gtest/gtest.h>

#include "gem/config_reader.h"

namespace tarvo::gem {
namespace {

const char kFull[] = R"([equipment]
mdln = "TARVO-EQ"
softrev = "1.0.0"
state_file = "eq.state"
establish_communications = false
program_dir = "recipes"
max_program_bytes = 1000
objspec = "CH1"

[line]
type = "secs1"
mode = "active"
host = "127.0.0.2"
port = 5000
device_id = 7
t3 = 4500
log_file = "/var/log/eq.log"

[control]
initial = "host_offline"
online_failed = "host_offline"

[ids]
clock = 21
events_enabled = 24
online_remote_event = 114

[[variable]]
id = 1001
name = "ChamberTemp"
kind = "sv"
format = "F4"
units = "degC"
value = 21.5

[[variable]]
id = 3001
name = "WaferId"
kind = "dv"
format = "A"
value = "W-1"

[[variable]]
id = 3002
name = "Flags"
kind = "dv"
format = "B"
value = [1, 255]

[[variable]]
id = 3003
name = "Pair"
format = "L"
value = "<L <U1 1> <Boolean T>>"

[[constant]]
id = 2001
name = "MaxTemp"
format = "U4"
min = 0
max = 500
default = 250
units = "degC"

[[event]]
id = 4001
name = "WaferDone"
variables = [3001, 1001, 2001, 21]

[[event]]
id = 4101
name = "OverTempSet"

[[alarm]]
id = 5001
name = "OverTemp"
text = "Chamber over temperature"
category = 2
set_event = 4101
clear_event = 4001

[[command]]
name = "START"
parameters = ["LOT", "RECIPE"]
hcack = 4
finished_event = 4101
)";

TEST(ConfigReader, AFullFile) {
    const ConfigResult r = read_config_text(kFull, "/etc/tarvo/eq.toml");
    ASSERT_TRUE(r.ok()) << r.errors[0];
    const Config& c = r.config;
    EXPECT_EQ(c.mdln, "TARVO-EQ");
    EXPECT_EQ(c.softrev, "1.0.0");
    EXPECT_EQ(c.state_file, "/etc/tarvo/eq.state");
    EXPECT_FALSE(c.establish_communications);
    EXPECT_EQ(c.line.type, "secs1");
    EXPECT_EQ(c.line.mode, "active");
    EXPECT_EQ(c.line.host, "127.0.0.2");
    EXPECT_EQ(c.line.log_file, "/var/log/eq.log");
    EXPECT_EQ(c.line.number("port"), 5000);
    EXPECT_EQ(c.line.number("t3"), 4500);
    EXPECT_FALSE(c.line.number("t4"));
    EXPECT_EQ(c.device_id, 7);
    EXPECT_EQ(c.initial, ControlState::host_offline);
    EXPECT_EQ(c.online_failed, ControlState::host_offline);
    EXPECT_EQ(c.ids.clock, 21u);
    EXPECT_EQ(c.ids.control_state, 2u);
    EXPECT_EQ(c.ids.events_enabled, 24u);
    EXPECT_EQ(c.ids.online_remote_event, 114u);
    EXPECT_EQ(c.ids.online_local_event, 103u);
    ASSERT_EQ(c.variables.size(), 4u);
    EXPECT_EQ(c.variables[0].value, Item::floats(Format::F4, {21.5}));
    EXPECT_EQ(c.variables[0].units, "degC");
    EXPECT_TRUE(c.variables[0].status);
    EXPECT_FALSE(c.variables[1].status);
    EXPECT_EQ(c.variables[1].value, Item::a("W-1"));
    EXPECT_EQ(c.variables[2].value, Item::binary("\x01\xFF"));
    EXPECT_EQ(c.variables[3].value, Item::list({Item::u1(1), Item::boolean(true)}));
    ASSERT_EQ(c.constants.size(), 1u);
    EXPECT_EQ(c.constants[0].min, Item::u4(0));
    EXPECT_EQ(c.constants[0].max, Item::u4(500));
    EXPECT_EQ(c.constants[0].def, Item::u4(250));
    ASSERT_EQ(c.events.size(), 2u);
    EXPECT_EQ(c.events[0].variables, (std::vector<uint32_t>{3001, 1001, 2001, 21}));
    EXPECT_EQ(c.program_dir, "/etc/tarvo/recipes");
    EXPECT_EQ(c.max_program_bytes, 1000u);
    EXPECT_EQ(c.objspec, "CH1");
    ASSERT_EQ(c.alarms.size(), 1u);
    EXPECT_EQ(c.alarms[0].text, "Chamber over temperature");
    EXPECT_EQ(c.alarms[0].category, 2);
    EXPECT_EQ(c.alarms[0].set_event, 4101u);
    EXPECT_EQ(c.alarms[0].clear_event, 4001u);
    ASSERT_EQ(c.commands.size(), 1u);
    EXPECT_EQ(c.commands[0].parameters, (std::vector<std::string>{"LOT", "RECIPE"}));
    EXPECT_EQ(c.commands[0].hcack, 4);
    EXPECT_EQ(c.commands[0].finished_event, 4101u);
    EXPECT_EQ(read_config_text("", "/x/e.toml").config.program_dir, "/x/programs") << "the default folder";
}

// Strings are bytes: what the file holds between the quotes (UTF-8 or not),
// and \u escapes up to U+00FF as one byte each.
TEST(ConfigReader, StringsAreTheBytesOfTheFile) {
    const char text[] = "# K\xF6" "ln \xE2\x82\xAC\n[equipment]\nmdln = \"Sch\xC3\xA4" "fer\\u00E9\"\n"
                        "softrev = 'C:\\x\"\xFF'\n[[variable]]\nid = 7\nname = \"\"\"v\n\xE9\"\"\"\nformat = \"A\"\n"
                        "value = \'\'\'a\\b\xB0\'\'\'\n";
    const ConfigResult r = read_config_text(text, "f.toml");
    ASSERT_TRUE(r.ok()) << r.errors[0];
    EXPECT_EQ(r.config.mdln, "Sch\xC3\xA4" "fer\xE9");
    EXPECT_EQ(r.config.softrev, "C:\\x\"\xFF");
    ASSERT_EQ(r.config.variables.size(), 1u);
    EXPECT_EQ(r.config.variables[0].name, "v\n\xE9");
    EXPECT_EQ(r.config.variables[0].value, Item::a("a\\b\xB0"));
}

TEST(ConfigReader, EachErrorIsOneLine) {
    struct Row {
        const char* text;
        const char* error;
    };
    const Row rows[] = {
        {"[equipment]\nmodel = \"x\"\n", "f.toml:2: equipment.model: unknown key"},
        {"[gem]\n", "f.toml:1: gem: unknown key"},
        {"[equipment]\nmdln = \"123456789012345678901\"\n", "f.toml:2: equipment.mdln: more than 20 characters"},
        {"[line]\nbaud_rate = 9600\n", "f.toml:2: line.baud_rate: unknown key"},
        {"[line]\ntype = \"serial\"\n", "f.toml:2: line.type: 'serial' is not hsms or secs1"},
        {"[control]\nonline_failed = \"online_local\"\n",
         "f.toml:2: control.online_failed: 'online_local' is not equipment_offline or host_offline"},
        {"[ids]\nclock = -1\n", "f.toml:2: ids.clock: value -1 is outside 0..4294967295"},
        {"[[variable]]\nid = 4294967296\nname = \"a\"\nformat = \"U4\"\n",
         "f.toml:2: variable.id: value 4294967296 is outside 0..4294967295"},
        {"[[variable]]\nid = 7\nname = \"a\"\nformat = \"U1\"\nvalue = 256\n",
         "f.toml:5: variable.value: value 256 is outside format U1"},
        {"[[variable]]\nid = 7\nname = \"a\"\nformat = \"U4\"\n[[constant]]\nid = 7\nname = \"b\"\nformat = \"U4\"\ndefault = 1\n",
         "f.toml:6: constant.id: duplicate ID 7"},
        {"[[variable]]\nid = 2\nname = \"a\"\nformat = \"U4\"\n", "f.toml:2: variable.id: duplicate ID 2"},
        {"[[variable]]\nid = 7\nname = \"Clock\"\nformat = \"U4\"\n", "f.toml:3: variable.name: duplicate name 'Clock'"},
        {"[[event]]\nid = 101\nname = \"e\"\n", "f.toml:2: event.id: duplicate ID 101"},
        {"[[event]]\nid = 9\nname = \"e\"\nvariables = [1, 7]\n", "f.toml:4: event.variables: unknown variable 7"},
        {"[[variable]]\nid = 7\nname = \"a\"\nformat = \"U9\"\n", "f.toml:4: variable.format: unknown format 'U9'"},
        {"[[constant]]\nid = 7\nname = \"a\"\nformat = \"U4\"\nmin = 5\nmax = 9\ndefault = 1\n",
         "f.toml:7: constant.default: outside min..max"},
        {"[[variable]]\nid = 7\nname = \"a\"\nformat = \"F4\"\nvalue = \"<U4 1>\"\n",
         "f.toml:5: variable.value: the value is U4, not F4"},
        {"[equipment\n", "f.toml:1: (file): "},
        {"[[alarm]]\nid = 1\nname = \"a\"\nset_event = 101\nclear_event = 4999\n", "f.toml:5: alarm.clear_event: unknown event 4999"},
        {"[[alarm]]\nid = 1\nname = \"a\"\ncategory = 128\nset_event = 101\nclear_event = 101\n",
         "f.toml:4: alarm.category: value 128 is outside 1..127"},
        {"[[command]]\nname = \"GO\"\nhcack = 2\n", "f.toml:3: command.hcack: 0 (done) or 4 (finishes later)"},
        {"[[command]]\nname = \"GO\"\n[[command]]\nname = \"GO\"\n", "f.toml:4: command.name: duplicate name 'GO'"},
        {"[equipment]\n\nm\xC3\xA9 = 1\n", "f.toml:3: (file): a byte above 127 outside a string or a comment"},
        {"[equipment]\nmdln = \"\\u20AC\"\n", "f.toml:2: equipment.mdln: a character above U+00FF"},
        {"[equipment]\nmdln = 0\"\xCC\x99\"\n", "f.toml:2: (file): "},
    };
    for (const Row& r : rows) {
        const ConfigResult c = read_config_text(r.text, "f.toml");
        ASSERT_FALSE(c.ok()) << r.text;
        EXPECT_EQ(c.errors[0].rfind(r.error, 0), 0u) << c.errors[0];
    }
}

}  // namespace
}  // namespace tarvo::gem
