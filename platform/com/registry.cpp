// The registration store on disk: reads are plain, changes are locked
// read-modify-write cycles that replace the file atomically.
#include "platform/com/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/com/registry_file.h"

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Creates every missing folder of `dir`.
bool make_dirs(const std::string& dir) {
    if (dir.empty()) return true;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Whole file; false when it exists but cannot be read. A missing file is "".
bool read_all(const std::string& path, std::string* text) {
    text->clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    char buffer[8192];
    while (true) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        text->append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

HRESULT load(const std::string& path, RegistryFile* file) {
    std::string text;
    if (!read_all(path, &text)) return REGDB_E_READREGDB;
    return RegistryFile::Parse(text, file, nullptr) ? S_OK : REGDB_E_READREGDB;
}

// Runs `change` on the current content under the writers' lock and stores
// the result atomically. `change` returns the call's result; a failed result
// leaves the file alone, and so does S_FALSE (nothing changed).
HRESULT update(const std::function<HRESULT(RegistryFile&)>& change) {
    std::string path = RegStorePath();
    if (path.empty()) return REGDB_E_WRITEREGDB;
    if (!make_dirs(folder_of(path))) return REGDB_E_WRITEREGDB;
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return REGDB_E_WRITEREGDB;
    while (flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(lock);
            return REGDB_E_WRITEREGDB;
        }
    }
    RegistryFile file;
    HRESULT hr = load(path, &file);  // a damaged file is never overwritten
    if (hr == S_OK) hr = change(file);
    if (hr == S_OK) {
        std::string temp = path + ".tmp." + std::to_string(getpid());
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool ok = fd >= 0 && write_all(fd, file.Serialize()) && fsync(fd) == 0;
        if (fd >= 0) ok = close(fd) == 0 && ok;
        ok = ok && rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) {
            unlink(temp.c_str());
            hr = REGDB_E_WRITEREGDB;
        }
    }
    flock(lock, LOCK_UN);
    close(lock);
    return hr;
}

bool protected_key(const std::string& key) {
    std::string k;
    for (char c : key) k += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k.find('\\') == std::string::npos || k == "hkcr\\clsid" || k == "hkcr\\typelib" ||
           k == "hkcr\\interface";
}

}  // namespace

std::string RegStorePath() {
    std::string explicit_path = env("TARVO_REGISTRY");
    if (!explicit_path.empty()) return explicit_path;
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty()) {
        std::string home = env("HOME");
        if (home.empty()) return "";
        config = home + "/.config";
    }
    return config + "/tarvo/registry";
}

std::vector<std::string> RegStoreSystemPaths() {
    std::string dirs = env("XDG_CONFIG_DIRS");
    if (dirs.empty()) dirs = "/etc/xdg";
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = dirs.substr(start, colon - start);
        if (!dir.empty() && dir[0] == '/') paths.push_back(dir + "/tarvo/registry");  // relative entries are ignored
        start = colon + 1;
    }
    return paths;
}

std::vector<std::string> RegStoreSearchPaths() {
    if (!env("TARVO_REGISTRY").empty()) return {RegStorePath()};
    std::vector<std::string> paths;
    const std::string user = RegStorePath();
    if (!user.empty()) paths.push_back(user);
    for (const std::string& p : RegStoreSystemPaths()) paths.push_back(p);
    return paths;
}

HRESULT RegStoreSetDefault(const std::string& key, const std::string& value) {
    return RegStoreSetValue(key, "", value);
}

HRESULT RegStoreSetValue(const std::string& key, const std::string& name, const std::string& value) {
    if (!RegistryFile::ValidKey(key) || !RegistryFile::ValidName(name) || !RegistryFile::ValidValue(value))
        return E_INVALIDARG;
    return update([&](RegistryFile& f) {
        f.SetValue(key, name, value);
        return S_OK;
    });
}

HRESULT RegStoreCreateKey(const std::string& key) {
    if (!RegistryFile::ValidKey(key)) return E_INVALIDARG;
    return update([&](RegistryFile& f) {
        f.CreateKey(key);
        return S_OK;
    });
}

HRESULT RegStoreDeleteTree(const std::string& key) {
    if (!RegistryFile::ValidKey(key)) return E_INVALIDARG;
    if (protected_key(key)) return E_ACCESSDENIED;
    bool removed = false;
    HRESULT hr = update([&](RegistryFile& f) {
        removed = f.DeleteTree(key);
        return removed ? S_OK : S_FALSE;
    });
    return hr;
}

HRESULT RegStoreGetValue(const std::string& key, const std::string& name, std::string* value) {
    if (!value) return E_POINTER;
    if (!RegistryFile::ValidKey(key) || !RegistryFile::ValidName(name)) return E_INVALIDARG;
    // The first store that has the key answers: a class registered for the
    // user wins over the same class registered for the system.
    const std::vector<std::string> paths = RegStoreSearchPaths();
    for (const std::string& path : paths) {
        RegistryFile file;
        HRESULT hr = load(path, &file);
        if (FAILED(hr)) {
            if (&path == &paths.front()) return hr;  // the caller's own store is damaged
            continue;                                 // a system store this user cannot read
        }
        switch (file.GetValue(key, name, value)) {
            case RegistryFile::Lookup::found: return S_OK;
            case RegistryFile::Lookup::no_key: continue;
            default: return REGDB_E_INVALIDVALUE;
        }
    }
    return REGDB_E_KEYMISSING;
}

bool RegStoreKeyExists(const std::string& key) {
    if (!RegistryFile::ValidKey(key)) return false;
    for (const std::string& path : RegStoreSearchPaths()) {
        RegistryFile file;
        if (load(path, &file) == S_OK && file.KeyExists(key)) return true;
    }
    return false;
}

std::vector<std::string> RegStoreSubkeys(const std::string& key) {
    if (!RegistryFile::ValidKey(key)) return {};
    std::vector<std::string> all;
    for (const std::string& path : RegStoreSearchPaths()) {
        RegistryFile file;
        if (load(path, &file) != S_OK) continue;
        for (std::string& k : file.Subkeys(key)) {
            bool seen = false;
            for (const std::string& have : all) seen = seen || strcasecmp(have.c_str(), k.c_str()) == 0;
            if (!seen) all.push_back(std::move(k));
        }
    }
    std::sort(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return all;
}
