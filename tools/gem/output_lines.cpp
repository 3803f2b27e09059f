#include "tools/gem/output_lines.h"

#include "gem/sml_text.h"

namespace tarvo::gem {

void OutputLines::line(const std::string& text, bool always) {
    if (quiet_ && !always) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void OutputLines::comm_state(CommState s) { line(std::string("state comm ") + comm_state_name(s)); }

void OutputLines::control_state(ControlState s) { line(std::string("state control ") + control_state_name(s)); }

void OutputLines::message(bool sent, const Message& m) { line(std::string(sent ? "sent " : "received ") + message_line(m)); }

void OutputLines::constant(uint32_t ecid, const Item& value) {
    line("constant " + std::to_string(ecid) + " " + write_sml(value));
}

void OutputLines::program(bool stored, const std::string& ppid, size_t bytes) {
    line(stored ? "program stored " + ppid + " " + std::to_string(bytes) : "program deleted " + ppid);
}

void OutputLines::command(const std::string& rcmd, const std::vector<std::pair<std::string, Item>>& parameters) {
    std::string text = "command " + rcmd;
    for (const auto& [name, value] : parameters) text += " " + name + "=" + write_sml(value);
    line(text);
}

void OutputLines::terminal(int tid, const std::string& text) { line("terminal " + std::to_string(tid) + " " + text); }

void OutputLines::error(const std::string& text) {
    // An error line stays one line whatever the text holds.
    std::string t = text;
    for (char& c : t)
        if (c == '\n' || c == '\r') c = ' ';
    line("error " + t, true);
}

}  // namespace tarvo::gem
