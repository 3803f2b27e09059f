#include "platform/com/variant.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/unknown.h"

namespace {

bool known_base_type(VARTYPE t) {
    switch (t) {
        case VT_EMPTY: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_R8: case VT_BOOL:
        case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_ERROR:
            return true;
        default:
            return false;
    }
}

bool known_type(VARTYPE vt) {
    if (vt & VT_BYREF) {
        VARTYPE base = vt & ~VT_BYREF;
        return base == VT_VARIANT || (base != VT_EMPTY && known_base_type(base));
    }
    return known_base_type(vt);
}

// Resolves BYREF (one level; a BYREF VARIANT may point at another value variant).
HRESULT dereference(const VARIANT* src, VARIANT* out) {
    VariantInit(out);
    if (!(src->vt & VT_BYREF)) {
        *out = *src;
        return S_OK;
    }
    if (!src->byref) return E_POINTER;
    VARTYPE base = src->vt & ~VT_BYREF;
    out->vt = base;
    switch (base) {
        case VT_I2: out->iVal = *src->piVal; break;
        case VT_I4: out->lVal = *src->plVal; break;
        case VT_INT: out->intVal = *src->pintVal; break;
        case VT_UI1: out->bVal = *src->pbVal; break;
        case VT_R8: out->dblVal = *src->pdblVal; break;
        case VT_BOOL: out->boolVal = *src->pboolVal; break;
        case VT_ERROR: out->scode = *src->pscode; break;
        case VT_BSTR: out->bstrVal = *src->pbstrVal; break;
        case VT_DISPATCH: out->pdispVal = *src->ppdispVal; break;
        case VT_UNKNOWN: out->punkVal = *src->ppunkVal; break;
        case VT_VARIANT:
            if (src->pvarVal->vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
            *out = *src->pvarVal;
            break;
        default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

// A borrowed copy (BSTR and interfaces not duplicated) made owned.
HRESULT own(VARIANT* v) {
    if (v->vt == VT_BSTR) {
        if (v->bstrVal) {
            BSTR copy = SysAllocStringLen(v->bstrVal, SysStringLen(v->bstrVal));
            if (!copy) return E_OUTOFMEMORY;
            v->bstrVal = copy;
        }
    } else if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
        if (v->punkVal) v->punkVal->AddRef();
    }
    return S_OK;
}

bool is_space(OLECHAR c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Parses the BSTR as a number. Integers: optional sign and decimal digits.
HRESULT parse_number(BSTR text, bool allow_fraction, double* out) {
    std::string s = BytesFromBstr(text);
    std::size_t b = 0, e = s.size();
    while (b < e && is_space(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && is_space(static_cast<unsigned char>(s[e - 1]))) --e;
    s = s.substr(b, e - b);
    if (s.empty() || s.find('\0') != std::string::npos) return DISP_E_TYPEMISMATCH;
    if (!allow_fraction) {
        std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
        if (i == s.size()) return DISP_E_TYPEMISMATCH;
        for (; i < s.size(); ++i)
            if (s[i] < '0' || s[i] > '9') return DISP_E_TYPEMISMATCH;
        errno = 0;
        long long v = std::strtoll(s.c_str(), nullptr, 10);
        if (errno == ERANGE) return DISP_E_OVERFLOW;
        *out = static_cast<double>(v);
        if (*out != static_cast<double>(v)) return DISP_E_OVERFLOW;
        return S_OK;
    }
    for (char c : s)  // no hex floats, infinities or NaN
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
            return DISP_E_TYPEMISMATCH;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::isinf(v)) return DISP_E_OVERFLOW;
    *out = v;
    return S_OK;
}

// The numeric value of a value variant; DISP_E_TYPEMISMATCH for non-numbers.
HRESULT numeric(const VARIANT& v, bool want_fraction, double* out) {
    switch (v.vt) {
        case VT_EMPTY: *out = 0; return S_OK;
        case VT_I2: *out = v.iVal; return S_OK;
        case VT_I4: *out = v.lVal; return S_OK;
        case VT_INT: *out = v.intVal; return S_OK;
        case VT_UI1: *out = v.bVal; return S_OK;
        case VT_R8: *out = v.dblVal; return S_OK;
        case VT_BOOL: *out = v.boolVal ? -1 : 0; return S_OK;
        case VT_BSTR: return parse_number(v.bstrVal, want_fraction, out);
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT to_integer(double value, double low, double high, long long* out) {
    if (std::isnan(value)) return DISP_E_OVERFLOW;
    double r = std::nearbyint(value);  // default rounding: half to even
    if (r < low || r > high) return DISP_E_OVERFLOW;
    *out = static_cast<long long>(r);
    return S_OK;
}

std::string text_of(const VARIANT& v) {
    char buffer[64];
    switch (v.vt) {
        case VT_EMPTY: return "";
        case VT_I2: return std::to_string(v.iVal);
        case VT_I4: return std::to_string(v.lVal);
        case VT_INT: return std::to_string(v.intVal);
        case VT_UI1: return std::to_string(v.bVal);
        case VT_BOOL: return v.boolVal ? "True" : "False";
        case VT_R8: std::snprintf(buffer, sizeof buffer, "%.15g", v.dblVal); return buffer;
        default: return "";
    }
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->dblVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!known_type(v->vt) && v->vt != VT_NULL) return DISP_E_BADVARTYPE;
    if (v->vt == VT_BSTR) {
        SysFreeString(v->bstrVal);
    } else if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
        if (v->punkVal) v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!known_type(src->vt) && src->vt != VT_NULL) return DISP_E_BADVARTYPE;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    HRESULT hr = own(&copy);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!known_type(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = dereference(src, &value);
    if (FAILED(hr)) return hr;
    hr = own(&value);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = value;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT /*flags*/, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (!known_type(src->vt) || !known_base_type(vt)) return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = dereference(src, &value);  // borrowed
    if (FAILED(hr)) return hr;

    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    if (value.vt == vt) {
        result = value;
        hr = own(&result);
        if (FAILED(hr)) return hr;
    } else {
        switch (vt) {
            case VT_EMPTY:
                break;
            case VT_BSTR: {
                if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN || value.vt == VT_ERROR)
                    return DISP_E_TYPEMISMATCH;
                result.bstrVal = BstrFromBytes(text_of(value));
                if (!result.bstrVal) return E_OUTOFMEMORY;
                break;
            }
            case VT_R8: {
                double d = 0;
                if (FAILED(hr = numeric(value, true, &d))) return hr;
                result.dblVal = d;
                break;
            }
            case VT_BOOL: {
                double d = 0;
                if (value.vt == VT_BSTR) {
                    std::string s = BytesFromBstr(value.bstrVal);
                    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    if (s == "true") { result.boolVal = VARIANT_TRUE; break; }
                    if (s == "false") { result.boolVal = VARIANT_FALSE; break; }
                }
                if (FAILED(hr = numeric(value, true, &d))) return hr;
                result.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            }
            case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_ERROR: {
                if (vt == VT_ERROR || value.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
                double d = 0;
                if (FAILED(hr = numeric(value, value.vt != VT_BSTR, &d))) return hr;
                long long n = 0;
                if (vt == VT_I2) {
                    if (FAILED(hr = to_integer(d, -32768.0, 32767.0, &n))) return hr;
                    result.iVal = static_cast<SHORT>(n);
                } else if (vt == VT_UI1) {
                    if (FAILED(hr = to_integer(d, 0.0, 255.0, &n))) return hr;
                    result.bVal = static_cast<BYTE>(n);
                } else {
                    if (FAILED(hr = to_integer(d, -2147483648.0, 2147483647.0, &n))) return hr;
                    if (vt == VT_I4) result.lVal = static_cast<LONG>(n);
                    else result.intVal = static_cast<INT>(n);
                }
                break;
            }
            case VT_DISPATCH: case VT_UNKNOWN: {
                if (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
                if (!value.punkVal) {
                    result.punkVal = nullptr;
                    break;
                }
                void* p = nullptr;
                if (FAILED(value.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p)))
                    return DISP_E_TYPEMISMATCH;
                result.byref = p;
                break;
            }
            default:
                return DISP_E_BADVARTYPE;
        }
    }
    VariantClear(dest);  // may be src itself: `value` no longer needed
    *dest = result;
    return S_OK;
}
