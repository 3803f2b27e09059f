// The tarvosh script language, from outside bytes, a line at a time.
//
// - A rejected line gets a message that is one printable line of its own.
// - An accepted line, written back in canonical form (integers in decimal,
//   strings through Quote), parses to the same statement.
// - Any bytes, quoted, are one printable token that parses back to the same
//   bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/tarvosh/script.h"

namespace {

using tarvosh::Argument;
using tarvosh::Statement;

void check(bool ok) {
    if (!ok) std::abort();
}

bool printable(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

std::string render(const Statement& s) {
    switch (s.kind) {
        case Statement::Kind::empty: return "";
        case Statement::Kind::sleep: return "sleep " + std::to_string(s.milliseconds);
        case Statement::Kind::wait: {
            std::string out = "wait " + s.name;
            if (s.code) out += " " + std::to_string(*s.code);
            return out + " " + std::to_string(s.milliseconds);
        }
        case Statement::Kind::call: {
            std::string out = s.name;
            for (const Argument& a : s.arguments)
                out += " " + (a.kind == Argument::Kind::integer ? std::to_string(a.integer) : tarvosh::Quote(a.bytes));
            return out;
        }
    }
    std::abort();
}

bool same(const Statement& a, const Statement& b) {
    if (a.kind != b.kind || a.name != b.name || a.code != b.code || a.milliseconds != b.milliseconds ||
        a.arguments.size() != b.arguments.size())
        return false;
    for (std::size_t i = 0; i < a.arguments.size(); ++i) {
        const Argument& x = a.arguments[i];
        const Argument& y = b.arguments[i];
        if (x.kind != y.kind) return false;
        if (x.kind == Argument::Kind::integer ? x.integer != y.integer : x.bytes != y.bytes) return false;
    }
    return true;
}

void check_line(std::string_view line) {
    Statement statement;
    std::string error;
    if (!tarvosh::ParseLine(line, &statement, &error)) {
        check(!error.empty() && printable(error));
    } else {
        check(error.empty());
        const std::string canonical = render(statement);
        Statement again;
        check(tarvosh::ParseLine(canonical, &again, &error));
        check(same(statement, again));
    }

    const std::string quoted = tarvosh::Quote(line);
    check(printable(quoted));
    Statement call;
    error.clear();
    check(tarvosh::ParseLine("Put " + quoted + " # quoted", &call, &error));
    check(call.kind == Statement::Kind::call && call.arguments.size() == 1 &&
          call.arguments[0].kind == Argument::Kind::string && call.arguments[0].bytes == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        check_line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return 0;
}
