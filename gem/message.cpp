#include "gem/message.h"

#include "gem/sml_text.h"

namespace tarvo::gem {

std::string message_name(const Message& m) {
    std::string s = "S" + std::to_string(m.stream) + "F" + std::to_string(m.function);
    if (m.w) s += 'W';
    return s;
}

std::string message_line(const Message& m) {
    std::string s = message_name(m);
    if (m.body) s += ' ' + write_sml(*m.body);
    return s;
}

std::string message_sml_for_driver(const Message& m) {
    std::string s = "S" + std::to_string(m.stream) + "F" + std::to_string(m.function);
    if (m.w) s += " W";
    if (m.body) s += ' ' + write_sml(*m.body, SmlStyle::planner);
    return s;
}

}  // namespace tarvo::gem
