// The host's sink for the object's event interface: every event it receives
// goes to the event log (printed "event NAME ARG..."). Names come from the
// event interface's type information.
#pragma once

#include <atomic>

#include "platform/com/com.h"
#include "tools/tarvosh/event_log.h"

namespace tarvosh {

class EventSink final : public IDispatch {
public:
    explicit EventSink(EventLog& log) : log_(log) {}

    // Which interface to answer for and how to name its events (info may be null).
    void Bind(REFIID events, ITypeInfo* info);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    // The sink belongs to the host and outlives every object it is advised
    // on; the count is kept for diagnostics only.
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }

    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) override;

private:
    EventLog& log_;
    IID events_ = IID_NULL;
    ComPtr<ITypeInfo> info_;
    std::atomic<ULONG> refs_{0};
};

// One value as the host prints it: integers in decimal, strings quoted.
std::string FormatValue(const VARIANT& value);

}  // namespace tarvosh
