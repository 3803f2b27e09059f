// Line types and HSMS connection modes.
#pragma once

namespace tarvo {

enum enum_SECS_LINE_TYPE : int {
    ltHSMS = 37,
    ltSECSI = 40,
    ltNone = 41,
};

enum enum_HSMS_CONN_MODE : int {
    cmNONE = -1,
    cmPASSIVE = 1,
    cmACTIVE = 2,
    cmALTERN = 3,
    cmSSActive = 11,
    cmSSPassive = 12,
    cmSSAlternating = 13,
    cmGSActive = 14,
    cmGSPassive = 15,
    cmGSAlternating = 16,
};

}  // namespace tarvo
