// Test tools for any line: an owner that records events and lets a test wait
// for them, a worker thread that runs Step as the driver does, and a capture
// of the process log.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/line/secsi.h"
#include "driver/log/line_owner.h"

namespace tarvo::line_test {

// Upper bound of every wait in the tests; normally they end long before.
constexpr int kWait = 3000;

class RecordingOwner : public LineOwner {
public:
    void OnSecsRead() override;
    void OnSecsNotify(int code) override;
    void OnSecsWritten(int success) override;

    // Each waits until the event has been seen `count` times in all.
    bool wait_notify(int code, int count = 1, int ms = kWait);
    bool wait_reads(int count, int ms = kWait);
    bool wait_written(int success, int count = 1, int ms = kWait);

    int notify_count(int code) const;
    int reads() const;
    int written(int success) const;
    std::vector<int> notifications() const;
    void reset();  // forgets everything seen so far

    // Runs on the raising thread inside OnSecsRead (e.g. to reply at once).
    std::function<void()> on_read;

private:
    bool wait_for(const std::function<bool()>& done, int ms);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> notes_;
    int reads_ = 0;
    int written_[2] = {0, 0};
};

using Clock = std::chrono::steady_clock;

// Milliseconds since `since`.
long long ms_since(Clock::time_point since);

// A timeout meant to come `expected` ms after a start came `took` ms after
// it: not early (one tick of slack), and late by at most `margin` ms, so a
// timer that runs on another timer's value shows.
::testing::AssertionResult on_time(long long took, int expected, int margin = 120);

// Polls `done` until it holds or `ms` have passed.
bool eventually(const std::function<bool()>& done, int ms = kWait);

// Runs the line's Step again and again on its own thread, as the driver's
// worker does, until destroyed.
class Worker {
public:
    explicit Worker(secsi& line);
    ~Worker();
    void stop();
    // Number of cycles run so far.
    long cycles() const { return cycles_.load(); }

private:
    secsi& line_;
    std::atomic<bool> stop_{false};
    std::atomic<long> cycles_{0};
    std::thread thread_;
};

// The process log written to a file of its own for the life of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::string text() const;
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }
    bool wait_contains(const std::string& needle, int ms = kWait) const;

private:
    std::string path_;
};

}  // namespace tarvo::line_test
