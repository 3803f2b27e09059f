#include "platform/com/connection_point.h"

ConnectionPoint::ConnectionPoint(REFIID events_iid, IConnectionPointContainer* container)
    : iid_(events_iid), container_(container) {}

ConnectionPoint::~ConnectionPoint() { UnadviseAll(); }

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** object) {
    return QueryOneInterface(static_cast<IConnectionPoint*>(this), IID_IConnectionPoint, iid, object);
}

ULONG ConnectionPoint::AddRef() { return container_->AddRef(); }
ULONG ConnectionPoint::Release() { return container_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    void* events = nullptr;
    if (FAILED(sink->QueryInterface(iid_, &events)) || !events) return CONNECT_E_CANNOTCONNECT;
    *cookie = sinks_.Add(static_cast<IDispatch*>(events));  // the reference from QueryInterface
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    return sinks_.Remove(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

std::vector<IDispatch*> ConnectionPoint::Sinks() { return sinks_.Snapshot(); }

std::size_t ConnectionPoint::SinkCount() { return sinks_.Count(); }

std::size_t ConnectionPoint::Fire(DISPID dispid, VARIANT* args, UINT count) {
    std::vector<IDispatch*> sinks = Sinks();
    std::vector<VARIANT> copies(count);
    for (IDispatch* sink : sinks) {
        // Each sink gets its own copy, so one that changes its arguments does
        // not change what the next one sees.
        for (UINT i = 0; i < count; ++i) {
            VariantInit(&copies[i]);
            VariantCopy(&copies[i], &args[i]);
        }
        DISPPARAMS params{count ? copies.data() : nullptr, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
        for (UINT i = 0; i < count; ++i) VariantClear(&copies[i]);
        sink->Release();
    }
    return sinks.size();
}

void ConnectionPoint::UnadviseAll() { sinks_.Clear(); }
