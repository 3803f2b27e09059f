#include "platform/com/module.h"

#include <dlfcn.h>

#include <atomic>
#include <climits>
#include <cstdlib>

namespace {
std::atomic<LONG> g_locks{0};
}

LONG ModuleAddRef() { return ++g_locks; }
LONG ModuleRelease() { return --g_locks; }
LONG ModuleLockCount() { return g_locks.load(); }
HRESULT ModuleCanUnloadNow() { return g_locks.load() == 0 ? S_OK : S_FALSE; }

std::string ModuleFilePath(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return "";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}
