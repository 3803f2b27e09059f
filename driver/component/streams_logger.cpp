// The log writer. Each record is formatted first, then written under the
// logger's lock as one open-append-close sequence, so records from different
// threads never mix and another program may rotate the file between records.
//
// Platform notes: on Linux "a+" does not translate "\n" into "\r\n", so the
// file holds plain line feeds. The logger prints nothing on standard output.
#include "driver/component/streams_logger.h"

#include <new>

#include <cstdio>
#include <ctime>
#include <memory>
#include <shared_mutex>

namespace tarvo {

namespace {

// Highest stream number that set_stream accepts; keeps a wild number from
// growing the table without bound. The driver itself uses stream 0 only.
constexpr int kMaxStreams = 64;

std::string format_text(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

}  // namespace

StreamsLogger::~StreamsLogger() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const LogStream& s : streams_)
        if (s.active) write_locked(s, "Log stopped\n--------------------------------\n");
}

void StreamsLogger::set_stream(int number, const std::string& file_name) {
    if (number < 0 || number >= kMaxStreams) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t index = static_cast<size_t>(number);
    if (index < streams_.size()) {
        streams_[index].file_name = file_name;
        streams_[index].active = true;
    } else {
        streams_.resize(index + 1, LogStream{file_name, true});
    }
    write_locked(streams_[index], "Log started");
}

int StreamsLogger::set_active(int number, bool flag) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return -1;
    streams_[static_cast<size_t>(number)].active = flag;
    return 0;
}

bool StreamsLogger::is_active(int number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return false;
    return streams_[static_cast<size_t>(number)].active;
}

std::string StreamsLogger::file_name(int number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return std::string();
    return streams_[static_cast<size_t>(number)].file_name;
}

int StreamsLogger::stream_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(streams_.size());
}

void StreamsLogger::write_record(int number, bool enabled, const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_record_v(number, enabled, format, args);
    va_end(args);
}

void StreamsLogger::write_record_v(int number, bool enabled, const char* format, va_list args) {
    if (!enabled || number < 0) return;
    if (!is_active(number)) return;  // cheap early out; checked again under the lock
    write_text(number, true, format_text(format, args));
}

void StreamsLogger::write_text(int number, bool enabled, const std::string& text) {
    if (!enabled || number < 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (static_cast<size_t>(number) >= streams_.size()) return;
    const LogStream& s = streams_[static_cast<size_t>(number)];
    if (s.active) write_locked(s, text);
}

void StreamsLogger::write_locked(const LogStream& s, const std::string& text) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return;
    char stamp[64];
    int stamp_len = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d  ",
                                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec);
    if (stamp_len < 0) return;
    std::FILE* f = std::fopen(s.file_name.c_str(), "a+");
    if (f == nullptr) return;  // the record is lost; the next one tries again
    std::fwrite(stamp, 1, static_cast<size_t>(stamp_len), f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

// ---- the process-wide instance ------------------------------------------

namespace {

// Writers hold the guard shared for the length of one record, so destroying
// the instance waits for records in flight and nothing writes through a freed
// logger.
//
// Neither has a static destructor: the instance lives exactly from
// create_process_logger to destroy_process_logger, which the component calls
// when it is loaded and unloaded, whatever order the static destructors of a
// shared library run in at unload or at process exit. Both are built on first
// use in static storage (not on the heap, which would outlive an unloaded
// library), so the component may create the instance from its own load-time
// initialisation, before or after this file's.
template <class T>
T& never_destroyed() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* object = new (storage) T();
    return *object;
}

std::shared_mutex& instance_guard() { return never_destroyed<std::shared_mutex>(); }
std::unique_ptr<StreamsLogger>& instance() { return never_destroyed<std::unique_ptr<StreamsLogger>>(); }

}  // namespace

StreamsLogger* process_logger() {
    std::shared_lock<std::shared_mutex> lock(instance_guard());
    return instance().get();
}

void create_process_logger(const std::string& file_name) {
    auto logger = std::make_unique<StreamsLogger>();
    logger->set_stream(0, file_name);
    std::unique_ptr<StreamsLogger> old;
    {
        std::unique_lock<std::shared_mutex> lock(instance_guard());
        old = std::move(instance());
        instance() = std::move(logger);
        old.reset();  // its "Log stopped" record, before anyone can write again
    }
}

void destroy_process_logger() {
    // Destroyed under the guard: a writer that held it shared has finished
    // its record by now, and none can start until the reset is done.
    std::unique_lock<std::shared_mutex> lock(instance_guard());
    instance().reset();
}

void process_log_v(bool enabled, const char* format, va_list args) {
    if (!enabled) return;
    std::shared_lock<std::shared_mutex> lock(instance_guard());
    if (instance()) instance()->write_record_v(0, true, format, args);
}

void process_log_text(bool enabled, const std::string& text) {
    if (!enabled) return;
    std::shared_lock<std::shared_mutex> lock(instance_guard());
    if (instance()) instance()->write_text(0, true, text);
}

}  // namespace tarvo
