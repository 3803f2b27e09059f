// Process programs: files in the configured folder, one per PPID, written
// atomically. A PPID that is empty, longer than 80 bytes, or holds '/', a
// zero byte or a leading '.' names no file, so no PPID reaches outside the
// folder.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "gem/equipment_core.h"
#include "gem/state_file.h"

namespace tarvo::gem {

namespace {

constexpr size_t kMaxPpid = 80;

std::optional<std::string> read_program(const std::string& path, uint64_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string body;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        body.append(buf, static_cast<size_t>(in.gcount()));
        if (body.size() > limit) return std::nullopt;
    }
    return body;
}

}  // namespace

std::string EquipmentCore::program_path(const Item& ppid) const {
    if (config_.program_dir.empty()) return std::string();
    if (!is_text(ppid.format()) && ppid.format() != Format::B) return std::string();
    const std::string& id = ppid.bytes();
    if (id.empty() || id.size() > kMaxPpid || id[0] == '.' || id.find('/') != std::string::npos ||
        id.find('\0') != std::string::npos)
        return std::string();
    return config_.program_dir + "/" + id;
}

// S7F1 <L PPID LENGTH> -> S7F2 PPGNT
EquipmentCore::Reply EquipmentCore::s7f1(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2) return {std::nullopt, true};
    const auto length = body->items()[1].as_id();
    if (!length) return {std::nullopt, true};
    Ppgnt grant = Ppgnt::ok;
    if (program_path(body->items()[0]).empty())
        grant = Ppgnt::invalid_ppid;
    else if (*length > config_.max_program_bytes)
        grant = Ppgnt::no_space;
    return {Item::b(static_cast<uint8_t>(grant))};
}

// S7F3 <L PPID PPBODY> -> S7F4 ACKC7
EquipmentCore::Reply EquipmentCore::s7f3(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2 || body->items()[1].format() == Format::L ||
        is_numeric(body->items()[1].format()))
        return {std::nullopt, true};
    const Item& ppid = body->items()[0];
    const std::string path = program_path(ppid);
    if (path.empty()) return {Item::b(static_cast<uint8_t>(Ackc7::permission_not_granted))};
    const std::string& program = body->items()[1].bytes();
    if (program.size() > config_.max_program_bytes) return {Item::b(static_cast<uint8_t>(Ackc7::length_error))};
    if (hooks_.program_stored && !hooks_.program_stored(ppid.bytes(), program))
        return {Item::b(static_cast<uint8_t>(Ackc7::permission_not_granted))};
    ::mkdir(config_.program_dir.c_str(), 0755);
    std::string why;
    if (!write_atomically(path, program, &why, static_cast<size_t>(-1), config_.program_dir + "/.new-program")) {
        observer_.error("process program '" + ppid.bytes() + "': " + why);
        return {Item::b(static_cast<uint8_t>(Ackc7::other))};
    }
    observer_.program(true, ppid.bytes(), program.size());
    return {Item::b(static_cast<uint8_t>(Ackc7::accepted))};
}

// S7F5 PPID -> S7F6 <L PPID PPBODY>, <L> when there is none
EquipmentCore::Reply EquipmentCore::s7f5(const Item* body) {
    if (!body || body->format() == Format::L) return {std::nullopt, true};
    const std::string path = program_path(*body);
    if (path.empty()) return {Item()};
    std::optional<std::string> program;
    if (hooks_.program_requested) program = hooks_.program_requested(body->bytes());
    if (!program) program = read_program(path, config_.max_program_bytes);
    if (!program) return {Item()};
    return {Item::list({*body, Item::binary(*program)})};
}

// S7F17 <L PPID...> -> S7F18 ACKC7; an empty list deletes every program.
// One PPID refused or not found refuses the whole message.
EquipmentCore::Reply EquipmentCore::s7f17(const Item* body) {
    if (!body || body->format() != Format::L) return {std::nullopt, true};
    std::vector<std::pair<std::string, std::string>> doomed;  // PPID, path
    if (body->size() == 0) {
        const Reply all = s7f19(nullptr);
        for (const Item& p : all.body->items()) doomed.emplace_back(p.bytes(), program_path(p));
    }
    for (const Item& p : body->items()) {
        if (p.format() == Format::L) return {std::nullopt, true};
        const std::string path = program_path(p);
        if (path.empty()) return {Item::b(static_cast<uint8_t>(Ackc7::permission_not_granted))};
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return {Item::b(static_cast<uint8_t>(Ackc7::ppid_not_found))};
        doomed.emplace_back(p.bytes(), path);
    }
    for (const auto& [ppid, path] : doomed) {
        if (std::remove(path.c_str()) == 0) observer_.program(false, ppid, 0);
    }
    return {Item::b(static_cast<uint8_t>(Ackc7::accepted))};
}

// S7F19 (header only) -> S7F20 <L PPID...>, in name order
EquipmentCore::Reply EquipmentCore::s7f19(const Item* body) {
    if (body) return {std::nullopt, true};
    std::vector<std::string> names;
    if (DIR* dir = config_.program_dir.empty() ? nullptr : ::opendir(config_.program_dir.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (program_path(Item::a(name)).empty()) continue;  // ".", "..", our temporary file
            struct stat st {};
            if (::stat((config_.program_dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::vector<Item> out;
    for (const std::string& n : names) out.push_back(Item::a(n));
    return {Item::list(std::move(out))};
}

}  // namespace tarvo::gem
