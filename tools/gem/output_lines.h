// What tarvo-gem writes: one line for each state change, message, constant
// change and error, flushed as it is written. Lines come from the
// equipment's thread and from the command reader; a lock keeps them whole.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gem/link.h"

namespace tarvo::gem {

class OutputLines final : public Observer {
public:
    OutputLines(std::FILE* out, bool quiet) : out_(out), quiet_(quiet) {}

    void comm_state(CommState s) override;
    void control_state(ControlState s) override;
    void message(bool sent, const Message& m) override;
    void constant(uint32_t ecid, const Item& value) override;
    void error(const std::string& text) override;
    void program(bool stored, const std::string& ppid, size_t bytes) override;
    // The simulator's hooks write these.
    void command(const std::string& rcmd, const std::vector<std::pair<std::string, Item>>& parameters);
    void terminal(int tid, const std::string& text);

private:
    void line(const std::string& text, bool always = false);

    std::mutex mutex_;
    std::FILE* out_;
    bool quiet_;
};

}  // namespace tarvo::gem
