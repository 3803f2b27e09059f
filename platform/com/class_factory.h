// IClassFactory: how the runtime creates an object of a class found in a
// component library (DllGetClassObject hands one out).
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

struct IClassFactory : IUnknown {
    // A new object queried for `iid`. `outer` non-null asks for aggregation:
    // CLASS_E_NOAGGREGATION when the class does not support it.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    // TRUE keeps the component loaded (a module lock), FALSE undoes that.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// A class factory with static lifetime (declare it as a namespace-scope or
// function-local static in the component): AddRef/Release only count module
// locks while references are out, LockServer counts module locks, and
// CreateInstance calls `create`.
class ClassFactory final : public IClassFactory {
public:
    using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);
    explicit constexpr ClassFactory(CreateFunction create) : create_(create) {}

    HRESULT QueryInterface(REFIID iid, void** object) override;  // IUnknown, IClassFactory
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    CreateFunction create_;
};
