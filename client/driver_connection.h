// The client's side of the driver: one driver object per connection, created
// by its class identifier, driven through ITarvo, and heard through a sink on
// _ITarvoEvents that only hands each event to the owner (which posts it to
// the main window: events come on the driver's threads).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/component/itarvo.h"
#include "platform/com/com.h"

namespace tarvo::client {

class DriverClient;

class DriverConnection final : public IDispatch {
public:
    DriverConnection(int index, DriverClient* owner, enum_SECS_LINE_TYPE line_type);
    // Deactivates an active line, resets it to no line, releases the object
    // and then unadvises: after this no event of the object arrives.
    ~DriverConnection();
    DriverConnection(const DriverConnection&) = delete;
    DriverConnection& operator=(const DriverConnection&) = delete;

    // The sink: answers IUnknown, IDispatch and _ITarvoEvents; its life is
    // its connection's, so the count is not kept.
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) override;

    ITarvo* driver() const { return driver_.get(); }
    enum_SECS_LINE_TYPE line_type() const { return line_type_; }
    int index() const { return index_; }
    // Tells this connection's events from those of every other connection
    // of the process, earlier ones included; never 0.
    uint64_t serial() const { return serial_; }
    // Set only by the window's thread.
    bool active = false;  // the client wants the line activated

private:
    static constexpr DWORD kNotAdvised = 0;
    DWORD cookie_ = kNotAdvised;
    ComPtr<ITarvo> driver_;
    ComPtr<IUnknown> object_;
    ComPtr<IConnectionPoint> point_;
    enum_SECS_LINE_TYPE line_type_;
    DriverClient* owner_;
    int index_;
    uint64_t serial_;
};

class DriverClient {
public:
    DriverClient();           // initialises the component runtime
    virtual ~DriverClient();  // RemoveAll, then uninitialises the runtime
    DriverClient(const DriverClient&) = delete;
    DriverClient& operator=(const DriverClient&) = delete;

    // A driver event of connection `index`: 51 read, 52 written, 53 not
    // written, else a notification code. Called on the driver's threads.
    virtual void OnDriverEvent(int index, int code);
    // The same event with the connection it came from; by default passed on
    // to OnDriverEvent.
    virtual void OnConnectionEvent(const DriverConnection& from, int code);

    void AddConnection(enum_SECS_LINE_TYPE line_type);
    int RemoveConnection(int index);  // -1 when there is no such connection
    void RemoveAll();
    // Takes every connection out of the list without destroying it: the
    // caller lets them go (which may wait for their lines) where it likes.
    std::vector<std::shared_ptr<DriverConnection>> TakeAll();
    size_t connection_count() const { return connections_.size(); }
    DriverConnection* connection(size_t index) const {
        return index < connections_.size() ? connections_[index].get() : nullptr;
    }
    // Keeps the connection alive while a call on another thread uses it.
    std::shared_ptr<DriverConnection> shared_connection(size_t index) const {
        return index < connections_.size() ? connections_[index] : nullptr;
    }

private:
    std::vector<std::shared_ptr<DriverConnection>> connections_;
};

}  // namespace tarvo::client
