// A dispatch object for the tests: counts its references and records the
// calls it receives; it can be told to fail or to run a callback inside Invoke.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/dispatch.h"

class RecordingSink final : public IDispatch {
public:
    explicit RecordingSink(IID events = IID_IDispatch) : events_(events) {}

    struct Call {
        DISPID id;
        std::vector<LONG> args;  // in the method's order
    };

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // lives on the test's stack

    HRESULT GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        Call call{id, {}};
        for (UINT i = params ? params->cArgs : 0; i > 0; --i) {
            VARIANT& v = params->rgvarg[i - 1];
            call.args.push_back(v.vt == VT_I4 ? v.lVal : -999);
            v.lVal = -12345;  // a rude sink: changes what it was given
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(call);
        }
        if (on_invoke) on_invoke();
        return fail ? E_FAIL : S_OK;
    }

    std::vector<Call> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    std::atomic<ULONG> refs{0};
    bool fail = false;
    std::function<void()> on_invoke;

private:
    IID events_;
    std::mutex mutex_;
    std::vector<Call> calls_;
};
