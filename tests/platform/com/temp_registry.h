// Points the registration store at a fresh file in a temporary folder for
// the life of a test, and removes the folder afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRegistry {
public:
    TempRegistry() {
        char pattern[] = "/tmp/tarvo-reg-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir_ = made ? made : "/tmp";
        path_ = dir_ + "/sub/registry";  // the store creates missing folders
        setenv("TARVO_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() {
        unsetenv("TARVO_REGISTRY");
        std::error_code ignored;
        if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::string& path() const { return path_; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    std::string path_;
};
