#include "client/msg_info.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "client/message_boxes.h"

namespace tarvo::client {

namespace {

// Reads a file the way a text-mode reader with a 128-byte line buffer does:
// CR LF is one line end, and a line longer than 127 characters comes in
// pieces of at most 127, each a line of its own.
class LineReader {
public:
    explicit LineReader(const std::string& path) : in_(path, std::ios::binary) {}
    bool is_open() const { return in_.is_open(); }
    bool next(std::string& line) {
        line.clear();
        while (line.size() < 127) {
            int c = in_.get();
            if (c == EOF) break;
            if (c == '\r' && in_.peek() == '\n') c = in_.get();
            line.push_back(static_cast<char>(c));
            if (c == '\n') break;
        }
        return !line.empty();
    }

private:
    std::ifstream in_;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The run of digits from `at` (at most three: a function fits in one byte).
int digits_at(const std::string& line, size_t at, size_t end) {
    int value = 0;
    for (size_t i = at; i < end && i < at + 3 && is_digit(line[i]); ++i) value = value * 10 + (line[i] - '0');
    return value;
}

int digit_value(char c) { return is_digit(c) ? c - '0' : 0; }

void format_error(const char* format, int line, const char* caption) {
    char text[96];
    std::snprintf(text, sizeof text, format, line);
    MessageBoxes::current().show(text, caption, nullptr);
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

MsgInfo::MsgInfo(const std::vector<std::string>& folders)
    : stream_names_{"not used",
                    "Equipment Status",
                    "Equipment Control and Diagnostics",
                    "Material Status",
                    "Material Control",
                    "Exception Handling",
                    "Data Collection",
                    "Process Program Management",
                    "Control Program Transfer",
                    "System Errors",
                    "Terminal Services",
                    "Host File Services (Deleted)",
                    "Wafer Mapping",
                    "Data Set Transfers",
                    "Object Services",
                    "Recipe Management",
                    "Processing Management",
                    "Equipment Control and Diagnostics",
                    "Subsystem Control and Data"} {
    std::string folder;
    for (const std::string& f : folders) {
        const std::string prefix = f.empty() ? "" : f + "/";
        if (std::ifstream(prefix + "Secs_e.sml").is_open() || std::ifstream(prefix + "SEMI_II.txt").is_open()) {
            folder = prefix;
            break;
        }
    }
    FillFileSML(folder + "Secs_e.sml");
    FillFileSECSII(folder + "SEMI_II.txt");
}

std::string MsgInfo::stream_name(int stream) const {
    return stream >= 0 && static_cast<size_t>(stream) < stream_names_.size() ? stream_names_[stream] : "";
}

int MsgInfo::FillFileSML(const std::string& file_name) {
    LineReader in(file_name);
    if (!in.is_open()) {
        MessageBoxes::current().show("Cannot open file Secs_e.sml", "TarvoClient", nullptr);
        return -1;
    }
    static const char* const kCaption = "MsgInfo::FillFileSML";
    std::string line;
    std::string name;
    MsgEntry entry;
    bool in_body = false;
    int number = 0;
    while (in.next(line)) {
        ++number;
        const size_t len = line.size();
        if (len == 1) continue;
        const size_t last = len - 1;  // the line end, or the character taken as one
        if (len > 4 && line[0] == '/' && line[1] == '*' && line[len - 3] == '*' && line[len - 2] == '/') {
            if (in_body) return format_error("Messages name while body. string %d", number, kCaption), 0;
            name = len > 7 ? line.substr(3, len - 7) : std::string();
            continue;
        }
        const bool one_digit = len > 3 && line[0] == 'S' && line[2] == 'F';
        const bool two_digits = !one_digit && len > 4 && line[0] == 'S' && line[3] == 'F';
        if (one_digit || two_digits) {
            if (in_body) return format_error("New messages while body. string %d", number, kCaption), 0;
            entry = MsgEntry{};
            entry.name = name;
            entry.stream = one_digit ? digit_value(line[1]) : digit_value(line[1]) * 10 + digit_value(line[2]);
            entry.function = digits_at(line, one_digit ? 3 : 4, last);
            for (size_t i = 2; i < last; ++i) entry.reply_expected |= line[i] == 'W' || line[i] == 'w';
            if (line[last - 1] == '.') {
                entries_.push_back(entry);
            } else {
                in_body = true;
            }
            continue;
        }
        if (!in_body) continue;
        if (line[last - 1] == '.') {
            entry.body += line.substr(0, last - 1);
            entries_.push_back(entry);
            in_body = false;
        } else {
            entry.body += line.substr(0, last);
            entry.body += '\n';
        }
    }
    return 0;  // a body still open at the end is dropped
}

int MsgInfo::FillFileSECSII(const std::string& file_name) {
    LineReader in(file_name);
    if (!in.is_open()) {
        MessageBoxes::current().show("Cannot open file SEMI_II.txt", "TarvoClient", nullptr);
        return -1;
    }
    static const char* const kCaption = "MsgInfo::FillFileSECSII";
    enum State { none, found, description, structure, exceptions } state = none;
    size_t search = 0;
    MsgEntry* current = nullptr;
    std::string line;
    int number = 0;
    while (in.next(line)) {
        ++number;
        const size_t len = line.size();
        if (len == 1) continue;
        const size_t last = len - 1;
        const std::string text = line.substr(0, last);
        const bool one_digit = len > 5 && line[0] == 'S' && line[2] == ',' && line[3] == 'F';
        const bool two_digits = !one_digit && len > 6 && line[0] == 'S' && line[3] == ',' && line[4] == 'F';
        if (one_digit || two_digits) {
            const int stream = one_digit ? digit_value(line[1]) : digit_value(line[1]) * 10 + digit_value(line[2]);
            const int function = digits_at(line, one_digit ? 4 : 5, last);
            size_t i = search;
            while (i < entries_.size() && !(entries_[i].stream == stream && entries_[i].function == function)) ++i;
            if (i == entries_.size()) {
                return format_error(one_digit ? "Unknown message 1. string %d" : "Unknown message 2. string %d",
                                    number, kCaption),
                       0;
            }
            search = i;
            current = &entries_[i];
            state = found;
            continue;
        }
        if (len > 14 && starts_with(text, "Description: ")) {
            if (state != found) return format_error("Description with out new message. string %d", number, kCaption), 0;
            current->description.push_back(text.substr(13));
            state = description;
            continue;
        }
        if (len > 12 && starts_with(text, "Structure: ")) {
            if (state != found && state != description)
                return format_error("Structure with out new message. string %d", number, kCaption), 0;
            current->structure.push_back(text.substr(11));
            state = structure;
            continue;
        }
        const bool exception = len > 12 && starts_with(text, "Exception: ");
        if (exception || (len > 13 && starts_with(text, "Exceptions: "))) {
            if (state == none || state == exceptions)
                return format_error("Exception with out new message. string %d", number, kCaption), 0;
            current->exceptions.push_back(text.substr(exception ? 11 : 12));
            state = exceptions;
            continue;
        }
        switch (state) {
        case description: current->description.push_back(text); break;
        case structure: current->structure.push_back(text); break;
        case exceptions: current->exceptions.push_back(text); break;
        default: break;
        }
    }
    return 0;
}

std::vector<std::string> catalogue_folders(const std::string& program_folder) {
    std::vector<std::string> folders{""};
    if (!program_folder.empty()) {
        folders.push_back(program_folder);
        folders.push_back(program_folder + "/../share/tarvo");
    }
    return folders;
}

}  // namespace tarvo::client
