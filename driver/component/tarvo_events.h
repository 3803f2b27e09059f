// _ITarvoEvents: the table of advised sinks and the raising of OnSecsRead,
// OnSecsNotify and OnSecsWritten to them.
//
// An event reaches every advised sink in the order of their positions, one
// after the other, synchronously on the thread that raises it. No lock is held
// while a sink runs: the sinks are copied (with a reference each) under the
// lock and called after it, so a sink may call back into the driver object,
// advise or unadvise. A sink that fails its Invoke does not stop the others.
//
// The line raises through this object (it is the line's owner), so it is kept
// alive, shared, until every line that refers to it is gone; close() is called
// when the driver object goes, after which events are dropped.
//
// Events raised on a thread while it holds the driver object's call lock are
// held back (Deferral) and raised, in order, as soon as the lock is released,
// still on that thread and before the call returns.
#pragma once

#include <vector>

#include "driver/log/line_owner.h"
#include "platform/com/connection_points.h"
#include "platform/com/dispatch.h"
#include "platform/com/sink_array.h"

namespace tarvo {

class TarvoEvents : public LineOwner {
public:
    TarvoEvents() = default;
    ~TarvoEvents() override;

    TarvoEvents(const TarvoEvents&) = delete;
    TarvoEvents& operator=(const TarvoEvents&) = delete;

    // The sink must offer _ITarvoEvents (or plain IDispatch). The cookie is
    // the sink's position + 1; a freed position is reused first.
    HRESULT advise(IUnknown* sink, DWORD* cookie);
    HRESULT unadvise(DWORD cookie);
    // Releases every sink; later advises fail and later events are dropped.
    void close();

    // LineOwner
    void OnSecsRead() override;
    void OnSecsNotify(int code) override;
    void OnSecsWritten(int success) override;

    // Holds back this object's events raised on the current thread until
    // finish() (or destruction), which raises them in order.
    class Deferral {
    public:
        explicit Deferral(TarvoEvents& events);
        ~Deferral() { finish(); }
        Deferral(const Deferral&) = delete;
        Deferral& operator=(const Deferral&) = delete;
        void finish();

    private:
        friend class TarvoEvents;
        struct Pending {
            DISPID id;
            bool has_arg;
            LONG arg;
        };
        TarvoEvents& events_;
        Deferral* outer_;
        bool finished_ = false;
        std::vector<Pending> pending_;
    };

private:
    void raise(DISPID id, bool has_arg, LONG arg);
    void fire(DISPID id, bool has_arg, LONG arg);

    SinkArray sinks_;
};

// The connection point for _ITarvoEvents, a member of the driver object: it
// has no lifetime of its own (AddRef and Release go to the object) and keeps
// its sinks in the object's TarvoEvents.
class TarvoEventsPoint final : public IConnectionPoint {
public:
    // Neither is AddRef'd: the container owns this point and the events.
    TarvoEventsPoint(IConnectionPointContainer* container, TarvoEvents& events)
        : container_(container), events_(events) {}

    HRESULT QueryInterface(REFIID iid, void** object) override;  // IUnknown, IConnectionPoint
    ULONG AddRef() override { return container_->AddRef(); }
    ULONG Release() override { return container_->Release(); }

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override { return events_.advise(sink, cookie); }
    HRESULT Unadvise(DWORD cookie) override { return events_.unadvise(cookie); }
    HRESULT EnumConnections(IEnumConnections** connections) override;  // E_NOTIMPL

private:
    IConnectionPointContainer* const container_;
    TarvoEvents& events_;
};

}  // namespace tarvo
