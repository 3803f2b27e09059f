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

// Without TARVO_REGISTRY a key is looked up in the user's store first, then
// in each system store; changes go to the user's store.
TEST(RegistryStore, TheUsersStoreWinsOverTheSystemStores) {
    TempRegistry temp;  // a private folder; the variable itself is cleared below
    unsetenv("TARVO_REGISTRY");
    const std::string user = temp.dir() + "/user", first = temp.dir() + "/sys1", second = temp.dir() + "/sys2";
    setenv("XDG_CONFIG_HOME", user.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (first + ":relative:" + second).c_str(), 1);
    EXPECT_EQ(RegStoreSystemPaths(), (std::vector<std::string>{first + "/tarvo/registry", second + "/tarvo/registry"}));
    // Fill the two system stores by pointing at each in turn.
    setenv("TARVO_REGISTRY", (second + "/tarvo/registry").c_str(), 1);
    ASSERT_EQ(RegStoreSetDefault("HKCR\\A", "from second"), S_OK);
    ASSERT_EQ(RegStoreSetDefault("HKCR\\B", "from second"), S_OK);
    setenv("TARVO_REGISTRY", (first + "/tarvo/registry").c_str(), 1);
    ASSERT_EQ(RegStoreSetDefault("HKCR\\A", "from first"), S_OK);
    unsetenv("TARVO_REGISTRY");
    ASSERT_EQ(RegStoreSetDefault("HKCR\\C", "from user"), S_OK);
    EXPECT_EQ(RegStorePath(), user + "/tarvo/registry");
    std::string v;
    const std::pair<const char*, const char*> rows[] = {
        {"HKCR\\A", "from first"}, {"HKCR\\B", "from second"}, {"HKCR\\C", "from user"}};
    for (const auto& [key, want] : rows) {
        ASSERT_EQ(RegStoreGetValue(key, "", &v), S_OK) << key;
        EXPECT_EQ(v, want) << key;
    }
    // The user registers A too: the user's entry wins.
    ASSERT_EQ(RegStoreSetDefault("HKCR\\A", "from user"), S_OK);
    ASSERT_EQ(RegStoreGetValue("HKCR\\A", "", &v), S_OK);
    EXPECT_EQ(v, "from user");
    EXPECT_EQ(RegStoreSubkeys("HKCR"), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(RegStoreGetValue("HKCR\\D", "", &v), REGDB_E_KEYMISSING);
    // With TARVO_REGISTRY set, only that store counts.
    setenv("TARVO_REGISTRY", (temp.dir() + "/only").c_str(), 1);
    EXPECT_EQ(RegStoreGetValue("HKCR\\A", "", &v), REGDB_E_KEYMISSING);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CONFIG_DIRS");
}
