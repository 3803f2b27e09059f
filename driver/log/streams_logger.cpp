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
#include "driver/log/streams_logger.h"

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

// The record's time stamp, "%d-%02d-%02d %02d:%02d:%02d  " in local time,
// appended to `out`; false when the local time is unknown.
bool append_stamp(std::string& out) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return false;
    char stamp[64];
    const int n = std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d  ", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (n < 0) return false;
    out.append(stamp, static_cast<size_t>(n));
    return true;
}

// How often an open log file is checked for having been renamed or removed.
constexpr auto kRotationCheck = std::chrono::seconds(1);

}  // namespace

// Stamp, formatted text and line feed in one buffer; empty on failure.
std::string format_record(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    const size_t text = static_cast<size_t>(n);
    std::string record;
    record.reserve(32 + text);
    if (!append_stamp(record)) return std::string();
    if (text < sizeof small) {
        record.append(small, text);
    } else {
        const size_t at = record.size();
        record.resize(at + text + 1);
        std::vsnprintf(record.data() + at, text + 1, format, args);
        record.resize(at + text);
    }
    record += '\n';
    return record;
}

std::string make_record(const std::string& text) {
    std::string record;
    record.reserve(text.size() + 24);
    if (!append_stamp(record)) return std::string();
    record += text;
    record += '\n';
    return record;
}

StreamsLogger::~StreamsLogger() {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    const std::string stopped = "Log stopped\n--------------------------------\n";
    for (LogStream& s : streams_) {
        if (s.active) write_locked(s, make_record(stopped));
        close_locked(s);
    }
}

void StreamsLogger::set_stream(int number, const std::string& file_name) {
    if (number < 0 || number >= kMaxStreams) return;
    const std::string started = make_record("Log started");
    std::unique_lock<std::shared_mutex> lock(mutex_);
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
    std::unique_lock<std::shared_mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return -1;
    streams_[static_cast<size_t>(number)].active = flag;
    return 0;
}

bool StreamsLogger::is_active(int number) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return false;
    return streams_[static_cast<size_t>(number)].active;
}

std::string StreamsLogger::file_name(int number) const {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    if (number < 0 || static_cast<size_t>(number) >= streams_.size()) return std::string();
    return streams_[static_cast<size_t>(number)].file_name;
}

int StreamsLogger::stream_count() const {
    std::unique_lock<std::shared_mutex> lock(mutex_);
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
    if (!is_active(number)) return;  // cheap early out; checked again when writing
    write_formatted(number, format_record(format, args));
}

void StreamsLogger::write_text(int number, bool enabled, const std::string& text) {
    if (!enabled || number < 0) return;
    write_formatted(number, make_record(text));  // formatted before any lock
}

void StreamsLogger::write_formatted(int number, const std::string& record) {
    if (record.empty()) return;
    const size_t index = static_cast<size_t>(number);
    {
        // The usual case: the file is open and not due for a rotation check.
        // Writers share the lock; O_APPEND keeps their records apart.
        std::shared_lock<std::shared_mutex> lock(mutex_);
        if (index >= streams_.size() || !streams_[index].active) return;
        const LogStream& s = streams_[index];
        if (s.fd >= 0 && std::chrono::steady_clock::now() < s.next_check) {
            const Written w = write_once(s.fd, record);
            if (w.whole) return;
            lock.unlock();
            std::unique_lock<std::shared_mutex> exclusive(mutex_);
            if (index < streams_.size()) take_back(streams_[index], w);
            return;
        }
    }
    // Open the file, or check whether it was renamed or removed, then write.
    std::unique_lock<std::shared_mutex> lock(mutex_);
    if (index >= streams_.size() || !streams_[index].active) return;
    LogStream& s = streams_[index];
    write_locked(s, record);
}

StreamsLogger::Written StreamsLogger::write_once(int fd, const std::string& record) {
    ssize_t n;
    do {
        n = ::write(fd, record.data(), record.size());
    } while (n < 0 && errno == EINTR);
    Written w;
    w.whole = n >= 0 && static_cast<size_t>(n) == record.size();
    if (n > 0 && !w.whole) {
        w.part = n;
        struct stat st {};
        if (::fstat(fd, &st) == 0) w.size_after = st.st_size;
    }
    return w;
}

void StreamsLogger::take_back(LogStream& s, const Written& w) {
    // Only part of a record went (the disk is full): cut it off again, so the
    // file holds whole records only - unless someone appended after it.
    if (w.part <= 0 || w.size_after < w.part || s.fd < 0) return;
    struct stat st {};
    if (::fstat(s.fd, &st) == 0 && st.st_size == w.size_after) {
        [[maybe_unused]] const int r = ::ftruncate(s.fd, w.size_after - w.part);
    }
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
    const Written w = write_once(s.fd, record);
    if (!w.whole) take_back(s, w);
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
    const std::string record = format_record(format, args);  // before any lock
    std::shared_lock<std::shared_mutex> lock(instance_guard());
    if (instance()) instance()->write_formatted(0, record);
}

void process_log_text(bool enabled, const std::string& text) {
    if (!enabled) return;
    const std::string record = make_record(text);
    std::shared_lock<std::shared_mutex> lock(instance_guard());
    if (instance()) instance()->write_formatted(0, record);
}

}  // namespace tarvo
