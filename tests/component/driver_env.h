// What the component tests share: a private registration store with the
// driver component registered in it, creating driver objects by program id,
// event sinks that record what they receive, and free loopback ports.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "driver/component/itarvo.h"
#include "platform/com/com.h"

namespace tarvo::test {

// Points TARVO_REGISTRY at a fresh file, initialises the runtime and registers
// the component (DllRegisterServer of the built library). Once per process.
void register_component();
std::string registry_path();
// The component library's path (the build's libTarvoSrv1.so).
const char* component_path();

// A new driver object through the runtime, created by program id.
ComPtr<ITarvo> create_driver();

// A loopback port that nobody listens on right now.
int free_port();

// An event sink: records every event it receives and runs an optional hook
// (on the raising thread) before recording it. `fail` makes Invoke answer
// E_FAIL after recording.
class RecordingSink final : public IDispatch {
public:
    struct Event {
        DISPID id;
        LONG arg;  // 0 for OnSecsRead
    };
    using Hook = std::function<void(const Event&)>;

    static ComPtr<RecordingSink> create(std::string name = "", bool fail = false);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) override;

    void set_hook(Hook hook);
    // A log shared by several sinks: each event appends "<name>:<id>:<arg>".
    void set_shared_log(std::vector<std::string>* log, std::mutex* mutex);

    std::vector<Event> events();
    size_t count(DISPID id, LONG arg);       // arg ignored for OnSecsRead
    // Waits until count(id, arg) >= n; false on timeout.
    bool wait_for(DISPID id, LONG arg, size_t n, std::chrono::milliseconds timeout);
    // Advises this sink on `driver`; returns the cookie (0 on failure).
    DWORD advise_on(ITarvo* driver);
    void unadvise_from(ITarvo* driver, DWORD cookie);

private:
    RecordingSink(std::string name, bool fail) : name_(std::move(name)), fail_(fail) {}
    ~RecordingSink() = default;

    std::atomic<ULONG> refs_{1};
    const std::string name_;
    const bool fail_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    Hook hook_;
    std::vector<std::string>* shared_log_ = nullptr;
    std::mutex* shared_mutex_ = nullptr;
};

// BSTR helpers for tests.
std::string take_text(BSTR text);  // converts and frees

}  // namespace tarvo::test
