// An A or J value as SML writes it: quoted pieces, with every byte that
// cannot stand between apostrophes (the apostrophe, a zero byte, a control
// character) as a "0xHH" token after the piece, which the planner joins back
// on. The text always opens with a quoted piece ("'' 0x27" for a lone
// apostrophe, "''" for nothing).
#pragma once

#include <cstddef>

namespace tarvo::sml {

inline bool stands_quoted(unsigned char c) { return c != '\'' && c >= 0x20 && c != 0x7F; }

// `Sink` takes add(char), add(const char*) and add(const char*, size_t).
template <class Sink>
void quote_into(Sink& out, const char* data, size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    out.add('\'');
    bool open = true;
    size_t i = 0;
    while (i < size) {
        size_t run = i;
        while (run < size && stands_quoted(static_cast<unsigned char>(data[run]))) ++run;
        if (run > i) {
            if (!open) out.add(" '");
            open = true;
            out.add(data + i, run - i);
            i = run;
            continue;
        }
        if (open) out.add('\'');
        open = false;
        const auto c = static_cast<unsigned char>(data[i++]);
        const char token[6] = {' ', '0', 'x', kHex[c >> 4], kHex[c & 15], '\0'};
        out.add(token);
    }
    if (open) out.add('\'');
}

}  // namespace tarvo::sml
