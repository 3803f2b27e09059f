// ITypeLib / ITypeInfo over a component's static type library description.
#include <new>

#include "platform/com/module.h"
#include "platform/com/type_info.h"

namespace {

OLECHAR fold(OLECHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c - u'A' + u'a') : c; }
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(LPCOLESTR a, const char* b) {
    if (!a || !b) return false;
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != static_cast<OLECHAR>(static_cast<unsigned char>(fold(*b)))) return false;
    return *a == 0 && *b == 0;
}

bool same_name(const char* a, const char* b) {
    if (!a || !b) return false;
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == 0 && *b == 0;
}

HRESULT put_text(BSTR* out, const char* text) {
    if (!out) return S_OK;
    *out = BstrFromBytes(text ? text : "");
    return *out ? S_OK : E_OUTOFMEMORY;
}

class StaticTypeLib;

class StaticTypeInfo final : public RefCounted<StaticTypeInfo, ITypeInfo> {
public:
    StaticTypeInfo(StaticTypeLib* lib, UINT index);
    ~StaticTypeInfo();

    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryOneInterface(static_cast<ITypeInfo*>(this), IID_ITypeInfo, iid, object);
    }

    HRESULT GetTypeDesc(const TypeDesc** desc) override {
        if (!desc) return E_POINTER;
        *desc = desc_;
        return S_OK;
    }
    HRESULT GetFuncDesc(UINT index, const FuncDesc** desc) override {
        if (!desc) return E_POINTER;
        *desc = nullptr;
        if (index >= desc_->funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        *desc = &desc_->funcs[index];
        return S_OK;
    }
    HRESULT GetFuncDescOfId(MEMBERID memid, const FuncDesc** desc) override {
        if (!desc) return E_POINTER;
        *desc = find(memid);
        return *desc ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if ((count && !names) || (count && !ids)) return E_INVALIDARG;
        if (count == 0) return S_OK;
        for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
        const FuncDesc* func = nullptr;
        for (const FuncDesc& f : desc_->funcs)
            if (same_name(names[0], f.name)) {
                func = &f;
                break;
            }
        if (!func) return DISP_E_UNKNOWNNAME;
        ids[0] = func->memid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < count; ++i) {
            for (std::size_t p = 0; p < func->params.size(); ++p)
                if (same_name(names[i], func->params[p].name)) ids[i] = static_cast<MEMBERID>(p);
            if (ids[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc) override {
        const char* n = desc_->name;
        const char* d = desc_->doc;
        if (memid != MEMBERID_NIL) {
            const FuncDesc* f = find(memid);
            if (!f) return TYPE_E_ELEMENTNOTFOUND;
            n = f->name;
            d = f->doc;
        }
        if (name) *name = nullptr;
        if (doc) *doc = nullptr;
        HRESULT hr = put_text(name, n);
        if (SUCCEEDED(hr)) hr = put_text(doc, d);
        if (FAILED(hr) && name) {
            SysFreeString(*name);
            *name = nullptr;
        }
        return hr;
    }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;

private:
    const FuncDesc* find(MEMBERID memid) const {
        for (const FuncDesc& f : desc_->funcs)
            if (f.memid == memid) return &f;
        return nullptr;
    }

    StaticTypeLib* lib_;
    UINT index_;
    const TypeDesc* desc_;
};

class StaticTypeLib final : public RefCounted<StaticTypeLib, ITypeLib> {
public:
    explicit StaticTypeLib(const TypeLibDesc* desc) : desc_(desc) { ModuleAddRef(); }
    ~StaticTypeLib() { ModuleRelease(); }

    const TypeLibDesc* desc() const { return desc_; }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        return QueryOneInterface(static_cast<ITypeLib*>(this), IID_ITypeLib, iid, object);
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(desc_->types.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index >= desc_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *info = new (std::nothrow) StaticTypeInfo(this, index);
        return *info ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (guid == IID_NULL) return TYPE_E_ELEMENTNOTFOUND;
        for (std::size_t i = 0; i < desc_->types.size(); ++i)
            if (desc_->types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), info);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT FindTypeInfo(const char* name, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        for (std::size_t i = 0; i < desc_->types.size(); ++i)
            if (same_name(name, desc_->types[i].name)) return GetTypeInfo(static_cast<UINT>(i), info);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibDesc(const TypeLibDesc** desc) override {
        if (!desc) return E_POINTER;
        *desc = desc_;
        return S_OK;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc) override {
        const char* n = desc_->name;
        const char* d = desc_->doc;
        if (index != -1) {
            if (index < 0 || static_cast<std::size_t>(index) >= desc_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
            n = desc_->types[static_cast<std::size_t>(index)].name;
            d = desc_->types[static_cast<std::size_t>(index)].doc;
        }
        if (name) *name = nullptr;
        if (doc) *doc = nullptr;
        HRESULT hr = put_text(name, n);
        if (SUCCEEDED(hr)) hr = put_text(doc, d);
        if (FAILED(hr) && name) {
            SysFreeString(*name);
            *name = nullptr;
        }
        return hr;
    }

private:
    const TypeLibDesc* desc_;
};

StaticTypeInfo::StaticTypeInfo(StaticTypeLib* lib, UINT index)
    : lib_(lib), index_(index), desc_(&lib->desc()->types[index]) {
    lib_->AddRef();
    ModuleAddRef();
}

StaticTypeInfo::~StaticTypeInfo() {
    lib_->Release();
    ModuleRelease();
}

HRESULT StaticTypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
    if (!lib) return E_POINTER;
    *lib = lib_;
    lib_->AddRef();
    if (index) *index = index_;
    return S_OK;
}

}  // namespace

HRESULT CreateStaticTypeLib(const TypeLibDesc* desc, ITypeLib** lib) {
    if (!lib) return E_POINTER;
    *lib = nullptr;
    if (!desc) return E_INVALIDARG;
    *lib = new (std::nothrow) StaticTypeLib(desc);
    return *lib ? S_OK : E_OUTOFMEMORY;
}
