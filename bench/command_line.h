// Command lines of the benchmark programs: --help prints the usage (exit 0);
// a bad argument prints one line naming it and exits with status 2.
#pragma once

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tarvo::command_line {

inline bool is_help(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

// Prints `usage` and exits 0 when any argument asks for help.
inline void help_if_asked(int argc, char** argv, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (is_help(argv[i])) {
            std::fputs(usage, stdout);
            std::exit(0);
        }
    }
}

[[noreturn]] inline void fail(const char* program, const std::string& what) {
    std::fprintf(stderr, "%s: %s (see --help)\n", program, what.c_str());
    std::exit(2);
}

// A whole number from `min` to `max`, or the one-line error.
inline long whole_number(const char* program, const char* what, const char* text, long min, long max) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < min || value > max) {
        fail(program, std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", not '" + text + "'");
    }
    return value;
}

// A number of seconds from 0 to a day, or the one-line error.
inline double seconds(const char* program, const char* what, const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0 || value > 86400) {
        fail(program, std::string(what) + " must be a number of seconds from 0 to 86400, not '" + text + "'");
    }
    return value;
}

// Google Benchmark's own flags (and its --help); anything else is an error.
inline void init_benchmark(int& argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) fail(argv[0], std::string("unknown argument '") + argv[1] + "'");
}

}  // namespace tarvo::command_line
