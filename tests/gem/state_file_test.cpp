// What survives a restart, and what a crash in the middle of a save leaves.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "gem/sml_text.h"
#include "gem/state_file.h"
#include "tests/gem/core_rig.h"

namespace tarvo::gem::test {
namespace {

namespace fs = std::filesystem;

class StateFolder {
public:
    StateFolder() {
        char name[] = "/tmp/tarvo-gem-state-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~StateFolder() { fs::remove_all(path_); }
    std::string file(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Item sml(const char* text) {
    std::string why;
    return read_sml(text, &why).value_or(Item());
}

uint8_t ack(CoreRig& rig, int s, int f, const char* body) {
    const auto r = rig.ask(s, f, sml(body));
    return r && r->body && r->body->size() == 1 ? static_cast<uint8_t>(r->body->bytes()[0]) : 255;
}

TEST(StateFile, DefinitionsLinksEnablesAndConstantsSurviveARestart) {
    StateFolder folder;
    Config c = example_config();
    c.state_file = folder.file("eq.state");
    {
        CoreRig rig(c);
        rig.communicating();
        ASSERT_EQ(ack(rig, 2, 33, "<L <U4 1> <L <L <U2 7> <L <U4 3001> <U4 1001>>> <L <U4 8> <L <U4 2001>>>>>"), 0);
        ASSERT_EQ(ack(rig, 2, 35, "<L <U4 1> <L <L <U4 4001> <L <U4 8> <U4 7>>>>>"), 0);
        ASSERT_EQ(ack(rig, 2, 37, "<L <Boolean F> <L <U4 103>>>"), 0);
        ASSERT_EQ(ack(rig, 2, 15, "<L <L <U4 2001> <U4 480>> <L <U4 11> <U1 2>>>"), 0);
    }
    CoreRig again(c);
    again.communicating();
    EXPECT_TRUE(again.observer.errors.empty());
    EXPECT_EQ(again.core->value_of(2001), Item::u4(480));
    EXPECT_EQ(again.core->value_of(11), Item::u1(2));
    EXPECT_FALSE(again.core->reports().enabled(103));
    ASSERT_TRUE(again.core->trigger(4001, nullptr));
    const auto sent = again.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body->items()[2],
              sml("<L <L <U4 8> <L <U4 480>>> <L <U2 7> <L <A ''> <F4 21.5>>>>"));
}

TEST(StateFile, ACrashAtAnyByteLeavesTheOldStateOrTheNew) {
    StateFolder folder;
    const std::string path = folder.file("eq.state");
    SavedState before, after;
    before.constants[2001] = Item::u4(1);
    after.constants[2001] = Item::u4(2);
    after.reports[7] = ReportDefinition{Item::u4(7), {1001}};
    after.links[4001] = {7};
    after.disabled = {4001};
    std::string why;
    ASSERT_TRUE(write_atomically(path, state_text(before), &why)) << why;
    const std::string next = state_text(after);
    for (size_t stop = 0; stop < next.size(); ++stop) {
        EXPECT_FALSE(write_atomically(path, next, &why, stop));
        SavedState loaded;
        ASSERT_EQ(load_state_file(path, loaded, &why), LoadOutcome::loaded) << stop << ": " << why;
        ASSERT_EQ(loaded.constants.at(2001), Item::u4(1)) << "crash after byte " << stop;
    }
    ASSERT_TRUE(write_atomically(path, next, &why));
    SavedState loaded;
    ASSERT_EQ(load_state_file(path, loaded, &why), LoadOutcome::loaded);
    EXPECT_EQ(loaded.constants.at(2001), Item::u4(2));
    EXPECT_EQ(loaded.links.at(4001), std::vector<uint64_t>{7});
    EXPECT_EQ(loaded.disabled, std::set<uint32_t>{4001});
    EXPECT_EQ(state_text(loaded), next);
    // The text itself, cut anywhere, is never taken for a whole state.
    for (size_t cut = 0; cut + 1 < next.size(); ++cut) {
        SavedState partial;
        EXPECT_FALSE(parse_state_text(next.substr(0, cut), partial, &why)) << cut;
    }
}

TEST(StateFile, ADamagedFileIsReportedAndSetAside) {
    StateFolder folder;
    Config c = example_config();
    c.state_file = folder.file("eq.state");
    {
        std::ofstream out(c.state_file);
        out << "tarvo-gem state 1\nreport U4 seven 1001\nend\n";
    }
    CoreRig rig(c);
    rig.communicating();
    ASSERT_EQ(rig.observer.errors.size(), 1u);
    EXPECT_NE(rig.observer.errors[0].find("damaged (line 2: bad number 'seven'"), std::string::npos)
        << rig.observer.errors[0];
    EXPECT_EQ(read_all(c.state_file + ".damaged"), "tarvo-gem state 1\nreport U4 seven 1001\nend\n");
    // The next save starts a new file; the damaged one stays beside it.
    ASSERT_EQ(ack(rig, 2, 37, "<L <Boolean F> <L <U4 4001>>>"), 0);
    EXPECT_NE(read_all(c.state_file).find("disabled 4001"), std::string::npos);
    EXPECT_TRUE(fs::exists(c.state_file + ".damaged"));
}

}  // namespace
}  // namespace tarvo::gem::test
