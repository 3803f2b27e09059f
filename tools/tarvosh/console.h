// Standard output shared by the script's thread and the driver's event
// threads: whole lines, never interleaved, flushed at once so that a reader
// at the other end of a pipe sees each line as it happens.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace tarvosh {

class Console {
public:
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void error(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fflush(stdout);
        std::fprintf(stderr, "tarvosh: %s\n", text.c_str());
        std::fflush(stderr);
    }

private:
    std::mutex mutex_;
};

}  // namespace tarvosh
