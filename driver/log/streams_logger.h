// The driver's log writer: numbered streams, each a file that gets one
// time-stamped record per call, appended with a single write, so the file
// holds whole records only, whoever else appends to it.
#pragma once

#include <chrono>
#include <sys/types.h>

#include <cstdarg>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace tarvo {

struct LogStream {
    std::string file_name;
    bool active = false;
    int fd = -1;                                        // open for appending, or -1
    std::chrono::steady_clock::time_point next_check{};  // for a renamed or removed file
};

class StreamsLogger {
public:
    StreamsLogger() = default;
    ~StreamsLogger();  // "Log stopped" block to every active stream

    StreamsLogger(const StreamsLogger&) = delete;
    StreamsLogger& operator=(const StreamsLogger&) = delete;

    // Replaces (or creates, extending the table) stream `number`, makes it
    // active and writes "Log started" to it.
    void set_stream(int number, const std::string& file_name);
    int set_active(int number, bool flag);      // 0, or -1 outside the table
    bool is_active(int number) const;
    std::string file_name(int number) const;    // "" outside the table
    int stream_count() const;

    // One record: "%d-%02d-%02d %02d:%02d:%02d  " + text + "\n", written only
    // when the stream exists, `enabled` is true and the stream is active.
    // Records from different threads never interleave.
    void write_record(int number, bool enabled, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void write_record_v(int number, bool enabled, const char* format, va_list args);
    // One record whose text is taken as is (no formatting; any byte value).
    void write_text(int number, bool enabled, const std::string& text);
    // A record made by format_record or make_record, written whole to an
    // existing active stream.
    void write_formatted(int number, const std::string& record);

private:
    struct Written {
        bool whole = false;
        ssize_t part = 0;      // bytes of a record that went only in part
        off_t size_after = 0;  // the file's size right after that
    };
    static Written write_once(int fd, const std::string& record);
    static void take_back(LogStream& s, const Written& w);
    // Writes one whole formatted record; opens the file if need be.
    void write_locked(LogStream& s, const std::string& record);
    bool open_locked(LogStream& s);
    void close_locked(LogStream& s);

    mutable std::shared_mutex mutex_;  // shared: writing a record; exclusive: the table, opening
    std::vector<LogStream> streams_;
};

// "%d-%02d-%02d %02d:%02d:%02d  " (local time) + text + "\n"; "" on failure.
std::string format_record(const char* format, va_list args);
std::string make_record(const std::string& text);

// The process-wide instance: created when the component is loaded (stream 0 =
// "Tarvo.log"), destroyed when it is unloaded. Null before and after; records
// written then are dropped.
StreamsLogger* process_logger();
void create_process_logger(const std::string& file_name = "Tarvo.log");
void destroy_process_logger();

// Write one record to stream 0 of the process-wide instance, if there is one.
// Safe against a concurrent destroy_process_logger (the record is then either
// written completely or dropped). Prefer these to process_logger()->..., whose
// pointer is only valid while the instance lives.
void process_log_v(bool enabled, const char* format, va_list args);
void process_log_text(bool enabled, const std::string& text);

}  // namespace tarvo
