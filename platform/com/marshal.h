// IMarshal and the free-threaded marshaler. In this runtime every object lives
// in one process with no apartments, so interface pointers always pass between
// threads unmarshalled: the marshaler is a do-nothing aggregate that lets an
// object answer IMarshal as it would on Windows.
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

struct IStream;  // not provided

struct IMarshal : IUnknown {
    virtual HRESULT GetUnmarshalClass(REFIID iid, void* object, DWORD destContext, void* reserved,
                                      DWORD flags, CLSID* clsid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID iid, void* object, DWORD destContext, void* reserved,
                                      DWORD flags, DWORD* size) = 0;
    virtual HRESULT MarshalInterface(IStream* stream, REFIID iid, void* object, DWORD destContext,
                                     void* reserved, DWORD flags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* stream, REFIID iid, void** object) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* stream) = 0;
    virtual HRESULT DisconnectObject(DWORD reserved) = 0;

protected:
    ~IMarshal() = default;
};

// Creates the marshaler aggregated under `outer` (required: E_INVALIDARG when
// null). *inner receives the inner object's own IUnknown, which answers
// IUnknown (itself) and IMarshal (whose AddRef/Release/QueryInterface go to
// `outer`); every IMarshal method answers E_NOTIMPL. The outer object keeps
// *inner, forwards QueryInterface(IID_IMarshal) to it, and releases it when
// it is destroyed. Holds a module lock while it lives.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** inner);
