#include "platform/com/class_factory.h"

#include "platform/com/module.h"

#include <atomic>

HRESULT ClassFactory::QueryInterface(REFIID iid, void** object) {
    return QueryOneInterface(static_cast<IClassFactory*>(this), IID_IClassFactory, iid, object);
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

namespace {
// Locks taken through LockServer, so that an unlock without a lock cannot
// drive the module count below the objects still alive.
std::atomic<LONG> g_server_locks{0};
}  // namespace

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ++g_server_locks;
        ModuleAddRef();
        return S_OK;
    }
    LONG held = g_server_locks.load();
    do {
        if (held <= 0) return S_OK;  // nothing to unlock
    } while (!g_server_locks.compare_exchange_weak(held, held - 1));
    ModuleRelease();
    return S_OK;
}
