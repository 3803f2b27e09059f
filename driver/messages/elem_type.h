// Element type numbers of decoded SECS-II items, as callers see them.
#pragma once

namespace tarvo {

enum enum_SECS_ELEM_TYPE : int {
    etSecsInv = 0, etSecsTypeInvalid = 0,
    etSecsL = 1, etSecsTypeList = 1,
    etSecsB = 2, etSecsTypeBinary = 2,
    etSecsBool = 3, etSecsT = 3, etSecsTypeBoolean = 3,
    etSecsA = 4, etSecsTypeAscii = 4,
    etSecsJ = 5, etSecsTypeJis = 5,
    etSecsI8 = 6, etSecsTypeLong8 = 6,
    etSecsI1 = 7, etSecsTypeChar = 7,
    etSecsI2 = 8, etSecsTypeShort = 8,
    etSecsI4 = 9, etSecsTypeLong = 9,
    etSecsF8 = 10, etSecsTypeDouble = 10,
    etSecsF4 = 11, etSecsTypeFloat = 11,
    etSecsU8 = 12, etSecsTypeDWord8 = 12,
    etSecsU1 = 13, etSecsTypeByte = 13,
    etSecsU2 = 14, etSecsTypeWord = 14,
    etSecsU4 = 15, etSecsTypeDWord = 15,
};

}  // namespace tarvo
