// The helpers a component uses to implement IDispatch.
#include "platform/com/dispatch.h"
#include "platform/com/type_info.h"

namespace {

// Index in rgvarg of the argument at `position`, or -1: a named argument with
// that id, else the positional argument counted from the end of rgvarg.
long find_argument(const DISPPARAMS* params, UINT position) {
    for (UINT i = 0; i < params->cNamedArgs && i < params->cArgs; ++i)
        if (params->rgdispidNamedArgs && params->rgdispidNamedArgs[i] == static_cast<DISPID>(position))
            return static_cast<long>(i);
    UINT positional = params->cArgs - params->cNamedArgs;
    if (params->cNamedArgs > params->cArgs || position >= positional) return -1;
    return static_cast<long>(params->cArgs - 1 - position);
}

}  // namespace

HRESULT DispGetParam(DISPPARAMS* params, UINT position, VARTYPE vt, VARIANT* result, UINT* argErr) {
    if (!params || !result) return E_INVALIDARG;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    long index = find_argument(params, position);
    if (index < 0) return DISP_E_PARAMNOTFOUND;
    VariantInit(result);
    HRESULT hr = VariantChangeType(result, &params->rgvarg[index], 0, vt);
    if (FAILED(hr)) {
        if (argErr) *argErr = static_cast<UINT>(index);
        if (hr == DISP_E_BADVARTYPE) hr = DISP_E_TYPEMISMATCH;
    }
    return hr;
}

HRESULT DispSetOutParam(DISPPARAMS* params, UINT position, const VARIANT& value, UINT* argErr) {
    if (!params) return E_INVALIDARG;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    long index = find_argument(params, position);
    if (index < 0) return DISP_E_PARAMNOTFOUND;
    VARIANT& target = params->rgvarg[index];
    auto fail = [&](HRESULT hr) {
        if (argErr) *argErr = static_cast<UINT>(index);
        return hr == DISP_E_BADVARTYPE ? DISP_E_TYPEMISMATCH : hr;
    };
    if (!(target.vt & VT_BYREF) || !target.byref) return fail(DISP_E_TYPEMISMATCH);
    VARTYPE base = target.vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
        if (target.pvarVal->vt & VT_BYREF) return fail(DISP_E_TYPEMISMATCH);
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopy(&copy, &value);
        if (FAILED(hr)) return fail(hr);
        VariantClear(target.pvarVal);
        *target.pvarVal = copy;
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, &value, 0, base);
    if (FAILED(hr)) return fail(hr);
    switch (base) {
        case VT_I2: *target.piVal = converted.iVal; break;
        case VT_I4: *target.plVal = converted.lVal; break;
        case VT_INT: *target.pintVal = converted.intVal; break;
        case VT_UI1: *target.pbVal = converted.bVal; break;
        case VT_R8: *target.pdblVal = converted.dblVal; break;
        case VT_BOOL: *target.pboolVal = converted.boolVal; break;
        case VT_ERROR: *target.pscode = converted.scode; break;
        case VT_BSTR:
            SysFreeString(*target.pbstrVal);
            *target.pbstrVal = converted.bstrVal;  // ownership moves to the caller
            return S_OK;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (*target.ppunkVal) (*target.ppunkVal)->Release();
            *target.ppunkVal = converted.punkVal;
            return S_OK;
        default:
            VariantClear(&converted);
            return fail(DISP_E_TYPEMISMATCH);
    }
    return S_OK;
}

HRESULT DispSetOutLong(DISPPARAMS* params, UINT position, LONG value, UINT* argErr) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return DispSetOutParam(params, position, v, argErr);
}

HRESULT DispSetOutBstr(DISPPARAMS* params, UINT position, BSTR value, UINT* argErr) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = value;  // borrowed: DispSetOutParam copies it
    return DispSetOutParam(params, position, v, argErr);
}

HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!info) return E_INVALIDARG;
    return info->GetIDsOfNames(names, count, ids);
}

void DispFillException(EXCEPINFO* excepInfo, const char* source, const char* description, SCODE scode) {
    if (!excepInfo) return;
    *excepInfo = EXCEPINFO{};
    excepInfo->bstrSource = BstrFromBytes(source ? source : "");
    excepInfo->bstrDescription = BstrFromBytes(description ? description : "");
    excepInfo->scode = scode;
}
