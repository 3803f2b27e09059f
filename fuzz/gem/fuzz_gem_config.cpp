// The configuration reader on any text. What it accepts must run: an
// equipment core built from it starts, answers the host's requests for all
// of its variables, constants and events, and raises every event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gem/config_reader.h"
#include "gem/equipment_core.h"
#include "gem/item_codec.h"

namespace {

using namespace tarvo::gem;

class NullLink final : public Link {
public:
    bool send(const Message&) override { return true; }
    bool reply(const Message&) override { return true; }
    bool is_secs1() const override { return false; }
    int t3_ms() const override { return 1000; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ConfigResult r = read_config_text(std::string(reinterpret_cast<const char*>(data), size), "f.toml");
    if (!r.ok()) {
        for (const std::string& e : r.errors)
            if (e.rfind("f.toml:", 0) != 0) std::abort();  // every error names the file and a line
        return 0;
    }
    r.config.state_file.clear();
    NullLink link;
    Observer observer;
    EquipmentCore core(r.config, link, observer, Hooks{});
    const auto now = EquipmentCore::Clock::now();
    core.start(now);
    Message cr = make_message(1, 13, true);
    cr.device = r.config.device_id;
    core.received(cr, encode_item(Item()), now);
    for (int f : {3, 11, 21, 23}) {
        Message m = make_message(1, f, true);
        m.device = r.config.device_id;
        core.received(m, encode_item(Item()), now);
    }
    for (int f : {13, 29}) {
        Message m = make_message(2, f, true);
        m.device = r.config.device_id;
        core.received(m, encode_item(Item()), now);
    }
    for (const EventDef& e : r.config.events) core.trigger(e.id, nullptr);
    return 0;
}
