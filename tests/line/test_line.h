// A minimal concrete line for tests of the base class, and an owner that
// records the events a line raises.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "driver/log/line_owner.h"
#include "driver/line/secsi.h"

namespace tarvo::testing {

class RecordingOwner : public LineOwner {
public:
    void OnSecsRead() override { add("read"); }
    void OnSecsNotify(int code) override { add("notify " + std::to_string(code)); }
    void OnSecsWritten(int success) override { add("written " + std::to_string(success)); }

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Queues into a vector; slot 7 accepts or refuses as the test says.
class TestLine : public secsi {
public:
    TestLine() { set_defaults(); }

    int port_disconnect() override { return 0; }
    int port_open() override { return 0; }
    void set_defaults() override {}
    int queue_message(const MessageRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_.push_back(record);
        return 0;
    }
    bool SetOutDeviceID(int id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        slot7_calls_.push_back(id);
        return accept_device_id_;
    }
    std::string dump_buffers() override { return ""; }
    int Step() override { return 0; }
    int init_line() override { return 0; }

    std::vector<MessageRecord> queued() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return queued_;
    }
    std::vector<int> slot7_calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return slot7_calls_;
    }
    void accept_device_id(bool accept) {
        std::lock_guard<std::mutex> lock(mutex_);
        accept_device_id_ = accept;
    }

private:
    mutable std::mutex mutex_;
    std::vector<MessageRecord> queued_;
    std::vector<int> slot7_calls_;
    bool accept_device_id_ = true;
};

}  // namespace tarvo::testing
