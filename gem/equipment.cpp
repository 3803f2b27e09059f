#include "gem/equipment.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "driver/log/notify_code.h"
#include "gem/driver_link.h"
#include "gem/equipment_core.h"

namespace tarvo::gem {

struct Equipment::Running {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::atomic<std::thread::id> thread_id{};

    std::unique_ptr<DriverLink> link;
    std::unique_ptr<EquipmentCore> core;
    std::thread thread;

    void post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) return;
            tasks.push_back(std::move(task));
        }
        wake.notify_one();
    }

    // Runs `f` on the equipment's thread and waits for its answer.
    template <class F>
    auto call(F f) -> decltype(f()) {
        if (std::this_thread::get_id() == thread_id) return f();
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        auto answer = task->get_future();
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) return decltype(f())();
            tasks.push_back([task] { (*task)(); });
        }
        wake.notify_one();
        return answer.get();
    }

    void loop() {
        for (;;) {
            std::deque<std::function<void()>> now;
            {
                std::unique_lock<std::mutex> lock(mutex);
                const auto deadline = core->next_deadline();
                auto ready = [&] { return stopping || !tasks.empty(); };
                if (deadline)
                    wake.wait_until(lock, *deadline, ready);
                else
                    wake.wait(lock, ready);
                if (stopping && tasks.empty()) return;
                now.swap(tasks);
            }
            for (auto& task : now) task();
            core->tick(EquipmentCore::Clock::now());
        }
    }
};

Equipment::Equipment(Config config, Hooks hooks, Observer& observer)
    : config_(std::move(config)), hooks_(std::move(hooks)), observer_(observer) {}

Equipment::~Equipment() { stop(); }

bool Equipment::start(std::string* error) {
    if (running_) return true;
    auto r = std::make_unique<Running>();
    Running* raw = r.get();
    const bool secs1 = config_.line.type && *config_.line.type == "secs1";
    DriverLink::Events events;
    events.read = [raw] {
        raw->post([raw] {
            if (auto taken = raw->link->take())
                raw->core->received(taken->first, taken->second, EquipmentCore::Clock::now());
        });
    };
    events.notify = [raw, secs1](int code) {
        if (secs1) return;
        const bool lost = code == nHSMSConnectionPassiveMinus || code == nSecsErrorPortReadFailed ||
                          code == nSecsErrorPortWriteFailed;
        const bool up = code == nHSMSConnectionActive || code == nHSMSConnectionPassivePlus;
        if (!lost && !up) return;
        raw->post([raw, lost] {
            if (lost)
                raw->core->link_lost(EquipmentCore::Clock::now());
            else
                raw->core->link_up(EquipmentCore::Clock::now());
        });
    };
    r->link = DriverLink::create(std::move(events), error);
    if (!r->link) return false;
    if (!r->link->configure(config_, error)) return false;
    r->core = std::make_unique<EquipmentCore>(config_, *r->link, observer_, hooks_);
    std::promise<void> started;
    auto started_future = started.get_future();
    r->thread = std::thread([raw, &started] {
        raw->thread_id = std::this_thread::get_id();
        raw->core->start(EquipmentCore::Clock::now());
        started.set_value();
        raw->loop();
    });
    started_future.wait();
    std::string why;
    if (!r->link->open(&why)) r->call([&] { observer_.error(why + "; the driver keeps trying"); });
    running_ = std::move(r);
    return true;
}

void Equipment::stop() {
    if (!running_) return;
    running_->link->close();  // no more events after this
    {
        std::lock_guard<std::mutex> lock(running_->mutex);
        running_->stopping = true;
    }
    running_->wake.notify_one();
    if (running_->thread.joinable()) running_->thread.join();
    running_.reset();
}

bool Equipment::trigger(uint32_t ceid, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->trigger(ceid, error); });
}

bool Equipment::set(uint32_t id, const Item& value, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->set(id, value, error); });
}

bool Equipment::control_online(bool online, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->control_online(online, error); });
}

bool Equipment::control_remote(bool remote, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->control_remote(remote, error); });
}

bool Equipment::communications(bool enable, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->communications(enable, error); });
}

bool Equipment::alarm_set(uint32_t alid, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->alarm(alid, true, error); });
}

bool Equipment::alarm_clear(uint32_t alid, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->alarm(alid, false, error); });
}

bool Equipment::terminal(const std::string& text, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->terminal(text, error); });
}

bool Equipment::finish(const std::string& rcmd, std::string* error) {
    if (!running_) return false;
    return running_->call([&] { return running_->core->finish(rcmd, error); });
}

CommState Equipment::comm_state() {
    if (!running_) return CommState::disabled;
    return running_->call([&] { return running_->core->comm_state(); });
}

ControlState Equipment::control_state() {
    if (!running_) return config_.initial;
    return running_->call([&] { return running_->core->control_state(); });
}

}  // namespace tarvo::gem
