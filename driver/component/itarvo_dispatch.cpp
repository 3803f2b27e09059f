// IDispatch for ITarvo: late-bound calls through the type library's
// description of each method (its parameter count, directions and types),
// ending in the same method-table call that an early-bound caller makes.
#include <iterator>

#include "driver/component/quill1.h"
#include "driver/component/tarvo_guids.h"
#include "driver/component/tarvo_typelib.h"

namespace tarvo {

namespace {

// The values of one call: integer in-parameters by position among the
// integers, the one string in-parameter, and the one out-value.
struct CallArgs {
    LONG in[2] = {0, 0};
    BSTR text = nullptr;  // borrowed from the converted argument
    LONG out = 0;
    BSTR out_text = nullptr;  // owned
};

using Call = HRESULT (*)(ITarvo& t, CallArgs& a);

// ITarvo's methods by dispatch id - 1.
constexpr Call kCalls[] = {
    [](ITarvo& t, CallArgs& a) { return t.SetActive(a.in[0], &a.out); },  // 1
    [](ITarvo& t, CallArgs& a) { return t.GetActive(&a.out); },  // 2
    [](ITarvo& t, CallArgs& a) { return t.SetLineType(static_cast<enum_SECS_LINE_TYPE>(a.in[0])); },  // 3
    [](ITarvo& t, CallArgs& a) {  // 4
        enum_SECS_LINE_TYPE v{};
        const HRESULT hr = t.GetLineType(&v);
        a.out = v;
        return hr;
    },
    [](ITarvo& t, CallArgs& a) { return t.SetT1(a.in[0]); },  // 5
    [](ITarvo& t, CallArgs& a) { return t.GetT1(&a.out); },  // 6
    [](ITarvo& t, CallArgs& a) { return t.SetT2(a.in[0]); },  // 7
    [](ITarvo& t, CallArgs& a) { return t.GetT2(&a.out); },  // 8
    [](ITarvo& t, CallArgs& a) { return t.SetT3(a.in[0]); },  // 9
    [](ITarvo& t, CallArgs& a) { return t.GetT3(&a.out); },  // 10
    [](ITarvo& t, CallArgs& a) { return t.SetT4(a.in[0]); },  // 11
    [](ITarvo& t, CallArgs& a) { return t.GetT4(&a.out); },  // 12
    [](ITarvo& t, CallArgs& a) { return t.SetT5(a.in[0]); },  // 13
    [](ITarvo& t, CallArgs& a) { return t.GetT5(&a.out); },  // 14
    [](ITarvo& t, CallArgs& a) { return t.SetT6(a.in[0]); },  // 15
    [](ITarvo& t, CallArgs& a) { return t.GetT6(&a.out); },  // 16
    [](ITarvo& t, CallArgs& a) { return t.SetT7(a.in[0]); },  // 17
    [](ITarvo& t, CallArgs& a) { return t.GetT7(&a.out); },  // 18
    [](ITarvo& t, CallArgs& a) { return t.SetT8(a.in[0]); },  // 19
    [](ITarvo& t, CallArgs& a) { return t.GetT8(&a.out); },  // 20
    [](ITarvo& t, CallArgs& a) { return t.SetRetry(a.in[0]); },  // 21
    [](ITarvo& t, CallArgs& a) { return t.GetRetry(&a.out); },  // 22
    [](ITarvo& t, CallArgs& a) { return t.SetMaster(a.in[0]); },  // 23
    [](ITarvo& t, CallArgs& a) { return t.GetMaster(&a.out); },  // 24
    [](ITarvo& t, CallArgs& a) { return t.SetBaudRate(a.in[0]); },  // 25
    [](ITarvo& t, CallArgs& a) { return t.GetBaudRate(&a.out); },  // 26
    [](ITarvo& t, CallArgs& a) { return t.SetPort(a.in[0]); },  // 27
    [](ITarvo& t, CallArgs& a) { return t.GetPort(&a.out); },  // 28
    [](ITarvo& t, CallArgs& a) { return t.SetHost(a.text); },  // 29
    [](ITarvo& t, CallArgs& a) { return t.GetHost(&a.out_text); },  // 30
    [](ITarvo& t, CallArgs& a) { return t.SetOutDeviceID(a.in[0], &a.out); },  // 31
    [](ITarvo& t, CallArgs& a) { return t.GetOutDeviceID(&a.out); },  // 32
    [](ITarvo& t, CallArgs& a) { return t.SetOutSourceID(a.in[0]); },  // 33
    [](ITarvo& t, CallArgs& a) { return t.GetOutSourceID(&a.out); },  // 34
    [](ITarvo& t, CallArgs& a) { return t.SetOutTransactionID(a.in[0]); },  // 35
    [](ITarvo& t, CallArgs& a) { return t.GetOutTransactionID(&a.out); },  // 36
    [](ITarvo& t, CallArgs& a) { return t.SendMessage(a.text); },  // 37
    [](ITarvo& t, CallArgs&) { return t.NextMessage(); },  // 38
    [](ITarvo& t, CallArgs& a) { return t.Reply(a.text); },  // 39
    [](ITarvo& t, CallArgs& a) { return t.GetInDeviceID(&a.out); },  // 40
    [](ITarvo& t, CallArgs& a) { return t.GetInStreamID(&a.out); },  // 41
    [](ITarvo& t, CallArgs& a) { return t.GetInFunctionID(&a.out); },  // 42
    [](ITarvo& t, CallArgs& a) { return t.GetInWBit(&a.out); },  // 43
    [](ITarvo& t, CallArgs& a) { return t.GetInSourceID(&a.out); },  // 44
    [](ITarvo& t, CallArgs& a) { return t.GetInTransactionID(&a.out); },  // 45
    [](ITarvo& t, CallArgs& a) { return t.GetInRBit(&a.out); },  // 46
    [](ITarvo& t, CallArgs& a) { return t.SetElemPointer(a.text); },  // 47
    [](ITarvo& t, CallArgs& a) { return t.GetElemQuantity(&a.out); },  // 48
    [](ITarvo& t, CallArgs& a) {  // 49
        enum_SECS_ELEM_TYPE v{};
        const HRESULT hr = t.GetElemType(&v);
        a.out = v;
        return hr;
    },
    [](ITarvo& t, CallArgs& a) { return t.GetElemValue(&a.out_text); },  // 50
    [](ITarvo& t, CallArgs& a) { return t.SetLogActive(a.in[0]); },  // 51
    [](ITarvo& t, CallArgs& a) { return t.GetLogActive(&a.out); },  // 52
    [](ITarvo& t, CallArgs& a) { return t.SetLogFileName(a.text); },  // 53
    [](ITarvo& t, CallArgs& a) { return t.GetLogFileName(&a.out_text); },  // 54
    [](ITarvo& t, CallArgs& a) { return t.SetLogAdjust(a.in[0]); },  // 55
    [](ITarvo& t, CallArgs& a) { return t.GetLogAdjust(&a.out); },  // 56
    [](ITarvo& t, CallArgs& a) { return t.SetLogString(a.text); },  // 57
    [](ITarvo& t, CallArgs& a) {  // 58
        return t.SetConnectionMode(static_cast<enum_HSMS_CONN_MODE>(a.in[0]));
    },
    [](ITarvo& t, CallArgs& a) {  // 59
        enum_HSMS_CONN_MODE v{};
        const HRESULT hr = t.GetConnectionMode(&v);
        a.out = v;
        return hr;
    },
    [](ITarvo& t, CallArgs& a) { return t.SetSingleSessionMode(a.in[0]); },  // 60
    [](ITarvo& t, CallArgs& a) { return t.GetSingleSessionMode(&a.out); },  // 61
    [](ITarvo& t, CallArgs& a) { return t.SetMaxPassvConnections(a.in[0]); },  // 62
    [](ITarvo& t, CallArgs& a) { return t.GetMaxPassvConnections(&a.out); },  // 63
    [](ITarvo& t, CallArgs& a) { return t.GetPassvSelectedQuan(&a.out); },  // 64
    [](ITarvo& t, CallArgs& a) { return t.GetPassvSelectedSession(a.in[0], &a.out); },  // 65
    [](ITarvo& t, CallArgs& a) { return t.SetMaxAlternSwitches(a.in[0]); },  // 66
    [](ITarvo& t, CallArgs& a) { return t.GetMaxAlternSwitches(&a.out); },  // 67
    [](ITarvo& t, CallArgs& a) { return t.NextMessageSML(&a.out_text); },  // 68
    [](ITarvo& t, CallArgs& a) { return t.GetElemGnrlQuan(&a.out); },  // 69
    [](ITarvo& t, CallArgs& a) { return t.GetElemGnrlPointer(a.in[0], &a.out_text); },  // 70
    [](ITarvo& t, CallArgs& a) { return t.NextMessageByte(&a.out_text); },  // 71
};
static_assert(std::size(kCalls) == 71);

// GetElemGnrlQuan's parameter is declared "in" yet receives the count.
constexpr DISPID kDispidGetElemGnrlQuan = 69;

VARIANT& argument(DISPPARAMS* params, UINT position) { return params->rgvarg[params->cArgs - 1 - position]; }

}  // namespace

HRESULT CQuill1::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT CQuill1::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    type_info_->AddRef();
    *info = type_info_;
    return S_OK;
}

HRESULT CQuill1::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return guarded(__func__, [&] { return DispGetIDsOfNames(type_info_, names, count, ids); });
}

HRESULT CQuill1::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) {
    return guarded(__func__, [&] { return invoke(id, iid, lcid, flags, params, result, excepInfo, argErr); });
}

HRESULT CQuill1::invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argErr) {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const FuncDesc* f = itarvo_func(id);
    if (!f || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != f->params.size()) return DISP_E_BADPARAMCOUNT;
    if (params->cArgs != 0 && !params->rgvarg) return E_INVALIDARG;

    // Read the in-parameters and check that every out-parameter points at
    // storage before anything is called.
    CallArgs a;
    VariantHolder text;
    UINT ints = 0;
    for (UINT i = 0; i < params->cArgs; ++i) {
        const ParamDesc& p = f->params[i];
        if (p.flags & PARAMFLAG_FOUT) {
            const VARIANT& v = argument(params, i);
            if (!(v.vt & VT_BYREF) || !v.byref) {
                if (argErr) *argErr = params->cArgs - 1 - i;
                return DISP_E_TYPEMISMATCH;
            }
            continue;
        }
        if (id == kDispidGetElemGnrlQuan) continue;  // written after the call, if it can be
        if (p.vt == VT_BSTR) {
            const HRESULT hr = DispGetParam(params, i, VT_BSTR, text.get(), argErr);
            if (FAILED(hr)) return hr;
            a.text = text->bstrVal;
        } else {
            VariantHolder v;
            const HRESULT hr = DispGetParam(params, i, VT_I4, v.get(), argErr);
            if (FAILED(hr)) return hr;
            a.in[ints++] = v->lVal;
        }
    }

    HRESULT hr = kCalls[id - 1](*this, a);
    if (FAILED(hr)) {
        SysFreeString(a.out_text);
        return hr;
    }

    if (result) VariantInit(result);
    for (UINT i = 0; i < params->cArgs && SUCCEEDED(hr); ++i) {
        const ParamDesc& p = f->params[i];
        if (id == kDispidGetElemGnrlQuan) {
            // Declared "in" but a reference: the count goes where it points.
            // A caller that passed a plain value has nowhere to receive it.
            if (argument(params, i).vt & VT_BYREF) hr = DispSetOutLong(params, i, a.out, argErr);
        } else if (p.flags & PARAMFLAG_FOUT) {
            hr = p.vt == VT_BSTR ? DispSetOutBstr(params, i, a.out_text, argErr)
                                 : DispSetOutLong(params, i, a.out, argErr);
        }
    }
    SysFreeString(a.out_text);
    return hr;
}

}  // namespace tarvo
