// The message layer and the log writer used from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "driver/log/streams_logger.h"
#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

// One worker appends while the caller takes: every message arrives once, in
// order, with its own header and body.
TEST(MessagesThreaded, InboxAppendWhileTaking) {
    secsii s;
    constexpr int kCount = 3000;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            MessageRecord m;
            m.stream = 1;
            m.function = 1;
            m.transaction_id = i;
            const std::string text = std::to_string(i);
            m.body = test::bytes({0x41, static_cast<int>(text.size())}) + text;
            s.add_received(std::move(m));
            if (i % 3 == 0) s.set_out_device_id(i);  // the HSMS selection does this from the worker
        }
    });
    int next = 0;
    int spins = 0;
    while (next < kCount && spins < 50000000) {
        int r;
        switch (next % 3) {
        case 0: r = s.NextMessage(); break;
        case 1: r = s.NextMessageSML() == "no more messages" ? -1 : 0; break;
        default: r = s.NextMessageByte() == "no more messages" ? -1 : 0; break;
        }
        if (r != 0) {
            ++spins;
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(s.GetInTransactionID(), next);
        if (next % 3 == 0) {
            s.SetElemPointer("0");
            ASSERT_EQ(s.GetElemValue(), std::to_string(next));
        }
        ++next;
    }
    worker.join();
    EXPECT_EQ(next, kCount);
    EXPECT_EQ(s.inbox_count(), 0u);
    (void)s.prepared_copy();
}

// Records written from several threads never mix inside one record.
TEST(MessagesThreaded, RecordsDoNotInterleave) {
    test::TempFile f("tarvo-threads");
    constexpr int kThreads = 4, kRecords = 200;
    {
        StreamsLogger log;
        log.set_stream(0, f.path());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&log, t] {
                const std::string payload(300, static_cast<char>('a' + t));
                for (int i = 0; i < kRecords; ++i) log.write_record(0, true, "%d %s", t, payload.c_str());
            });
        std::thread toggler([&log] {
            for (int i = 0; i < 50; ++i) {
                (void)log.is_active(0);
                (void)log.file_name(0);
            }
        });
        for (auto& th : threads) th.join();
        toggler.join();
    }
    std::istringstream in(test::read_file(f.path()));
    std::string line;
    int records = 0;
    while (std::getline(in, line)) {
        if (line.find("  ") == std::string::npos) continue;
        const std::string text = line.substr(line.find("  ") + 2);
        if (text == "Log started" || text == "Log stopped") continue;
        ASSERT_EQ(text.size(), 302u) << text;
        const char c = static_cast<char>('a' + (text[0] - '0'));
        ASSERT_EQ(text.substr(2), std::string(300, c));
        ++records;
    }
    EXPECT_EQ(records, kThreads * kRecords);
}

// Writing through the process-wide instance while it is destroyed and made
// again neither crashes nor touches a freed logger.
TEST(MessagesThreaded, ProcessLoggerReplacedWhileWriting) {
    test::TempFile f("tarvo-replace");
    std::atomic<bool> stop{false};
    secsii s;
    s.set_log_mask(0);
    std::thread writer([&] {
        while (!stop.load()) s.log(0, "record %d", 1);
    });
    for (int i = 0; i < 30; ++i) {
        create_process_logger(f.path());
        destroy_process_logger();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(process_logger(), nullptr);
}

}  // namespace
}  // namespace tarvo
