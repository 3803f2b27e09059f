#include "gem/driver_link.h"

#include <atomic>
#include <cstdio>

#include "driver/component/itarvo.h"
#include "driver/component/tarvo_guids.h"
#include "platform/com/com.h"

namespace tarvo::gem {

namespace {

// Hands the driver's events on; it lives as long as the link.
class Sink final : public IDispatch {
public:
    explicit Sink(DriverLink::Events events) : events_(std::move(events)) {}
    void stop() { stopped_ = true; }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__ITarvoEvents) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (stopped_) return S_OK;
        if (id == DISPID_OnSecsRead && events_.read) events_.read();
        if (id == DISPID_OnSecsNotify && events_.notify && params && params->cArgs == 1) {
            const VARIANT& v = params->rgvarg[0];
            events_.notify(v.vt == VT_I4 ? static_cast<int>(v.lVal) : v.vt == VT_INT ? v.intVal : -1);
        }
        return S_OK;
    }

private:
    DriverLink::Events events_;
    std::atomic<bool> stopped_{false};
};

}  // namespace

struct DriverLink::Parts {
    explicit Parts(DriverLink::Events events) : sink(std::move(events)) {}
    Sink sink;  // declared first: outlives the driver, whose threads may still call it
    ComPtr<ITarvo> driver;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    bool initialised = false;
};

DriverLink::DriverLink(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

std::unique_ptr<DriverLink> DriverLink::create(Events events, std::string* error) {
    auto parts = std::make_unique<Parts>(std::move(events));
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    parts->initialised = true;
    std::unique_ptr<DriverLink> link(new DriverLink(std::move(parts)));
    Parts& p = *link->parts_;
    const HRESULT hr =
        CoCreateInstance(CLSID_Quill1, nullptr, CLSCTX_INPROC_SERVER, IID_ITarvo, p.driver.out_void());
    if (FAILED(hr) || !p.driver) {
        if (error) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
            *error = std::string("cannot create the driver (") + code + "): " + CoLastLoadError();
        }
        return nullptr;
    }
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(p.driver->QueryInterface(IID_IConnectionPointContainer, container.out_void())) ||
        FAILED(container->FindConnectionPoint(DIID__ITarvoEvents, p.point.out())) ||
        FAILED(p.point->Advise(&p.sink, &p.cookie))) {
        if (error) *error = "cannot advise the driver's events";
        return nullptr;
    }
    return link;
}

DriverLink::~DriverLink() {
    close();
    if (parts_->point) parts_->point->Unadvise(parts_->cookie);
    parts_->point = ComPtr<IConnectionPoint>();
    parts_->driver = ComPtr<ITarvo>();
    if (parts_->initialised) CoUninitialize();
}

bool DriverLink::configure(const Config& config, std::string* error) {
    ITarvo* d = parts_->driver.get();
    const LineSettings& line = config.line;
    secs1_ = line.type && *line.type == "secs1";
    d->SetLineType(secs1_ ? ltSECSI : ltHSMS);
    if (line.mode) {
        const enum_HSMS_CONN_MODE mode =
            *line.mode == "active" ? cmACTIVE : *line.mode == "alternating" ? cmALTERN : cmPASSIVE;
        d->SetConnectionMode(mode);
    }
    if (line.host) {
        BstrHolder host(*line.host);
        d->SetHost(host.get());
    }
    if (line.log_file) {
        BstrHolder file(*line.log_file);
        d->SetLogFileName(file.get());
    }
    for (const auto& [key, value] : line.numbers) {
        const INT v = static_cast<INT>(value);
        if (key == "port") d->SetPort(v);
        else if (key == "t1") d->SetT1(v);
        else if (key == "t2") d->SetT2(v);
        else if (key == "t3") d->SetT3(v);
        else if (key == "t4") d->SetT4(v);
        else if (key == "t5") d->SetT5(v);
        else if (key == "t6") d->SetT6(v);
        else if (key == "t7") d->SetT7(v);
        else if (key == "t8") d->SetT8(v);
        else if (key == "retry") d->SetRetry(v);
        else if (key == "baud") d->SetBaudRate(v);
        else if (key == "master") d->SetMaster(v);
        else if (key == "max_connections") d->SetMaxPassvConnections(v);
        else if (key == "alternate_switches") d->SetMaxAlternSwitches(v);
        else if (key == "log_mask") d->SetLogAdjust(v);
    }
    LONG result = 0;
    d->SetOutDeviceID(config.device_id, &result);
    (void)error;
    return true;
}

bool DriverLink::open(std::string* error) {
    LONG active = 0;
    parts_->driver->SetActive(1, &active);
    if (active != 1) {
        if (error) *error = "the line could not be opened";
        return false;
    }
    return true;
}

void DriverLink::close() {
    if (!parts_->driver) return;
    LONG active = 0;
    parts_->driver->SetActive(0, &active);
    parts_->sink.stop();
}

std::optional<std::pair<Message, std::string>> DriverLink::take() {
    ITarvo* d = parts_->driver.get();
    BstrHolder body;
    d->NextMessageByte(body.out());
    std::string bytes = body.bytes();
    // "no more messages" cannot be a body: its first byte is no item format.
    if (bytes == "no more messages") return std::nullopt;
    Message m;
    INT v = 0;
    LONG w = 0;
    d->GetInStreamID(&v);
    m.stream = v;
    d->GetInFunctionID(&v);
    m.function = v;
    d->GetInWBit(&w);
    m.w = w != 0;
    d->GetInDeviceID(&v);
    m.device = v;
    d->GetInSourceID(&v);
    m.source = v;
    d->GetInTransactionID(&v);
    m.transaction = v;
    return std::make_pair(std::move(m), std::move(bytes));
}

bool DriverLink::send(const Message& m) {
    ITarvo* d = parts_->driver.get();
    d->SetOutSourceID(m.source);
    d->SetOutTransactionID(m.transaction);
    BstrHolder text(message_sml_for_driver(m));
    return SUCCEEDED(d->SendMessage(text.get()));
}

bool DriverLink::reply(const Message& m) {
    BstrHolder text(message_sml_for_driver(m));
    return SUCCEEDED(parts_->driver->Reply(text.get()));
}

int DriverLink::t3_ms() const {
    INT t3 = 45000;
    parts_->driver->GetT3(&t3);
    return t3;
}

}  // namespace tarvo::gem
