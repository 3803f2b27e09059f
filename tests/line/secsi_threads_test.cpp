// The line used from several caller threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "driver/line/secsi.h"
#include "tests/line/test_line.h"

namespace tarvo {
namespace {

using testing::RecordingOwner;
using testing::TestLine;

// Each caller sends its own messages, all different; every one of them must
// leave exactly once, intact (a caller must never send another's message).
TEST(SecsiThreads, ConcurrentSendersEachQueueTheirOwnMessages) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    RecordingOwner owner;
    TestLine line;
    line.SetCQuill1(&owner);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&line, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string value = std::to_string(t) + "-" + std::to_string(i);
                line.SendMessage("S" + std::to_string(t + 1) + "F" + std::to_string(i % 200) + " <A '" + value + "'>");
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::map<std::string, int> seen;
    for (const MessageRecord& m : line.queued()) {
        ASSERT_GE(m.body.size(), 2u);
        const std::string value = m.body.substr(2);
        ++seen[value];
        const int t = std::stoi(value.substr(0, value.find('-')));
        const int i = std::stoi(value.substr(value.find('-') + 1));
        EXPECT_EQ(m.stream, t + 1) << value;
        EXPECT_EQ(m.function, i % 200) << value;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
    for (const auto& [value, count] : seen) EXPECT_EQ(count, 1) << value;
    EXPECT_TRUE(owner.events().empty());
}

// Replies and setters race; afterwards the message layer's out identifiers
// must equal the line's fields, whichever call came last.
TEST(SecsiThreads, OutIdentifiersStayPairedUnderConcurrentRepliesAndSetters) {
    TestLine line;
    MessageRecord primary;
    primary.stream = 1;
    primary.function = 1;
    primary.w_bit = 1;
    primary.device_id = 999;
    primary.source_id = 999;
    primary.transaction_id = 999;
    primary.body = std::string("\x01\x00", 2);
    line.msg.add_received(primary);
    line.msg.NextMessage();

    std::atomic<bool> stop{false};
    std::thread replier([&] {
        while (!stop) line.Reply("S1F2");
    });
    std::thread setter([&] {
        for (int i = 0; i < 2000; ++i) {
            line.set_out_device_id(i);
            line.set_out_source_id(i + 1);
            line.set_out_transaction_id(i + 2);
            line.set_master(i % 2 == 1);
        }
    });
    setter.join();
    stop = true;
    replier.join();

    line.SendMessage("S6F11 W");
    const MessageRecord last = line.queued().back();
    EXPECT_EQ(last.device_id, line.out_device_id.load());
    EXPECT_EQ(last.source_id, line.out_source_id.load());
    EXPECT_EQ(last.transaction_id, line.out_transaction_id.load());
    EXPECT_EQ(last.r_bit, line.master.load() ? 1 : 0);
    EXPECT_EQ(last.device_id, 1999);
}

}  // namespace
}  // namespace tarvo
