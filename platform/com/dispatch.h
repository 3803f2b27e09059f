// IDispatch: late-bound calls by dispatch id, and the helpers a component
// uses to implement it.
//
// Invoke receives its arguments in DISPPARAMS in REVERSE order: the last
// argument of the method is rgvarg[0], the first is rgvarg[cArgs - 1].
// An out-parameter arrives as a VT_BYREF variant pointing at the caller's
// storage (VT_BYREF | VT_I4 for a LONG*, VT_BYREF | VT_BSTR for a BSTR*, ...).
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/bstr.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct ITypeInfo;

using DISPID = LONG;
using MEMBERID = DISPID;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// Invoke flags.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Locale ids; the runtime accepts any and ignores them.
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

struct DISPPARAMS {
    VARIANTARG* rgvarg;        // arguments, last argument first
    DISPID* rgdispidNamedArgs; // ids of the named arguments (the first cNamedArgs of rgvarg)
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

struct IDispatch : IUnknown {
    // 1 when type information is available, else 0.
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    // The type information of this interface (index 0), AddRef'd.
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    // names[0] = member name -> ids[0]; further names are its parameter names.
    // Case-insensitive. DISP_E_UNKNOWNNAME (with DISPID_UNKNOWN in the slot)
    // for a name that is not there.
    virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// --- Helpers for implementing Invoke ---

// Reads the argument at `position` (0 = the method's first parameter; the
// reverse order of rgvarg is taken care of; a named argument whose id equals
// `position` is found too) converted to `vt` into *result (which the caller
// then owns and clears). A BYREF argument is read through. Errors:
// DISP_E_PARAMNOTFOUND when there is no such argument, DISP_E_TYPEMISMATCH or
// DISP_E_OVERFLOW when it does not convert; *argErr (if given) then receives
// the argument's index in rgvarg.
TARVO_COM_API HRESULT DispGetParam(DISPPARAMS* params, UINT position, VARTYPE vt, VARIANT* result, UINT* argErr);

// Stores `value` into the out-parameter at `position`, which must be a BYREF
// variant (or a BYREF VT_VARIANT): the value is converted to the pointed-at
// type and written through the pointer. A BSTR or interface that the target
// held before is freed/released first, so the caller passes a null or a valid
// BSTR. Errors as DispGetParam; DISP_E_TYPEMISMATCH when the argument is not
// BYREF.
TARVO_COM_API HRESULT DispSetOutParam(DISPPARAMS* params, UINT position, const VARIANT& value, UINT* argErr);
// Convenience forms of DispSetOutParam.
TARVO_COM_API HRESULT DispSetOutLong(DISPPARAMS* params, UINT position, LONG value, UINT* argErr);
TARVO_COM_API HRESULT DispSetOutBstr(DISPPARAMS* params, UINT position, BSTR value, UINT* argErr);  // copies `value`

// Implements IDispatch::GetIDsOfNames from a type information (see
// ITypeInfo::GetIDsOfNames); E_INVALIDARG when info is null.
TARVO_COM_API HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);

// Fills *excepInfo (when not null) for a DISP_E_EXCEPTION result; the text is
// copied byte for character.
TARVO_COM_API void DispFillException(EXCEPINFO* excepInfo, const char* source, const char* description, SCODE scode);
