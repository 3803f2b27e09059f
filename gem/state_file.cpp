#include "gem/state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "gem/sml_text.h"

namespace tarvo::gem {

namespace {

constexpr const char* kHead = "tarvo-gem state 1";
constexpr size_t kMaxStateBytes = 64 * 1024 * 1024;

bool number(const std::string& word, uint64_t& out) {
    const auto r = std::from_chars(word.data(), word.data() + word.size(), out);
    return r.ec == std::errc() && r.ptr == word.data() + word.size();
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string state_text(const SavedState& s) {
    std::string out = std::string(kHead) + "\n";
    for (const auto& [id, r] : s.reports) {
        out += "report ";
        out += format_name(r.id.format());
        out += ' ' + std::to_string(id);
        for (uint32_t v : r.vids) out += ' ' + std::to_string(v);
        out += '\n';
    }
    for (const auto& [ceid, ids] : s.links) {
        out += "link " + std::to_string(ceid);
        for (uint64_t r : ids) out += ' ' + std::to_string(r);
        out += '\n';
    }
    if (!s.disabled.empty()) {
        out += "disabled";
        for (uint32_t c : s.disabled) out += ' ' + std::to_string(c);
        out += '\n';
    }
    if (!s.alarms_disabled.empty()) {
        out += "alarms_disabled";
        for (uint32_t a : s.alarms_disabled) out += ' ' + std::to_string(a);
        out += '\n';
    }
    for (const auto& [id, v] : s.constants) out += "constant " + std::to_string(id) + ' ' + write_sml(v) + '\n';
    out += "end\n";
    return out;
}

bool parse_state_text(const std::string& text, SavedState& out, std::string* error) {
    SavedState s;
    std::istringstream in(text);
    std::string line;
    int number_of_line = 0;
    bool ended = false;
    auto fail = [&](const std::string& why) {
        if (error) *error = "line " + std::to_string(number_of_line) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number_of_line;
        if (ended) return fail("text after the end");
        if (number_of_line == 1) {
            if (line != kHead) return fail("not a tarvo-gem state file");
            continue;
        }
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "end") {
            ended = true;
            continue;
        }
        if (kind == "constant") {
            std::string id_word;
            uint64_t id = 0;
            words >> id_word;
            if (!number(id_word, id) || id > UINT32_MAX) return fail("bad constant ID");
            std::string rest;
            std::getline(words, rest);
            std::string why;
            auto item = read_sml(rest, &why);
            if (!item) return fail("constant " + id_word + ": " + why);
            s.constants[static_cast<uint32_t>(id)] = *item;
            continue;
        }
        std::vector<uint64_t> values;
        std::string format_word;
        if (kind == "report") words >> format_word;
        for (std::string w; words >> w;) {
            uint64_t v = 0;
            if (!number(w, v)) return fail("bad number '" + w + "'");
            values.push_back(v);
        }
        if (kind == "report") {
            const auto f = format_from_name(format_word);
            if (!f || !is_integer(*f) || values.size() < 2) return fail("bad report");
            ReportDefinition d;
            d.id = is_signed(*f) ? Item::signeds(*f, {static_cast<int64_t>(values[0])}) : Item::unsigneds(*f, {values[0]});
            for (size_t i = 1; i < values.size(); ++i) {
                if (values[i] > UINT32_MAX) return fail("bad VID");
                d.vids.push_back(static_cast<uint32_t>(values[i]));
            }
            s.reports[values[0]] = std::move(d);
        } else if (kind == "link") {
            if (values.size() < 2 || values[0] > UINT32_MAX) return fail("bad link");
            s.links[static_cast<uint32_t>(values[0])].assign(values.begin() + 1, values.end());
        } else if (kind == "disabled" || kind == "alarms_disabled") {
            for (uint64_t v : values) {
                if (v > UINT32_MAX) return fail("bad ID");
                (kind == "disabled" ? s.disabled : s.alarms_disabled).insert(static_cast<uint32_t>(v));
            }
        } else {
            return fail("unknown record '" + kind + "'");
        }
    }
    if (!ended) return fail("the end record is missing");
    out = std::move(s);
    return true;
}

bool write_atomically(const std::string& path, const std::string& text, std::string* error, size_t stop_after,
                      const std::string& temporary_path) {
    const std::string temporary = temporary_path.empty() ? path + ".new" : temporary_path;
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + " '" + temporary + "': " + std::strerror(errno);
        return false;
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("cannot create");
    const size_t size = std::min(text.size(), stop_after);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, text.data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return fail("cannot write");
        }
        done += static_cast<size_t>(n);
    }
    if (stop_after < text.size()) {  // the simulated crash: the old file stays
        ::close(fd);
        if (error) *error = "stopped after " + std::to_string(stop_after) + " bytes";
        return false;
    }
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return fail("cannot sync");
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot rename");
    // The rename itself lasts once the folder is on disk.
    const int dir = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

LoadOutcome load_state_file(const std::string& path, SavedState& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return LoadOutcome::absent;
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxStateBytes) break;
    }
    std::string why;
    if (text.size() <= kMaxStateBytes && parse_state_text(text, out, &why)) return LoadOutcome::loaded;
    if (text.size() > kMaxStateBytes) why = "larger than 64 MiB";
    const std::string aside = path + ".damaged";
    if (::rename(path.c_str(), aside.c_str()) == 0)
        why += "; set aside as '" + aside + "'";
    else
        why += "; cannot be set aside: " + std::string(std::strerror(errno));
    if (error) *error = "state file '" + path + "' is damaged (" + why + ")";
    return LoadOutcome::damaged;
}

}  // namespace tarvo::gem
