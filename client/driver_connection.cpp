#include "client/driver_connection.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "client/message_boxes.h"
#include "driver/component/tarvo_guids.h"
#include "driver/log/notify_code.h"

namespace tarvo::client {

namespace {

std::atomic<uint64_t> last_serial{0};

void show_failure(HRESULT hr, const char* caption) {
    char text[32];
    std::snprintf(text, sizeof text, " hr = %x", static_cast<unsigned>(hr));
    MessageBoxes::current().show(text, caption, nullptr);
}

}  // namespace

DriverConnection::DriverConnection(int index, DriverClient* owner, enum_SECS_LINE_TYPE line_type)
    : line_type_(line_type), owner_(owner), index_(index), serial_(++last_serial) {
    HRESULT hr = CoCreateInstance(CLSID_Quill1, nullptr, 7, IID_IUnknown, object_.out_void());
    const bool created = SUCCEEDED(hr);
    if (!created) show_failure(hr, "Client CoCreateInstance m_pIUnknown");
    if (created) {
        ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(object_->QueryInterface(IID_IConnectionPointContainer, container.out_void())) &&
            SUCCEEDED(container->FindConnectionPoint(DIID__ITarvoEvents, point_.out())) &&
            FAILED(point_->Advise(this, &cookie_))) {
            cookie_ = kNotAdvised;
        }
        hr = object_->QueryInterface(IID_ITarvo, driver_.out_void());
        if (FAILED(hr)) show_failure(hr, "Client CoCreateInstance ITarvo");
    }
    if (driver_ && created && line_type_ != ltNone) driver_->SetLineType(line_type_);
}

DriverConnection::~DriverConnection() {
    if (driver_) {
        if (active) {
            LONG status = 0;
            driver_->SetActive(0, &status);
        }
        driver_->SetLineType(ltNone);
        driver_.reset();
    }
    if (object_) {
        if (point_ && cookie_ != kNotAdvised) point_->Unadvise(cookie_);
        cookie_ = kNotAdvised;
        point_.reset();
        object_.reset();
    }
}

HRESULT DriverConnection::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__ITarvoEvents) {
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT DriverConnection::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT DriverConnection::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    // The event methods' descriptions come from the driver's registered
    // type library, version 1.0.
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(LIBID_TARVOSRV1Lib, 1, 0, lcid, lib.out());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(DIID__ITarvoEvents, info);
}

HRESULT DriverConnection::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    static const char16_t* const kNames[] = {u"OnSecsRead", u"OnSecsNotify", u"OnSecsWritten"};
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return DISP_E_UNKNOWNNAME;
    for (DISPID d = 0; d < 3; ++d) {
        if (std::u16string(names[0]) == kNames[d]) ids[0] = d + 1;
    }
    // The events' parameters are not named here.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT DriverConnection::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    auto argument = [params]() -> LONG {
        if (!params || params->cArgs < 1) return 0;
        VARIANT value;
        VariantInit(&value);
        LONG result = 0;
        if (SUCCEEDED(VariantChangeType(&value, &params->rgvarg[0], 0, VT_I4))) result = value.lVal;
        VariantClear(&value);
        return result;
    };
    switch (id) {
    case 1: owner_->OnConnectionEvent(*this, nSecsReservedRead); return S_OK;
    case 2: owner_->OnConnectionEvent(*this, argument()); return S_OK;
    case 3:
        owner_->OnConnectionEvent(*this, argument() != 0 ? nSecsReservedWrittenTrue : nSecsReservedWrittenFalse);
        return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

DriverClient::DriverClient() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

DriverClient::~DriverClient() {
    RemoveAll();
    CoUninitialize();
}

void DriverClient::OnDriverEvent(int, int) {}

void DriverClient::OnConnectionEvent(const DriverConnection& from, int code) { OnDriverEvent(from.index(), code); }

void DriverClient::AddConnection(enum_SECS_LINE_TYPE line_type) {
    const int index = static_cast<int>(connections_.size());
    connections_.push_back(std::make_shared<DriverConnection>(index, this, line_type));
}

int DriverClient::RemoveConnection(int index) {
    if (index < 0 || static_cast<size_t>(index) >= connections_.size()) return -1;
    connections_.erase(connections_.begin() + index);
    return 0;
}

void DriverClient::RemoveAll() {
    while (!connections_.empty()) RemoveConnection(0);
}

std::vector<std::shared_ptr<DriverConnection>> DriverClient::TakeAll() {
    std::vector<std::shared_ptr<DriverConnection>> taken;
    taken.swap(connections_);
    return taken;
}

}  // namespace tarvo::client
