#include "platform/com/runtime.h"

#include <mutex>

#include "platform/com/bstr.h"
#include "platform/com/library_cache.h"
#include "platform/com/registry.h"

namespace {

std::mutex g_init_mutex;
int g_init_count = 0;

bool initialized() {
    std::lock_guard<std::mutex> lock(g_init_mutex);
    return g_init_count > 0;
}

// CoGetClassObject that leaves the library pinned (*pinned, when it got that
// far, whether or not the call succeeded) so the caller can use the class
// object before anything may unload the library.
HRESULT get_class_object(REFCLSID clsid, DWORD context, REFIID iid, void** object,
                         com_internal::LoadedLibrary** pinned) {
    *object = nullptr;
    *pinned = nullptr;
    if (!initialized()) return CO_E_NOTINITIALIZED;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (FAILED(RegStoreGetValue("HKCR\\CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "", &path)) ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    HRESULT hr = com_internal::AcquireLibrary(path, pinned);
    if (FAILED(hr)) return hr;
    auto get = reinterpret_cast<DllGetClassObjectFn>(com_internal::LibrarySymbol(*pinned, "DllGetClassObject"));
    if (!get) {
        com_internal::SetLastLoadError(path + ": no DllGetClassObject");
        return CO_E_ERRORINDLL;
    }
    hr = get(clsid, iid, object);
    if (SUCCEEDED(hr) && !*object) hr = E_UNEXPECTED;
    return hr;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) {
    std::lock_guard<std::mutex> lock(g_init_mutex);
    return g_init_count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(g_init_mutex);
        if (g_init_count == 0) return;
        last = --g_init_count == 0;
    }
    if (last) com_internal::FreeUnusedLibraries();
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    com_internal::LoadedLibrary* pinned = nullptr;
    HRESULT hr = get_class_object(clsid, context, iid, object, &pinned);
    com_internal::UnpinLibrary(pinned);
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    com_internal::LoadedLibrary* pinned = nullptr;
    HRESULT hr = get_class_object(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory), &pinned);
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(outer, iid, object);
        factory->Release();
    }
    com_internal::UnpinLibrary(pinned);
    return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) {
    if (!progid || !clsid) return E_POINTER;
    if (CLSIDFromString(progid, clsid) == S_OK) return S_OK;
    std::string name = BytesFromOleString(progid);
    std::string text;
    if (name.empty() || FAILED(RegStoreGetValue("HKCR\\" + name + "\\CLSID", "", &text)) ||
        !GuidFromString(text, clsid))
        return CO_E_CLASSSTRING;
    return S_OK;
}

void CoFreeUnusedLibraries() { com_internal::FreeUnusedLibraries(); }

int CoLoadedLibraryCount() { return com_internal::LoadedLibraryCount(); }
