#include "tools/tarvosh/event_sink.h"

#include <cstdio>

#include "tools/tarvosh/script.h"

namespace tarvosh {

std::string FormatValue(const VARIANT& value) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, &value))) return "?";
    std::string out;
    switch (v.vt) {
        case VT_EMPTY: out = ""; break;
        case VT_I2: out = std::to_string(v.iVal); break;
        case VT_I4: out = std::to_string(v.lVal); break;
        case VT_INT: out = std::to_string(v.intVal); break;
        case VT_UI1: out = std::to_string(v.bVal); break;
        case VT_BOOL: out = std::to_string(v.boolVal); break;
        case VT_ERROR: out = std::to_string(v.scode); break;
        case VT_BSTR: out = Quote(BytesFromBstr(v.bstrVal)); break;
        case VT_R8: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.17g", v.dblVal);
            out = buffer;
            break;
        }
        default: out = "?"; break;
    }
    VariantClear(&v);
    return out;
}

void EventSink::Bind(REFIID events, ITypeInfo* info) {
    events_ = events;
    info_ = ComPtr<ITypeInfo>(info);
}

HRESULT EventSink::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || (events_ != IID_NULL && iid == events_)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = info_ ? 1 : 0;
    return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0 || !info_) return DISP_E_BADINDEX;
    *info = info_.get();
    (*info)->AddRef();
    return S_OK;
}

HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return DispGetIDsOfNames(info_.get(), names, count, ids);
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    std::string name = std::string("#").append(std::to_string(id));
    const FuncDesc* f = nullptr;
    if (info_ && SUCCEEDED(info_->GetFuncDescOfId(id, &f)) && f) name = f->name;
    std::string text = "event " + name;
    std::vector<std::int64_t> numbers;
    UINT count = params && params->rgvarg ? params->cArgs : 0;
    for (UINT i = count; i > 0; --i) {  // rgvarg holds the last argument first
        const VARIANT& arg = params->rgvarg[i - 1];
        text.append(" ").append(FormatValue(arg));
        VARIANT n;
        VariantInit(&n);
        if (SUCCEEDED(VariantChangeType(&n, &arg, 0, VT_I4)) && (arg.vt & ~VT_BYREF) != VT_BSTR)
            numbers.push_back(n.lVal);
        else
            numbers.push_back(INT64_MIN);  // matches no wait code
        VariantClear(&n);
    }
    log_.Add(name, std::move(numbers), text);
    return S_OK;
}

}  // namespace tarvosh
