// The log writer. Each record (time stamp, text, line feed) is formatted
// outside any lock and then written with one write() to a descriptor opened
// for appending, which stays open between records. So records from several
// threads and processes never tear or interleave. A record that could be
// written only in part (a full disk) is cut off again, so the next one does
// not run into it. About once a second the writer checks whether the file has
// been renamed or removed (log rotation) and then opens it anew; a file that
// cannot be opened loses the record, and the next record tries again.
//
// Platform notes: on Linux "a+" does not translate "\n" into "\r\n", so the
// file holds plain line feeds. The logger prints nothing on standard output.
#include "driver/component/streams_logger.h"

#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

// "%d-%02d-%02d %02d:%02d:%02d  " + text + "\n"; empty when the local time is unknown.
std::string make_record(const std::string& text) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return std::string();
    char stamp[64];
    const int stamp_len = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d  ", local.tm_year + 1900,
                                        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (stamp_len < 0) return std::string();
    std::string record;
    record.reserve(static_cast<size_t>(stamp_len) + text.size() + 1);
    record.append(stamp, static_cast<size_t>(stamp_len));
    record += text;
    record += '\n';
    return record;
}

// How often an open log file is checked for having been renamed or removed.
constexpr auto kRotationCheck = std::chrono::seconds(1);

}  // namespace

StreamsLogger::~StreamsLogger() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string stopped = "Log stopped\n--------------------------------\n";
    for (LogStream& s : streams_) {
        if (s.active) write_locked(s, make_record(stopped));
        close_locked(s);
    }
}

void StreamsLogger::set_stream(int number, const std::string& file_name) {
    if (number < 0 || number >= kMaxStreams) return;
    const std::string started = make_record("Log started");
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t index = static_cast<size_t>(number);
    // Extending the table gives every new stream this name too.
    if (index >= streams_.size()) streams_.resize(index + 1, LogStream{file_name, true});
    LogStream& s = streams_[index];
    close_locked(s);
    s.file_name = file_name;
    s.active = true;
    write_locked(s, started);
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
    const std::string record = make_record(text);  // formatted before the lock
    if (record.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (static_cast<size_t>(number) >= streams_.size()) return;
    LogStream& s = streams_[static_cast<size_t>(number)];
    if (s.active) write_locked(s, record);
}

void StreamsLogger::close_locked(LogStream& s) {
    if (s.fd >= 0) ::close(s.fd);
    s.fd = -1;
}

bool StreamsLogger::open_locked(LogStream& s) {
    const auto now = std::chrono::steady_clock::now();
    if (s.fd >= 0 && now >= s.next_check) {
        // Renamed away or removed: the records belong in a file of that name.
        struct stat by_name {};
        struct stat open_file {};
        if (::stat(s.file_name.c_str(), &by_name) != 0 || ::fstat(s.fd, &open_file) != 0 ||
            by_name.st_dev != open_file.st_dev || by_name.st_ino != open_file.st_ino) {
            close_locked(s);
        }
        s.next_check = now + kRotationCheck;
    }
    if (s.fd < 0) {
        s.fd = ::open(s.file_name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        s.next_check = now + kRotationCheck;
    }
    return s.fd >= 0;
}

void StreamsLogger::write_locked(LogStream& s, const std::string& record) {
    if (record.empty() || !open_locked(s)) return;  // the record is lost; the next one tries again
    ssize_t written;
    do {
        written = ::write(s.fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    if (written > 0 && static_cast<size_t>(written) < record.size()) {
        // Only part of it went (the disk is full): take that part back, so the
        // file holds whole records only.
        struct stat st {};
        if (::fstat(s.fd, &st) == 0 && st.st_size >= written) {
            [[maybe_unused]] const int r = ::ftruncate(s.fd, st.st_size - written);
        }
    }
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
