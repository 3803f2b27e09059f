// The driver object under several threads: replacing the line while messages
// are in flight, releasing the object while its worker runs (also from inside
// an event on the worker thread), and many calls at once.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

void echo_from_sink(ITarvo* driver, RecordingSink* sink) {
    sink->set_hook([driver](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        driver->NextMessage();
        LONG w = 0;
        driver->GetInWBit(&w);
        if (!w) return;
        BstrHolder reply("S1F2 <L>");
        driver->Reply(reply.get());
    });
}

TEST(Threads, ReplacingTheLineWhileMessagesAreInFlight) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    echo_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        BstrHolder s1f1("S1F1 W");
        while (!stop.load()) {
            h->SendMessage(s1f1.get());
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 3, 3s));
    // The line and its worker go while the sender keeps calling.
    ASSERT_EQ(h->SetLineType(ltHSMS), S_OK);
    LONG active = 1;
    h->GetActive(&active);
    EXPECT_EQ(active, 0);
    ASSERT_EQ(h->SetLineType(ltNone), S_OK);
    ASSERT_EQ(pair.equipment.driver->SetLineType(ltHSMS), S_OK);
    stop = true;
    sender.join();
    enum_SECS_LINE_TYPE type{};
    h->GetLineType(&type);
    EXPECT_EQ(type, ltNone);
}

TEST(Threads, ReleasingTheObjectWhileItsWorkerRunsEndsTheWorker) {
    for (int round = 0; round < 3; ++round) {
        LoopbackPair pair;
        ASSERT_TRUE(pair.ok());
        echo_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
        BstrHolder s1f1("S1F1 W");
        for (int i = 0; i < 20; ++i) pair.host.driver->SendMessage(s1f1.get());
        // Released at once, with traffic on the line and the sinks still
        // advised: the objects go before their sinks are unadvised.
        pair.host.sink->set_hook(nullptr);
        pair.host.driver.reset();
        pair.equipment.sink->set_hook(nullptr);
        pair.equipment.driver.reset();
    }
}

TEST(Threads, TheLastReferenceMayGoInsideAnEventOnTheWorkerThread) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    auto sink = pair.host.sink;
    std::atomic<ITarvo*> held{pair.host.driver.detach()};  // only the sink's hook releases it now
    std::atomic<bool> released{false};
    sink->set_hook([&](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        if (ITarvo* d = held.exchange(nullptr)) {
            d->Release();  // the object, its worker and its line go from here
            released = true;
        }
    });
    echo_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
    BstrHolder s1f1("S1F1 W");
    held.load()->SendMessage(s1f1.get());
    ASSERT_TRUE(sink->wait_for(DISPID_OnSecsRead, 0, 1, 3s));
    EXPECT_TRUE(released.load());
    pair.host.cookie = 0;  // nothing left to unadvise from
    EXPECT_TRUE(pair.equipment.sink->wait_for(DISPID_OnSecsNotify, nHSMSConnectionPassiveMinus, 1, 3s));
}

TEST(Threads, ManyCallsFromSeveralThreadsAtOnce) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    echo_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
    std::atomic<int> replies{0};
    pair.host.sink->set_hook([&](const RecordingSink::Event& e) {
        if (e.id == DISPID_OnSecsRead) ++replies;
    });
    constexpr int kThreads = 4;
    constexpr int kMessages = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h, t] {
            BstrHolder s1f1("S1F1 W");
            for (int i = 0; i < kMessages; ++i) {
                h->SendMessage(s1f1.get());
                INT v = 0;
                h->SetT3(3000 + t);
                h->GetT3(&v);
                h->GetPort(&v);
                BSTR text = nullptr;
                h->GetHost(&text);
                SysFreeString(text);
                h->NextMessageSML(&text);
                SysFreeString(text);
                LONG active = 0;
                h->GetActive(&active);
            }
        });
    }
    for (auto& t : threads) t.join();
    // Every message went out and was answered; some replies were taken by the
    // threads above, the rest wait in the inbox.
    EXPECT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, kThreads * kMessages, 5s));
    EXPECT_EQ(pair.host.sink->count(DISPID_OnSecsWritten, 1), static_cast<size_t>(kThreads * kMessages));
    EXPECT_EQ(pair.host.sink->count(DISPID_OnSecsNotify, nSecsErrorT3), 0u);
}

TEST(Threads, DeactivationFromInsideAnEventDoesNotWaitForItself) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    ITarvo* h = pair.host.driver.get();
    echo_from_sink(pair.equipment.driver.get(), pair.equipment.sink.get());
    std::atomic<LONG> stat{-1};
    pair.host.sink->set_hook([&](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        LONG s = 0;
        h->SetActive(0, &s);  // on the worker thread: closes at once
        stat = s;
    });
    BstrHolder s1f1("S1F1 W");
    h->SendMessage(s1f1.get());
    ASSERT_TRUE(pair.host.sink->wait_for(DISPID_OnSecsRead, 0, 1, 3s));
    EXPECT_EQ(stat.load(), 1);
    LONG active = 1;
    h->GetActive(&active);
    EXPECT_EQ(active, 0);
}

}  // namespace
}  // namespace tarvo::test
