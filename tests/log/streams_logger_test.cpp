// The log writer: streams, the record format, the process-wide instance.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "driver/log/streams_logger.h"
#include "tests/messages/test_util.h"

namespace tarvo {
namespace {

using test::read_file;
using test::strip_stamps;
using test::TempFile;


TEST(StreamsLogger, RecordsFromTwoProcessesNeverTear) {
    TempFile f("tarvo-two");
    constexpr int kRecords = 300;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            {
                StreamsLogger log;
                log.set_stream(0, f.path());
                // Records longer than any stdio buffer: one write each, or they tear.
                for (int i = 0; i < kRecords; ++i) {
                    const size_t n = 5000 + static_cast<size_t>(i % 7) * 1500;
                    log.write_text(0, true, "P" + std::to_string(c) + " " + std::to_string(n) + " " +
                                                std::string(n, static_cast<char>('a' + c)));
                }
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string file = read_file(f.path());
    int whole[2] = {0, 0};
    size_t at = 0;
    while (at < file.size()) {
        const size_t end = file.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = file.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line == std::string(32, '-')) continue;  // the rest of "Log stopped"
        ASSERT_TRUE(test::stamp_at(line, 0)) << "a record runs into another at " << at;
        const std::string text = line.substr(21);
        if (text.rfind("P", 0) != 0) continue;  // "Log started", "Log stopped" and its rule
        const int c = text[1] - '0';
        size_t n = 0;
        ASSERT_EQ(std::sscanf(text.c_str() + 3, "%zu", &n), 1);
        const size_t value = text.find(' ', 3) + 1;
        ASSERT_EQ(text.size() - value, n) << "torn record";
        ASSERT_EQ(text.find_first_not_of(static_cast<char>('a' + c), value), std::string::npos) << "mixed record";
        ++whole[c];
    }
    EXPECT_EQ(whole[0], kRecords);
    EXPECT_EQ(whole[1], kRecords);
}

TEST(StreamsLogger, AFileRenamedAwayIsCreatedAnew) {
    TempFile f("tarvo-rotated");
    const std::string rotated = f.path() + ".1";
    StreamsLogger log;
    log.set_stream(0, f.path());
    log.write_record(0, true, "before");
    ASSERT_EQ(std::rename(f.path().c_str(), rotated.c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the writer looks about once a second
    log.write_record(0, true, "after");
    EXPECT_EQ(strip_stamps(read_file(f.path())), "after\n");
    EXPECT_EQ(strip_stamps(read_file(rotated)), "Log started\nbefore\n");
    std::remove(f.path().c_str());  // a removed file comes back too
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    log.write_record(0, true, "again");
    EXPECT_EQ(strip_stamps(read_file(f.path())), "again\n");
    std::remove(rotated.c_str());
}

TEST(StreamsLogger, RecordFormat) {
    TempFile f("tarvo-log");
    {
        StreamsLogger log;
        log.set_stream(0, f.path());
        log.write_record(0, true, "Port %d was opened", 1);
        log.write_record(0, true, "Received block. Length: '%d',\nheader: '%s'", 10, "00 01");
    }
    const std::string file = read_file(f.path());
    EXPECT_TRUE(test::stamp_at(file, 0)) << file;
    EXPECT_EQ(strip_stamps(file),
              "Log started\n"
              "Port 1 was opened\n"
              "Received block. Length: '10',\nheader: '00 01'\n"
              "Log stopped\n--------------------------------\n\n");
}

TEST(StreamsLogger, StreamsTable) {
    TempFile a("tarvo-a"), b("tarvo-b");
    StreamsLogger log;
    EXPECT_EQ(log.stream_count(), 0);
    EXPECT_EQ(log.set_active(0, true), -1);
    EXPECT_FALSE(log.is_active(0));
    EXPECT_EQ(log.file_name(0), "");
    log.write_record(0, true, "nowhere");  // no stream: nothing, no crash

    log.set_stream(2, a.path());  // extends the table up to 2, all with this name
    EXPECT_EQ(log.stream_count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(log.is_active(i));
        EXPECT_EQ(log.file_name(i), a.path());
    }
    EXPECT_EQ(log.file_name(-1), "");
    EXPECT_EQ(log.set_active(3, true), -1);
    EXPECT_EQ(log.set_active(-1, true), -1);

    EXPECT_EQ(log.set_active(1, false), 0);
    EXPECT_FALSE(log.is_active(1));
    log.write_record(1, true, "inactive");
    log.write_record(2, false, "disabled");
    log.write_record(2, true, "written %s", "once");

    // A new name switches the stream on and starts the new file.
    log.set_stream(1, b.path());
    EXPECT_TRUE(log.is_active(1));
    log.write_record(1, true, "into b");

    // Stream numbers beyond the supported range are ignored.
    log.set_stream(1000000, a.path());
    EXPECT_EQ(log.stream_count(), 3);
    log.set_stream(-1, a.path());
    EXPECT_EQ(log.stream_count(), 3);

    EXPECT_EQ(strip_stamps(read_file(a.path())), "Log started\nwritten once\n");
    EXPECT_EQ(strip_stamps(read_file(b.path())), "Log started\ninto b\n");
}

TEST(StreamsLogger, StopRecordOnlyToActiveStreams) {
    TempFile a("tarvo-a"), b("tarvo-b");
    {
        StreamsLogger log;
        log.set_stream(0, a.path());
        log.set_stream(1, b.path());
        log.set_active(1, false);
    }
    EXPECT_EQ(strip_stamps(read_file(a.path())), "Log started\nLog stopped\n--------------------------------\n\n");
    EXPECT_EQ(strip_stamps(read_file(b.path())), "Log started\n");
}

TEST(StreamsLogger, UnwritablePathIsSilent) {
    StreamsLogger log;
    log.set_stream(0, "/nonexistent-tarvo-dir/sub/Tarvo.log");
    EXPECT_TRUE(log.is_active(0));
    log.write_record(0, true, "lost");
    EXPECT_FALSE(std::filesystem::exists("/nonexistent-tarvo-dir"));
}

TEST(StreamsLogger, RawTextAndLongRecords) {
    TempFile f("tarvo-raw");
    StreamsLogger log;
    log.set_stream(0, f.path());
    log.write_text(0, true, std::string("a\0b", 3));
    const std::string long_text(5000, 'L');
    log.write_record(0, true, "%s", long_text.c_str());
    log.write_record(0, true, "%s", "");
    EXPECT_EQ(strip_stamps(read_file(f.path())), "Log started\n" + std::string("a\0b\n", 4) + long_text + "\n\n");
}

TEST(StreamsLogger, ProcessInstance) {
    destroy_process_logger();
    EXPECT_EQ(process_logger(), nullptr);
    process_log_text(true, "dropped");  // no instance: nothing happens

    TempFile f("tarvo-process");
    create_process_logger(f.path());
    ASSERT_NE(process_logger(), nullptr);
    EXPECT_EQ(process_logger()->file_name(0), f.path());
    process_log_text(true, "one");
    process_log_text(false, "not this");
    destroy_process_logger();
    EXPECT_EQ(process_logger(), nullptr);
    EXPECT_EQ(strip_stamps(read_file(f.path())), "Log started\none\nLog stopped\n--------------------------------\n\n");
}

}  // namespace
}  // namespace tarvo
