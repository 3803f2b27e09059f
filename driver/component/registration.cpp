#include "driver/component/registration.h"

#include <string>

#include "driver/component/tarvo_guids.h"
#include "driver/component/tarvo_typelib.h"
#include "platform/com/module.h"
#include "platform/com/registry.h"
#include "platform/com/type_info.h"

namespace tarvo {

namespace {

const std::string kRoot = "HKCR\\";

std::string class_key() { return kRoot + "CLSID\\" + GuidToString(CLSID_Quill1); }

HRESULT write_prog_id(const std::string& prog_id, bool with_cur_ver) {
    const std::string key = kRoot + prog_id;
    HRESULT hr = RegStoreDeleteTree(key);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = RegStoreSetDefault(key, kClassName))) return hr;
    if (FAILED(hr = RegStoreSetDefault(key + "\\CLSID", GuidToString(CLSID_Quill1)))) return hr;
    if (with_cur_ver) hr = RegStoreSetDefault(key + "\\CurVer", kProgIdVersioned);
    return hr;
}

HRESULT write_class(const std::string& path) {
    const std::string key = class_key();
    HRESULT hr = RegStoreDeleteTree(key);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = RegStoreSetDefault(key, kClassName))) return hr;
    if (FAILED(hr = RegStoreSetDefault(key + "\\ProgID", kProgIdVersioned))) return hr;
    if (FAILED(hr = RegStoreSetDefault(key + "\\VersionIndependentProgID", kProgId))) return hr;
    if (FAILED(hr = RegStoreCreateKey(key + "\\Programmable"))) return hr;
    if (FAILED(hr = RegStoreSetDefault(key + "\\InprocServer32", path))) return hr;
    if (FAILED(hr = RegStoreSetValue(key + "\\InprocServer32", "ThreadingModel", "Apartment"))) return hr;
    return RegStoreSetDefault(key + "\\TypeLib", GuidToString(LIBID_TARVOSRV1Lib));
}

}  // namespace

HRESULT register_server() {
    const std::string path = ModuleFilePath(reinterpret_cast<const void*>(&register_server));
    if (path.empty()) return SELFREG_E_CLASS;
    if (FAILED(write_prog_id(kProgIdVersioned, false)) || FAILED(write_prog_id(kProgId, true)) ||
        FAILED(write_class(path)))
        return SELFREG_E_CLASS;
    ITypeLib* lib = nullptr;
    HRESULT hr = create_tarvo_typelib(&lib);
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(lib, path.c_str());
        lib->Release();
    }
    return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

HRESULT unregister_server() {
    HRESULT result = S_OK;
    for (const std::string& key : {kRoot + kProgIdVersioned, kRoot + kProgId, class_key()})
        if (FAILED(RegStoreDeleteTree(key))) result = SELFREG_E_CLASS;
    const TypeLibDesc& lib = tarvo_typelib_desc();
    const HRESULT hr = UnRegisterTypeLib(lib.libid, lib.major, lib.minor);
    if (FAILED(hr) && hr != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(result)) result = SELFREG_E_TYPELIB;
    return result;
}

}  // namespace tarvo
