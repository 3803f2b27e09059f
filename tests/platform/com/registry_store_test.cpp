#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/platform/com/temp_registry.h"

namespace {

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(RegistryStore, PlaceFollowsTheEnvironment) {
    unsetenv("TARVO_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/x/config", 1);
    EXPECT_EQ(RegStorePath(), "/x/config/tarvo/registry");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(RegStorePath(), "/home/u/.config/tarvo/registry");
    setenv("TARVO_REGISTRY", "/tmp/r", 1);
    EXPECT_EQ(RegStorePath(), "/tmp/r");
    unsetenv("TARVO_REGISTRY");
}

TEST(RegistryStore, SetReadAndDeleteTree) {
    TempRegistry reg;
    std::string v;
    EXPECT_EQ(RegStoreGetValue("HKCR\\App.Class\\CLSID", "", &v), REGDB_E_KEYMISSING);  // no file yet
    ASSERT_EQ(RegStoreSetDefault("HKCR\\App.Class", "App Class"), S_OK);
    ASSERT_EQ(RegStoreSetDefault("HKCR\\App.Class\\CLSID", "{X}"), S_OK);
    ASSERT_EQ(RegStoreSetValue("HKCR\\CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment"), S_OK);
    ASSERT_EQ(RegStoreCreateKey("HKCR\\CLSID\\{X}\\Programmable"), S_OK);
    EXPECT_EQ(file_text(reg.path()),
              "HKCR\\App.Class = App Class\n"
              "HKCR\\App.Class\\CLSID = {X}\n"
              "HKCR\\CLSID\\{X}\\InprocServer32 [ThreadingModel] = Apartment\n"
              "HKCR\\CLSID\\{X}\\Programmable\n");

    ASSERT_EQ(RegStoreGetValue("hkcr\\app.class\\clsid", "", &v), S_OK);
    EXPECT_EQ(v, "{X}");
    EXPECT_EQ(RegStoreGetValue("HKCR\\CLSID\\{X}\\InprocServer32", "", &v), REGDB_E_INVALIDVALUE);
    EXPECT_TRUE(RegStoreKeyExists("HKCR\\CLSID\\{X}"));

    EXPECT_EQ(RegStoreDeleteTree("HKCR\\CLSID\\{X}"), S_OK);
    EXPECT_EQ(RegStoreDeleteTree("HKCR\\CLSID\\{X}"), S_FALSE);
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\CLSID\\{X}\\Programmable"));
    EXPECT_EQ(file_text(reg.path()), "HKCR\\App.Class = App Class\nHKCR\\App.Class\\CLSID = {X}\n");
}

TEST(RegistryStore, SharedParentsAreNeverDeleted) {
    TempRegistry reg;
    ASSERT_EQ(RegStoreSetDefault("HKCR\\CLSID\\{X}", "x"), S_OK);
    EXPECT_EQ(RegStoreDeleteTree("HKCR\\CLSID"), E_ACCESSDENIED);
    EXPECT_EQ(RegStoreDeleteTree("hkcr\\clsid\\"), E_ACCESSDENIED);
    EXPECT_EQ(RegStoreDeleteTree("HKCR"), E_ACCESSDENIED);
    EXPECT_EQ(RegStoreDeleteTree("HKCR\\TypeLib"), E_ACCESSDENIED);
    EXPECT_TRUE(RegStoreKeyExists("HKCR\\CLSID\\{X}"));
}

TEST(RegistryStore, BadArgumentsAndDamagedFilesAreRefused) {
    TempRegistry reg;
    EXPECT_EQ(RegStoreSetDefault("HKCR\\a=b", "v"), E_INVALIDARG);
    EXPECT_EQ(RegStoreSetDefault("HKCR\\K", "two\nlines"), E_INVALIDARG);
    ASSERT_EQ(RegStoreSetDefault("HKCR\\K", "v"), S_OK);
    {
        std::ofstream out(reg.path(), std::ios::app);
        out << "this line = is not an entry = \x01\n";
    }
    std::string before = file_text(reg.path());
    std::string v;
    EXPECT_EQ(RegStoreGetValue("HKCR\\K", "", &v), REGDB_E_READREGDB);
    EXPECT_EQ(RegStoreSetDefault("HKCR\\L", "w"), REGDB_E_READREGDB);  // never overwrites a damaged file
    EXPECT_EQ(file_text(reg.path()), before);
}

TEST(RegistryStore, ConcurrentWritersLoseNothing) {
    TempRegistry reg;
    constexpr int kThreads = 4, kProcesses = 2, kEach = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kEach; ++i)
                ok = ok && RegStoreSetDefault("HKCR\\P" + std::to_string(p) + "\\K" + std::to_string(i), "v") == S_OK;
            _exit(ok ? 0 : 1);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kEach; ++i) {
                std::string key = "HKCR\\T" + std::to_string(t) + "\\K" + std::to_string(i);
                if (RegStoreSetValue(key, "N", std::to_string(i)) != S_OK) ++failures;
                std::string v;
                if (RegStoreGetValue(key, "N", &v) != S_OK || v != std::to_string(i)) ++failures;  // readers see whole files
            }
        });
    for (auto& t : threads) t.join();
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(RegStoreSubkeys("HKCR\\T" + std::to_string(t)).size(), size_t{kEach});
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(RegStoreSubkeys("HKCR\\P" + std::to_string(p)).size(), size_t{kEach});
}
