// The runtime proper: initialisation, and creating objects by class id or
// program id from the component libraries the registration store names.
//
// Finding a class: HKCR\CLSID\{clsid}\InprocServer32 (default value) is the
// full path of its library. The runtime loads the library once (dlopen), asks
// its DllGetClassObject for the class factory, and keeps the library loaded
// until CoFreeUnusedLibraries (or the last CoUninitialize) finds that its
// DllCanUnloadNow answers S_OK.
//
// There are no apartments: CoInitialize/CoInitializeEx only count, process-wide;
// creating objects needs the count above zero (CO_E_NOTINITIALIZED otherwise).
// All functions are thread-safe.
#pragma once

#include <string>

#include "platform/com/base_types.h"
#include "platform/com/class_factory.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

// CoInitializeEx modes; accepted and ignored.
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Class contexts; only in-process servers exist here: a context without
// CLSCTX_INPROC_SERVER gives REGDB_E_CLASSNOTREG.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// S_OK on the first call, S_FALSE on the others (each must be matched by a
// CoUninitialize).
TARVO_COM_API HRESULT CoInitialize(void* reserved);
TARVO_COM_API HRESULT CoInitializeEx(void* reserved, DWORD mode);
// The last one also unloads every library that allows it.
TARVO_COM_API void CoUninitialize();

// The class factory (or another interface `iid` of the class object) of
// `clsid`. REGDB_E_CLASSNOTREG when the class or its InprocServer32 is not
// registered, CO_E_DLLNOTFOUND when the library does not load,
// CO_E_ERRORINDLL when it lacks DllGetClassObject, else what that returns.
TARVO_COM_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);
// CoGetClassObject + IClassFactory::CreateInstance + Release.
TARVO_COM_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
// HKCR\<progid>\CLSID (default value) -> class id; a braced GUID text is also
// accepted as it stands. CO_E_CLASSSTRING when neither.
TARVO_COM_API HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid);
// Unloads the loaded libraries whose DllCanUnloadNow answers S_OK.
TARVO_COM_API void CoFreeUnusedLibraries();

// How many component libraries are loaded now (for tests and diagnostics).
TARVO_COM_API int CoLoadedLibraryCount();

// Why the last library load on this thread failed (the loader's message).
TARVO_COM_API std::string CoLastLoadError();
