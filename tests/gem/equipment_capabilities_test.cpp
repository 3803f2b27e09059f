// Alarms, remote commands, the clock, terminal services and process
// programs: the host's message in, the equipment's answer out, as items.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>

#include "gem/sml_text.h"
#include "tests/gem/core_rig.h"

namespace tarvo::gem::test {
namespace {

namespace fs = std::filesystem;

Item sml(const std::string& text) {
    std::string why;
    auto item = read_sml(text, &why);
    EXPECT_TRUE(item) << text << ": " << why;
    return item.value_or(Item());
}

Config capable_config() {
    Config c = example_config();
    for (uint32_t e : {4101u, 4102u, 4201u}) c.events.push_back({e, "E" + std::to_string(e), {}});
    c.alarms.push_back({5001, "OverTemp", "Chamber over temperature", 2, 4101, 4102});
    c.alarms.push_back({5002, "DoorOpen", "Door open", 127, 4101, 4102});
    c.commands.push_back({"START", {"LOT", "RECIPE"}, 0, 4201});
    c.commands.push_back({"STOP", {}, 0, std::nullopt});
    c.objspec = "CHAMBER1";
    return c;
}

struct Row {
    int stream, function;
    std::string request;  // "" for none
    std::string reply;
};

void run(CoreRig& rig, const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE("S" + std::to_string(r.stream) + "F" + std::to_string(r.function) + " " + r.request);
        const auto answer = rig.ask(r.stream, r.function, r.request.empty() ? std::nullopt : std::optional(sml(r.request)));
        ASSERT_TRUE(answer);
        ASSERT_TRUE(answer->body);
        EXPECT_EQ(*answer->body, sml(r.reply)) << write_sml(*answer->body);
    }
}

TEST(Alarms, SetClearEnableAndList) {
    CoreRig rig(capable_config());
    rig.communicating();
    ASSERT_TRUE(rig.core->alarm(5001, true, nullptr));
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].stream, 5);
    EXPECT_EQ(*sent[0].body, sml("<L <B 0x82> <U4 5001> <A 'Chamber over temperature'>>"));
    EXPECT_EQ(sent[1].body->items()[1], Item::u4(4101)) << "the set event";
    std::string why;
    EXPECT_FALSE(rig.core->alarm(5001, true, &why)) << "already set";
    EXPECT_FALSE(rig.core->alarm(9, true, &why));
    run(rig, {
        {5, 3, "<L <B 0x00> <U4 5001>>", "<B 0x00>"},  // disable OverTemp
        {5, 3, "<L <B 0x80> <U4 77>>", "<B 0x01>"},    // unknown
        {5, 5, "<U4 5001 9>", "<L <L <B 0x82> <U4 5001> <A 'Chamber over temperature'>> <L>>"},
        {5, 7, "", "<L <L <B 0x7F> <U4 5002> <A 'Door open'>>>"},
        {1, 3, "<L <U4 5> <U4 6>>", "<L <L <U4 5002>> <L <U4 5001>>>"},
    });
    // Disabled: no S5F1, the clear event all the same.
    ASSERT_TRUE(rig.core->alarm(5001, false, nullptr));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].stream, 6);
    EXPECT_EQ(sent[0].body->items()[1], Item::u4(4102));
    // All of them with a zero-length ALID, of any format.
    run(rig, {
        {5, 3, "<L <B 0x80> <A ''>>", "<B 0x00>"},
        {5, 5, "<U1>", "<L <L <B 0x02> <U4 5001> <A 'Chamber over temperature'>> <L <B 0x7F> <U4 5002> <A 'Door open'>>>"},
    });
    EXPECT_FALSE(rig.ask(5, 5, sml("<L>"))) << "ALIDs are a vector, not a list: S9F7";
}

TEST(RemoteControl, CommandsAndTheirAnswers) {
    std::vector<std::string> seen;
    Hooks hooks;
    hooks.remote_command = [&](const std::string& rcmd, const std::vector<std::pair<std::string, Item>>& p) {
        std::string line = rcmd;
        for (const auto& [name, value] : p) line += " " + name + "=" + write_sml(value);
        seen.push_back(line);
        CommandAnswer a;
        if (!p.empty() && p[0].second == Item::a("BAD")) a = {3, {{"LOT", 2}}};
        if (!p.empty() && p[0].second == Item::a("LATER")) a.hcack = 4;
        return a;
    };
    Config c = capable_config();
    c.initial = ControlState::online_remote;
    CoreRig rig(c, false, hooks);
    rig.communicating();
    run(rig, {
        {2, 41, "<L <A 'START'> <L <L <A 'LOT'> <A 'L1'>> <L <A 'RECIPE'> <A 'R'>>>>", "<L <B 0x00> <L>>"},
        {2, 41, "<L <A 'JUMP'> <L>>", "<L <B 0x01> <L>>"},
        {2, 41, "<L <A 'START'> <L <L <A 'SPEED'> <U4 1>> <L <A 'LOT'> <L>>>>",
         "<L <B 0x03> <L <L <A 'SPEED'> <B 0x01>> <L <A 'LOT'> <B 0x03>>>>"},
        {2, 41, "<L <A 'START'> <L <L <A 'LOT'> <A 'BAD'>>>>", "<L <B 0x03> <L <L <A 'LOT'> <B 0x02>>>>"},
        {2, 49, "<L <U4 1> <A 'CHAMBER1'> <A 'STOP'> <L>>", "<L <B 0x00> <L>>"},
        {2, 49, "<L <U4 1> <A 'CHAMBER2'> <A 'STOP'> <L>>", "<L <B 0x06> <L>>"},
        {2, 41, "<L <A 'START'> <L <L <A 'LOT'> <A 'LATER'>>>>", "<L <B 0x04> <L>>"},
    });
    EXPECT_EQ(seen.front(), "START LOT=<A 'L1'> RECIPE=<A 'R'>");
    EXPECT_EQ(seen.size(), 4u) << "refused commands never reach the hook";
    rig.take_sent();
    std::string why;
    EXPECT_FALSE(rig.core->finish("STOP", &why)) << "STOP did not answer 4";
    ASSERT_TRUE(rig.core->finish("START", &why)) << why;
    const auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body->items()[1], Item::u4(4201));
    EXPECT_FALSE(rig.core->finish("START", &why)) << "finished once";
    ASSERT_TRUE(rig.core->control_remote(false, nullptr));
    run(rig, {{2, 41, "<L <A 'STOP'> <L>>", "<L <B 0x02> <L>>"}});  // ON-LINE LOCAL
}

TEST(Clock, ThreeFormatsAndAnOffsetOfItsOwn) {
    CoreRig rig(capable_config());
    rig.communicating();
    struct Format {
        int time_format;
        const char* shape;
    };
    const Format formats[] = {
        {0, "^[0-9]{12}$"},
        {1, "^[0-9]{16}$"},
        {2, "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}(Z|[+-][0-9]{2}:[0-9]{2})$"},
    };
    for (const Format& f : formats) {
        ASSERT_TRUE(rig.core->set(11, Item::u1(f.time_format), nullptr));
        const auto r = rig.ask(2, 17, std::nullopt);
        ASSERT_TRUE(r && r->body);
        EXPECT_TRUE(std::regex_match(r->body->bytes(), std::regex(f.shape))) << r->body->bytes();
    }
    const std::pair<const char*, int> sets[] = {
        {"2031-02-03T04:05:06.5Z", 0}, {"3102030405", 1},         {"310230040506", 1},
        {"2031-13-01T00:00:00Z", 1},   {"2031-02-03T04:05:06", 1}, {"2028022912000000", 0},
        {"2031022912000000", 1},       {"31020304050x", 1},
    };
    for (const auto& [text, tiack] : sets) {
        const auto r = rig.ask(2, 31, Item::a(text));
        ASSERT_TRUE(r && r->body) << text;
        EXPECT_EQ(*r->body, Item::b(static_cast<uint8_t>(tiack))) << text;
    }
    // The last accepted setting holds: 29 February 2028, noon, local time.
    ASSERT_TRUE(rig.core->set(11, Item::u1(1), nullptr));
    const auto r = rig.ask(1, 3, sml("<L <U4 1>>"));
    EXPECT_EQ(r->body->items()[0].bytes().substr(0, 10), "2028022912");
}

TEST(Terminal, TextsBothWays) {
    std::vector<std::string> lines;
    Hooks hooks;
    hooks.terminal_text = [&](int tid, const std::string& text) { lines.push_back(std::to_string(tid) + " " + text); };
    CoreRig rig(capable_config(), false, hooks);
    rig.communicating();
    run(rig, {
        {10, 3, "<L <B 0x01> <A 'Hello'>>", "<B 0x00>"},
        {10, 5, "<L <B 0x02> <L <A 'one'> <A 'two'>>>", "<B 0x00>"},
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"1 Hello", "2 one", "2 two"}));
    ASSERT_TRUE(rig.core->terminal("Don't", nullptr));
    const auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(*sent[0].body, sml("<L <B 0x00> <A 'Don' 0x27 't'>>"));

    CoreRig deaf(capable_config());
    deaf.communicating();
    run(deaf, {{10, 3, "<L <B 0x01> <A 'Hello'>>", "<B 0x02>"}});  // nobody listens
}

TEST(ProcessPrograms, StoredListedReadAndDeletedInsideTheirFolder) {
    char name[] = "/tmp/tarvo-gem-programs-XXXXXX";
    const std::string root = mkdtemp(name);
    Config c = capable_config();
    c.program_dir = root + "/programs";
    c.max_program_bytes = 64;
    std::vector<std::string> stored;
    Hooks hooks;
    hooks.program_stored = [&](const std::string& ppid, const std::string& body) {
        stored.push_back(ppid + ":" + body);
        return ppid != "REFUSED";
    };
    hooks.program_requested = [](const std::string& ppid) -> std::optional<std::string> {
        if (ppid == "LIVE") return std::string("from the program");
        return std::nullopt;
    };
    CoreRig rig(c, false, hooks);
    rig.communicating();
    const std::string long_ppid(81, 'p');
    run(rig, {
        {7, 1, "<L <A 'RECIPE-1'> <U4 10>>", "<B 0x00>"},
        {7, 1, "<L <A 'RECIPE-1'> <U4 65>>", "<B 0x02>"},
        {7, 1, "<L <A '../x'> <U4 1>>", "<B 0x03>"},
        {7, 3, "<L <A 'RECIPE-1'> <B 0x01 0x02 0x00>>", "<B 0x00>"},
        {7, 3, "<L <A 'B'> <A 'text'>>", "<B 0x00>"},
        {7, 3, "<L <A 'big'> " + write_sml(Item::binary(std::string(64, 'b'))) + ">", "<B 0x00>"},
        {7, 3, "<L <A 'bigger'> " + write_sml(Item::binary(std::string(65, 'b'))) + ">", "<B 0x02>"},
        {7, 19, "", "<L <A 'B'> <A 'RECIPE-1'> <A 'big'>>"},
        {7, 5, "<A 'RECIPE-1'>", "<L <A 'RECIPE-1'> <B 0x01 0x02 0x00>>"},
        {7, 5, "<A 'none'>", "<L>"},
        {7, 5, "<A 'LIVE'>", "<L <A 'LIVE'> <B" + write_sml(Item::binary("from the program")).substr(2) + ">"},
        {7, 3, "<L <A 'REFUSED'> <B 0x01>>", "<B 0x01>"},
        {7, 17, "<L <A 'B'> <A 'none'>>", "<B 0x04>"},  // one not found: nothing deleted
        {7, 17, "<L <A 'B'>>", "<B 0x00>"},
        {7, 19, "", "<L <A 'RECIPE-1'> <A 'big'>>"},
        {7, 17, "<L>", "<B 0x00>"},
        {7, 19, "", "<L>"},
    });
    EXPECT_EQ(stored.front(), std::string("RECIPE-1:\x01\x02\x00", 12));
    // PPIDs that could name a file outside the folder, or none at all.
    for (const std::string& bad : {std::string("'../escape'"), std::string("'.hidden'"), std::string("'a/b'"),
                                   std::string("''"), "'" + long_ppid + "'", std::string("'nul' 0x00 'x'")}) {
        run(rig, {{7, 3, "<L <A " + bad + "> <B 0x01>>", "<B 0x01>"},
                  {7, 17, "<L <A " + bad + ">>", "<B 0x01>"},
                  {7, 5, "<A " + bad + ">", "<L>"}});
    }
    EXPECT_FALSE(fs::exists(root + "/escape"));
    EXPECT_FALSE(fs::exists(root + "/programs/bigger"));
    fs::remove_all(root);
}

TEST(StateFile, AlarmEnablesSurviveARestart) {
    char name[] = "/tmp/tarvo-gem-alarms-XXXXXX";
    const std::string root = mkdtemp(name);
    Config c = capable_config();
    c.state_file = root + "/eq.state";
    {
        CoreRig rig(c);
        rig.communicating();
        run(rig, {{5, 3, "<L <B 0x00> <U4 5002>>", "<B 0x00>"}});
    }
    CoreRig again(c);
    again.communicating();
    run(again, {{5, 7, "", "<L <L <B 0x02> <U4 5001> <A 'Chamber over temperature'>>>"}});
    fs::remove_all(root);
}

}  // namespace
}  // namespace tarvo::gem::test
