#include "driver/messages/element_table.h"

#include <charconv>

#include "driver/messages/elem_type.h"

namespace tarvo {

std::string element_table(const ElementArray& elements) {
    std::string text = "\ntype\tquant\tpointer\t\tvalue\n";
    char num[16];
    for (size_t i = 0; i < elements.size(); ++i) {
        text += '\'';
        text.append(num, std::to_chars(num, num + sizeof num, elements.type(i)).ptr);
        text += "'\t'";
        text.append(num, std::to_chars(num, num + sizeof num, elements.quantity(i)).ptr);
        text += "'\t'";
        text += elements.pointer(i);
        text += "'\t\t'";
        if (elements.type(i) == etSecsB)
            text += '_';
        else
            text += elements.value(i);
        text += "'\n";
    }
    return text;
}

}  // namespace tarvo
