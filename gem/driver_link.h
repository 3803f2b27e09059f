// The line as any host program has it: the registered driver object,
// created through the component runtime, set up from the configuration's
// [line] table and called through ITarvo. Its events come on the driver's
// threads and are handed on as they are; the caller moves them to its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "gem/config.h"
#include "gem/link.h"

namespace tarvo::gem {

class DriverLink final : public Link {
public:
    struct Events {
        std::function<void()> read;             // OnSecsRead: a message waits
        std::function<void(int code)> notify;   // OnSecsNotify
    };

    // Creates the driver object and advises `events`; nullptr with a reason
    // when the component cannot be created.
    static std::unique_ptr<DriverLink> create(Events events, std::string* error);
    ~DriverLink() override;

    // Applies the line settings and the device ID; false with the first
    // setting the driver refused.
    bool configure(const Config& config, std::string* error);
    bool open(std::string* error);  // SetActive(1)
    void close();                   // SetActive(0), stops the events

    // The oldest received message with its body bytes; nullopt when none.
    std::optional<std::pair<Message, std::string>> take();

    bool send(const Message& m) override;
    bool reply(const Message& m) override;
    bool is_secs1() const override { return secs1_; }
    int t3_ms() const override;

private:
    struct Parts;
    explicit DriverLink(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
    bool secs1_ = false;
};

}  // namespace tarvo::gem
