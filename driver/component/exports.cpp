// The entry points of the component library, and what loading and unloading
// it do: the driver log is created with "Tarvo.log" when the library is
// loaded and writes its closing record when the library is unloaded.
#include "driver/component/class_factory.h"
#include "driver/component/registration.h"
#include "driver/log/streams_logger.h"
#include "driver/component/tarvo_guids.h"
#include "driver/component/tarvo_typelib.h"
#include "platform/com/module.h"
#include "platform/com/server_exports.h"

namespace {

struct LoadedComponent {
    LoadedComponent() { tarvo::create_process_logger("Tarvo.log"); }
    ~LoadedComponent() { tarvo::destroy_process_logger(); }
};
const LoadedComponent g_loaded;

}  // namespace

TARVO_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, tarvo::CLSID_Quill1)) return CLASS_E_CLASSNOTAVAILABLE;
    return tarvo::quill1_class_factory().QueryInterface(iid, object);
}

TARVO_COM_EXPORT HRESULT DllCanUnloadNow() { return ModuleCanUnloadNow(); }

TARVO_COM_EXPORT HRESULT DllRegisterServer() { return tarvo::register_server(); }

TARVO_COM_EXPORT HRESULT DllUnregisterServer() { return tarvo::unregister_server(); }

TARVO_COM_EXPORT HRESULT DllGetTypeLib(ITypeLib** lib) { return tarvo::create_tarvo_typelib(lib); }
