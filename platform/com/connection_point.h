// ConnectionPoint: a ready connection point for one outgoing dispatch
// interface, to embed in an object that implements IConnectionPointContainer.
//
// It has no lifetime of its own: AddRef/Release go to the container, which
// owns it as a member. Sinks sit in an array; Advise takes the first free
// position (growing the array when none is free) and the cookie is that
// position + 1; Unadvise empties the position. Thread-safe: events may be
// fired from any thread while others advise and unadvise. The lock is never
// held while a sink runs, so a sink may call back into the object, or even
// unadvise itself, from inside an event.
#pragma once

#include <vector>

#include "platform/com/connection_points.h"
#include "platform/com/dispatch.h"
#include "platform/com/sink_array.h"

class ConnectionPoint final : public IConnectionPoint {
public:
    // `container` is not AddRef'd (it owns this object).
    ConnectionPoint(REFIID events_iid, IConnectionPointContainer* container);
    ~ConnectionPoint();  // releases the sinks still advised

    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    // IUnknown: answers IUnknown and IConnectionPoint; counts on the container.
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(IEnumConnections** connections) override;  // E_NOTIMPL

    const IID& events_iid() const { return iid_; }

    // The advised sinks in array order, each AddRef'd: the caller releases them.
    std::vector<IDispatch*> Sinks();
    std::size_t SinkCount();

    // Calls IDispatch::Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT,
    // DISPATCH_METHOD, args) on every advised sink in array order, on the
    // calling thread, and returns when the last one has returned. `args` are
    // in Invoke's order (last argument first); null with count 0 for none. Each
    // sink's result value is discarded and its status ignored: a failing sink
    // does not stop the others. Returns the number of sinks called.
    std::size_t Fire(DISPID dispid, VARIANT* args, UINT count);

    // Drops every connection (for the object's final release).
    void UnadviseAll();

private:
    const IID iid_;
    IConnectionPointContainer* const container_;
    SinkArray sinks_;
};
