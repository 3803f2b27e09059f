// A SECS-II message as the equipment handles it: its name, its body as an
// item, and the header fields the line reports for a received one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "gem/item.h"

namespace tarvo::gem {

struct Message {
    int stream = 0;
    int function = 0;
    bool w = false;
    std::optional<Item> body;
    // Header: the device ID, and the system bytes (source ID, transaction ID).
    int device = 0;
    int source = 0;
    int transaction = 0;

    bool primary() const { return function % 2 == 1; }
    uint32_t system_bytes() const {
        return (static_cast<uint32_t>(source & 0xFFFF) << 16) | static_cast<uint32_t>(transaction & 0xFFFF);
    }
};

inline Message make_message(int stream, int function, bool w, std::optional<Item> body = std::nullopt) {
    Message m;
    m.stream = stream;
    m.function = function;
    m.w = w;
    m.body = std::move(body);
    return m;
}

// "S2F41" with "W" appended when the W-bit is set ("S2F41W").
std::string message_name(const Message& m);
// The name and the body's one-line SML, one space apart ("S1F2 <L>"); the
// name alone for an empty body.
std::string message_line(const Message& m);
// The text SendMessage and Reply take: "S1F2 <L ...>", "S1F1 W".
std::string message_sml_for_driver(const Message& m);

}  // namespace tarvo::gem
