// The component libraries the runtime has loaded, each loaded once and kept
// until its DllCanUnloadNow allows unloading. Internal to the runtime.
#pragma once

#include <string>

#include "platform/com/hresult.h"
#include "platform/com/server_exports.h"

namespace com_internal {

struct LoadedLibrary;

// Loads `path` (or finds it loaded) and pins it: a pinned library is never
// unloaded. CO_E_DLLNOTFOUND when it does not load (the reason is then in
// CoLastLoadError()).
HRESULT AcquireLibrary(const std::string& path, LoadedLibrary** library);
// The library's export `name`, or null.
void* LibrarySymbol(LoadedLibrary* library, const char* name);
void UnpinLibrary(LoadedLibrary* library);
// Unloads every unpinned library whose DllCanUnloadNow answers S_OK, and
// every one that is no component at all; a component without DllCanUnloadNow
// stays loaded.
void FreeUnusedLibraries();
int LoadedLibraryCount();
void SetLastLoadError(const std::string& text);

}  // namespace com_internal
