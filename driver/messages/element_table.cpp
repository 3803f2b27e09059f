#include "driver/messages/element_table.h"

#include <charconv>

namespace tarvo {

std::string element_table(const std::vector<ParsedElement>& elements) {
    std::string text = "\ntype\tquant\tpointer\t\tvalue\n";
    char num[16];
    for (const ParsedElement& e : elements) {
        text += '\'';
        text.append(num, std::to_chars(num, num + sizeof num, e.type).ptr);
        text += "'\t'";
        text.append(num, std::to_chars(num, num + sizeof num, e.quantity).ptr);
        text += "'\t'";
        text += e.pointer;
        text += "'\t\t'";
        if (e.type == 2)
            text += '_';
        else
            text += e.value;
        text += "'\n";
    }
    return text;
}

}  // namespace tarvo
