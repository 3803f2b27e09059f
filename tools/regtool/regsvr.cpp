// tarvo-regsvr: registers or unregisters a component library by calling its
// DllRegisterServer or DllUnregisterServer.
//
//   tarvo-regsvr [/u] [/s] [--system] path/to/component.so
//
// --system registers into (or unregisters from) the first system store,
// tarvo/registry under the first folder of $XDG_CONFIG_DIRS (/etc/xdg), which
// every user's lookups read after their own store.
//
// Exit status: 0 success, 1 bad command line, 3 the library does not load,
// 4 it lacks the entry point, 5 the entry point reported a failure.
#include <dlfcn.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/registry.h"

namespace {

using EntryPoint = HRESULT (*)();

int usage() {
    std::fprintf(stdout, "usage: tarvo-regsvr [/u] [/s] [--system] path/to/component.so\n"
                         "  /u        unregister (DllUnregisterServer) instead of registering\n"
                         "  /s        silent: print nothing\n"
                         "  --system  the system-wide store (%s) instead of the user's\n",
                 RegStoreSystemPaths().empty() ? "none" : RegStoreSystemPaths().front().c_str());
    std::fprintf(stdout, "Exit status: 0 success, 1 bad command line, 3 the library does not load,\n"
                         "4 it lacks the entry point, 5 the entry point reported a failure.\n");
    return 0;
}

int bad_command_line(const std::string& what) {
    std::fprintf(stderr, "tarvo-regsvr: %s (see --help)\n", what.c_str());
    return 1;
}

bool is_option(const char* arg, char letter) {
    return (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == letter - 'a' + 'A') && arg[2] == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false, silent = false, system = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return usage();
    }
    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i], 'u')) unregister = true;
        else if (is_option(argv[i], 's')) silent = true;
        else if (std::strcmp(argv[i], "--system") == 0) system = true;
        else if (!path && argv[i][0] != '-' && !(argv[i][0] == '/' && std::strlen(argv[i]) == 2)) path = argv[i];
        else return bad_command_line(path ? std::string("unexpected argument '") + argv[i] + "'"
                                          : std::string("unknown option '") + argv[i] + "'");
    }
    if (!path) return bad_command_line("no component library named");
    if (system) {
        const std::vector<std::string> stores = RegStoreSystemPaths();
        if (stores.empty()) return bad_command_line("no system store ($XDG_CONFIG_DIRS is empty)");
        setenv("TARVO_REGISTRY", stores.front().c_str(), 1);  // the library writes where this points
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";

    // The full path, so the library is loaded from where the user points (a
    // bare file name would otherwise go through the loader's search path) and
    // records that path in its registration.
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) {
        if (!silent) std::fprintf(stderr, "tarvo-regsvr: cannot load \"%s\": %s\n", path, std::strerror(errno));
        return 3;
    }
    void* library = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        if (!silent) std::fprintf(stderr, "tarvo-regsvr: cannot load \"%s\": %s\n", path, why ? why : "unknown error");
        return 3;
    }
    auto function = reinterpret_cast<EntryPoint>(dlsym(library, entry));
    if (!function) {
        if (!silent) std::fprintf(stderr, "tarvo-regsvr: %s was not found in \"%s\"\n", entry, resolved);
        dlclose(library);
        return 4;
    }
    HRESULT hr = function();
    dlclose(library);
    if (FAILED(hr)) {
        if (!silent)
            std::fprintf(stderr, "tarvo-regsvr: %s in \"%s\" failed: 0x%08X\n", entry, resolved,
                         static_cast<unsigned>(hr));
        return 5;
    }
    if (!silent) std::printf("%s in \"%s\" succeeded.\n", entry, resolved);
    return 0;
}
