#include "gem/config_reader.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "gem/sml_text.h"
#include "gem/toml.h"

namespace tarvo::gem {

namespace {

constexpr size_t kMaxConfigBytes = 16 * 1024 * 1024;

const char* const kLineNumbers[] = {"port", "device_id", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "retry",
                                    "baud", "master", "max_connections", "alternate_switches", "log_mask"};

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The text as the TOML parser gets it: every byte above 127 of a string
// becomes the escape \u00XX (literal strings become basic strings for it),
// and one in a comment becomes '?'. The parser meets some such characters
// with undefined behaviour, and strings are bytes to the equipment anyway:
// strings_as_bytes() turns the escapes back into the bytes. Elsewhere a byte
// above 127 is never valid TOML; its line is given in `bad_line`.
std::string escape_high_bytes(std::string_view t, size_t& bad_line) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(t.size() + t.size() / 8);
    size_t line = 1, i = 0;
    bad_line = 0;
    auto starts = [&](const char* q) { return t.compare(i, std::strlen(q), q) == 0; };
    auto high = [&](size_t at) { return static_cast<unsigned char>(t[at]) > 127; };
    auto escape = [&](unsigned char c) {
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    auto refuse = [&] {
        bad_line = line;
        return std::string();
    };
    // One character of a string: `literal` strings are rewritten as basic ones.
    auto string_char = [&](bool literal) -> bool {
        const char c = t[i];
        if (c == '\n') ++line;
        if (high(i)) {
            escape(static_cast<unsigned char>(c));
        } else if (literal && (c == '\\' || c == '"')) {
            out += '\\';
            out += c;
        } else if (!literal && c == '\\' && i + 1 < t.size()) {
            if (high(i + 1)) return false;  // an escape of a byte above 127 is no escape
            out += c;
            out += t[++i];
            if (t[i] == '\n') ++line;
        } else {
            out += c;
        }
        ++i;
        return true;
    };
    while (i < t.size()) {
        const char c = t[i];
        if (c == '#') {
            while (i < t.size() && t[i] != '\n') out += high(i) ? '?' : t[i], ++i;
        } else if (starts("\"\"\"") || starts("'''")) {
            const bool literal = c == '\'';
            const char* close = literal ? "'''" : "\"\"\"";
            out += "\"\"\"";
            i += 3;
            while (i < t.size() && !starts(close))
                if (!string_char(literal)) return refuse();
            if (i < t.size()) {
                out += "\"\"\"";
                i += 3;
            }
        } else if (c == '"' || c == '\'') {
            out += '"';
            ++i;
            while (i < t.size() && t[i] != c && t[i] != '\n')
                if (!string_char(c == '\'')) return refuse();
            if (i < t.size() && t[i] == c) {
                out += '"';
                ++i;
            }
        } else if (high(i)) {
            return refuse();
        } else {
            if (c == '\n') ++line;
            out += c;
            ++i;
        }
    }
    return out;
}

// A parsed string back as bytes: each character up to U+00FF is one byte.
bool utf8_as_bytes(const std::string& s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        } else {
            return false;  // a character above U+00FF
        }
    }
    return true;
}

class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    void run(const toml::table& root, Config& c) {
        static const std::set<std::string> kTop = {"equipment", "line",  "control", "ids",    "variable",
                                                  "constant",  "event", "alarm",   "command"};
        for (auto&& [key, node] : root)
            if (!kTop.count(std::string(key.str()))) error(key.source(), std::string(key.str()), "unknown key");
        c.state_file = "tarvo-gem.state";
        if (auto* t = table(root, "equipment")) equipment(*t, c);
        if (auto* t = table(root, "line")) line(*t, c);
        if (auto* t = table(root, "control")) control(*t, c);
        if (auto* t = table(root, "ids")) ids(*t, c);
        builtin_names(c);
        for_each(root, "variable", [&](const toml::table& t) { variable(t, c); });
        for_each(root, "constant", [&](const toml::table& t) { constant(t, c); });
        for_each(root, "event", [&](const toml::table& t) { event(t, c); });
        for_each(root, "alarm", [&](const toml::table& t) { alarm(t, c); });
        for_each(root, "command", [&](const toml::table& t) { command(t, c); });
        c.program_dir = program_dir_.empty() ? folder_of(path_) + "programs"
                        : program_dir_[0] == '/' ? program_dir_ : folder_of(path_) + program_dir_;
        if (!c.state_file.empty() && c.state_file[0] != '/') c.state_file = folder_of(path_) + c.state_file;
        if (c.line.log_file && !c.line.log_file->empty() && (*c.line.log_file)[0] != '/')
            c.line.log_file = folder_of(path_) + *c.line.log_file;
    }

    void error(const toml::source_region& at, const std::string& key, const std::string& reason) {
        errors.push_back(path_ + ":" + std::to_string(at.begin.line) + ": " + key + ": " + reason);
    }

    std::vector<std::string> errors;

private:
    const toml::table* table(const toml::table& root, const char* name) {
        const toml::node* n = root.get(name);
        if (!n) return nullptr;
        if (!n->is_table()) {
            error(n->source(), name, "a table is expected");
            return nullptr;
        }
        return n->as_table();
    }

    template <class F>
    void for_each(const toml::table& root, const char* name, F f) {
        const toml::node* n = root.get(name);
        if (!n) return;
        const toml::array* a = n->as_array();
        if (!a || !a->is_array_of_tables()) {
            error(n->source(), name, std::string("an array of tables is expected ([[") + name + "]])");
            return;
        }
        for (const toml::node& t : *a) f(*t.as_table());
    }

    void unknown_keys(const toml::table& t, const std::string& where, std::initializer_list<const char*> known) {
        for (auto&& [key, node] : t) {
            bool ok = false;
            for (const char* k : known) ok = ok || key.str() == k;
            if (!ok) error(key.source(), where + "." + std::string(key.str()), "unknown key");
        }
    }

    std::optional<std::string> string(const toml::table& t, const std::string& where, const char* key) {
        const toml::node* n = t.get(key);
        if (!n) return std::nullopt;
        if (!n->is_string()) {
            error(n->source(), where + "." + key, "a string is expected");
            return std::nullopt;
        }
        std::string bytes;
        if (!utf8_as_bytes(n->as_string()->get(), bytes)) {
            error(n->source(), where + "." + key, "a character above U+00FF");
            return std::nullopt;
        }
        return bytes;
    }

    std::optional<int64_t> integer(const toml::table& t, const std::string& where, const char* key, int64_t lo,
                                   int64_t hi) {
        const toml::node* n = t.get(key);
        if (!n) return std::nullopt;
        if (!n->is_integer()) {
            error(n->source(), where + "." + key, "an integer is expected");
            return std::nullopt;
        }
        const int64_t v = n->as_integer()->get();
        if (v < lo || v > hi) {
            error(n->source(), where + "." + key,
                  "value " + std::to_string(v) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
            return std::nullopt;
        }
        return v;
    }

    std::optional<uint32_t> id(const toml::table& t, const std::string& where, const char* key) {
        auto v = integer(t, where, key, 0, UINT32_MAX);
        if (!v) return std::nullopt;
        return static_cast<uint32_t>(*v);
    }

    void equipment(const toml::table& t, Config& c) {
        unknown_keys(t, "equipment", {"mdln", "softrev", "state_file", "establish_communications", "program_dir",
                                      "max_program_bytes", "objspec"});
        if (auto s = string(t, "equipment", "program_dir")) program_dir_ = *s;
        if (auto s = string(t, "equipment", "objspec")) c.objspec = *s;
        if (auto v = integer(t, "equipment", "max_program_bytes", 0, INT64_MAX)) c.max_program_bytes = static_cast<uint64_t>(*v);
        auto limited = [&](const char* key, std::string& out) {
            if (auto s = string(t, "equipment", key)) {
                if (s->size() > 20)
                    error(t.get(key)->source(), std::string("equipment.") + key, "more than 20 characters");
                else
                    out = *s;
            }
        };
        limited("mdln", c.mdln);
        limited("softrev", c.softrev);
        if (auto s = string(t, "equipment", "state_file")) c.state_file = *s;
        if (const toml::node* n = t.get("establish_communications")) {
            if (!n->is_boolean())
                error(n->source(), "equipment.establish_communications", "true or false is expected");
            else
                c.establish_communications = n->as_boolean()->get();
        }
    }

    void line(const toml::table& t, Config& c) {
        for (auto&& [key, node] : t) {
            const std::string k(key.str());
            if (k == "type" || k == "mode" || k == "host" || k == "log_file") continue;
            bool known = false;
            for (const char* n : kLineNumbers) known = known || k == n;
            if (!known) {
                error(key.source(), "line." + k, "unknown key");
                continue;
            }
            if (auto v = integer(t, "line", k.c_str(), k == "device_id" ? 0 : INT32_MIN, k == "device_id" ? 32767 : INT32_MAX)) {
                c.line.numbers.emplace_back(k, *v);
                if (k == "device_id") c.device_id = static_cast<int>(*v);
            }
        }
        if (auto s = string(t, "line", "type")) {
            if (*s != "hsms" && *s != "secs1")
                error(t.get("type")->source(), "line.type", "'" + *s + "' is not hsms or secs1");
            else
                c.line.type = *s;
        }
        if (auto s = string(t, "line", "mode")) {
            if (*s != "active" && *s != "passive" && *s != "alternating")
                error(t.get("mode")->source(), "line.mode", "'" + *s + "' is not active, passive or alternating");
            else
                c.line.mode = *s;
        }
        if (auto s = string(t, "line", "host")) c.line.host = *s;
        if (auto s = string(t, "line", "log_file")) c.line.log_file = *s;
    }

    std::optional<ControlState> state(const toml::table& t, const char* key, bool online_allowed) {
        auto s = string(t, "control", key);
        if (!s) return std::nullopt;
        static const std::map<std::string, ControlState> kStates = {
            {"equipment_offline", ControlState::equipment_offline},
            {"host_offline", ControlState::host_offline},
            {"online_local", ControlState::online_local},
            {"online_remote", ControlState::online_remote},
        };
        auto it = kStates.find(*s);
        if (it == kStates.end() || (!online_allowed && is_online(it->second))) {
            error(t.get(key)->source(), std::string("control.") + key,
                  "'" + *s + "' is not " +
                      (online_allowed ? "equipment_offline, host_offline, online_local or online_remote"
                                      : "equipment_offline or host_offline"));
            return std::nullopt;
        }
        return it->second;
    }

    void control(const toml::table& t, Config& c) {
        unknown_keys(t, "control", {"initial", "online_failed"});
        if (auto s = state(t, "initial", true)) c.initial = *s;
        if (auto s = state(t, "online_failed", false)) c.online_failed = *s;
    }

    void ids(const toml::table& t, Config& c) {
        BuiltinIds& d = c.ids;
        const std::pair<const char*, uint32_t*> kIds[] = {
            {"clock", &d.clock},
            {"control_state", &d.control_state},
            {"previous_control_state", &d.previous_control_state},
            {"events_enabled", &d.events_enabled},
            {"alarms_enabled", &d.alarms_enabled},
            {"alarms_set", &d.alarms_set},
            {"establish_communications_timeout", &d.establish_communications_timeout},
            {"time_format", &d.time_format},
            {"equipment_offline_event", &d.equipment_offline_event},
            {"host_offline_event", &d.host_offline_event},
            {"online_local_event", &d.online_local_event},
            {"online_remote_event", &d.online_remote_event},
            {"operator_constant_change_event", &d.operator_constant_change_event},
        };
        for (auto&& [key, node] : t) {
            bool known = false;
            for (auto& [name, field] : kIds) {
                if (key.str() != name) continue;
                known = true;
                if (auto v = id(t, "ids", name)) *field = *v;
            }
            if (!known) error(key.source(), "ids." + std::string(key.str()), "unknown key");
        }
    }

    // The built-in items take their IDs and names first.
    void builtin_names(const Config& c) {
        const BuiltinIds& d = c.ids;
        const std::pair<uint32_t, const char*> kVariables[] = {
            {d.clock, "Clock"}, {d.control_state, "ControlState"}, {d.previous_control_state, "PreviousControlState"},
            {d.events_enabled, "EventsEnabled"}, {d.alarms_enabled, "AlarmsEnabled"}, {d.alarms_set, "AlarmsSet"},
            {d.establish_communications_timeout, "EstablishCommunicationsTimeout"},
            {d.time_format, "TimeFormat"},
        };
        for (auto& [id, name] : kVariables) {
            if (!variable_ids_.insert(id).second) errors.push_back(path_ + ":1: ids: duplicate ID " + std::to_string(id));
            names_.insert(name);
        }
        const std::pair<uint32_t, const char*> kEvents[] = {
            {d.equipment_offline_event, "EquipmentOffline"}, {d.host_offline_event, "HostOffline"},
            {d.online_local_event, "OnlineLocal"}, {d.online_remote_event, "OnlineRemote"},
            {d.operator_constant_change_event, "OperatorEquipmentConstantChange"},
        };
        for (auto& [id, name] : kEvents) {
            if (!event_ids_.insert(id).second) errors.push_back(path_ + ":1: ids: duplicate event ID " + std::to_string(id));
            names_.insert(name);
        }
    }

    // The common keys of a variable, constant or event: a unique ID in its
    // namespace and a unique name.
    bool identity(const toml::table& t, const std::string& where, std::set<uint32_t>& ids, uint32_t& out_id,
                  std::string& out_name) {
        auto i = id(t, where, "id");
        auto n = string(t, where, "name");
        bool ok = true;
        if (!t.get("id")) {
            error(t.source(), where + ".id", "missing");
            ok = false;
        } else if (!i) {
            ok = false;
        } else if (!ids.insert(*i).second) {
            error(t.get("id")->source(), where + ".id", "duplicate ID " + std::to_string(*i));
            ok = false;
        }
        if (!t.get("name")) {
            error(t.source(), where + ".name", "missing");
            ok = false;
        } else if (!n) {
            ok = false;
        } else if (n->empty()) {
            error(t.get("name")->source(), where + ".name", "empty");
            ok = false;
        } else if (!names_.insert(*n).second) {
            error(t.get("name")->source(), where + ".name", "duplicate name '" + *n + "'");
            ok = false;
        }
        if (ok) {
            out_id = *i;
            out_name = *n;
        }
        return ok;
    }

    std::optional<Format> format(const toml::table& t, const std::string& where) {
        auto s = string(t, where, "format");
        if (!t.get("format")) {
            error(t.source(), where + ".format", "missing");
            return std::nullopt;
        }
        if (!s) return std::nullopt;
        auto f = format_from_name(*s);
        if (!f) error(t.get("format")->source(), where + ".format", "unknown format '" + *s + "'");
        return f;
    }

    // A value of format `f` from a TOML value: a number for a numeric
    // format, a string for A and J, true/false for Boolean, an integer
    // (0..255) for B, or, for any format, an array of those; any non-text
    // format also takes its one-line SML in a string.
    std::optional<Item> value(const toml::node& n, Format f, const std::string& key) {
        std::string why;
        auto item = convert(n, f, why);
        if (!item) error(n.source(), key, why);
        return item;
    }

    std::optional<Item> convert(const toml::node& n, Format f, std::string& why) {
        std::string bytes;
        if (n.is_string() && !utf8_as_bytes(n.as_string()->get(), bytes)) {
            why = "a character above U+00FF";
            return std::nullopt;
        }
        if (n.is_string() && !is_text(f)) {
            auto item = read_sml(bytes, &why);
            if (item && item->format() != f) {
                why = std::string("the value is ") + format_name(item->format()) + ", not " + format_name(f);
                return std::nullopt;
            }
            return item;
        }
        if (is_text(f)) {
            if (!n.is_string()) {
                why = "a string is expected";
                return std::nullopt;
            }
            return Item::text(bytes, f);
        }
        if (f == Format::L) {
            why = "a list is given as SML text, e.g. \"<L <U4 1>>\"";
            return std::nullopt;
        }
        std::vector<const toml::node*> values;
        if (const toml::array* a = n.as_array())
            for (const toml::node& v : *a) values.push_back(&v);
        else
            values.push_back(&n);
        if (f == Format::Boolean) {
            std::vector<bool> v;
            for (const toml::node* x : values) {
                if (!x->is_boolean()) {
                    why = "true or false is expected";
                    return std::nullopt;
                }
                v.push_back(x->as_boolean()->get());
            }
            return Item::boolean(std::move(v));
        }
        std::vector<double> d;
        std::vector<int64_t> ints;
        for (const toml::node* x : values) {
            if (x->is_integer()) {
                const int64_t i = x->as_integer()->get();
                if (f == Format::B ? (i < 0 || i > 255) : !fits_signed(f, i)) {
                    why = "value " + std::to_string(i) + " is outside format " + format_name(f);
                    return std::nullopt;
                }
                ints.push_back(i);
                d.push_back(static_cast<double>(i));
            } else if (x->is_floating_point() && is_float(f)) {
                const double v = x->as_floating_point()->get();
                if (!fits(f, v)) {
                    why = "value is outside format " + std::string(format_name(f));
                    return std::nullopt;
                }
                d.push_back(v);
            } else {
                why = is_float(f) ? "a number is expected" : "an integer is expected";
                return std::nullopt;
            }
        }
        if (f == Format::B) {
            std::string bytes;
            for (int64_t i : ints) bytes += static_cast<char>(i);
            return Item::binary(std::move(bytes));
        }
        if (is_float(f)) return Item::floats(f, std::move(d));
        return is_signed(f) ? Item::signeds(f, std::move(ints))
                            : Item::unsigneds(f, std::vector<uint64_t>(ints.begin(), ints.end()));
    }

    // The zero of a format: 0, "", an empty list or an empty B.
    static Item zero(Format f) {
        if (f == Format::L) return Item();
        if (is_text(f)) return Item::text("", f);
        if (f == Format::B) return Item::binary("");
        if (f == Format::Boolean) return Item::boolean(false);
        if (is_float(f)) return Item::floats(f, {0.0});
        if (is_signed(f)) return Item::signeds(f, {0});
        return Item::unsigneds(f, {0});
    }

    void variable(const toml::table& t, Config& c) {
        unknown_keys(t, "variable", {"id", "name", "kind", "format", "units", "value"});
        VariableDef v;
        bool ok = identity(t, "variable", variable_ids_, v.id, v.name);
        if (auto k = string(t, "variable", "kind")) {
            if (*k == "sv" || *k == "dv")
                v.status = *k == "sv";
            else {
                error(t.get("kind")->source(), "variable.kind", "'" + *k + "' is not sv or dv");
                ok = false;
            }
        }
        auto f = format(t, "variable");
        if (!f) return;
        v.format = *f;
        v.units = string(t, "variable", "units").value_or("");
        v.value = zero(*f);
        if (const toml::node* n = t.get("value")) {
            auto item = value(*n, *f, "variable.value");
            if (!item) return;
            v.value = *item;
        }
        if (ok) c.variables.push_back(std::move(v));
    }

    void constant(const toml::table& t, Config& c) {
        unknown_keys(t, "constant", {"id", "name", "format", "min", "max", "default", "units"});
        ConstantDef k;
        bool ok = identity(t, "constant", variable_ids_, k.id, k.name);
        auto f = format(t, "constant");
        if (!f) return;
        k.format = *f;
        k.units = string(t, "constant", "units").value_or("");
        const toml::node* d = t.get("default");
        if (!d) {
            error(t.source(), "constant.default", "missing");
            return;
        }
        auto def = value(*d, *f, "constant.default");
        if (!def) return;
        k.def = *def;
        for (const char* key : {"min", "max"}) {
            const toml::node* n = t.get(key);
            if (!n) continue;
            if (!is_numeric(*f)) {
                error(n->source(), std::string("constant.") + key, "only a numeric constant has limits");
                ok = false;
                continue;
            }
            auto v = value(*n, *f, std::string("constant.") + key);
            if (!v) return;
            (std::string(key) == "min" ? k.min : k.max) = *v;
        }
        if (is_numeric(*f)) {
            auto lo = k.min.as_number(), hi = k.max.as_number(), dv = k.def.as_number();
            if (lo && hi && *lo > *hi) {
                error(t.get("min")->source(), "constant.min", "above max");
                ok = false;
            } else if (dv && ((lo && *dv < *lo) || (hi && *dv > *hi))) {
                error(d->source(), "constant.default", "outside min..max");
                ok = false;
            }
        }
        if (ok) c.constants.push_back(std::move(k));
    }

    void event(const toml::table& t, Config& c) {
        unknown_keys(t, "event", {"id", "name", "variables"});
        EventDef e;
        bool ok = identity(t, "event", event_ids_, e.id, e.name);
        if (const toml::node* n = t.get("variables")) {
            const toml::array* a = n->as_array();
            if (!a) {
                error(n->source(), "event.variables", "an array of variable IDs is expected");
                return;
            }
            for (const toml::node& v : *a) {
                if (!v.is_integer() || v.as_integer()->get() < 0 || v.as_integer()->get() > UINT32_MAX) {
                    error(v.source(), "event.variables", "a variable ID is expected");
                    ok = false;
                    continue;
                }
                const auto vid = static_cast<uint32_t>(v.as_integer()->get());
                if (!variable_ids_.count(vid)) {
                    error(v.source(), "event.variables", "unknown variable " + std::to_string(vid));
                    ok = false;
                }
                e.variables.push_back(vid);
            }
        }
        if (ok) c.events.push_back(std::move(e));
    }

    // An event an alarm or a command names must be declared.
    std::optional<uint32_t> event_ref(const toml::table& t, const std::string& where, const char* key, bool& ok) {
        const toml::node* n = t.get(key);
        if (!n) return std::nullopt;
        auto v = id(t, where, key);
        if (!v) {
            ok = false;
            return std::nullopt;
        }
        if (!event_ids_.count(*v)) {
            error(n->source(), where + "." + key, "unknown event " + std::to_string(*v));
            ok = false;
        }
        return v;
    }

    void alarm(const toml::table& t, Config& c) {
        unknown_keys(t, "alarm", {"id", "name", "text", "category", "set_event", "clear_event"});
        AlarmDef a;
        bool ok = identity(t, "alarm", alarm_ids_, a.id, a.name);
        a.text = string(t, "alarm", "text").value_or("");
        if (a.text.size() > 120) {
            error(t.get("text")->source(), "alarm.text", "more than 120 characters");
            ok = false;
        }
        if (auto v = integer(t, "alarm", "category", 1, 127))
            a.category = static_cast<uint8_t>(*v);
        else if (t.get("category"))
            ok = false;
        for (const char* key : {"set_event", "clear_event"}) {
            if (!t.get(key)) {
                error(t.source(), std::string("alarm.") + key, "missing");
                ok = false;
                continue;
            }
            if (auto e = event_ref(t, "alarm", key, ok)) (std::string(key) == "set_event" ? a.set_event : a.clear_event) = *e;
        }
        if (ok) c.alarms.push_back(std::move(a));
    }

    void command(const toml::table& t, Config& c) {
        unknown_keys(t, "command", {"name", "parameters", "hcack", "finished_event"});
        CommandDef d;
        bool ok = true;
        auto n = string(t, "command", "name");
        if (!n || n->empty()) {
            if (!t.get("name")) error(t.source(), "command.name", "missing");
            return;
        }
        if (!command_names_.insert(*n).second) {
            error(t.get("name")->source(), "command.name", "duplicate name '" + *n + "'");
            return;
        }
        d.name = *n;
        if (const toml::node* p = t.get("parameters")) {
            const toml::array* a = p->as_array();
            if (!a) {
                error(p->source(), "command.parameters", "an array of names is expected");
                return;
            }
            for (const toml::node& v : *a) {
                std::string name;
                if (!v.is_string() || !utf8_as_bytes(v.as_string()->get(), name)) {
                    error(v.source(), "command.parameters", "a name is expected");
                    return;
                }
                d.parameters.push_back(name);
            }
        }
        if (auto v = integer(t, "command", "hcack", 0, 255)) {
            if (*v != 0 && *v != 4) {
                error(t.get("hcack")->source(), "command.hcack", "0 (done) or 4 (finishes later)");
                ok = false;
            }
            d.hcack = static_cast<uint8_t>(*v);
        }
        d.finished_event = event_ref(t, "command", "finished_event", ok);
        if (ok) c.commands.push_back(std::move(d));
    }

    std::string path_;
    std::string program_dir_;
    std::set<uint32_t> alarm_ids_;
    std::set<std::string> command_names_;
    std::set<uint32_t> variable_ids_;
    std::set<uint32_t> event_ids_;
    std::set<std::string> names_;
};

}  // namespace

std::optional<Format> settable_format(const Config& c, uint32_t id) {
    for (const VariableDef& v : c.variables)
        if (v.id == id) return v.format;
    for (const ConstantDef& k : c.constants)
        if (k.id == id) return k.format;
    if (id == c.ids.establish_communications_timeout) return Format::U2;
    if (id == c.ids.time_format) return Format::U1;
    return std::nullopt;
}

ConfigResult read_config_text(std::string_view text, const std::string& path) {
    ConfigResult r;
    size_t bad_line = 0;
    const std::string escaped = escape_high_bytes(text, bad_line);
    if (bad_line) {
        r.errors.push_back(path + ":" + std::to_string(bad_line) +
                           ": (file): a byte above 127 outside a string or a comment");
        return r;
    }
    toml::parse_result parsed = toml::parse(escaped, path);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        r.errors.push_back(path + ":" + std::to_string(e.source().begin.line) + ": (file): " +
                           std::string(e.description()));
        return r;
    }
    Reader reader(path);
    reader.run(parsed.table(), r.config);
    r.errors = std::move(reader.errors);
    return r;
}

ConfigResult read_config_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ConfigResult r;
        r.errors.push_back(path + ":0: (file): cannot be read");
        return r;
    }
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxConfigBytes) {
            ConfigResult r;
            r.errors.push_back(path + ":0: (file): larger than 16 MiB");
            return r;
        }
    }
    return read_config_text(text, path);
}

}  // namespace tarvo::gem
