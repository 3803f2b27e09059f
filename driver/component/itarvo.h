// ITarvo: the driver object's interface. A dual interface: the 71 methods
// below follow IDispatch's slots in dispatch-id order, so a caller may use
// this table directly or call them late-bound through IDispatch::Invoke.
// Every method returns S_OK; results travel in the out-parameters.
#pragma once

#include "driver/line/line_type.h"
#include "driver/messages/elem_type.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"

namespace tarvo {

struct ITarvo : IDispatch {
    virtual HRESULT SetActive(LONG value, LONG* stat) = 0;  // 1
    virtual HRESULT GetActive(LONG* value) = 0;  // 2
    virtual HRESULT SetLineType(enum_SECS_LINE_TYPE value) = 0;  // 3
    virtual HRESULT GetLineType(enum_SECS_LINE_TYPE* value) = 0;  // 4
    virtual HRESULT SetT1(INT value) = 0;  // 5
    virtual HRESULT GetT1(INT* value) = 0;  // 6
    virtual HRESULT SetT2(INT value) = 0;  // 7
    virtual HRESULT GetT2(INT* value) = 0;  // 8
    virtual HRESULT SetT3(INT value) = 0;  // 9
    virtual HRESULT GetT3(INT* value) = 0;  // 10
    virtual HRESULT SetT4(INT value) = 0;  // 11
    virtual HRESULT GetT4(INT* value) = 0;  // 12
    virtual HRESULT SetT5(INT value) = 0;  // 13
    virtual HRESULT GetT5(INT* value) = 0;  // 14
    virtual HRESULT SetT6(INT value) = 0;  // 15
    virtual HRESULT GetT6(INT* value) = 0;  // 16
    virtual HRESULT SetT7(INT value) = 0;  // 17
    virtual HRESULT GetT7(INT* value) = 0;  // 18
    virtual HRESULT SetT8(INT value) = 0;  // 19
    virtual HRESULT GetT8(INT* value) = 0;  // 20
    virtual HRESULT SetRetry(INT value) = 0;  // 21
    virtual HRESULT GetRetry(INT* value) = 0;  // 22
    virtual HRESULT SetMaster(INT value) = 0;  // 23
    virtual HRESULT GetMaster(INT* value) = 0;  // 24
    virtual HRESULT SetBaudRate(INT value) = 0;  // 25
    virtual HRESULT GetBaudRate(INT* value) = 0;  // 26
    virtual HRESULT SetPort(INT value) = 0;  // 27
    virtual HRESULT GetPort(INT* value) = 0;  // 28
    virtual HRESULT SetHost(BSTR value) = 0;  // 29
    virtual HRESULT GetHost(BSTR* value) = 0;  // 30
    virtual HRESULT SetOutDeviceID(INT value, LONG* res) = 0;  // 31
    virtual HRESULT GetOutDeviceID(INT* value) = 0;  // 32
    virtual HRESULT SetOutSourceID(INT value) = 0;  // 33
    virtual HRESULT GetOutSourceID(INT* value) = 0;  // 34
    virtual HRESULT SetOutTransactionID(INT value) = 0;  // 35
    virtual HRESULT GetOutTransactionID(INT* value) = 0;  // 36
    virtual HRESULT SendMessage(BSTR value) = 0;  // 37
    virtual HRESULT NextMessage() = 0;  // 38
    virtual HRESULT Reply(BSTR value) = 0;  // 39
    virtual HRESULT GetInDeviceID(INT* value) = 0;  // 40
    virtual HRESULT GetInStreamID(INT* value) = 0;  // 41
    virtual HRESULT GetInFunctionID(INT* value) = 0;  // 42
    virtual HRESULT GetInWBit(LONG* value) = 0;  // 43
    virtual HRESULT GetInSourceID(INT* value) = 0;  // 44
    virtual HRESULT GetInTransactionID(INT* value) = 0;  // 45
    virtual HRESULT GetInRBit(LONG* value) = 0;  // 46
    virtual HRESULT SetElemPointer(BSTR value) = 0;  // 47
    virtual HRESULT GetElemQuantity(INT* value) = 0;  // 48
    virtual HRESULT GetElemType(enum_SECS_ELEM_TYPE* value) = 0;  // 49
    virtual HRESULT GetElemValue(BSTR* value) = 0;  // 50
    virtual HRESULT SetLogActive(LONG value) = 0;  // 51
    virtual HRESULT GetLogActive(INT* value) = 0;  // 52
    virtual HRESULT SetLogFileName(BSTR value) = 0;  // 53
    virtual HRESULT GetLogFileName(BSTR* value) = 0;  // 54
    virtual HRESULT SetLogAdjust(INT value) = 0;  // 55
    virtual HRESULT GetLogAdjust(INT* value) = 0;  // 56
    virtual HRESULT SetLogString(BSTR value) = 0;  // 57
    virtual HRESULT SetConnectionMode(enum_HSMS_CONN_MODE value) = 0;  // 58
    virtual HRESULT GetConnectionMode(enum_HSMS_CONN_MODE* value) = 0;  // 59
    virtual HRESULT SetSingleSessionMode(LONG value) = 0;  // 60
    virtual HRESULT GetSingleSessionMode(LONG* value) = 0;  // 61
    virtual HRESULT SetMaxPassvConnections(INT value) = 0;  // 62
    virtual HRESULT GetMaxPassvConnections(INT* value) = 0;  // 63
    virtual HRESULT GetPassvSelectedQuan(INT* val) = 0;  // 64
    virtual HRESULT GetPassvSelectedSession(INT client_num, INT* sessionID) = 0;  // 65
    virtual HRESULT SetMaxAlternSwitches(INT value) = 0;  // 66
    virtual HRESULT GetMaxAlternSwitches(INT* value) = 0;  // 67
    virtual HRESULT NextMessageSML(BSTR* value) = 0;  // 68
    virtual HRESULT GetElemGnrlQuan(INT* value) = 0;  // 69
    virtual HRESULT GetElemGnrlPointer(INT elNumber, BSTR* pointer) = 0;  // 70
    virtual HRESULT NextMessageByte(BSTR* value) = 0;  // 71

protected:
    ~ITarvo() = default;
};

// Dispatch ids of _ITarvoEvents, the pure dispatch interface that the driver
// object calls on every advised sink.
inline constexpr DISPID DISPID_OnSecsRead = 1;     // no argument
inline constexpr DISPID DISPID_OnSecsNotify = 2;   // VT_I4 enum_SECS_NOTIFY
inline constexpr DISPID DISPID_OnSecsWritten = 3;  // VT_I4 1 or 0

}  // namespace tarvo
