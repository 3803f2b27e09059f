// Dynamic event reports: definitions, links and enables with their codes,
// and the S6F11 an event sends with the values of its moment.
#include <gtest/gtest.h>

#include "gem/sml_text.h"
#include "tests/gem/core_rig.h"

namespace tarvo::gem::test {
namespace {

Item sml(const char* text) {
    std::string why;
    auto item = read_sml(text, &why);
    EXPECT_TRUE(item) << text << ": " << why;
    return item.value_or(Item());
}

uint8_t ack(CoreRig& rig, int function, const char* body) {
    const auto r = rig.ask(2, function, sml(body));
    EXPECT_TRUE(r && r->body && r->body->format() == Format::B && r->body->size() == 1) << body;
    return r && r->body && r->body->size() == 1 ? static_cast<uint8_t>(r->body->bytes()[0]) : 255;
}

TEST(EventReports, DefineLinkAndEnableAnswerTheirCodes) {
    CoreRig rig;
    rig.communicating();
    struct Row {
        int function;
        const char* body;
        int code;
    };
    const Row rows[] = {
        {33, "<L <U4 1> <L <L <U4 7> <L <U4 3001> <U4 1001>>>>>", 0},
        {33, "<L <U4 2> <L <L <U4 7> <L <U4 1001>>>>>", 3},                          // RPTID defined
        {33, "<L <U4 3> <L <L <U4 8> <L <U4 1001>>> <L <U4 9> <L <U4 42>>>>>", 4},   // VID unknown: none defined
        {33, "<L <U4 3> <L <L <A 'R'> <L <U4 1001>>>>>", 2},                        // RPTID not an integer
        {35, "<L <U4 4> <L <L <U4 4001> <L <U4 8>>>>>", 5},                          // 8 was not defined
        {35, "<L <U4 4> <L <L <U4 4999> <L <U4 7>>>>>", 4},                          // CEID unknown
        {35, "<L <U4 4> <L <L <U4 4001> <L <U4 7>>>>>", 0},
        {35, "<L <U4 4> <L <L <U4 4001> <L <U4 7>>>>>", 3},                          // already linked
        {37, "<L <Boolean F> <L <U4 4001> <U4 4999>>>", 1},                          // one unknown: nothing
        {37, "<L <Boolean F> <L>>", 0},                                              // all off
        {37, "<L <Boolean T> <L <U4 4001>>>", 0},
    };
    for (const Row& r : rows) EXPECT_EQ(ack(rig, r.function, r.body), r.code) << r.body;
    EXPECT_EQ(rig.core->value_of(4), sml("<L <U4 4001>>")) << "EventsEnabled";
    EXPECT_FALSE(rig.core->reports().report(8)) << "a refused S2F33 defines nothing";

    // The event, with the values of this moment.
    ASSERT_TRUE(rig.core->set(3001, Item::a("W-17"), nullptr));
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].stream, 6);
    EXPECT_EQ(sent[0].function, 11);
    EXPECT_TRUE(sent[0].w);
    const Item& body = *sent[0].body;
    EXPECT_EQ(body.items()[1], Item::u4(4001));
    EXPECT_EQ(body.items()[2], sml("<L <L <U4 7> <L <A 'W-17'> <F4 21.5>>>>"));
    const auto first_data_id = body.items()[0].as_id();

    // A disabled event sends nothing; an enabled one with no report an empty list.
    EXPECT_EQ(ack(rig, 37, "<L <Boolean F> <L <U4 4001>>>"), 0);
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    EXPECT_TRUE(rig.take_sent().empty());
    EXPECT_EQ(ack(rig, 37, "<L <Boolean T> <L>>"), 0);
    EXPECT_EQ(ack(rig, 35, "<L <U4 5> <L <L <U4 4001> <L>>>>"), 0);  // unlink
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body->items()[2], Item());
    EXPECT_GT(sent[0].body->items()[0].as_id(), first_data_id) << "DATAID increases";

    // A report with no VIDs goes, and its links with it; an empty list takes all.
    EXPECT_EQ(ack(rig, 35, "<L <U4 6> <L <L <U4 4001> <L <U4 7>>>>>"), 0);
    EXPECT_EQ(ack(rig, 33, "<L <U4 7> <L <L <U4 7> <L>>>>"), 0);
    EXPECT_TRUE(rig.core->reports().links().empty());
    EXPECT_EQ(ack(rig, 33, "<L <U4 8> <L <L <U4 7> <L <U4 1001>>>>>"), 0);
    EXPECT_EQ(ack(rig, 33, "<L <U4 9> <L>>"), 0);
    EXPECT_TRUE(rig.core->reports().reports().empty());
}

TEST(EventReports, RequestsForAnEventOrAReport) {
    Hooks hooks;
    float temperature = 30.25f;
    hooks.read_variable = [&](uint32_t vid) -> std::optional<Item> {
        if (vid == 1001) return Item::floats(Format::F4, {temperature});
        return std::nullopt;
    };
    CoreRig rig(example_config(), false, hooks);
    rig.communicating();
    EXPECT_EQ(ack(rig, 33, "<L <U2 1> <L <L <U2 7> <L <U4 1001> <U4 2001>>>>>"), 0);
    EXPECT_EQ(ack(rig, 35, "<L <U2 1> <L <L <U4 4001> <L <U2 7>>>>>"), 0);
    auto r = rig.ask(6, 19, Item::unsigneds(Format::U2, {7}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, sml("<L <F4 30.25> <U4 250>>")) << "the hook's live value";
    r = rig.ask(6, 19, Item::u4(99));
    EXPECT_EQ(r->body, Item());
    r = rig.ask(6, 15, Item::u4(4001));
    ASSERT_TRUE(r && r->body);
    EXPECT_EQ(r->body->items()[2], sml("<L <L <U2 7> <L <F4 30.25> <U4 250>>>>")) << "the RPTID keeps its format";
    EXPECT_EQ(rig.ask(6, 15, Item::u4(1))->body, Item());
}

TEST(EventReports, ALongReportOnSecsIAsksFirst) {
    Config c = example_config();
    CoreRig rig(c, true);
    rig.communicating();
    EXPECT_EQ(ack(rig, 33, "<L <U4 1> <L <L <U4 7> <L <U4 3001>>>>>"), 0);
    EXPECT_EQ(ack(rig, 35, "<L <U4 1> <L <L <U4 4001> <L <U4 7>>>>>"), 0);
    // Short: sent at once.
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    EXPECT_EQ(rig.take_sent().at(0).function, 11);
    // Longer than one block: S6F5 first, S6F11 when granted.
    ASSERT_TRUE(rig.core->set(3001, Item::a(std::string(300, 'w')), nullptr));
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 5);
    const Item inquiry = *sent[0].body;
    rig.answer(sent[0], 6, Item::b(0));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 11);
    EXPECT_EQ(sent[0].body->items()[0], inquiry.items()[0]) << "the same DATAID";
    EXPECT_EQ(encode_item(*sent[0].body).size(), inquiry.items()[1].as_id());
    // Refused: nothing follows.
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    sent = rig.take_sent();
    rig.answer(sent.at(0), 6, Item::b(2));
    EXPECT_TRUE(rig.take_sent().empty());
}

}  // namespace
}  // namespace tarvo::gem::test
