#include "tests/component/driver_calls.h"

#include <map>

#include <gtest/gtest.h>

#include "platform/com/com.h"

namespace tarvo::test {

namespace {

using IntIn = HRESULT (ITarvo::*)(INT);
using IntOut = HRESULT (ITarvo::*)(INT*);
using TextIn = HRESULT (ITarvo::*)(BSTR);
using TextOut = HRESULT (ITarvo::*)(BSTR*);
using IntInOut = HRESULT (ITarvo::*)(INT, INT*);  // LONG is INT

const std::map<std::string, IntIn>& int_setters() {
    static const std::map<std::string, IntIn> m = {
        {"SetT1", &ITarvo::SetT1}, {"SetT2", &ITarvo::SetT2}, {"SetT3", &ITarvo::SetT3},
        {"SetT4", &ITarvo::SetT4}, {"SetT5", &ITarvo::SetT5}, {"SetT6", &ITarvo::SetT6},
        {"SetT7", &ITarvo::SetT7}, {"SetT8", &ITarvo::SetT8}, {"SetRetry", &ITarvo::SetRetry},
        {"SetMaster", &ITarvo::SetMaster}, {"SetBaudRate", &ITarvo::SetBaudRate},
        {"SetPort", &ITarvo::SetPort}, {"SetOutSourceID", &ITarvo::SetOutSourceID},
        {"SetOutTransactionID", &ITarvo::SetOutTransactionID}, {"SetLogActive", &ITarvo::SetLogActive},
        {"SetLogAdjust", &ITarvo::SetLogAdjust}, {"SetSingleSessionMode", &ITarvo::SetSingleSessionMode},
        {"SetMaxPassvConnections", &ITarvo::SetMaxPassvConnections},
        {"SetMaxAlternSwitches", &ITarvo::SetMaxAlternSwitches},
    };
    return m;
}

const std::map<std::string, IntOut>& int_getters() {
    static const std::map<std::string, IntOut> m = {
        {"GetActive", &ITarvo::GetActive}, {"GetT1", &ITarvo::GetT1}, {"GetT2", &ITarvo::GetT2},
        {"GetT3", &ITarvo::GetT3}, {"GetT4", &ITarvo::GetT4}, {"GetT5", &ITarvo::GetT5},
        {"GetT6", &ITarvo::GetT6}, {"GetT7", &ITarvo::GetT7}, {"GetT8", &ITarvo::GetT8},
        {"GetRetry", &ITarvo::GetRetry}, {"GetMaster", &ITarvo::GetMaster},
        {"GetBaudRate", &ITarvo::GetBaudRate}, {"GetPort", &ITarvo::GetPort},
        {"GetOutDeviceID", &ITarvo::GetOutDeviceID}, {"GetOutSourceID", &ITarvo::GetOutSourceID},
        {"GetOutTransactionID", &ITarvo::GetOutTransactionID}, {"GetInDeviceID", &ITarvo::GetInDeviceID},
        {"GetInStreamID", &ITarvo::GetInStreamID}, {"GetInFunctionID", &ITarvo::GetInFunctionID},
        {"GetInWBit", &ITarvo::GetInWBit}, {"GetInSourceID", &ITarvo::GetInSourceID},
        {"GetInTransactionID", &ITarvo::GetInTransactionID}, {"GetInRBit", &ITarvo::GetInRBit},
        {"GetElemQuantity", &ITarvo::GetElemQuantity}, {"GetLogActive", &ITarvo::GetLogActive},
        {"GetLogAdjust", &ITarvo::GetLogAdjust}, {"GetSingleSessionMode", &ITarvo::GetSingleSessionMode},
        {"GetMaxPassvConnections", &ITarvo::GetMaxPassvConnections},
        {"GetPassvSelectedQuan", &ITarvo::GetPassvSelectedQuan},
        {"GetMaxAlternSwitches", &ITarvo::GetMaxAlternSwitches},
        {"GetElemGnrlQuan", &ITarvo::GetElemGnrlQuan},
    };
    return m;
}

const std::map<std::string, TextIn>& text_setters() {
    static const std::map<std::string, TextIn> m = {
        {"SetHost", &ITarvo::SetHost}, {"SendMessage", &ITarvo::SendMessage}, {"Reply", &ITarvo::Reply},
        {"SetElemPointer", &ITarvo::SetElemPointer}, {"SetLogFileName", &ITarvo::SetLogFileName},
        {"SetLogString", &ITarvo::SetLogString},
    };
    return m;
}

const std::map<std::string, TextOut>& text_getters() {
    static const std::map<std::string, TextOut> m = {
        {"GetHost", &ITarvo::GetHost}, {"GetElemValue", &ITarvo::GetElemValue},
        {"GetLogFileName", &ITarvo::GetLogFileName}, {"NextMessageSML", &ITarvo::NextMessageSML},
        {"NextMessageByte", &ITarvo::NextMessageByte},
    };
    return m;
}

const std::map<std::string, IntInOut>& exchanges() {
    static const std::map<std::string, IntInOut> m = {
        {"SetActive", &ITarvo::SetActive}, {"SetOutDeviceID", &ITarvo::SetOutDeviceID},
        {"GetPassvSelectedSession", &ITarvo::GetPassvSelectedSession},
    };
    return m;
}

template <class M>
auto find(const M& m, const std::string& name) {
    auto it = m.find(name);
    if (it == m.end()) {
        ADD_FAILURE() << "no such method in the test table: " << name;
        return typename M::mapped_type{};
    }
    return it->second;
}

}  // namespace

void DriverCalls::invoke(const std::string& name, VARIANT* args, UINT count) {
    std::u16string wide = OleStringFromBytes(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(driver_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    DISPPARAMS params{args, nullptr, count, 0};
    VariantHolder result;
    UINT arg_err = 0;
    EXPECT_EQ(driver_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(),
                              nullptr, &arg_err),
              S_OK)
        << name;
}

void DriverCalls::call(const std::string& name) {
    if (path_ == CallPath::dispatch) return invoke(name, nullptr, 0);
    ASSERT_EQ(name, "NextMessage");
    EXPECT_EQ(driver_->NextMessage(), S_OK);
}

void DriverCalls::set(const std::string& name, int32_t value) {
    if (path_ == CallPath::dispatch) {
        VARIANT v;
        v.vt = VT_I4;
        v.lVal = value;
        return invoke(name, &v, 1);
    }
    if (name == "SetLineType") {
        EXPECT_EQ(driver_->SetLineType(static_cast<enum_SECS_LINE_TYPE>(value)), S_OK);
    } else if (name == "SetConnectionMode") {
        EXPECT_EQ(driver_->SetConnectionMode(static_cast<enum_HSMS_CONN_MODE>(value)), S_OK);
    } else if (IntIn f = find(int_setters(), name)) {
        EXPECT_EQ((driver_->*f)(value), S_OK) << name;
    }
}

int32_t DriverCalls::get(const std::string& name) {
    LONG out = -12345;
    if (path_ == CallPath::dispatch) {
        VARIANT v;
        v.vt = VT_BYREF | VT_I4;
        v.plVal = &out;
        invoke(name, &v, 1);
        return out;
    }
    if (name == "GetLineType") {
        enum_SECS_LINE_TYPE t{};
        EXPECT_EQ(driver_->GetLineType(&t), S_OK);
        return t;
    }
    if (name == "GetElemType") {
        enum_SECS_ELEM_TYPE t{};
        EXPECT_EQ(driver_->GetElemType(&t), S_OK);
        return t;
    }
    if (name == "GetConnectionMode") {
        enum_HSMS_CONN_MODE m{};
        EXPECT_EQ(driver_->GetConnectionMode(&m), S_OK);
        return m;
    }
    if (IntOut f = find(int_getters(), name)) {
        EXPECT_EQ((driver_->*f)(&out), S_OK) << name;
    }
    return out;
}

void DriverCalls::set_text(const std::string& name, const std::string& bytes) {
    BstrHolder text(bytes);
    if (path_ == CallPath::dispatch) {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = text.get();
        return invoke(name, &v, 1);
    }
    if (TextIn f = find(text_setters(), name)) {
        EXPECT_EQ((driver_->*f)(text.get()), S_OK) << name;
    }
}

std::string DriverCalls::get_text(const std::string& name) {
    BstrHolder text;
    if (path_ == CallPath::dispatch) {
        VARIANT v;
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = text.out();
        invoke(name, &v, 1);
        return text.bytes();
    }
    if (TextOut f = find(text_getters(), name)) {
        EXPECT_EQ((driver_->*f)(text.out()), S_OK) << name;
    }
    return text.bytes();
}

int32_t DriverCalls::exchange(const std::string& name, int32_t value) {
    LONG out = -12345;
    if (path_ == CallPath::dispatch) {
        VARIANT v[2];
        v[1].vt = VT_I4;  // the first parameter comes last
        v[1].lVal = value;
        v[0].vt = VT_BYREF | VT_I4;
        v[0].plVal = &out;
        invoke(name, v, 2);
        return out;
    }
    if (IntInOut f = find(exchanges(), name)) {
        EXPECT_EQ((driver_->*f)(value, &out), S_OK) << name;
    }
    return out;
}

std::string DriverCalls::get_text_at(const std::string& name, int32_t index) {
    BstrHolder text;
    if (path_ == CallPath::dispatch) {
        VARIANT v[2];
        v[1].vt = VT_I4;
        v[1].lVal = index;
        v[0].vt = VT_BYREF | VT_BSTR;
        v[0].pbstrVal = text.out();
        invoke(name, v, 2);
        return text.bytes();
    }
    EXPECT_EQ(name, "GetElemGnrlPointer");
    EXPECT_EQ(driver_->GetElemGnrlPointer(index, text.out()), S_OK);
    return text.bytes();
}

}  // namespace tarvo::test
