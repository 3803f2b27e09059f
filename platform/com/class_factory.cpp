#include "platform/com/class_factory.h"

#include "platform/com/module.h"

HRESULT ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The factory itself is static; an outstanding reference keeps the module.
ULONG ClassFactory::AddRef() { return static_cast<ULONG>(ModuleAddRef()); }
ULONG ClassFactory::Release() { return static_cast<ULONG>(ModuleRelease()); }

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!create_) return E_UNEXPECTED;
    return create_(outer, iid, object);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock) ModuleAddRef();
    else ModuleRelease();
    return S_OK;
}
