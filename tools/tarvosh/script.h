// The tarvosh script language, one statement a line:
//
//   MethodName arg ...                  a call; arg = integer or "string"
//   wait EVENT [CODE] TIMEOUT_MS        wait for an event not yet consumed
//   sleep MS
//   # comment                           (also after a statement)
//
// Integers are decimal, optionally signed, 32-bit. Strings are double-quoted
// with the escapes \\ \" \n \t \r and \xHH (two hex digits); they carry bytes,
// so "\x00" is a zero byte. Tokens are separated by white space.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvosh {

struct Argument {
    enum class Kind { integer, string };
    Kind kind = Kind::integer;
    std::int32_t integer = 0;
    std::string bytes;  // for Kind::string
};

struct Statement {
    enum class Kind { empty, call, wait, sleep };
    Kind kind = Kind::empty;
    std::string name;                // call: method name; wait: event name
    std::vector<Argument> arguments; // call
    std::optional<std::int32_t> code;  // wait: the event's first argument to match
    std::int32_t milliseconds = 0;   // wait: timeout; sleep: duration
};

// Parses one line. On failure returns false and sets *error to a message
// without the line number ("unterminated string", ...).
bool ParseLine(std::string_view line, Statement* statement, std::string* error);

// Writes bytes as a double-quoted string with the escapes above; printable
// ASCII stays as it is, every other byte becomes \xHH (or \n, \t, \r).
std::string Quote(std::string_view bytes);

}  // namespace tarvosh
