// IUnknown: identity and lifetime of every component object.
//
// Interfaces are abstract classes whose methods are pure virtual, declared in
// slot order, with no virtual destructor; so the object's method table for an
// interface is exactly that interface's slots in order (IUnknown's 3, then
// IDispatch's 4, then the interface's own). Objects are destroyed by their
// last Release, never by delete through an interface pointer.
#pragma once

#include <atomic>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// QueryInterface of an object that answers IUnknown and one interface,
// `own_iid`, through the same pointer `self`: hands out `self` with a new
// reference, or clears *object and answers E_NOINTERFACE.
template <class I>
HRESULT QueryOneInterface(I* self, REFIID own_iid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == own_iid) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// AddRef/Release for a heap object `Derived` that implements `Interface`: it
// starts with one reference (the creator's) and deletes itself on the last
// Release. The interface stays the first base, so its method table keeps its
// slot order.
template <class Derived, class Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// Holds one reference to an interface; releases it on destruction.
template <class I>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference.
    explicit ComPtr(I* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept { I* t = p_; p_ = o.p_; o.p_ = t; return *this; }

    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters that hand over a reference: releases the old one.
    I** out() { reset(); return &p_; }
    void** out_void() { reset(); return reinterpret_cast<void**>(&p_); }
    void reset() { if (p_) { I* t = p_; p_ = nullptr; t->Release(); } }
    // Adopts a reference the caller already owns.
    void attach(I* p) { reset(); p_ = p; }
    I* detach() { I* t = p_; p_ = nullptr; return t; }

private:
    I* p_ = nullptr;
};
