// Helpers shared by the message layer tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include <unistd.h>

namespace tarvo::test {

// Bytes from a list of values: bytes({0x01, 0x00}).
inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

inline std::string hex(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", c);
        out += buf;
    }
    return out;
}

inline std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// True when a record time stamp "YYYY-MM-DD HH:MM:SS  " stands at `at`.
inline bool stamp_at(const std::string& text, size_t at) {
    static const char kForm[] = "dddd-dd-dd dd:dd:dd  ";
    constexpr size_t kSize = sizeof kForm - 1;
    if (at > text.size() || text.size() - at < kSize) return false;
    for (size_t i = 0; i < kSize; ++i) {
        const char c = text[at + i];
        if (kForm[i] == 'd' ? (c < '0' || c > '9') : c != kForm[i]) return false;
    }
    return true;
}

// Removes the time stamps that begin lines (records continued over several
// lines carry one on their first line only).
inline std::string strip_stamps(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        if (stamp_at(text, at)) at += sizeof "dddd-dd-dd dd:dd:dd  " - 1;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            out.append(text, at, std::string::npos);
            break;
        }
        out.append(text, at, end + 1 - at);
        at = end + 1;
    }
    return out;
}

// A fresh path in the temporary directory, removed again on destruction.
class TempFile {
public:
    explicit TempFile(const std::string& stem) {
        static int counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 (stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".log"))
                    .string();
        std::filesystem::remove(path_);
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace tarvo::test
