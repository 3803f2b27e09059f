#include "driver/component/tarvo_typelib.h"

#include "driver/component/tarvo_guids.h"

namespace tarvo {

namespace {

// ---- enumerations ---------------------------------------------------------------------

constexpr ConstDesc kNotifyConsts[] = {
    {"nSecsErrorUnexpectedChar", 1, "an unexpected character arrived (SECS-I: while idle, or instead of ACK)"},
    {"nSecsErrorBadLength", 2, "a SECS-I length byte outside 10..254"},
    {"nSecsErrorSum", 3, "a SECS-I block with a wrong checksum"},
    {"nSecsErrorParity", 4, "not raised (parity errors are the serial device's)"},
    {"nSecsErrorBadMultiBlockNumber", 5, "not raised"},
    {"nSecsErrorBlockNumber", 6, "not raised"},
    {"nSecsErrorNak", 7, "not raised (a NAK shows as 1)"},
    {"nSecsErrorRetry", 8, "a SECS-I send attempt failed and another follows"},
    {"nSecsErrorT4", 9, "T4: the next block of a SECS-I message did not come in time; the message is discarded"},
    {"nSecsErrorT2", 10, "T2: no EOT, ACK or length byte in time (SECS-I)"},
    {"nSecsErrorT1", 11, "T1: a gap inside a SECS-I block"},
    {"nSecsErrorT3", 12, "T3: no reply to a W primary in time"},
    {"nSecsErrorDeviceID", 13, "not raised"},
    {"nSecsErrorPortReadFailed", 14, "reading from the port or connection failed"},
    {"nSecsErrorPortWriteFailed", 15, "writing failed, or a message found no open port or selected connection (it ends unsent)"},
    {"nSecsErrorPortOpenFailed", 16, "not raised"},
    {"nSecsErrorListIncorrect", 17, "the SML text could not be planned, or the message is too long for the line; it ends unsent"},
    {"nSecsErrorBlockDuplication", 18, "a SECS-I block repeated the header of the last one (dropped)"},
    {"nSecsErrorExtraBlock", 19, "a block or message nobody expected (a late reply, a stray continuation)"},
    {"nSecsErrorNoMoreTimers", 20, "no timer could be had"},
    {"nSecsErrorT5", 21, "T5: connect separation (HSMS)"},
    {"nSecsErrorT6", 22, "T6: no answer to a control message (HSMS)"},
    {"nSecsErrorT7", 23, "T7: a connection was not selected in time (HSMS)"},
    {"nSecsErrorT8", 24, "T8: a gap inside an HSMS message"},
    {"nSecsErrorSocket", 25, "a socket could not be created or bound (HSMS)"},
    {"nSecsErrorMessageType", 26, "an unexpected or unsupported control message (answered with Reject.req where the standard says so)"},
    {"nSecsErrorSelectAlreadyAct", 27, "Select.rsp: already active (HSMS)"},
    {"nSecsErrorSelectNotReady", 28, "Select.rsp: not ready (HSMS)"},
    {"nSecsErrorSelectConnExhaust", 29, "Select.rsp: connections exhausted (HSMS)"},
    {"nSecsErrorSelectReserved", 30, "Select.rsp: another reason (HSMS)"},
    {"nSecsErrorReject", 31, "a Reject.req arrived (HSMS)"},
    {"nSecsErrorInternal", 50, "an internal error: a call failed (see the log record naming the method) or the line type has no line"},
    {"nSecsReservedRead", 51, "reserved: a message was received (as OnSecsRead)"},
    {"nSecsReservedWrittenTrue", 52, "reserved: a send succeeded (as OnSecsWritten 1)"},
    {"nSecsReservedWrittenFalse", 53, "reserved: a send failed (as OnSecsWritten 0)"},
    {"nHSMSConnectionActive", 100, "an active HSMS connection is selected"},
    {"nHSMSConnectionPassivePlus", 101, "a passive HSMS line has a newly selected client"},
    {"nHSMSConnectionPassiveMinus", 102, "a passive HSMS line lost a client"},
    {"nHSMSAlternStartedPassive", 103, "an alternating HSMS line starts passive"},
    {"nHSMSAlternStartedActive", 104, "an alternating HSMS line starts active"},
};

constexpr ConstDesc kLineTypeConsts[] = {
    {"ltSECSI", 40},
    {"ltHSMS", 37},
    {"ltNone", 41},
};

constexpr ConstDesc kElemTypeConsts[] = {
    {"etSecsInv", 0},
    {"etSecsTypeInvalid", 0},
    {"etSecsL", 1},
    {"etSecsTypeList", 1},
    {"etSecsB", 2},
    {"etSecsTypeBinary", 2},
    {"etSecsBool", 3},
    {"etSecsT", 3},
    {"etSecsTypeBoolean", 3},
    {"etSecsA", 4},
    {"etSecsTypeAscii", 4},
    {"etSecsJ", 5},
    {"etSecsTypeJis", 5},
    {"etSecsI8", 6},
    {"etSecsTypeLong8", 6},
    {"etSecsI1", 7},
    {"etSecsTypeChar", 7},
    {"etSecsI2", 8},
    {"etSecsTypeShort", 8},
    {"etSecsI4", 9},
    {"etSecsTypeLong", 9},
    {"etSecsF8", 10},
    {"etSecsTypeDouble", 10},
    {"etSecsF4", 11},
    {"etSecsTypeFloat", 11},
    {"etSecsU8", 12},
    {"etSecsTypeDWord8", 12},
    {"etSecsU1", 13},
    {"etSecsTypeByte", 13},
    {"etSecsU2", 14},
    {"etSecsTypeWord", 14},
    {"etSecsU4", 15},
    {"etSecsTypeDWord", 15},
};

constexpr ConstDesc kConnModeConsts[] = {
    {"cmPASSIVE", 1},
    {"cmACTIVE", 2},
    {"cmALTERN", 3},
    {"cmSSActive", 11},
    {"cmSSPassive", 12},
    {"cmSSAlternating", 13},
    {"cmGSActive", 14},
    {"cmGSPassive", 15},
    {"cmGSAlternating", 16},
    {"cmNONE", -1},
};

// ---- ITarvo ---------------------------------------------------------------------------
// Parameters by signature. `int` is VT_INT, `long` VT_I4, an enumeration VT_I4
// with the enumeration's name; an out-parameter gives the type pointed at.
// GetElemGnrlQuan's one parameter is marked "in" although the method writes
// the count through it: its type is a reference (VT_BYREF | VT_INT), which is
// how a caller sees that it receives a value.

constexpr ParamDesc kInLongOutLongStat[] = {
    {"value", VT_I4, PARAMFLAG_FIN, nullptr},
    {"stat", VT_I4, PARAMFLAG_FOUT, nullptr},
};
constexpr ParamDesc kOutLong[] = {{"value", VT_I4, PARAMFLAG_FOUT, nullptr}};
constexpr ParamDesc kInSecsLineType[] = {{"value", VT_I4, PARAMFLAG_FIN, "enum_SECS_LINE_TYPE"}};
constexpr ParamDesc kOutSecsLineType[] = {{"value", VT_I4, PARAMFLAG_FOUT, "enum_SECS_LINE_TYPE"}};
constexpr ParamDesc kInInt[] = {{"value", VT_INT, PARAMFLAG_FIN, nullptr}};
constexpr ParamDesc kOutInt[] = {{"value", VT_INT, PARAMFLAG_FOUT, nullptr}};
constexpr ParamDesc kInBstr[] = {{"value", VT_BSTR, PARAMFLAG_FIN, nullptr}};
constexpr ParamDesc kOutBstr[] = {{"value", VT_BSTR, PARAMFLAG_FOUT, nullptr}};
constexpr ParamDesc kInIntOutLongRes[] = {
    {"value", VT_INT, PARAMFLAG_FIN, nullptr},
    {"res", VT_I4, PARAMFLAG_FOUT, nullptr},
};
constexpr ParamDesc kOutSecsElemType[] = {{"value", VT_I4, PARAMFLAG_FOUT, "enum_SECS_ELEM_TYPE"}};
constexpr ParamDesc kInLong[] = {{"value", VT_I4, PARAMFLAG_FIN, nullptr}};
constexpr ParamDesc kInHsmsConnMode[] = {{"value", VT_I4, PARAMFLAG_FIN, "enum_HSMS_CONN_MODE"}};
constexpr ParamDesc kOutHsmsConnMode[] = {{"value", VT_I4, PARAMFLAG_FOUT, "enum_HSMS_CONN_MODE"}};
constexpr ParamDesc kOutIntVal[] = {{"val", VT_INT, PARAMFLAG_FOUT, nullptr}};
constexpr ParamDesc kInIntClientNumOutIntSessionid[] = {
    {"client_num", VT_INT, PARAMFLAG_FIN, nullptr},
    {"sessionID", VT_INT, PARAMFLAG_FOUT, nullptr},
};
constexpr ParamDesc kInIntPointer[] = {{"value", VT_BYREF | VT_INT, PARAMFLAG_FIN, nullptr}};
constexpr ParamDesc kInIntElnumberOutBstrPointer[] = {
    {"elNumber", VT_INT, PARAMFLAG_FIN, nullptr},
    {"pointer", VT_BSTR, PARAMFLAG_FOUT, nullptr},
};

constexpr FuncDesc kTarvoFuncs[] = {
    {1, "SetActive", "Activate or deactivate line", kInLongOutLongStat},
    {2, "GetActive", "Find out line status: activated to not", kOutLong},
    {3, "SetLineType", "Set Type of Line: ltTCP or ltCOMM", kInSecsLineType},
    {4, "GetLineType", "Find out Line Type", kOutSecsLineType},
    {5, "SetT1", "Set parameter T1", kInInt},
    {6, "GetT1", "Find out parameter T1", kOutInt},
    {7, "SetT2", "Set parameter T2", kInInt},
    {8, "GetT2", "Find out parameter T2", kOutInt},
    {9, "SetT3", "Set parameter T3", kInInt},
    {10, "GetT3", "Find out parameter T3", kOutInt},
    {11, "SetT4", "Set parameter T4", kInInt},
    {12, "GetT4", "Find out parameter T4", kOutInt},
    {13, "SetT5", "Set parameter T5", kInInt},
    {14, "GetT5", "Find out parameter T5", kOutInt},
    {15, "SetT6", "Set parameter T6", kInInt},
    {16, "GetT6", "Find out parameter T6", kOutInt},
    {17, "SetT7", "Set parameter T7", kInInt},
    {18, "GetT7", "Find out parameter T7", kOutInt},
    {19, "SetT8", "Set parameter T8", kInInt},
    {20, "GetT8", "Find out parameter T8", kOutInt},
    {21, "SetRetry", "Set parameter Retry", kInInt},
    {22, "GetRetry", "Find out parameter Retry", kOutInt},
    {23, "SetMaster", "Set parameter Rbit and Master(true, equip)/Slave(false, host)", kInInt},
    {24, "GetMaster", "Find out parameter Rbit and Master", kOutInt},
    {25, "SetBaudRate", "Set parameter BaudRate", kInInt},
    {26, "GetBaudRate", "Find out parameter BaudRate", kOutInt},
    {27, "SetPort", "Set Port", kInInt},
    {28, "GetPort", "Find out parameter Port", kOutInt},
    {29, "SetHost", "Set host name", kInBstr},
    {30, "GetHost", "Get host name", kOutBstr},
    {31, "SetOutDeviceID", "Set parameter DeviceID for outgoing messages", kInIntOutLongRes},
    {32, "GetOutDeviceID", "Find out DeviceID for outgoing messages", kOutInt},
    {33, "SetOutSourceID", "Set parameter SourceID for outgoing messages", kInInt},
    {34, "GetOutSourceID", "Find out SourceID for outgoing messages", kOutInt},
    {35, "SetOutTransactionID", "Set parameter TransactionID for outgoing messages", kInInt},
    {36, "GetOutTransactionID", "Find out TransactionID for outgoing messages", kOutInt},
    {37, "SendMessage", "Plan sending SML Message", kInBstr},
    {38, "NextMessage", "Analyze Next Received Message", {}},
    {39, "Reply", "Reply to the last analyzed received message", kInBstr},
    {40, "GetInDeviceID", "Find out parameter DeviceID of the last analyzed message", kOutInt},
    {41, "GetInStreamID", "Find out StreamID parameter of the last analyzed message", kOutInt},
    {42, "GetInFunctionID", "Find out FunctionID parameter of the last analyzed message", kOutInt},
    {43, "GetInWBit", "Find out WBit of the last analyzed message", kOutLong},
    {44, "GetInSourceID", "Find out parameter SourceID of the last analyzed message", kOutInt},
    {45, "GetInTransactionID", "Find out TransactionID of the last analyzed message", kOutInt},
    {46, "GetInRBit", "Get WBit of the last analyzed message", kOutLong},
    {47, "SetElemPointer", "Set Pointer to some element of the last analyzed message", kInBstr},
    {48, "GetElemQuantity", "Find out Quantity of pointed element", kOutInt},
    {49, "GetElemType", "Find out Type of pointed element", kOutSecsElemType},
    {50, "GetElemValue", "Find out Value of pointed element", kOutBstr},
    {51, "SetLogActive", "Activate writing Log", kInLong},
    {52, "GetLogActive", "Find out if writing log or not", kOutInt},
    {53, "SetLogFileName", "Set Log File Name", kInBstr},
    {54, "GetLogFileName", "Find out log file name", kOutBstr},
    {55, "SetLogAdjust", "Set Mask to adjust record types to log", kInInt},
    {56, "GetLogAdjust", "Get Mask of logging record types", kOutInt},
    {57, "SetLogString", "Put a string to driver's log file", kInBstr},
    {58, "SetConnectionMode", "Set Connecting Mode for HSMS", kInHsmsConnMode},
    {59, "GetConnectionMode", "Find out Connection Mode for HSMS", kOutHsmsConnMode},
    {60, "SetSingleSessionMode", "SetSingleSessionMode", kInLong},
    {61, "GetSingleSessionMode", "method GetSingleSessionMode", kOutLong},
    {62, "SetMaxPassvConnections", "Set maximum number of active connections if line is in passive mode", kInInt},
    {63, "GetMaxPassvConnections", "Get maximum number of active connections if line is in passive mode", kOutInt},
    {64, "GetPassvSelectedQuan", "Get current number of active connections if line is in passive mode", kOutIntVal},
    {65, "GetPassvSelectedSession", "Get sessionID for active connection number client_num", kInIntClientNumOutIntSessionid},
    {66, "SetMaxAlternSwitches", "Set retry number to connect in one mode before switching", kInInt},
    {67, "GetMaxAlternSwitches", "Get retry number to connect in one mode before switching", kOutInt},
    {68, "NextMessageSML", "return the string of last message in SML format", kOutBstr},
    {69, "GetElemGnrlQuan", "number of all elements in parsed array", kInIntPointer},
    {70, "GetElemGnrlPointer", "returns the pointer to elNumber-th element of parsed array", kInIntElnumberOutBstrPointer},
    {71, "NextMessageByte", "Return Next Received Message unparsed", kOutBstr},
};

static_assert(std::size(kTarvoFuncs) == 71);

// ---- _ITarvoEvents ------------------------------------------------------------------------

constexpr ParamDesc kNotifyParams[] = {{"sNotify", VT_I4, PARAMFLAG_FIN, "enum_SECS_NOTIFY"}};
constexpr ParamDesc kWrittenParams[] = {{"bSuccess", VT_I4, PARAMFLAG_FIN, nullptr}};

constexpr FuncDesc kEventFuncs[] = {
    {1, "OnSecsRead", "OnSecsRead", {}},
    {2, "OnSecsNotify", "OnSecsNotify", kNotifyParams},
    {3, "OnSecsWritten", "OnSecsWritten", kWrittenParams},
};

// ---- the library --------------------------------------------------------------------------

constexpr TypeDesc kTypes[] = {
    {TKIND_ENUM, "enum_SECS_NOTIFY", "", IID_NULL, 0, {}, kNotifyConsts},
    {TKIND_ENUM, "enum_SECS_LINE_TYPE", "", IID_NULL, 0, {}, kLineTypeConsts},
    {TKIND_ENUM, "enum_SECS_ELEM_TYPE", "", IID_NULL, 0, {}, kElemTypeConsts},
    {TKIND_ENUM, "enum_HSMS_CONN_MODE", "", IID_NULL, 0, {}, kConnModeConsts},
    {TKIND_DISPATCH, "ITarvo", "ITarvo Interface for managing SECSI lines", IID_ITarvo, TYPEFLAG_FDUAL,
     kTarvoFuncs},
    {TKIND_DISPATCH, "_ITarvoEvents", "_ITarvoEvents Interface", DIID__ITarvoEvents, 0, kEventFuncs},
    {TKIND_COCLASS, "Tarvo", "Tarvo Class", CLSID_Quill1, TYPEFLAG_FCANCREATE, {}, {}, IID_ITarvo,
     DIID__ITarvoEvents},
};

constexpr TypeLibDesc kLib = {"TARVOSRV1Lib", "TarvoSrv1 1.0 Type Library", LIBID_TARVOSRV1Lib, 1, 0, kTypes};

}  // namespace

const TypeLibDesc& tarvo_typelib_desc() { return kLib; }

std::span<const FuncDesc> itarvo_funcs() { return kTarvoFuncs; }

const FuncDesc* itarvo_func(DISPID id) {
    if (id < 1 || id > static_cast<DISPID>(std::size(kTarvoFuncs))) return nullptr;
    return &kTarvoFuncs[id - 1];
}

HRESULT create_tarvo_typelib(ITypeLib** lib) { return CreateStaticTypeLib(&kLib, lib); }

HRESULT create_itarvo_typeinfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* lib = nullptr;
    HRESULT hr = create_tarvo_typelib(&lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(IID_ITarvo, info);
    lib->Release();
    return hr;
}

}  // namespace tarvo
