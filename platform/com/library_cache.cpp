#include "platform/com/library_cache.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <list>
#include <mutex>

#include "platform/com/runtime.h"

namespace com_internal {

struct LoadedLibrary {
    std::string path;  // resolved
    void* handle = nullptr;
    int pins = 0;
};

namespace {

std::mutex g_mutex;
std::list<LoadedLibrary> g_libraries;  // stable addresses
thread_local std::string t_last_error;

std::string resolve(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

void SetLastLoadError(const std::string& text) { t_last_error = text; }

HRESULT AcquireLibrary(const std::string& path, LoadedLibrary** library) {
    *library = nullptr;
    std::string resolved = resolve(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    for (LoadedLibrary& l : g_libraries)
        if (l.path == resolved) {
            ++l.pins;
            *library = &l;
            return S_OK;
        }
    // dlopen runs the library's constructors; holding the lock keeps a
    // second loader of the same path from racing us.
    void* handle = dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        SetLastLoadError(why ? why : ("cannot load " + resolved));
        return CO_E_DLLNOTFOUND;
    }
    LoadedLibrary& l = g_libraries.emplace_back();
    l.path = resolved;
    l.handle = handle;
    l.pins = 1;
    *library = &l;
    return S_OK;
}

void* LibrarySymbol(LoadedLibrary* library, const char* name) {
    return library && library->handle ? dlsym(library->handle, name) : nullptr;
}

void UnpinLibrary(LoadedLibrary* library) {
    if (!library) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    --library->pins;
}

void FreeUnusedLibraries() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_libraries.begin(); it != g_libraries.end();) {
        auto can_unload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(it->handle, "DllCanUnloadNow"));
        // A file that is no component (no class objects, no type library)
        // cannot have handed anything out: it goes too.
        bool component = can_unload || dlsym(it->handle, "DllGetClassObject") || dlsym(it->handle, "DllGetTypeLib");
        if (it->pins == 0 && (can_unload ? can_unload() == S_OK : !component)) {
            dlclose(it->handle);
            it = g_libraries.erase(it);
        } else {
            ++it;
        }
    }
}

int LoadedLibraryCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_libraries.size());
}

}  // namespace com_internal

std::string CoLastLoadError() { return com_internal::t_last_error; }
