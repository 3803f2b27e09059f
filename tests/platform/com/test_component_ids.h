// Identifiers of the small test component that the runtime and host tests
// load as a real shared library.
#pragma once

#include "platform/com/dispatch.h"
#include "platform/com/guid.h"

// {3F7C2A10-6B1E-4C8D-9A55-1E2D3C4B5A61}
inline constexpr CLSID CLSID_TestCalc = {
    0x3F7C2A10, 0x6B1E, 0x4C8D, {0x9A, 0x55, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x61}};
// {3F7C2A11-6B1E-4C8D-9A55-1E2D3C4B5A61}
inline constexpr GUID LIBID_TestCalcLib = {
    0x3F7C2A11, 0x6B1E, 0x4C8D, {0x9A, 0x55, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x61}};
// {3F7C2A12-6B1E-4C8D-9A55-1E2D3C4B5A61}
inline constexpr IID IID_ICalc = {
    0x3F7C2A12, 0x6B1E, 0x4C8D, {0x9A, 0x55, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x61}};
// {3F7C2A13-6B1E-4C8D-9A55-1E2D3C4B5A61}
inline constexpr IID DIID_ICalcEvents = {
    0x3F7C2A13, 0x6B1E, 0x4C8D, {0x9A, 0x55, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x61}};

inline constexpr const char* kTestProgId = "Tarvo.TestCalc";

// ICalc, a dual interface.
struct ICalc : IDispatch {
    virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;            // 1
    virtual HRESULT Echo(BSTR text, BSTR* copy, LONG* length) = 0;  // 2
    // Raises event `which` (1 OnSecsRead, 2 OnSecsNotify, 3 OnSecsWritten)
    // with `arg`, after `delay_ms` on a thread of the object's own (0: now,
    // on the caller's thread).
    virtual HRESULT Raise(LONG which, LONG arg, LONG delay_ms) = 0;  // 3
    virtual HRESULT GetObjects(LONG* count) = 0;  // 4: live objects of the library

protected:
    ~ICalc() = default;
};
