// The equipment on its own thread over a real driver line, with a driver
// object as the host: hooks and the observer run on one thread that is not
// the driver's, a hook may call back into the equipment, and operator calls
// from other threads meet the messages without a race.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "driver/line/line_type.h"
#include "gem/equipment.h"
#include "gem/item_codec.h"
#include "gem/sml_text.h"
#include "tests/component/driver_env.h"

namespace tarvo::gem {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;

class ThreadsSeen final : public Observer {
public:
    void comm_state(CommState s) override {
        note();
        comm = s;
    }
    void control_state(ControlState) override { note(); }
    void message(bool, const Message&) override { note(); }
    void error(const std::string&) override { note(); }
    void note() {
        std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
    }
    std::set<std::thread::id> ids() {
        std::lock_guard<std::mutex> lock(mutex);
        return threads;
    }
    std::atomic<CommState> comm{CommState::disabled};

private:
    std::mutex mutex;
    std::set<std::thread::id> threads;
};

TEST(EquipmentThread, HooksAndObserverRunOnTheEquipmentsThread) {
    test::register_component();
    const int port = test::free_port();
    ASSERT_NE(port, 0);
    Config c;
    c.line.type = "hsms";
    c.line.mode = "passive";
    c.line.host = "127.0.0.1";
    c.line.numbers = {{"port", port}, {"t3", 3000}};
    c.variables.push_back({3001, "WaferId", false, Format::A, "", Item::a("")});
    c.events.push_back({4001, "WaferDone", {3001}});

    Equipment* self = nullptr;
    std::atomic<int> reads{0};
    std::set<std::thread::id> hook_threads;
    Hooks hooks;
    hooks.read_variable = [&](uint32_t) -> std::optional<Item> {
        hook_threads.insert(std::this_thread::get_id());
        // A hook may call the equipment back: it runs at once, on this thread.
        self->set(3001, Item::a("W-" + std::to_string(++reads)));
        return std::nullopt;
    };
    ThreadsSeen seen;
    Equipment equipment(c, hooks, seen);
    self = &equipment;
    std::string why;
    ASSERT_TRUE(equipment.start(&why)) << why;

    // The host: answers S1F13 and acknowledges event reports from its sink.
    ComPtr<ITarvo> host = test::create_driver();
    ASSERT_TRUE(host);
    auto sink = RecordingSink::create("host");
    const DWORD cookie = sink->advise_on(host.get());
    std::mutex reports_mutex;
    std::vector<std::string> reports;
    ITarvo* h = host.get();
    sink->set_hook([&, h](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        BSTR body = nullptr;
        h->NextMessageByte(&body);
        const std::string bytes = test::take_text(body);
        INT s = 0, f = 0;
        h->GetInStreamID(&s);
        h->GetInFunctionID(&f);
        std::string reply;
        if (s == 1 && f == 13) reply = "S1F14 <L <B 0> <L>>";
        if (s == 6 && f == 11) {
            reply = "S6F12 <B 0>";
            const DecodedBody d = decode_body(bytes);
            std::lock_guard<std::mutex> lock(reports_mutex);
            reports.push_back(d.item ? write_sml(*d.item) : "?");
        }
        if (!reply.empty()) {
            BstrHolder text(reply);
            h->Reply(text.get());
        }
    });
    h->SetLineType(ltHSMS);
    h->SetConnectionMode(cmACTIVE);
    h->SetPort(port);
    h->SetT3(3000);
    LONG none = 0;
    h->SetOutDeviceID(0, &none);
    LONG active = 0;
    h->SetActive(1, &active);
    ASSERT_EQ(active, 1);
    for (int i = 0; i < 300 && seen.comm != CommState::communicating; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(seen.comm.load(), CommState::communicating);

    BstrHolder define("S2F33 W <L <U4 1> <L <L <U4 7> <L <U4 3001>>>>>");
    BstrHolder link("S2F35 W <L <U4 1> <L <L <U4 4001> <L <U4 7>>>>>");
    h->SendMessage(define.get());
    h->SendMessage(link.get());
    ASSERT_TRUE(sink->wait_for(DISPID_OnSecsRead, 0, 3, 3s));  // S1F13, S2F34, S2F36

    // Two operator threads raise the event while the host's messages flow.
    std::vector<std::thread> operators;
    for (int t = 0; t < 2; ++t)
        operators.emplace_back([&] {
            for (int i = 0; i < 5; ++i) EXPECT_TRUE(equipment.trigger(4001));
        });
    BstrHolder ask("S1F3 W <L>");
    for (int i = 0; i < 5; ++i) h->SendMessage(ask.get());
    for (auto& t : operators) t.join();
    ASSERT_TRUE(sink->wait_for(DISPID_OnSecsRead, 0, 3 + 10 + 5, 5s));
    {
        std::lock_guard<std::mutex> lock(reports_mutex);
        ASSERT_EQ(reports.size(), 10u);
        // Each report read WaferId through the hook, which set it first.
        EXPECT_NE(reports.back().find("<A 'W-"), std::string::npos) << reports.back();
    }
    sink->unadvise_from(h, cookie);
    h->SetActive(0, &active);
    equipment.stop();

    const auto ids = seen.ids();
    ASSERT_EQ(ids.size(), 1u) << "the observer ran on one thread";
    EXPECT_NE(*ids.begin(), std::this_thread::get_id());
    ASSERT_EQ(hook_threads.size(), 1u);
    EXPECT_EQ(*hook_threads.begin(), *ids.begin()) << "hooks run there too";
}

}  // namespace
}  // namespace tarvo::gem
