// The equipment's message handling on any input: the first byte picks the
// stream and function (and whether the W-bit is set), the rest is the body.
// Whatever comes, the equipment answers at most once, with a reply of the
// same transaction or an S9 message, and never crashes.
#include <cstddef>
#include <cstdint>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gem/equipment_core.h"
#include "gem/item_codec.h"

namespace {

using namespace tarvo::gem;

class CountingLink final : public Link {
public:
    bool send(const Message& m) override {
        if (m.stream == 9) ++s9;
        return true;
    }
    bool reply(const Message& m) override {
        ++replies;
        last_transaction = m.transaction;
        return true;
    }
    bool is_secs1() const override { return secs1; }
    int t3_ms() const override { return 1000; }
    int s9 = 0, replies = 0, last_transaction = -1;
    bool secs1 = false;
};

Config config() {
    Config c;
    c.variables.push_back({1001, "T", true, Format::F4, "C", Item::floats(Format::F4, {1.5})});
    c.variables.push_back({3001, "W", false, Format::A, "", Item::a("w")});
    ConstantDef k;
    k.id = 2001;
    k.name = "M";
    k.format = Format::I2;
    k.min = Item::signeds(Format::I2, {-5});
    k.max = Item::signeds(Format::I2, {500});
    k.def = Item::signeds(Format::I2, {0});
    c.constants.push_back(k);
    c.events.push_back({4001, "E", {3001, 1001, 2001}});
    c.alarms.push_back({5001, "A", "text", 3, 4001, 4001});
    c.commands.push_back({"START", {"LOT"}, 4, 4001});
    // Programs go to a folder of this run's own, removed at exit.
    static char folder[] = "/tmp/fuzz-gem-programs-XXXXXX";
    static const std::string made = mkdtemp(folder) ? folder : "";
    if (!made.empty()) std::atexit([] { std::filesystem::remove_all(made); });
    c.program_dir = made.empty() ? "" : made + "/programs";
    c.max_program_bytes = 4096;
    return c;
}

const int kMessages[][2] = {{1, 1}, {1, 3}, {1, 11}, {1, 13}, {1, 15}, {1, 17}, {1, 21}, {1, 23},
                            {2, 13}, {2, 15}, {2, 29}, {2, 33}, {2, 35}, {2, 37}, {6, 15}, {6, 19},
                            {5, 1}, {2, 41}, {9, 1}, {1, 2}, {6, 12}, {1, 14}, {2, 17}, {2, 31}, {2, 49},
                            {5, 3}, {5, 5}, {5, 7}, {7, 1}, {7, 3}, {7, 5}, {7, 17}, {7, 19}, {10, 3}, {10, 5}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static CountingLink link;
    static Observer observer;
    static EquipmentCore* core = [] {
        auto* c = new EquipmentCore(config(), link, observer, Hooks{});
        const auto now = EquipmentCore::Clock::now();
        c->start(now);
        Message cr = make_message(1, 13, true);
        c->received(cr, encode_item(Item()), now);
        return c;
    }();
    constexpr size_t kCount = sizeof kMessages / sizeof kMessages[0];
    const auto& sf = kMessages[(data[0] & 0x7F) % kCount];
    Message m = make_message(sf[0], sf[1], (data[0] & 0x80) == 0);
    m.transaction = static_cast<int>(size & 0xFFFF);
    const int replies = link.replies, s9 = link.s9;
    core->received(m, std::string(reinterpret_cast<const char*>(data + 1), size - 1), EquipmentCore::Clock::now());
    const int answered = (link.replies - replies);
    if (answered > 1 || (answered == 1 && link.last_transaction != m.transaction)) std::abort();
    if (answered == 1 && !m.w) std::abort();
    if (link.s9 - s9 > 1) std::abort();
    if (core->value_of(6)->size() > 1) std::abort();  // AlarmsSet: one alarm at most
    // Keep it communicating and on line for the next input.
    core->communications(true, nullptr);
    core->received(make_message(1, 13, false), encode_item(Item()), EquipmentCore::Clock::now());
    core->control_online(true, nullptr);
    core->received(make_message(1, 17, false), std::string(), EquipmentCore::Clock::now());
    return 0;
}
