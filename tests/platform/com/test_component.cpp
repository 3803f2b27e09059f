// A small component library for the runtime's tests: one class, TestCalc,
// with a dual interface, an event connection point, the free-threaded
// marshaler, a type library and self-registration.
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/server_exports.h"
#include "tests/platform/com/test_component_ids.h"

namespace {

constexpr ParamDesc kAddParams[] = {
    {"a", VT_I4, PARAMFLAG_FIN}, {"b", VT_I4, PARAMFLAG_FIN}, {"sum", VT_I4, PARAMFLAG_FOUT}};
constexpr ParamDesc kEchoParams[] = {
    {"text", VT_BSTR, PARAMFLAG_FIN}, {"copy", VT_BSTR, PARAMFLAG_FOUT}, {"length", VT_I4, PARAMFLAG_FOUT}};
constexpr ParamDesc kRaiseParams[] = {
    {"which", VT_I4, PARAMFLAG_FIN}, {"arg", VT_I4, PARAMFLAG_FIN}, {"delay_ms", VT_I4, PARAMFLAG_FIN}};
constexpr ParamDesc kCountParams[] = {{"count", VT_I4, PARAMFLAG_FOUT}};
constexpr FuncDesc kCalcFuncs[] = {
    {1, "Add", "Adds two numbers", kAddParams},
    {2, "Echo", "Copies a text", kEchoParams},
    {3, "Raise", "Raises an event", kRaiseParams},
    {4, "GetObjects", "Counts live objects", kCountParams},
};
constexpr ParamDesc kCodeParam[] = {{"code", VT_I4, PARAMFLAG_FIN}};
constexpr ParamDesc kSuccessParam[] = {{"success", VT_I4, PARAMFLAG_FIN}};
constexpr FuncDesc kEventFuncs[] = {
    {1, "OnSecsRead", "OnSecsRead", {}},
    {2, "OnSecsNotify", "OnSecsNotify", kCodeParam},
    {3, "OnSecsWritten", "OnSecsWritten", kSuccessParam},
};
constexpr TypeDesc kTypes[] = {
    {.kind = TKIND_DISPATCH, .name = "ICalc", .doc = "ICalc Interface", .guid = IID_ICalc,
     .flags = TYPEFLAG_FDUAL, .funcs = kCalcFuncs},
    {.kind = TKIND_DISPATCH, .name = "_ICalcEvents", .doc = "_ICalcEvents Interface", .guid = DIID_ICalcEvents,
     .funcs = kEventFuncs},
    {.kind = TKIND_COCLASS, .name = "TestCalc", .doc = "TestCalc Class", .guid = CLSID_TestCalc,
     .flags = TYPEFLAG_FCANCREATE, .default_interface = IID_ICalc, .default_source = DIID_ICalcEvents},
};
constexpr TypeLibDesc kTypeLib = {"TestCalcLib", "TestCalc 1.0 Type Library", LIBID_TestCalcLib, 1, 0, kTypes};

std::atomic<LONG> g_objects{0};

class Calc final : public ICalc, public IConnectionPointContainer {
public:
    Calc() : point_(DIID_ICalcEvents, this) {
        ModuleAddRef();
        ++g_objects;
    }
    ~Calc() {
        for (std::thread& t : threads_) t.join();
        point_.UnadviseAll();
        if (marshaler_) marshaler_->Release();
        if (info_) info_->Release();
        --g_objects;
        ModuleRelease();
    }

    HRESULT Init() {
        HRESULT hr = CoCreateFreeThreadedMarshaler(static_cast<ICalc*>(this), &marshaler_);
        if (FAILED(hr)) return hr;
        ITypeLib* lib = nullptr;
        hr = CreateStaticTypeLib(&kTypeLib, &lib);
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(IID_ICalc, &info_);
        lib->Release();
        return hr;
    }

    // IUnknown
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICalc)
            *object = static_cast<ICalc*>(this);
        else if (iid == IID_IConnectionPointContainer)
            *object = static_cast<IConnectionPointContainer*>(this);
        else if (iid == IID_IMarshal)
            return marshaler_->QueryInterface(iid, object);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        info_->AddRef();
        *info = info_;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(info_, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT* argErr) override {
        if (!params) return E_INVALIDARG;
        const FuncDesc* f = nullptr;
        if (FAILED(info_->GetFuncDescOfId(id, &f))) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != f->params.size()) return DISP_E_BADPARAMCOUNT;
        VariantHolder a, b, c;
        HRESULT hr = S_OK;
        switch (id) {
            case 1: {
                if (FAILED(hr = DispGetParam(params, 0, VT_I4, a.get(), argErr))) return hr;
                if (FAILED(hr = DispGetParam(params, 1, VT_I4, b.get(), argErr))) return hr;
                LONG sum = 0;
                Add(a->lVal, b->lVal, &sum);
                return DispSetOutLong(params, 2, sum, argErr);
            }
            case 2: {
                if (FAILED(hr = DispGetParam(params, 0, VT_BSTR, a.get(), argErr))) return hr;
                BstrHolder copy;
                LONG length = 0;
                Echo(a->bstrVal, copy.out(), &length);
                if (FAILED(hr = DispSetOutBstr(params, 1, copy.get(), argErr))) return hr;
                return DispSetOutLong(params, 2, length, argErr);
            }
            case 3: {
                if (FAILED(hr = DispGetParam(params, 0, VT_I4, a.get(), argErr))) return hr;
                if (FAILED(hr = DispGetParam(params, 1, VT_I4, b.get(), argErr))) return hr;
                if (FAILED(hr = DispGetParam(params, 2, VT_I4, c.get(), argErr))) return hr;
                return Raise(a->lVal, b->lVal, c->lVal);
            }
            case 4: {
                LONG n = 0;
                GetObjects(&n);
                return DispSetOutLong(params, 0, n, argErr);
            }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    // ICalc
    HRESULT Add(LONG a, LONG b, LONG* sum) override {
        if (!sum) return E_POINTER;
        *sum = static_cast<LONG>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
        return S_OK;
    }
    HRESULT Echo(BSTR text, BSTR* copy, LONG* length) override {
        if (!copy || !length) return E_POINTER;
        *copy = SysAllocStringLen(text, SysStringLen(text));
        *length = static_cast<LONG>(SysStringLen(text));
        return S_OK;
    }
    HRESULT Raise(LONG which, LONG arg, LONG delay_ms) override {
        if (which < 1 || which > 3) return E_INVALIDARG;
        if (delay_ms <= 0) {
            Fire(which, arg);
            return S_OK;
        }
        std::lock_guard<std::mutex> lock(threads_mutex_);
        threads_.emplace_back([this, which, arg, delay_ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            Fire(which, arg);
        });
        return S_OK;
    }
    HRESULT GetObjects(LONG* count) override {
        if (!count) return E_POINTER;
        *count = g_objects.load();
        return S_OK;
    }

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (iid != DIID_ICalcEvents) return CONNECT_E_NOCONNECTION;
        point_.AddRef();
        *point = &point_;
        return S_OK;
    }

private:
    void Fire(LONG which, LONG arg) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = arg;
        point_.Fire(which, which == 1 ? nullptr : &v, which == 1 ? 0 : 1);
    }

    std::atomic<ULONG> refs_{1};
    ConnectionPoint point_;
    IUnknown* marshaler_ = nullptr;
    ITypeInfo* info_ = nullptr;
    std::mutex threads_mutex_;
    std::vector<std::thread> threads_;
};

HRESULT CreateCalc(IUnknown* outer, REFIID iid, void** object) {
    if (outer) return CLASS_E_NOAGGREGATION;
    Calc* calc = new (std::nothrow) Calc();
    if (!calc) return E_OUTOFMEMORY;
    HRESULT hr = calc->Init();
    if (SUCCEEDED(hr)) hr = calc->QueryInterface(iid, object);
    calc->Release();
    return hr;
}

ClassFactory g_factory(CreateCalc);

std::string clsid_key() { return "HKCR\\CLSID\\" + GuidToString(CLSID_TestCalc); }

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_TestCalc) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

HRESULT DllCanUnloadNow() { return ModuleCanUnloadNow(); }

HRESULT DllGetTypeLib(ITypeLib** lib) { return CreateStaticTypeLib(&kTypeLib, lib); }

HRESULT DllRegisterServer() {
    std::string path = ModuleFilePath(reinterpret_cast<const void*>(&clsid_key));
    std::string clsid = GuidToString(CLSID_TestCalc);
    DllUnregisterServer();
    bool ok = SUCCEEDED(RegStoreSetDefault(std::string("HKCR\\") + kTestProgId, "TestCalc Class")) &&
              SUCCEEDED(RegStoreSetDefault(std::string("HKCR\\") + kTestProgId + "\\CLSID", clsid)) &&
              SUCCEEDED(RegStoreSetDefault(clsid_key(), "TestCalc Class")) &&
              SUCCEEDED(RegStoreSetDefault(clsid_key() + "\\ProgID", kTestProgId)) &&
              SUCCEEDED(RegStoreSetDefault(clsid_key() + "\\InprocServer32", path)) &&
              SUCCEEDED(RegStoreSetValue(clsid_key() + "\\InprocServer32", "ThreadingModel", "Both")) &&
              SUCCEEDED(RegStoreSetDefault(clsid_key() + "\\TypeLib", GuidToString(LIBID_TestCalcLib)));
    if (!ok) return SELFREG_E_CLASS;
    ITypeLib* lib = nullptr;
    if (FAILED(DllGetTypeLib(&lib))) return SELFREG_E_TYPELIB;
    HRESULT hr = RegisterTypeLib(lib, path.c_str());
    lib->Release();
    return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

HRESULT DllUnregisterServer() {
    HRESULT a = RegStoreDeleteTree(std::string("HKCR\\") + kTestProgId);
    HRESULT b = RegStoreDeleteTree(clsid_key());
    UnRegisterTypeLib(LIBID_TestCalcLib, 1, 0);
    return FAILED(a) || FAILED(b) ? SELFREG_E_CLASS : S_OK;
}
