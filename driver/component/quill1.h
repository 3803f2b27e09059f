// CQuill1: the driver object. It owns at most one line and the worker thread
// that runs it, offers ITarvo (dual: method table and IDispatch), one
// connection point for _ITarvoEvents, and answers IMarshal through an
// aggregated free-threaded marshaler, so calls may come from any thread.
//
// Locking. One call lock per object serialises the ITarvo methods that touch
// the line, so that e.g. a SendMessage and a Reply from two threads cannot
// interleave their planning. It is held only around calls into the line that
// neither wait for the worker nor for the network: the opening in SetActive
// and SetConnectionMode, the wait for a deactivation and the stopping of a
// worker run without it. Events that the line raises on a thread holding the
// lock are held back until the lock is released (TarvoEvents::Deferral), so
// no sink ever runs under it and a sink may call straight back into ITarvo.
//
// Methods that need a line when there is none (before the first SetLineType,
// after SetLineType(ltNone), or with a line type that has no line) touch
// nothing and answer neutral values: 0, an empty string, cmNONE.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "driver/component/itarvo.h"
#include "driver/component/line_worker.h"
#include "driver/component/tarvo_events.h"
#include "platform/com/connection_points.h"
#include "platform/com/type_info.h"

namespace tarvo {

class CQuill1 final : public ITarvo, public IConnectionPointContainer {
public:
    // The class factory's creation function.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** object);

    // ---- IUnknown ---------------------------------------------------------------
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // ---- IDispatch (itarvo_dispatch.cpp) ------------------------------------------
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr) override;

    // ---- IConnectionPointContainer ----------------------------------------------
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;  // E_NOTIMPL
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // ---- ITarvo --------------------------------------------------------------------
    HRESULT SetActive(LONG value, LONG* stat) override;
    HRESULT GetActive(LONG* value) override;
    HRESULT SetLineType(enum_SECS_LINE_TYPE value) override;
    HRESULT GetLineType(enum_SECS_LINE_TYPE* value) override;
    HRESULT SetT1(INT value) override;
    HRESULT GetT1(INT* value) override;
    HRESULT SetT2(INT value) override;
    HRESULT GetT2(INT* value) override;
    HRESULT SetT3(INT value) override;
    HRESULT GetT3(INT* value) override;
    HRESULT SetT4(INT value) override;
    HRESULT GetT4(INT* value) override;
    HRESULT SetT5(INT value) override;
    HRESULT GetT5(INT* value) override;
    HRESULT SetT6(INT value) override;
    HRESULT GetT6(INT* value) override;
    HRESULT SetT7(INT value) override;
    HRESULT GetT7(INT* value) override;
    HRESULT SetT8(INT value) override;
    HRESULT GetT8(INT* value) override;
    HRESULT SetRetry(INT value) override;
    HRESULT GetRetry(INT* value) override;
    HRESULT SetMaster(INT value) override;
    HRESULT GetMaster(INT* value) override;
    HRESULT SetBaudRate(INT value) override;
    HRESULT GetBaudRate(INT* value) override;
    HRESULT SetPort(INT value) override;
    HRESULT GetPort(INT* value) override;
    HRESULT SetHost(BSTR value) override;
    HRESULT GetHost(BSTR* value) override;
    HRESULT SetOutDeviceID(INT value, LONG* res) override;
    HRESULT GetOutDeviceID(INT* value) override;
    HRESULT SetOutSourceID(INT value) override;
    HRESULT GetOutSourceID(INT* value) override;
    HRESULT SetOutTransactionID(INT value) override;
    HRESULT GetOutTransactionID(INT* value) override;
    HRESULT SendMessage(BSTR value) override;
    HRESULT NextMessage() override;
    HRESULT Reply(BSTR value) override;
    HRESULT GetInDeviceID(INT* value) override;
    HRESULT GetInStreamID(INT* value) override;
    HRESULT GetInFunctionID(INT* value) override;
    HRESULT GetInWBit(LONG* value) override;
    HRESULT GetInSourceID(INT* value) override;
    HRESULT GetInTransactionID(INT* value) override;
    HRESULT GetInRBit(LONG* value) override;
    HRESULT SetElemPointer(BSTR value) override;
    HRESULT GetElemQuantity(INT* value) override;
    HRESULT GetElemType(enum_SECS_ELEM_TYPE* value) override;
    HRESULT GetElemValue(BSTR* value) override;
    HRESULT SetLogActive(LONG value) override;
    HRESULT GetLogActive(INT* value) override;
    HRESULT SetLogFileName(BSTR value) override;
    HRESULT GetLogFileName(BSTR* value) override;
    HRESULT SetLogAdjust(INT value) override;
    HRESULT GetLogAdjust(INT* value) override;
    HRESULT SetLogString(BSTR value) override;
    HRESULT SetConnectionMode(enum_HSMS_CONN_MODE value) override;
    HRESULT GetConnectionMode(enum_HSMS_CONN_MODE* value) override;
    HRESULT SetSingleSessionMode(LONG value) override;
    HRESULT GetSingleSessionMode(LONG* value) override;
    HRESULT SetMaxPassvConnections(INT value) override;
    HRESULT GetMaxPassvConnections(INT* value) override;
    HRESULT GetPassvSelectedQuan(INT* val) override;
    HRESULT GetPassvSelectedSession(INT client_num, INT* sessionID) override;
    HRESULT SetMaxAlternSwitches(INT value) override;
    HRESULT GetMaxAlternSwitches(INT* value) override;
    HRESULT NextMessageSML(BSTR* value) override;
    HRESULT GetElemGnrlQuan(INT* value) override;
    HRESULT GetElemGnrlPointer(INT elNumber, BSTR* pointer) override;
    HRESULT NextMessageByte(BSTR* value) override;

private:
    CQuill1();
    ~CQuill1();
    HRESULT init();

    // One ITarvo call that touches the line: holds the call lock and holds
    // back this object's events raised meanwhile on this thread.
    class LineCall {
    public:
        explicit LineCall(CQuill1& q) : deferral_(*q.events_), lock_(q.call_mutex_), q_(q) {}
        // The current line, or null when there is none.
        secsi* line() const { return q_.worker_ ? &q_.worker_->line() : nullptr; }
        std::shared_ptr<LineWorker> worker() const { return q_.worker_; }

    private:
        TarvoEvents::Deferral deferral_;     // destroyed last: events go after the unlock
        std::unique_lock<std::mutex> lock_;
        CQuill1& q_;
    };

    // Invoke's body (itarvo_dispatch.cpp).
    HRESULT invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr);

    // Runs the body of the interface method `method`: no exception ever
    // leaves it. Running out of memory answers E_OUTOFMEMORY, anything else
    // E_FAIL; either way a record names the method and nSecsErrorInternal
    // is raised. The object stays usable.
    template <class F>
    HRESULT guarded(const char* method, F body) noexcept;
    void report_failure(const char* method, const char* what) noexcept;

    // Reads an int out of the line, or gives `neutral` when there is none.
    // These run guarded, named after the interface method that calls them.
    template <class T, class F>
    HRESULT get_value(T* out, F read, T neutral = T{}, const char* method = __builtin_FUNCTION());
    template <class F>
    HRESULT get_text(BSTR* out, F read, const char* method = __builtin_FUNCTION());
    template <class F>
    HRESULT with_line(F act, const char* method = __builtin_FUNCTION());

    // Replaces the current line (and its worker) by `next`, which may be null.
    void replace_line(std::shared_ptr<LineWorker> next, int32_t line_type);
    // Ends a worker that is no longer current. From a timer callback the
    // joining is handed to a thread of its own: the worker may be waiting for
    // that very callback.
    static void retire(std::shared_ptr<LineWorker> worker);

    std::atomic<ULONG> refs_{1};
    IUnknown* marshaler_ = nullptr;   // the aggregated free-threaded marshaler's own IUnknown
    ITypeInfo* type_info_ = nullptr;  // ITarvo's, for IDispatch

    std::shared_ptr<TarvoEvents> events_;
    TarvoEventsPoint events_point_;

    std::mutex call_mutex_;                 // the call lock
    std::shared_ptr<LineWorker> worker_;    // guarded by call_mutex_
    std::atomic<int32_t> line_type_{ltNone};
    std::recursive_mutex open_mutex_;       // one opening at a time (a sink may open again)
};

template <class F>
inline HRESULT CQuill1::guarded(const char* method, F body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        report_failure(method, "out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::system_error& e) {
        // A thread that cannot be started is the usual case: resources ran out.
        report_failure(method, e.what());
        const auto code = e.code();
        return code == std::errc::resource_unavailable_try_again || code == std::errc::not_enough_memory
                   ? E_OUTOFMEMORY
                   : E_FAIL;
    } catch (const std::exception& e) {
        report_failure(method, e.what());
        return E_FAIL;
    } catch (...) {
        report_failure(method, "unknown exception");
        return E_FAIL;
    }
}

}  // namespace tarvo
