#include "tools/gem/commands.h"

#include <charconv>
#include <sstream>

#include "gem/sml_text.h"

namespace tarvo::gem {

namespace {

std::optional<uint32_t> id_word(const std::string& w) {
    uint32_t v = 0;
    const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
    if (w.empty() || r.ec != std::errc() || r.ptr != w.data() + w.size()) return std::nullopt;
    return v;
}


}  // namespace

std::optional<Item> command_value(const std::string& text, Format format, std::string* error) {
    size_t start = text.find_first_not_of(" \t");
    if (start != std::string::npos && text[start] == '<') return read_sml(text, error);
    if (is_text(format)) return Item::text(start == std::string::npos ? std::string() : text.substr(start), format);
    if (format == Format::L) {
        if (error) *error = "a list is given in SML, e.g. <L <U4 1>>";
        return std::nullopt;
    }
    return read_sml("<" + std::string(format_name(format)) + " " + text + ">", error);
}

CommandOutcome run_command(const std::string& line, Equipment& equipment, const Config& config, std::string* error) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb.empty() || verb[0] == '#') return CommandOutcome::done;
    auto refuse = [&](const std::string& why) {
        if (error) *error = why;
        return CommandOutcome::refused;
    };
    auto outcome = [](bool ok) { return ok ? CommandOutcome::done : CommandOutcome::refused; };
    std::string arg;
    in >> arg;
    if (verb == "quit") return CommandOutcome::quit;
    if (verb == "event") {
        const auto id = id_word(arg);
        if (!id) return refuse("event needs a CEID, not '" + arg + "'");
        return outcome(equipment.trigger(*id, error));
    }
    if (verb == "set") {
        const auto id = id_word(arg);
        if (!id) return refuse("set needs an ID, not '" + arg + "'");
        const auto format = settable_format(config, *id);
        if (!format) return refuse("unknown variable or constant " + arg);
        std::string rest;
        std::getline(in, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        std::string why;
        const auto value = command_value(rest, *format, &why);
        if (!value) return refuse("set " + arg + ": " + why);
        return outcome(equipment.set(*id, *value, error));
    }
    if (verb == "control") {
        if (arg == "online" || arg == "offline") return outcome(equipment.control_online(arg == "online", error));
        if (arg == "local" || arg == "remote") return outcome(equipment.control_remote(arg == "remote", error));
        return refuse("control takes online, offline, local or remote, not '" + arg + "'");
    }
    if (verb == "alarm") {
        std::string alid_word;
        in >> alid_word;
        const auto alid = id_word(alid_word);
        if ((arg != "set" && arg != "clear") || !alid) return refuse("alarm takes set or clear and an ALID");
        return outcome(arg == "set" ? equipment.alarm_set(*alid, error) : equipment.alarm_clear(*alid, error));
    }
    if (verb == "terminal") {
        std::string text = line.substr(line.find("terminal") + 8);
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        return outcome(equipment.terminal(text, error));
    }
    if (verb == "finish") {
        if (arg.empty()) return refuse("finish needs a command name");
        return outcome(equipment.finish(arg, error));
    }
    if (verb == "comm") {
        if (arg == "enable" || arg == "disable") return outcome(equipment.communications(arg == "enable", error));
        return refuse("comm takes enable or disable, not '" + arg + "'");
    }
    return refuse("unknown command '" + verb + "'");
}

}  // namespace tarvo::gem
