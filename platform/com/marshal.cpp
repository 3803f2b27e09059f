// The free-threaded marshaler: an aggregatable object that answers IMarshal
// for its outer object and does nothing else (there are no apartments here).
#include "platform/com/marshal.h"

#include <atomic>
#include <new>

#include "platform/com/module.h"

namespace {

class FreeThreadedMarshaler {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : inner_(this), marshal_(outer) { ModuleAddRef(); }
    ~FreeThreadedMarshaler() { ModuleRelease(); }

    IUnknown* inner() { return &inner_; }

private:
    // The non-delegating IUnknown: the marshaler's own identity and lifetime.
    class Inner final : public IUnknown {
    public:
        explicit Inner(FreeThreadedMarshaler* owner) : owner_(owner) {}
        HRESULT QueryInterface(REFIID iid, void** object) override {
            if (!object) return E_POINTER;
            if (iid == IID_IUnknown) {
                *object = static_cast<IUnknown*>(this);
            } else if (iid == IID_IMarshal) {
                *object = static_cast<IMarshal*>(&owner_->marshal_);
            } else {
                *object = nullptr;
                return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*object)->AddRef();
            return S_OK;
        }
        ULONG AddRef() override { return ++refs_; }
        ULONG Release() override {
            ULONG left = --refs_;
            if (left == 0) delete owner_;
            return left;
        }

    private:
        FreeThreadedMarshaler* owner_;
        std::atomic<ULONG> refs_{1};
    };

    // IMarshal, delegating its IUnknown to the outer object.
    class Marshal final : public IMarshal {
    public:
        explicit Marshal(IUnknown* outer) : outer_(outer) {}
        HRESULT QueryInterface(REFIID iid, void** object) override { return outer_->QueryInterface(iid, object); }
        ULONG AddRef() override { return outer_->AddRef(); }
        ULONG Release() override { return outer_->Release(); }
        HRESULT GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override { return E_NOTIMPL; }
        HRESULT GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
        HRESULT MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
        HRESULT UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
        HRESULT ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
        HRESULT DisconnectObject(DWORD) override { return E_NOTIMPL; }

    private:
        IUnknown* outer_;
    };

    Inner inner_;
    Marshal marshal_;
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** inner) {
    if (!inner) return E_POINTER;
    *inner = nullptr;
    if (!outer) return E_INVALIDARG;
    auto* marshaler = new (std::nothrow) FreeThreadedMarshaler(outer);
    if (!marshaler) return E_OUTOFMEMORY;
    *inner = marshaler->inner();
    return S_OK;
}
