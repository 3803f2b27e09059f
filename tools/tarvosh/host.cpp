#include "tools/tarvosh/host.h"

#include <cstdio>
#include <vector>

namespace tarvosh {

namespace {

std::string hex(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

bool same_name(const char* a, const std::string& b) {
    std::size_t i = 0;
    for (; a[i] && i < b.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return a[i] == 0 && i == b.size();
}

const char* type_name(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return "a string";
        case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_BOOL: case VT_ERROR: return "an integer";
        case VT_R8: return "a number";
        default: return "a value of another type";
    }
}

bool scriptable(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_BOOL: case VT_R8: return true;
        default: return false;
    }
}

// An out-parameter is not written in the script: declared out, or passed by
// pointer.
bool is_out(const ParamDesc& p) { return (p.flags & PARAMFLAG_FOUT) || (p.vt & VT_BYREF); }

}  // namespace

bool Host::Start(const std::string& progid, std::string* error) {
    CLSID clsid{};
    std::u16string name = OleStringFromBytes(progid);
    if (FAILED(CLSIDFromProgID(name.c_str(), &clsid))) {
        *error = "program id \"" + progid + "\" is not registered in " + RegStorePath() +
                 " (register the component with tarvo-regsvr)";
        return false;
    }
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object_.out_void());
    if (FAILED(hr)) {
        *error = "cannot create \"" + progid + "\": " + hex(hr);
        std::string why = CoLastLoadError();
        if ((hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) && !why.empty()) *error += " (" + why + ")";
        return false;
    }
    UINT count = 0;
    if (SUCCEEDED(object_->GetTypeInfoCount(&count)) && count > 0) object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info_.out());
    if (!FindEvents(clsid, error)) return false;
    return true;
}

bool Host::FindEvents(REFCLSID clsid, std::string* error) {
    // The class's default source interface, from the type library that holds
    // the object's interface (or the one registered for the class).
    ComPtr<ITypeLib> lib;
    if (info_) info_->GetContainingTypeLib(lib.out(), nullptr);
    if (!lib) {
        std::string text;
        GUID libid{};
        if (SUCCEEDED(RegStoreGetValue("HKCR\\CLSID\\" + GuidToString(clsid) + "\\TypeLib", "", &text)) &&
            GuidFromString(text, &libid))
            LoadRegTypeLib(libid, 1, 0, LOCALE_USER_DEFAULT, lib.out());
    }
    if (lib) {
        const TypeDesc* own = nullptr;
        if (info_) info_->GetTypeDesc(&own);
        const TypeLibDesc* desc = nullptr;
        lib->GetLibDesc(&desc);
        for (const TypeDesc& t : desc->types)
            if (t.kind == TKIND_COCLASS && t.default_source != IID_NULL &&
                (t.guid == clsid || (own && t.default_interface == own->guid)))
                events_iid_ = t.default_source;
        if (events_iid_ != IID_NULL) lib->GetTypeInfoOfGuid(events_iid_, events_info_.out());
    }
    if (events_iid_ == IID_NULL) {
        console_.error("warning: the object names no event interface; waits will time out");
        return true;
    }
    sink_.Bind(events_iid_, events_info_.get());
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = object_->QueryInterface(IID_IConnectionPointContainer, container.out_void());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(events_iid_, point_.out());
    if (SUCCEEDED(hr)) hr = point_->Advise(&sink_, &cookie_);
    if (FAILED(hr)) {
        *error = "cannot advise the event interface " + GuidToString(events_iid_) + ": " + hex(hr);
        point_.reset();
        return false;
    }
    return true;
}

void Host::Stop() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
    cookie_ = 0;
    point_.reset();
    events_info_.reset();
    info_.reset();
    object_.reset();  // the object's last release ends its threads
}

bool Host::CheckEvent(const Statement& wait, std::string* canonical, std::string* error) {
    *canonical = wait.name;
    if (!events_info_) return true;  // nothing to check against
    const TypeDesc* desc = nullptr;
    events_info_->GetTypeDesc(&desc);
    std::string known;
    for (const FuncDesc& f : desc->funcs) {
        if (same_name(f.name, wait.name)) {
            *canonical = f.name;
            if (wait.code && f.params.empty()) {
                *error = std::string(f.name) + " has no argument to match a code against";
                return false;
            }
            return true;
        }
        known += (known.empty() ? "" : ", ") + std::string(f.name);
    }
    *error = "unknown event \"" + wait.name + "\" (events: " + known + ")";
    return false;
}

bool Host::Call(const Statement& call, std::string* error) {
    if (!object_) {
        *error = "no object";
        return false;
    }
    std::u16string wide = OleStringFromBytes(call.name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        *error = "unknown method \"" + call.name + "\"";
        return false;
    }
    const FuncDesc* f = nullptr;
    if (info_) info_->GetFuncDescOfId(id, &f);

    // Parameters in the method's order: in-parameters from the script,
    // out-parameters as BYREF variants pointing at storage of their own.
    std::size_t count = f ? f->params.size() : call.arguments.size();
    std::size_t ins = 0;
    if (f)
        for (const ParamDesc& p : f->params) ins += !is_out(p);
    else
        ins = count;
    std::string method = f ? f->name : call.name;
    if (call.arguments.size() != ins) {
        *error = method + " takes " + std::to_string(ins) + " argument" + (ins == 1 ? "" : "s") + ", " +
                 std::to_string(call.arguments.size()) + " given";
        return false;
    }
    std::vector<VARIANT> values(count), stores(count);
    for (std::size_t k = 0; k < count; ++k) {
        VariantInit(&values[k]);
        VariantInit(&stores[k]);
    }
    auto cleanup = [&] {
        for (std::size_t k = 0; k < count; ++k) {
            VariantClear(&values[k]);
            VariantClear(&stores[k]);
        }
    };
    std::size_t next = 0;
    for (std::size_t k = 0; k < count; ++k) {
        VARTYPE vt = f ? static_cast<VARTYPE>(f->params[k].vt & ~VT_BYREF) : VARTYPE{VT_EMPTY};
        if (f && is_out(f->params[k])) {
            if (scriptable(vt)) {
                stores[k].vt = vt;
                values[k].vt = VT_BYREF | vt;
                values[k].byref = &stores[k].lVal;  // the value union's address, whatever its type
            } else {
                values[k].vt = VT_BYREF | VT_VARIANT;
                values[k].pvarVal = &stores[k];
            }
            continue;
        }
        const Argument& a = call.arguments[next++];
        VARIANT given;
        VariantInit(&given);
        if (a.kind == Argument::Kind::integer) {
            given.vt = VT_I4;
            given.lVal = a.integer;
        } else {
            given.vt = VT_BSTR;
            given.bstrVal = BstrFromBytes(a.bytes);
        }
        if (vt == VT_EMPTY || vt == VT_VARIANT || !scriptable(vt)) {
            values[k] = given;
        } else {
            hr = VariantChangeType(&values[k], &given, 0, vt);
            VariantClear(&given);
            if (FAILED(hr)) {
                *error = "argument " + std::to_string(next) + " of " + method + " (" + f->params[k].name +
                         ") must be " + type_name(vt);
                cleanup();
                return false;
            }
        }
    }
    std::vector<VARIANT> reversed(values.rbegin(), values.rend());  // Invoke wants the last argument first
    DISPPARAMS params{count ? reversed.data() : nullptr, nullptr, static_cast<UINT>(count), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT arg_error = 0;
    hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception, &arg_error);
    if (FAILED(hr)) {
        *error = method + " failed: " + hex(hr);
        if (hr == DISP_E_EXCEPTION && exception.bstrDescription)
            *error += " (" + BytesFromBstr(exception.bstrDescription) + ")";
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        VariantClear(&result);
        cleanup();
        return false;
    }
    std::string line = method;
    for (std::size_t k = 0; k < count; ++k)
        if (f && is_out(f->params[k])) line.append(" ").append(FormatValue(stores[k]));
    if (result.vt != VT_EMPTY) line.append(" ").append(FormatValue(result));
    console_.line(line);
    VariantClear(&result);
    cleanup();
    return true;
}

}  // namespace tarvosh
