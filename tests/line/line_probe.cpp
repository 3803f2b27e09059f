#include "tests/line/line_probe.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "driver/log/streams_logger.h"
#include "platform/sanitizers.h"

namespace tarvo::line_test {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

// ---- RecordingOwner ---------------------------------------------------------------

void RecordingOwner::OnSecsRead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++reads_;
    }
    changed_.notify_all();
    if (on_read) on_read();
}

void RecordingOwner::OnSecsNotify(int code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notes_.push_back(code);
    }
    changed_.notify_all();
}

void RecordingOwner::OnSecsWritten(int success) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++written_[success ? 1 : 0];
    }
    changed_.notify_all();
}

bool RecordingOwner::wait_for(const std::function<bool()>& done, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), done);
}

bool RecordingOwner::wait_notify(int code, int count, int ms) {
    return wait_for([&] { return std::count(notes_.begin(), notes_.end(), code) >= count; }, ms);
}

bool RecordingOwner::wait_reads(int count, int ms) {
    return wait_for([&] { return reads_ >= count; }, ms);
}

bool RecordingOwner::wait_written(int success, int count, int ms) {
    return wait_for([&] { return written_[success ? 1 : 0] >= count; }, ms);
}

int RecordingOwner::notify_count(int code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(notes_.begin(), notes_.end(), code));
}

int RecordingOwner::reads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

int RecordingOwner::written(int success) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_[success ? 1 : 0];
}

std::vector<int> RecordingOwner::notifications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
}

void RecordingOwner::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    notes_.clear();
    reads_ = 0;
    written_[0] = written_[1] = 0;
}

// ---- helpers -----------------------------------------------------------------------

long long ms_since(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

::testing::AssertionResult on_time(long long took, int expected, int margin) {
    // Sanitizers slow every thread down several times over.
    const int late = kUnderSanitizer ? 4 * margin : margin;
    if (took >= expected - 5 && took <= expected + late) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "came after " << took << " ms, expected " << expected << " ms (+"
                                         << late << ")";
}

bool eventually(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// ---- Worker -----------------------------------------------------------------------------

Worker::Worker(secsi& line) : line_(line) {
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            line_.Step();
            ++cycles_;
        }
    });
}

Worker::~Worker() { stop(); }

void Worker::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    // A wait inside Step gives up; the line may run again afterwards.
    const bool was_stopping = line_.stopping.exchange(true);
    line_.wake();
    thread_.join();
    line_.stopping.store(was_stopping);
}

// ---- LogCapture ---------------------------------------------------------------------------

LogCapture::LogCapture() {
    char name[128];
    std::snprintf(name, sizeof name, "/tmp/tarvo_line_test_%d_%p.log", static_cast<int>(::getpid()),
                  static_cast<void*>(this));
    path_ = name;
    std::remove(path_.c_str());
    create_process_logger(path_);
}

LogCapture::~LogCapture() {
    destroy_process_logger();
    std::remove(path_.c_str());
}

std::string LogCapture::text() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool LogCapture::wait_contains(const std::string& needle, int ms) const {
    return eventually([&] { return contains(needle); }, ms);
}

}  // namespace tarvo::line_test
