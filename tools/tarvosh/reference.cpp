#include "tools/tarvosh/reference.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include "platform/com/com.h"

namespace tarvosh {

namespace {

const char* type_text(const ParamDesc& p) {
    if (p.type_name) return p.type_name;
    switch (p.vt & ~VT_BYREF) {
    case VT_BSTR: return "BSTR";
    case VT_I4: return "LONG";
    case VT_INT: return "INT";
    default: return "VARIANT";
    }
}

bool is_out(const ParamDesc& p) { return (p.flags & PARAMFLAG_FOUT) || (p.vt & VT_BYREF); }

std::string signature(const FuncDesc& f) {
    std::string s = std::string(f.name) + "(";
    for (size_t i = 0; i < f.params.size(); ++i) {
        const ParamDesc& p = f.params[i];
        s += (i ? ", " : "") + std::string(is_out(p) ? "[out] " : "[in] ") + type_text(p) + " " + p.name;
    }
    return s + ")";
}

// The object with its own type information and its library.
struct Subject {
    ComPtr<IDispatch> object;
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> lib;
    bool open(const std::string& progid) {
        CLSID clsid{};
        const std::u16string name = OleStringFromBytes(progid);
        if (FAILED(CLSIDFromProgID(name.c_str(), &clsid)) ||
            FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.out_void()))) {
            std::cerr << "tarvosh: cannot create \"" << progid << "\" (register it with tarvo-regsvr)\n";
            return false;
        }
        object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out());
        if (info) info->GetContainingTypeLib(lib.out(), nullptr);
        return info && lib;
    }
    // Calls a method with integer in-parameters and one out-parameter; its
    // value as text, "" when it cannot be called that way.
    std::string value(const FuncDesc& f, std::vector<LONG> ins = {}) {
        std::vector<VARIANT> args(f.params.size());
        VARIANT out;
        VariantInit(&out);
        size_t next = 0;
        for (size_t k = 0; k < f.params.size(); ++k) {
            VariantInit(&args[k]);
            const ParamDesc& p = f.params[k];
            if (is_out(p)) {
                out.vt = static_cast<VARTYPE>(p.vt & ~VT_BYREF);
                args[k].vt = VT_BYREF | out.vt;
                args[k].byref = &out.lVal;
            } else {
                if (next >= ins.size()) return "";
                args[k].vt = VT_I4;
                args[k].lVal = ins[next++];
            }
        }
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (FAILED(object->Invoke(f.memid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                  nullptr)))
            return "";
        std::string text;
        if (out.vt == VT_BSTR) {
            text.append("\"").append(BytesFromBstr(out.bstrVal)).append("\"");
        } else {
            VARIANT i;
            VariantInit(&i);
            if (SUCCEEDED(VariantChangeType(&i, &out, 0, VT_I4))) text = std::to_string(i.lVal);
        }
        VariantClear(&out);
        return text;
    }
    const FuncDesc* find(const char* name) const {
        const TypeDesc* d = nullptr;
        info->GetTypeDesc(&d);
        for (const FuncDesc& f : d->funcs)
            if (std::string(f.name) == name) return &f;
        return nullptr;
    }
};

// What each getter answers on a new object with the line type set.
std::map<std::string, std::string> defaults(Subject& s, LONG line_type) {
    std::map<std::string, std::string> values;
    if (const FuncDesc* set = s.find("SetLineType")) s.value(*set, {line_type});
    const TypeDesc* d = nullptr;
    s.info->GetTypeDesc(&d);
    for (const FuncDesc& f : d->funcs) {
        const std::string name = f.name;
        if (name.rfind("Get", 0) != 0 || f.params.size() != 1 || !is_out(f.params[0])) continue;
        values["Set" + name.substr(3)] = values[name] = s.value(f);
    }
    return values;
}

std::string cell(std::string text) {
    for (size_t at = 0; (at = text.find('|', at)) != std::string::npos; at += 2) text.replace(at, 1, "\\|");
    return text.empty() ? " " : text;
}

}  // namespace

int PrintMethods(const std::string& progid) {
    Subject s;
    if (!s.open(progid)) return 3;
    const TypeDesc* d = nullptr;
    s.info->GetTypeDesc(&d);
    for (const FuncDesc& f : d->funcs) std::printf("%3d  %s\n", static_cast<int>(f.memid), signature(f).c_str());
    return 0;
}

int WriteReference(const std::string& progid, const std::string& path) {
    Subject s;
    if (!s.open(progid)) return 3;
    std::map<std::string, std::string> secs1 = defaults(s, 40), hsms = defaults(s, 37);
    const TypeLibDesc* lib = nullptr;
    s.lib->GetLibDesc(&lib);
    std::ofstream out(path);
    out << "# " << lib->name << " " << lib->major << "." << lib->minor << ": the interface reference\n\n"
        << "Generated from the component's type library and a new object by `tarvosh --reference`;\n"
        << "it changes only when the code does. Defaults are what a new object reports after\n"
        << "`SetLineType(40)` (SECS-I) and `SetLineType(37)` (HSMS).\n\n";
    for (const TypeDesc& t : lib->types) {
        if (t.kind != TKIND_DISPATCH && t.kind != TKIND_INTERFACE) continue;
        out << "## " << t.name << "\n\n" << (t.doc && *t.doc ? std::string(t.doc) + "\n\n" : "");
        const bool methods = !t.funcs.empty() && std::string(t.name) == "ITarvo";
        out << (methods ? "| Id | Method | SECS-I default | HSMS default | What it does |\n|---|---|---|---|---|\n"
                        : "| Id | Event | What it means |\n|---|---|---|\n");
        for (const FuncDesc& f : t.funcs) {
            out << "| " << f.memid << " | `" << cell(signature(f)) << "` | ";
            if (methods) out << cell(secs1[f.name]) << " | " << cell(hsms[f.name]) << " | ";
            out << cell(f.doc ? f.doc : "") << " |\n";
        }
        out << "\n";
    }
    for (const TypeDesc& t : lib->types) {
        if (t.kind != TKIND_ENUM) continue;
        out << "## " << t.name << "\n\n| Value | Name | Meaning |\n|---|---|---|\n";
        for (const ConstDesc& c : t.consts) out << "| " << c.value << " | `" << c.name << "` | " << cell(c.doc ? c.doc : "") << " |\n";
        out << "\n";
    }
    return out ? 0 : 2;
}

int WriteTypeLibrary(const std::string& progid, const std::string& path) {
    Subject s;
    if (!s.open(progid)) return 3;
    const TypeLibDesc* lib = nullptr;
    s.lib->GetLibDesc(&lib);
    std::ofstream out(path);
    auto quoted = [](const char* text) {
        std::string q(1, '"');
        for (const char* c = text ? text : ""; *c; ++c) {
            if (*c == '"') q.push_back('\\');
            q.push_back(*c);
        }
        q.push_back('"');
        return q;
    };
    auto name_of = [&](const GUID& guid) {
        for (const TypeDesc& t : lib->types)
            if (t.guid == guid) return std::string(t.name);
        return GuidToString(guid);
    };
    out << "// " << lib->name << " " << lib->major << "." << lib->minor
        << ", written from the component's type library by tarvosh --typelib.\n\n"
        << "[uuid(" << GuidToString(lib->libid).substr(1, 36) << "), version(" << lib->major << "." << lib->minor
        << "), helpstring(" << quoted(lib->doc) << ")]\nlibrary " << lib->name << "\n{\n";
    for (const TypeDesc& t : lib->types) {
        if (t.kind != TKIND_ENUM) continue;
        out << "    typedef enum " << t.name << " {\n";
        for (size_t i = 0; i < t.consts.size(); ++i)
            out << "        " << t.consts[i].name << " = " << t.consts[i].value << (i + 1 < t.consts.size() ? "," : "")
                << "\n";
        out << "    } " << t.name << ";\n\n";
    }
    for (const TypeDesc& t : lib->types) {
        if (t.kind != TKIND_DISPATCH && t.kind != TKIND_INTERFACE) continue;
        out << "    [uuid(" << GuidToString(t.guid).substr(1, 36) << "), helpstring(" << quoted(t.doc) << ")"
            << ((t.flags & TYPEFLAG_FDUAL) ? ", dual" : "") << "]\n    dispinterface " << t.name << " {\n    methods:\n";
        for (const FuncDesc& f : t.funcs) {
            out << "        [id(" << f.memid << "), helpstring(" << quoted(f.doc) << ")] HRESULT " << f.name << "(";
            for (size_t i = 0; i < f.params.size(); ++i) {
                const ParamDesc& p = f.params[i];
                out << (i ? ", " : "") << (is_out(p) ? "[out] " : "[in] ") << type_text(p) << (is_out(p) ? "* " : " ")
                    << p.name;
            }
            out << ");\n";
        }
        out << "    };\n\n";
    }
    for (const TypeDesc& t : lib->types) {
        if (t.kind != TKIND_COCLASS) continue;
        out << "    [uuid(" << GuidToString(t.guid).substr(1, 36) << "), helpstring(" << quoted(t.doc) << ")]\n"
            << "    coclass " << t.name << " {\n        [default] interface " << name_of(t.default_interface) << ";\n"
            << "        [default, source] dispinterface " << name_of(t.default_source) << ";\n    };\n";
    }
    out << "};\n";
    return out ? 0 : 2;
}

}  // namespace tarvosh
