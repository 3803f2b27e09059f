// The scriptable host's hold on one component object: created by program
// id, its event interface advised with the host's sink, and its methods
// called late-bound (GetIDsOfNames + Invoke), with the parameter directions
// and types taken from the object's type information.
#pragma once

#include <string>

#include "platform/com/com.h"
#include "tools/tarvosh/console.h"
#include "tools/tarvosh/event_log.h"
#include "tools/tarvosh/event_sink.h"
#include "tools/tarvosh/script.h"

namespace tarvosh {

class Host {
public:
    Host(Console& console, EventLog& log) : console_(console), sink_(log) {}
    ~Host() { Stop(); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Creates the object and advises the sink. The runtime must be
    // initialised. False with a message when that fails.
    bool Start(const std::string& progid, std::string* error);

    // Runs one call statement and prints "Name out..." ; false with a message
    // (unknown method, wrong arguments, a failed call).
    bool Call(const Statement& call, std::string* error);

    // Checks a wait statement against the event interface and gives the
    // event's canonical name; false with a message.
    bool CheckEvent(const Statement& wait, std::string* canonical, std::string* error);

    // Unadvises and releases the object (idempotent).
    void Stop();

private:
    bool FindEvents(REFCLSID clsid, std::string* error);

    Console& console_;
    EventSink sink_;  // declared first: outlives the object, whose threads may still call it
    ComPtr<IDispatch> object_;
    ComPtr<ITypeInfo> info_;         // the object's interface
    ComPtr<ITypeInfo> events_info_;  // its event interface
    IID events_iid_ = IID_NULL;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace tarvosh
