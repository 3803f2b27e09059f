// Registering type libraries in the registration store and loading them
// back from the component file that was registered for them.
#include <cstdlib>
#include <string>

#include "platform/com/library_cache.h"
#include "platform/com/registry.h"
#include "platform/com/server_exports.h"
#include "platform/com/type_info.h"

namespace {

std::string lib_key(REFGUID libid) { return "HKCR\\TypeLib\\" + GuidToString(libid); }

std::string version_text(WORD major, WORD minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

// "<major>.<minor>" -> numbers; false for anything else.
bool parse_version(const std::string& text, unsigned* major, unsigned* minor) {
    std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != dot && (text[i] < '0' || text[i] > '9')) return false;
    if (text.size() > 12) return false;
    *major = static_cast<unsigned>(std::strtoul(text.substr(0, dot).c_str(), nullptr, 10));
    *minor = static_cast<unsigned>(std::strtoul(text.substr(dot + 1).c_str(), nullptr, 10));
    return true;
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, const char* path) {
    if (!lib || !path || !*path) return E_INVALIDARG;
    const TypeLibDesc* desc = nullptr;
    if (FAILED(lib->GetLibDesc(&desc)) || !desc) return E_INVALIDARG;
    std::string key = lib_key(desc->libid) + "\\" + version_text(desc->major, desc->minor);
    HRESULT hr = RegStoreSetDefault(key, desc->doc ? desc->doc : "");
    if (SUCCEEDED(hr)) hr = RegStoreSetDefault(key + "\\0\\linux", path);
    if (SUCCEEDED(hr)) hr = RegStoreSetDefault(key + "\\FLAGS", "0");
    return FAILED(hr) ? hr : S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor) {
    std::string key = lib_key(libid);
    HRESULT hr = RegStoreDeleteTree(key + "\\" + version_text(major, minor));
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return TYPE_E_LIBNOTREGISTERED;
    if (RegStoreSubkeys(key).empty()) RegStoreDeleteTree(key);
    return S_OK;
}

HRESULT LoadTypeLib(const char* path, ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    if (!path || !*path) return E_INVALIDARG;
    com_internal::LoadedLibrary* library = nullptr;
    if (FAILED(com_internal::AcquireLibrary(path, &library))) return TYPE_E_CANTLOADLIBRARY;
    auto get = reinterpret_cast<DllGetTypeLibFn>(com_internal::LibrarySymbol(library, "DllGetTypeLib"));
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (get) {
        hr = get(lib);
        if (SUCCEEDED(hr) && !*lib) hr = TYPE_E_CANTLOADLIBRARY;
    } else {
        com_internal::SetLastLoadError(std::string(path) + ": no DllGetTypeLib");
    }
    com_internal::UnpinLibrary(library);
    return hr;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    // The highest registered minor version >= `minor` under the same major.
    std::string best;
    unsigned best_minor = 0;
    for (const std::string& version : RegStoreSubkeys(lib_key(libid))) {
        unsigned ma = 0, mi = 0;
        if (!parse_version(version, &ma, &mi) || ma != major || mi < minor) continue;
        if (best.empty() || mi > best_minor) {
            best = version;
            best_minor = mi;
        }
    }
    std::string path;
    if (best.empty() || FAILED(RegStoreGetValue(lib_key(libid) + "\\" + best + "\\0\\linux", "", &path)) ||
        path.empty())
        return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(path.c_str(), lib);
}
