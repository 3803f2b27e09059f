// The entry points of a component library. A component defines them in one
// of its files (declared here extern "C" with default visibility) and the
// runtime and the registration tool look them up with dlsym by these names.
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/type_info.h"

#define TARVO_COM_EXPORT extern "C" __attribute__((visibility("default")))

// The class object (normally the IClassFactory) of `clsid`;
// CLASS_E_CLASSNOTAVAILABLE for a class the library does not hold.
TARVO_COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
// S_OK when no object and no lock remain (ModuleCanUnloadNow()), else S_FALSE.
TARVO_COM_EXPORT HRESULT DllCanUnloadNow();
// Writes the library's registration entries and registers its type library
// (RegisterTypeLib with its own path, ModuleFilePath). SELFREG_E_CLASS /
// SELFREG_E_TYPELIB on failure.
TARVO_COM_EXPORT HRESULT DllRegisterServer();
// Removes them again.
TARVO_COM_EXPORT HRESULT DllUnregisterServer();
// The library's type library, AddRef'd (CreateStaticTypeLib).
TARVO_COM_EXPORT HRESULT DllGetTypeLib(ITypeLib** lib);

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
using DllGetTypeLibFn = HRESULT (*)(ITypeLib**);
