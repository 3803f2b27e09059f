// A stand-in for the driver object that records every setter call with its
// value, in order, and answers every getter with 0: the settings tests read
// what reaches the driver. One method per method of ITarvo, in its order.
#pragma once

#include <string>
#include <vector>

#include "driver/component/itarvo.h"
#include "platform/com/bstr.h"

namespace tarvo::client_test {

class RecordingTarvo final : public ITarvo {
public:
    std::vector<std::string> calls;

    HRESULT QueryInterface(REFIID, void** object) override {
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    HRESULT SetActive(LONG a0, LONG* a1) override {
        calls.push_back("SetActive(" + std::to_string(static_cast<long long>(a0)) + ")");
        if (a1) *a1 = {};
        return S_OK;
    }
    HRESULT GetActive(LONG* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetLineType(enum_SECS_LINE_TYPE a0) override {
        calls.push_back("SetLineType(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetLineType(enum_SECS_LINE_TYPE* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT1(INT a0) override {
        calls.push_back("SetT1(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT1(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT2(INT a0) override {
        calls.push_back("SetT2(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT2(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT3(INT a0) override {
        calls.push_back("SetT3(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT3(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT4(INT a0) override {
        calls.push_back("SetT4(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT4(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT5(INT a0) override {
        calls.push_back("SetT5(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT5(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT6(INT a0) override {
        calls.push_back("SetT6(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT6(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT7(INT a0) override {
        calls.push_back("SetT7(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT7(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetT8(INT a0) override {
        calls.push_back("SetT8(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetT8(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetRetry(INT a0) override {
        calls.push_back("SetRetry(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetRetry(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetMaster(INT a0) override {
        calls.push_back("SetMaster(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetMaster(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetBaudRate(INT a0) override {
        calls.push_back("SetBaudRate(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetBaudRate(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetPort(INT a0) override {
        calls.push_back("SetPort(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetPort(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetHost(BSTR a0) override {
        calls.push_back("SetHost(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT GetHost(BSTR* a0) override {
        if (a0) *a0 = nullptr;
        return S_OK;
    }
    HRESULT SetOutDeviceID(INT a0, LONG* a1) override {
        calls.push_back("SetOutDeviceID(" + std::to_string(static_cast<long long>(a0)) + ")");
        if (a1) *a1 = {};
        return S_OK;
    }
    HRESULT GetOutDeviceID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetOutSourceID(INT a0) override {
        calls.push_back("SetOutSourceID(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetOutSourceID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetOutTransactionID(INT a0) override {
        calls.push_back("SetOutTransactionID(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetOutTransactionID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SendMessage(BSTR a0) override {
        calls.push_back("SendMessage(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT NextMessage() override {
        calls.push_back("NextMessage()");
        return S_OK;
    }
    HRESULT Reply(BSTR a0) override {
        calls.push_back("Reply(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT GetInDeviceID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInStreamID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInFunctionID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInWBit(LONG* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInSourceID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInTransactionID(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetInRBit(LONG* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetElemPointer(BSTR a0) override {
        calls.push_back("SetElemPointer(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT GetElemQuantity(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetElemType(enum_SECS_ELEM_TYPE* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetElemValue(BSTR* a0) override {
        if (a0) *a0 = nullptr;
        return S_OK;
    }
    HRESULT SetLogActive(LONG a0) override {
        calls.push_back("SetLogActive(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetLogActive(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetLogFileName(BSTR a0) override {
        calls.push_back("SetLogFileName(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT GetLogFileName(BSTR* a0) override {
        if (a0) *a0 = nullptr;
        return S_OK;
    }
    HRESULT SetLogAdjust(INT a0) override {
        calls.push_back("SetLogAdjust(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetLogAdjust(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetLogString(BSTR a0) override {
        calls.push_back("SetLogString(" + BytesFromBstr(a0) + ")");
        return S_OK;
    }
    HRESULT SetConnectionMode(enum_HSMS_CONN_MODE a0) override {
        calls.push_back("SetConnectionMode(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetConnectionMode(enum_HSMS_CONN_MODE* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetSingleSessionMode(LONG a0) override {
        calls.push_back("SetSingleSessionMode(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetSingleSessionMode(LONG* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT SetMaxPassvConnections(INT a0) override {
        calls.push_back("SetMaxPassvConnections(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetMaxPassvConnections(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetPassvSelectedQuan(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetPassvSelectedSession(INT, INT* a1) override {
        if (a1) *a1 = {};
        return S_OK;
    }
    HRESULT SetMaxAlternSwitches(INT a0) override {
        calls.push_back("SetMaxAlternSwitches(" + std::to_string(static_cast<long long>(a0)) + ")");
        return S_OK;
    }
    HRESULT GetMaxAlternSwitches(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT NextMessageSML(BSTR* a0) override {
        if (a0) *a0 = nullptr;
        return S_OK;
    }
    HRESULT GetElemGnrlQuan(INT* a0) override {
        if (a0) *a0 = {};
        return S_OK;
    }
    HRESULT GetElemGnrlPointer(INT, BSTR* a1) override {
        if (a1) *a1 = nullptr;
        return S_OK;
    }
    HRESULT NextMessageByte(BSTR* a0) override {
        if (a0) *a0 = nullptr;
        return S_OK;
    }
};

}  // namespace tarvo::client_test
