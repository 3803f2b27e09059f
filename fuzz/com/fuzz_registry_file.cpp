// The registration store's text form, from outside bytes.
//
// 1. The input parsed as a store file: a failure names a line of the input
//    and leaves the destination alone; a success writes back text that parses
//    again to the same text, holding every value and key it wrote, and each
//    parent lists each of its children once, in order.
// 2. The input's lines taken as edits ("key<US>name<US>value" sets a value,
//    "-key" removes a tree, a bare key creates it; US is byte 0x1F, which no
//    field may hold): whatever the editing calls accept must survive a write
//    and a read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/registry_file.h"

namespace {

std::string fold(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

void check(bool ok) {
    if (!ok) std::abort();
}

// Subkeys of `parent` are sorted without regard to case, each once.
void check_children(const RegistryFile& file, const std::string& parent, std::string_view child) {
    std::vector<std::string> subkeys = file.Subkeys(parent);
    int seen = 0;
    for (std::size_t i = 0; i < subkeys.size(); ++i) {
        if (i > 0) check(fold(subkeys[i - 1]) < fold(subkeys[i]));
        if (fold(subkeys[i]) == fold(child)) ++seen;
    }
    check(seen == 1);
}

// `text` is what `file` wrote: every line of it must be readable back from
// `back`, the result of parsing that text.
void check_written(const RegistryFile& file, const std::string& text, const RegistryFile& back) {
    for (std::string_view line : lines_of(text)) {
        std::size_t stop = line.find_first_of("[=");
        std::string key(line.substr(0, stop == std::string_view::npos ? line.size() : stop - 1));
        check(RegistryFile::ValidKey(key));
        check(back.KeyExists(key) && file.KeyExists(key));
        if (stop != std::string_view::npos) {
            std::string_view rest = line.substr(stop);
            std::string name;
            if (rest.front() == '[') {
                std::size_t close = rest.find(']');
                check(close != std::string_view::npos);
                name = std::string(rest.substr(1, close - 1));
                rest = rest.substr(close + 2);
            }
            check(rest.starts_with("= "));
            std::string expected(rest.substr(2)), got, original;
            check(back.GetValue(key, name, &got) == RegistryFile::Lookup::found && got == expected);
            check(file.GetValue(key, name, &original) == RegistryFile::Lookup::found && original == expected);
        }
        for (std::size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1)) {
            std::size_t next = key.find('\\', cut + 1);
            std::string child = key.substr(cut + 1, next == std::string::npos ? next : next - cut - 1);
            check_children(back, key.substr(0, cut), child);
        }
    }
}

// Writes `file`, reads it back, and checks the two agree.
void check_round_trip(const RegistryFile& file) {
    const std::string text = file.Serialize();
    RegistryFile back;
    int bad_line = 0;
    check(RegistryFile::Parse(text, &back, &bad_line));
    check(back.Serialize() == text);
    check_written(file, text, back);
}

void parse_as_file(std::string_view input) {
    RegistryFile file;
    file.SetValue("HKCR\\Sentinel", "", "kept");
    int bad_line = 0;
    if (!RegistryFile::Parse(input, &file, &bad_line)) {
        check(bad_line >= 1 && static_cast<std::size_t>(bad_line) <= lines_of(input).size());
        std::string v;
        check(file.GetValue("HKCR\\Sentinel", "", &v) == RegistryFile::Lookup::found && v == "kept");
        return;
    }
    check_round_trip(file);
}

void apply_as_edits(std::string_view input) {
    constexpr char kUnit = '\x1F';
    RegistryFile file;
    for (std::string_view line : lines_of(input)) {
        if (line.size() > 1 && line.front() == '-') {
            std::string key(line.substr(1));
            if (RegistryFile::ValidKey(key)) {
                file.DeleteTree(key);
                check(!file.KeyExists(key));
            }
            continue;
        }
        std::size_t a = line.find(kUnit);
        if (a == std::string_view::npos) {
            std::string key(line);
            if (RegistryFile::ValidKey(key)) {
                file.CreateKey(key);
                check(file.KeyExists(key));
            }
            continue;
        }
        std::size_t b = line.find(kUnit, a + 1);
        if (b == std::string_view::npos) continue;
        std::string key(line.substr(0, a)), name(line.substr(a + 1, b - a - 1)), value(line.substr(b + 1));
        if (!RegistryFile::ValidKey(key) || !RegistryFile::ValidName(name) || !RegistryFile::ValidValue(value))
            continue;
        file.SetValue(key, name, value);
        std::string got;
        check(file.GetValue(key, name, &got) == RegistryFile::Lookup::found && got == value);
    }
    check_round_trip(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    parse_as_file(input);
    apply_as_edits(input);
    return 0;
}
