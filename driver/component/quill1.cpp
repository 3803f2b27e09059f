#include "driver/component/quill1.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "driver/log/streams_logger.h"
#include "driver/component/tarvo_guids.h"
#include "driver/component/tarvo_typelib.h"
#include "driver/hsms/secsitcp.h"
#include "driver/secs1/secsicomm.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"
#include "platform/com/bstr.h"
#include "platform/com/marshal.h"
#include "platform/com/module.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {

namespace {

// The line object a line type stands for; none for a type without a line.
std::unique_ptr<secsi> make_line(int32_t line_type) {
    switch (line_type) {
    case ltHSMS: return std::make_unique<secsitcp>();
    case ltSECSI: return std::make_unique<secsicomm>();
    default: return nullptr;
    }
}

const char* line_type_text(int32_t line_type) { return line_type == ltHSMS ? "HSMS" : "SECS-I"; }

// A new BSTR of the bytes (one character per byte), or E_OUTOFMEMORY.
HRESULT put_text(BSTR* out, const std::string& bytes) {
    BSTR text = BstrFromBytes(bytes);
    if (!text) return E_OUTOFMEMORY;
    *out = text;
    return S_OK;
}

}  // namespace

// ---- creation and lifetime ------------------------------------------------------

CQuill1::CQuill1() : events_(std::make_shared<TarvoEvents>()), events_point_(this, *events_) {
    ModuleAddRef();
}

CQuill1::~CQuill1() {
    // A sink that takes and drops a reference while the line closes below
    // must not bring the count back to zero a second time.
    refs_.store(1u << 30);
    std::shared_ptr<LineWorker> worker;
    {
        std::lock_guard lock(call_mutex_);
        worker = std::move(worker_);
    }
    // The line closes while the sinks still hear it, so every message still
    // queued ends with its OnSecsWritten(0); then nothing reaches them.
    if (worker) retire(std::move(worker));
    events_->close();
    if (type_info_) type_info_->Release();
    if (marshaler_) marshaler_->Release();
    ModuleRelease();
}

HRESULT CQuill1::init() {
    HRESULT hr = create_itarvo_typeinfo(&type_info_);
    if (FAILED(hr)) return hr;
    // The marshaler's QueryInterface, AddRef and Release come back to us.
    return CoCreateFreeThreadedMarshaler(static_cast<ITarvo*>(this), &marshaler_);
}

HRESULT CQuill1::Create(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CQuill1* q = new (std::nothrow) CQuill1();
    if (!q) return E_OUTOFMEMORY;
    HRESULT hr = q->init();
    if (SUCCEEDED(hr)) hr = q->QueryInterface(iid, object);
    q->Release();  // the creation reference; the object goes if anything failed
    return hr;
}

HRESULT CQuill1::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITarvo)) {
        *object = static_cast<ITarvo*>(this);
    } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(iid, IID_IMarshal) && marshaler_) {
        return marshaler_->QueryInterface(iid, object);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CQuill1::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG CQuill1::Release() {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT CQuill1::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points) *points = nullptr;
    return E_NOTIMPL;
}

HRESULT CQuill1::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__ITarvoEvents)) return CONNECT_E_NOCONNECTION;
    events_point_.AddRef();
    *point = &events_point_;
    return S_OK;
}

// ---- the line and its worker ------------------------------------------------------

void CQuill1::retire(std::shared_ptr<LineWorker> worker) {
    if (timers::on_timer_thread()) {
        std::thread([w = std::move(worker)] { w->stop(); }).detach();
    } else {
        worker->stop();
    }
}

void CQuill1::replace_line(std::shared_ptr<LineWorker> next, int32_t line_type) {
    std::shared_ptr<LineWorker> old;
    {
        std::lock_guard lock(call_mutex_);
        if (next) next->start();  // may throw (no thread to be had): nothing has changed then
        old = std::exchange(worker_, next);
        line_type_.store(line_type);
    }
    if (old) retire(std::move(old));
}

HRESULT CQuill1::SetLineType(enum_SECS_LINE_TYPE value) {
    return guarded(__func__, [&]() -> HRESULT {
        const int32_t type = value;
        if (type == ltHSMS || type == ltSECSI) {
            // The old line ends first: a new line never meets its predecessor.
            replace_line(nullptr, ltNone);
            std::unique_ptr<secsi> made = make_line(type);
            if (!made) {
                // A line type this build has no line for: reported, but nothing runs.
                line_type_.store(type);
                events_->OnSecsNotify(nSecsErrorInternal);
                return S_OK;
            }
            made->msg.log(lmLine, "__SERV: SetLineType = '%s'", line_type_text(type));
            replace_line(std::make_shared<LineWorker>(std::move(made), events_), type);
        } else if (type == ltNone) {
            {
                LineCall call(*this);
                if (secsi* l = call.line()) l->msg.log(lmLine, "__SERV: SetLineType = 'remove'");
            }
            replace_line(nullptr, ltNone);
        } else {
            // No such line type: only the reported value changes.
            line_type_.store(type);
            events_->OnSecsNotify(nSecsErrorInternal);
        }
        return S_OK;
    });
}

HRESULT CQuill1::GetLineType(enum_SECS_LINE_TYPE* value) {
    if (!value) return E_POINTER;
    *value = static_cast<enum_SECS_LINE_TYPE>(line_type_.load());
    return S_OK;
}

HRESULT CQuill1::SetActive(LONG value, LONG* stat) {
    return guarded(__func__, [&]() -> HRESULT {
        if (!stat) return E_POINTER;
        std::shared_ptr<LineWorker> worker;
        {
            LineCall call(*this);
            worker = call.worker();
            if (worker) worker->line().msg.log(lmLine, "__SERV: SetActive = '%d'", static_cast<int>(value));
        }
        *stat = 0;
        if (!worker) return S_OK;
        secsi& line = worker->line();
        if (value == 1) {
            // Opening runs on this thread without the call lock: it raises events
            // (a sink may call back) and may take as long as a connect and a select.
            std::lock_guard open(open_mutex_);
            worker->cancel_deactivation();
            // port_open marks the line wanted under the line's own lock, so the
            // worker neither closes what opens nor opens it first itself (the
            // results of this opening are raised here, before the call returns).
            if (line.port_opened.load()) {
                line.active_wanted.store(true);
                *stat = 1;
            } else if (line.port_open() == 0) {
                *stat = 1;
            } else if (line.line_type.load() != ltHSMS) {
                line.active_wanted.store(false);  // a serial line does not retry by itself
            }
        } else {
            line.active_wanted.store(false);
            worker->deactivate();
            *stat = 1;
        }
        return S_OK;
    });
}

HRESULT CQuill1::GetActive(LONG* value) {
    return get_value<LONG>(value, [](secsi& l) { return l.port_opened.load() ? 1 : 0; });
}

// ---- helpers for the plain methods --------------------------------------------------

void CQuill1::report_failure(const char* method, const char* what) noexcept {
    try {
        process_log_text(true, std::string("ERROR: ") + method + " failed: " + what);
    } catch (...) {
        // Not even the record could be made: the notification still goes.
    }
    try {
        events_->OnSecsNotify(nSecsErrorInternal);
    } catch (...) {
    }
}

template <class T, class F>
HRESULT CQuill1::get_value(T* out, F read, T neutral, const char* method) {
    if (!out) return E_POINTER;
    return guarded(method, [&] {
        LineCall call(*this);
        secsi* l = call.line();
        *out = l ? static_cast<T>(read(*l)) : neutral;
        return S_OK;
    });
}

template <class F>
HRESULT CQuill1::get_text(BSTR* out, F read, const char* method) {
    if (!out) return E_POINTER;
    return guarded(method, [&] {
        std::string text;
        {
            LineCall call(*this);
            if (secsi* l = call.line()) text = read(*l);
        }
        return put_text(out, text);
    });
}

template <class F>
HRESULT CQuill1::with_line(F act, const char* method) {
    return guarded(method, [&] {
        LineCall call(*this);
        if (secsi* l = call.line()) act(*l);
        return S_OK;
    });
}

// ---- parameters ---------------------------------------------------------------------------

#define TARVO_INT_PARAMETER(Name, field)                                                        \
    HRESULT CQuill1::Set##Name(INT value) {                                                     \
        return with_line([&](secsi& l) { l.field.store(value); });                             \
    }                                                                                           \
    HRESULT CQuill1::Get##Name(INT* value) {                                                    \
        return get_value<INT>(value, [](secsi& l) { return l.field.load(); });                 \
    }

TARVO_INT_PARAMETER(T1, T1)
TARVO_INT_PARAMETER(T2, T2)
TARVO_INT_PARAMETER(T3, T3)
TARVO_INT_PARAMETER(T4, T4)
TARVO_INT_PARAMETER(T5, T5)
TARVO_INT_PARAMETER(T6, T6)
TARVO_INT_PARAMETER(T7, T7)
TARVO_INT_PARAMETER(T8, T8)
TARVO_INT_PARAMETER(Retry, retry)
TARVO_INT_PARAMETER(MaxPassvConnections, max_passv_connections)
TARVO_INT_PARAMETER(MaxAlternSwitches, max_altern_switches)

#undef TARVO_INT_PARAMETER

HRESULT CQuill1::SetMaster(INT value) {
    return with_line([&](secsi& l) { l.set_master(value != 0); });
}

HRESULT CQuill1::GetMaster(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.master.load() ? 1 : 0; });
}

HRESULT CQuill1::SetBaudRate(INT value) {
    return with_line([&](secsi& l) { l.baud_code.store(secsi::baud_to_code(value)); });
}

HRESULT CQuill1::GetBaudRate(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return secsi::code_to_baud(l.baud_code.load()); });
}

HRESULT CQuill1::SetPort(INT value) {
    return with_line([&](secsi& l) {
        l.port.store(value);
        l.wake();  // an open line moves to the new port at once
    });
}

HRESULT CQuill1::GetPort(INT* value) {
    return get_value<INT>(value, [](secsi& l) {
        const int32_t in_use = l.port_in_use.load();
        return in_use != -1 ? in_use : l.port.load();
    });
}

HRESULT CQuill1::SetHost(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        const std::string host = BytesFromBstr(value);
        return with_line([&](secsi& l) { l.set_host(host); });
    });
}

HRESULT CQuill1::GetHost(BSTR* value) {
    return get_text(value, [](secsi& l) {
        const int32_t mode = l.conn_mode_cur.load();
        return mode == cmPASSIVE || mode == cmACTIVE ? l.host_in_use() : l.host();
    });
}

HRESULT CQuill1::SetOutDeviceID(INT value, LONG* res) {
    if (!res) return E_POINTER;
    *res = 0;
    return with_line([&](secsi& l) { *res = l.set_out_device_id(value) ? 1 : 0; });
}

HRESULT CQuill1::GetOutDeviceID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.out_device_id.load(); });
}

HRESULT CQuill1::SetOutSourceID(INT value) {
    return with_line([&](secsi& l) { l.set_out_source_id(value); });
}

HRESULT CQuill1::GetOutSourceID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.out_source_id.load(); });
}

HRESULT CQuill1::SetOutTransactionID(INT value) {
    return with_line([&](secsi& l) { l.set_out_transaction_id(value); });
}

HRESULT CQuill1::GetOutTransactionID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.out_transaction_id.load(); });
}

HRESULT CQuill1::SetConnectionMode(enum_HSMS_CONN_MODE value) {
    return guarded(__func__, [&]() -> HRESULT {
        std::shared_ptr<LineWorker> worker;
        {
            LineCall call(*this);
            worker = call.worker();
            if (!worker) return S_OK;
            worker->line().conn_mode.store(value);
            worker->line().conn_mode_new.store(value);
        }
        // Applying the mode may close and open connections and raise events: no
        // call lock, as for SetActive.
        std::lock_guard open(open_mutex_);
        worker->line().init_line();
        return S_OK;
    });
}

HRESULT CQuill1::GetConnectionMode(enum_HSMS_CONN_MODE* value) {
    return get_value<enum_HSMS_CONN_MODE>(
        value, [](secsi& l) { return static_cast<enum_HSMS_CONN_MODE>(l.conn_mode_cur.load()); }, cmNONE);
}

HRESULT CQuill1::SetSingleSessionMode(LONG value) {
    return with_line([&](secsi& l) { l.single_session.store(value == 1); });
}

HRESULT CQuill1::GetSingleSessionMode(LONG* value) {
    return get_value<LONG>(value, [](secsi& l) { return l.single_session.load() ? 1 : 0; });
}

HRESULT CQuill1::GetPassvSelectedQuan(INT* val) {
    return get_value<INT>(val, [](secsi& l) { return l.GetPassvSelectedQuan(); });
}

HRESULT CQuill1::GetPassvSelectedSession(INT client_num, INT* sessionID) {
    return get_value<INT>(sessionID, [&](secsi& l) { return l.GetPassvSelectedSession(client_num); });
}

// ---- messages ------------------------------------------------------------------------------

HRESULT CQuill1::SendMessage(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        const std::string text = BytesFromBstr(value);
        return with_line([&](secsi& l) { l.SendMessage(text); });
    });
}

HRESULT CQuill1::NextMessage() {
    return with_line([](secsi& l) { l.msg.NextMessage(); });
}

HRESULT CQuill1::Reply(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        const std::string text = BytesFromBstr(value);
        return with_line([&](secsi& l) { l.Reply(text); });
    });
}

HRESULT CQuill1::GetInDeviceID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetInDeviceID(); });
}

HRESULT CQuill1::GetInStreamID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetInStreamID(); });
}

HRESULT CQuill1::GetInFunctionID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetInFunctionID(); });
}

HRESULT CQuill1::GetInWBit(LONG* value) {
    return get_value<LONG>(value, [](secsi& l) { return l.msg.GetInWBit() != 0 ? 1 : 0; });
}

HRESULT CQuill1::GetInSourceID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetInSourceID(); });
}

HRESULT CQuill1::GetInTransactionID(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetInTransactionID(); });
}

HRESULT CQuill1::GetInRBit(LONG* value) {
    return get_value<LONG>(value, [](secsi& l) { return l.msg.GetInRBit() != 0 ? 1 : 0; });
}

HRESULT CQuill1::SetElemPointer(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        const std::string pointer = BytesFromBstr(value);
        return with_line([&](secsi& l) { l.msg.SetElemPointer(pointer); });
    });
}

HRESULT CQuill1::GetElemQuantity(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetElemQuantity(); });
}

HRESULT CQuill1::GetElemType(enum_SECS_ELEM_TYPE* value) {
    return get_value<enum_SECS_ELEM_TYPE>(
        value, [](secsi& l) { return static_cast<enum_SECS_ELEM_TYPE>(l.msg.GetElemType()); }, etSecsInv);
}

HRESULT CQuill1::GetElemValue(BSTR* value) {
    return get_text(value, [](secsi& l) { return l.msg.GetElemValue(); });
}

HRESULT CQuill1::NextMessageSML(BSTR* value) {
    if (!value) return E_POINTER;
    return guarded(__func__, [&]() -> HRESULT {
        LineCall call(*this);
        secsi* l = call.line();
        if (!l) return put_text(value, std::string());
        // The interface string is made before the message leaves the inbox:
        // a text too long for one, or no memory for it, keeps the message.
        BSTR made = nullptr;
        const secsii::SmlTake taken = l->msg.NextMessageSML(kMaxBstrLength, [&](const std::string& text) {
            made = BstrFromBytes(text);
            return made != nullptr;
        });
        if (taken == secsii::SmlTake::too_long || taken == secsii::SmlTake::refused) {
            report_failure(__func__, taken == secsii::SmlTake::too_long
                                         ? "the SML text is longer than an interface string can hold"
                                         : "out of memory");
            return E_OUTOFMEMORY;
        }
        *value = made;
        return S_OK;
    });
}

HRESULT CQuill1::GetElemGnrlQuan(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.GetElemGnrlQuan(); });
}

HRESULT CQuill1::GetElemGnrlPointer(INT elNumber, BSTR* pointer) {
    return get_text(pointer, [&](secsi& l) { return l.msg.GetElemGnrlPointer(elNumber); });
}

HRESULT CQuill1::NextMessageByte(BSTR* value) {
    return get_text(value, [](secsi& l) { return l.msg.NextMessageByte(); });
}

// ---- the log ------------------------------------------------------------------------------

HRESULT CQuill1::SetLogActive(LONG value) {
    return guarded(__func__, [&]() -> HRESULT {
        if (StreamsLogger* log = process_logger()) log->set_active(0, value == 1);
        return S_OK;
    });
}

HRESULT CQuill1::GetLogActive(INT* value) {
    return guarded(__func__, [&]() -> HRESULT {
        if (!value) return E_POINTER;
        StreamsLogger* log = process_logger();
        *value = log && log->is_active(0) ? 1 : 0;
        return S_OK;
    });
}

HRESULT CQuill1::SetLogFileName(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        if (StreamsLogger* log = process_logger()) log->set_stream(0, BytesFromBstr(value));
        return S_OK;
    });
}

HRESULT CQuill1::GetLogFileName(BSTR* value) {
    return guarded(__func__, [&]() -> HRESULT {
        if (!value) return E_POINTER;
        StreamsLogger* log = process_logger();
        return put_text(value, log ? log->file_name(0) : std::string());
    });
}

HRESULT CQuill1::SetLogAdjust(INT value) {
    return with_line([&](secsi& l) { l.msg.set_log_mask(value); });
}

HRESULT CQuill1::GetLogAdjust(INT* value) {
    return get_value<INT>(value, [](secsi& l) { return l.msg.log_mask(); });
}

HRESULT CQuill1::SetLogString(BSTR value) {
    return guarded(__func__, [&]() -> HRESULT {
        std::string text = BytesFromBstr(value);
        text.resize(std::min(text.size(), text.find('\0')));  // the record is text: it ends at a zero
        process_log_text(true, "__SERV USER: " + text);
        return S_OK;
    });
}

}  // namespace tarvo
