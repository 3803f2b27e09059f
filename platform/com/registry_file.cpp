#include "platform/com/registry_file.h"

namespace {

bool is_control(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

bool valid_component(std::string_view name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ') return false;
    for (char c : name)
        if (is_control(c) || c == '\\' || c == '[' || c == ']' || c == '=') return false;
    return true;
}

}  // namespace

std::string RegistryFile::Fold(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string RegistryFile::Normalize(std::string_view key) {
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return std::string(key);
}

bool RegistryFile::ValidKey(std::string_view key) {
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    // A line starting with '#' is a comment: such a key would vanish on the next read.
    if (key.empty() || key.front() == '#') return false;
    std::size_t start = 0;
    while (true) {
        std::size_t end = key.find('\\', start);
        if (!valid_component(key.substr(start, end == std::string_view::npos ? key.npos : end - start)))
            return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool RegistryFile::ValidName(std::string_view name) { return name.empty() || valid_component(name); }

bool RegistryFile::ValidValue(std::string_view value) {
    for (char c : value)
        if (is_control(c) && c != '\t') return false;
    return true;
}

void RegistryFile::CreateKey(const std::string& key) {
    std::string path = Normalize(key);
    auto [it, inserted] = keys_.try_emplace(Fold(path));
    if (inserted) it->second.path = path;
}

void RegistryFile::SetValue(const std::string& key, const std::string& name, const std::string& value) {
    std::string path = Normalize(key);
    auto [it, inserted] = keys_.try_emplace(Fold(path));
    if (inserted) it->second.path = path;
    auto [v, fresh] = it->second.values.try_emplace(Fold(name));
    if (fresh) v->second.name = name;
    v->second.data = value;
}

bool RegistryFile::DeleteTree(const std::string& key) {
    std::string folded = Fold(Normalize(key));
    std::string prefix = folded + "\\";
    bool removed = keys_.erase(folded) > 0;
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix);) {
        it = keys_.erase(it);
        removed = true;
    }
    return removed;
}

bool RegistryFile::KeyExists(const std::string& key) const {
    std::string folded = Fold(Normalize(key));
    if (keys_.count(folded)) return true;
    std::string prefix = folded + "\\";
    auto it = keys_.lower_bound(prefix);
    return it != keys_.end() && it->first.starts_with(prefix);
}

RegistryFile::Lookup RegistryFile::GetValue(const std::string& key, const std::string& name,
                                            std::string* value) const {
    auto it = keys_.find(Fold(Normalize(key)));
    if (it == keys_.end()) return KeyExists(key) ? Lookup::no_value : Lookup::no_key;
    auto v = it->second.values.find(Fold(name));
    if (v == it->second.values.end()) return Lookup::no_value;
    if (value) *value = v->second.data;
    return Lookup::found;
}

std::vector<std::string> RegistryFile::Subkeys(const std::string& key) const {
    std::string prefix = Fold(Normalize(key)) + "\\";
    // A child's own subkeys need not follow it directly (b\c sorts after b!),
    // so children are gathered by folded name, first spelling kept.
    std::map<std::string, std::string> children;
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix); ++it) {
        std::string rest = it->second.path.substr(prefix.size());
        std::size_t cut = rest.find('\\');
        if (cut != std::string::npos) rest.resize(cut);
        children.try_emplace(Fold(rest), rest);
    }
    std::vector<std::string> out;
    out.reserve(children.size());
    for (auto& [folded, name] : children) out.push_back(std::move(name));
    return out;
}

std::string RegistryFile::Serialize() const {
    std::string out;
    for (auto it = keys_.begin(); it != keys_.end(); ++it) {
        const Key& key = it->second;
        if (key.values.empty()) {
            auto next = std::next(it);
            bool has_children = next != keys_.end() && next->first.starts_with(it->first + "\\");
            if (!has_children) out += key.path + "\n";
            continue;
        }
        auto def = key.values.find("");
        if (def != key.values.end()) out += key.path + " = " + def->second.data + "\n";
        for (const auto& [folded, value] : key.values)
            if (!folded.empty()) out += key.path + " [" + value.name + "] = " + value.data + "\n";
    }
    return out;
}

bool RegistryFile::Parse(std::string_view text, RegistryFile* out, int* bad_line) {
    RegistryFile result;
    int number = 0;
    while (!text.empty()) {
        ++number;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        std::size_t stop = line.find_first_of("[=");
        std::string_view key = line.substr(0, stop);
        std::string_view name, value;
        bool has_value = stop != std::string_view::npos;
        if (has_value) {
            if (!key.ends_with(' ')) goto bad;
            key.remove_suffix(1);
            std::string_view rest = line.substr(stop);
            if (rest.front() == '[') {
                std::size_t close = rest.find(']');
                if (close == std::string_view::npos) goto bad;
                name = rest.substr(1, close - 1);
                if (name.empty()) goto bad;
                rest = rest.substr(close + 1);
                if (!rest.starts_with(" ")) goto bad;
                rest.remove_prefix(1);
            }
            if (!rest.starts_with("= ") && rest != "=") goto bad;
            value = rest.size() > 2 ? rest.substr(2) : std::string_view();
        }
        if (!ValidKey(key) || !ValidName(name) || !ValidValue(value)) goto bad;
        if (has_value)
            result.SetValue(std::string(key), std::string(name), std::string(value));
        else
            result.CreateKey(std::string(key));
        continue;
    bad:
        if (bad_line) *bad_line = number;
        return false;
    }
    if (out) *out = std::move(result);
    return true;
}
