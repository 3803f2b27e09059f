// Notification codes raised through OnSecsNotify.
#pragma once

namespace tarvo {

enum enum_SECS_NOTIFY : int {
    nSecsErrorUnexpectedChar = 1,
    nSecsErrorBadLength = 2,
    nSecsErrorSum = 3,
    nSecsErrorParity = 4,
    nSecsErrorBadMultiBlockNumber = 5,
    nSecsErrorBlockNumber = 6,
    nSecsErrorNak = 7,
    nSecsErrorRetry = 8,
    nSecsErrorT4 = 9,
    nSecsErrorT2 = 10,
    nSecsErrorT1 = 11,
    nSecsErrorT3 = 12,
    nSecsErrorDeviceID = 13,
    nSecsErrorPortReadFailed = 14,
    nSecsErrorPortWriteFailed = 15,
    nSecsErrorPortOpenFailed = 16,
    nSecsErrorListIncorrect = 17,
    nSecsErrorBlockDuplication = 18,
    nSecsErrorExtraBlock = 19,
    nSecsErrorNoMoreTimers = 20,
    nSecsErrorT5 = 21,
    nSecsErrorT6 = 22,
    nSecsErrorT7 = 23,
    nSecsErrorT8 = 24,
    nSecsErrorSocket = 25,
    nSecsErrorMessageType = 26,
    nSecsErrorSelectAlreadyAct = 27,
    nSecsErrorSelectNotReady = 28,
    nSecsErrorSelectConnExhaust = 29,
    nSecsErrorSelectReserved = 30,
    nSecsErrorReject = 31,
    nSecsErrorInternal = 50,
    nSecsReservedRead = 51,
    nSecsReservedWrittenTrue = 52,
    nSecsReservedWrittenFalse = 53,
    nHSMSConnectionActive = 100,
    nHSMSConnectionPassivePlus = 101,
    nHSMSConnectionPassiveMinus = 102,
    nHSMSAlternStartedPassive = 103,
    nHSMSAlternStartedActive = 104,
};

}  // namespace tarvo
