#include "driver/component/tarvo_events.h"

#include <utility>

#include "driver/component/itarvo.h"
#include "driver/component/tarvo_guids.h"

namespace tarvo {

namespace {
thread_local TarvoEvents::Deferral* t_deferral = nullptr;
}

TarvoEvents::~TarvoEvents() { close(); }

HRESULT TarvoEvents::advise(IUnknown* sink, DWORD* cookie) {
    if (cookie) *cookie = 0;
    if (!sink || !cookie) return E_POINTER;
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID__ITarvoEvents, reinterpret_cast<void**>(&events))) || !events) {
        events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))) || !events)
            return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = sinks_.Add(events);  // after close() it is released and refused
    return *cookie != 0 ? S_OK : CONNECT_E_ADVISELIMIT;
}

HRESULT TarvoEvents::unadvise(DWORD cookie) {
    return sinks_.Remove(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

void TarvoEvents::close() { sinks_.Close(); }

void TarvoEvents::OnSecsRead() { raise(DISPID_OnSecsRead, false, 0); }
void TarvoEvents::OnSecsNotify(int code) { raise(DISPID_OnSecsNotify, true, code); }
void TarvoEvents::OnSecsWritten(int success) { raise(DISPID_OnSecsWritten, true, success); }

void TarvoEvents::raise(DISPID id, bool has_arg, LONG arg) {
    for (Deferral* d = t_deferral; d; d = d->outer_) {
        if (&d->events_ == this) {
            d->pending_.push_back({id, has_arg, arg});
            return;
        }
    }
    fire(id, has_arg, arg);
}

void TarvoEvents::fire(DISPID id, bool has_arg, LONG arg) {
    for (IDispatch* s : sinks_.Snapshot()) {
        VARIANTARG v;
        VariantInit(&v);
        DISPPARAMS params{nullptr, nullptr, 0, 0};
        if (has_arg) {
            v.vt = VT_I4;
            v.lVal = arg;
            params.rgvarg = &v;
            params.cArgs = 1;
        }
        VARIANT result;
        VariantInit(&result);
        // The sink's answer and status are of no concern to the line.
        s->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
        s->Release();
    }
}

TarvoEvents::Deferral::Deferral(TarvoEvents& events) : events_(events), outer_(t_deferral) {
    t_deferral = this;
}

void TarvoEvents::Deferral::finish() {
    if (finished_) return;
    finished_ = true;
    t_deferral = outer_;
    // Events that a sink raises from here on (by calling back into the
    // driver object) are no longer held back: they reach the sinks at once,
    // nested inside the event that caused them, as with any synchronous event.
    std::vector<Pending> pending;
    pending.swap(pending_);
    for (const Pending& p : pending) events_.fire(p.id, p.has_arg, p.arg);
}

HRESULT TarvoEventsPoint::QueryInterface(REFIID iid, void** object) {
    return QueryOneInterface(static_cast<IConnectionPoint*>(this), IID_IConnectionPoint, iid, object);
}

HRESULT TarvoEventsPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID__ITarvoEvents;
    return S_OK;
}

HRESULT TarvoEventsPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    container_->AddRef();
    *container = container_;
    return S_OK;
}

HRESULT TarvoEventsPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace tarvo
