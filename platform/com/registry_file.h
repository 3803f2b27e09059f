// The content of the registration store: keys with their values, parsed from
// and written to the text form described in registry.h. No file access here.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

class RegistryFile {
public:
    enum class Lookup { found, no_key, no_value };

    // Parses the whole text. False on a malformed line; *bad_line (1-based)
    // then names it. Blank lines and lines starting with '#' are skipped.
    static bool Parse(std::string_view text, RegistryFile* out, int* bad_line);
    // One line per value (default value first), a bare line for a key without
    // values or subkeys; sorted by key without regard to case.
    std::string Serialize() const;

    // Key paths are backslash-separated names and do not start with '#' (a
    // comment in the text form).
    static bool ValidKey(std::string_view key);
    static bool ValidName(std::string_view name);   // value name; "" = default
    static bool ValidValue(std::string_view value);  // no control characters but tab

    // Callers validate first; these assume valid arguments.
    void SetValue(const std::string& key, const std::string& name, const std::string& value);
    void CreateKey(const std::string& key);
    bool DeleteTree(const std::string& key);  // false when nothing was there
    Lookup GetValue(const std::string& key, const std::string& name, std::string* value) const;
    bool KeyExists(const std::string& key) const;
    std::vector<std::string> Subkeys(const std::string& key) const;

private:
    struct Value {
        std::string name;  // as written
        std::string data;
    };
    struct Key {
        std::string path;                    // as first written
        std::map<std::string, Value> values;  // by folded name
    };
    static std::string Fold(std::string_view text);
    static std::string Normalize(std::string_view key);  // trailing '\' removed

    std::map<std::string, Key> keys_;  // by folded path
};
