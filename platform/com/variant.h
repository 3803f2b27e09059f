// VARIANT: the tagged value that carries IDispatch arguments and results.
// Supported types: VT_EMPTY, VT_I2, VT_I4, VT_INT, VT_UI1, VT_R8, VT_BOOL,
// VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_ERROR, and each of them (but VT_EMPTY)
// combined with VT_BYREF, where the variant points at the caller's storage:
// that is how out-parameters travel through IDispatch::Invoke.
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

struct IUnknown;
struct IDispatch;

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,  // only as VT_BYREF | VT_VARIANT
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_INT = 22,
    VT_VOID = 24,     // type library: a function without a value
    VT_HRESULT = 25,  // type library: the status every method returns
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;           // VT_I4
        BYTE bVal;           // VT_UI1
        SHORT iVal;          // VT_I2
        INT intVal;          // VT_INT
        DOUBLE dblVal;       // VT_R8
        VARIANT_BOOL boolVal;  // VT_BOOL
        SCODE scode;         // VT_ERROR
        BSTR bstrVal;        // VT_BSTR (owned by the variant)
        IUnknown* punkVal;   // VT_UNKNOWN (one reference owned)
        IDispatch* pdispVal; // VT_DISPATCH (one reference owned)
        BYTE* pbVal;         // VT_BYREF | VT_UI1
        SHORT* piVal;        // VT_BYREF | VT_I2
        LONG* plVal;         // VT_BYREF | VT_I4
        INT* pintVal;        // VT_BYREF | VT_INT
        DOUBLE* pdblVal;     // VT_BYREF | VT_R8
        VARIANT_BOOL* pboolVal;  // VT_BYREF | VT_BOOL
        SCODE* pscode;       // VT_BYREF | VT_ERROR
        BSTR* pbstrVal;      // VT_BYREF | VT_BSTR
        IUnknown** ppunkVal; // VT_BYREF | VT_UNKNOWN
        IDispatch** ppdispVal;  // VT_BYREF | VT_DISPATCH
        VARIANT* pvarVal;    // VT_BYREF | VT_VARIANT
        void* byref;
    };
};
using VARIANTARG = VARIANT;

// Flag for VariantChangeType; accepted and ignored.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x1;

// VT_EMPTY.
TARVO_COM_API void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference; nothing for BYREF)
// and leaves it VT_EMPTY. DISP_E_BADVARTYPE for a type not listed above (the
// variant is then left alone).
TARVO_COM_API HRESULT VariantClear(VARIANT* v);
// dest = deep copy of src (a new BSTR, an AddRef'd interface; a BYREF variant
// copies the pointer). dest is cleared first; dest == src is allowed.
TARVO_COM_API HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Like VariantCopy, but a BYREF source is copied as the value it points at.
TARVO_COM_API HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// dest = src converted to `vt` (a BYREF source is read through). Integers,
// VT_BOOL, VT_R8 and VT_BSTR convert among each other: out-of-range numbers
// give DISP_E_OVERFLOW; a BSTR converts to a number when it holds one decimal
// number (optionally signed, surrounded by white space; for VT_R8 also a
// fraction and exponent), else DISP_E_TYPEMISMATCH; numbers become their
// decimal text, VT_BOOL becomes "True"/"False"; VT_R8 rounds half to even when
// it becomes an integer; VT_EMPTY becomes 0 or "". dest == src is allowed.
// On failure dest is unchanged.
TARVO_COM_API HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Owns one VARIANT; clears it on destruction. For hosts and tests.
class VariantHolder {
public:
    VariantHolder() { VariantInit(&v_); }
    ~VariantHolder() { VariantClear(&v_); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }

private:
    VARIANT v_;
};
