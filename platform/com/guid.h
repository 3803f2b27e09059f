// GUID, the 128-bit identifier of classes, interfaces and type libraries,
// with its braced text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", and the
// identifiers of the standard interfaces.
#pragma once

#include <string>

#include "platform/com/base_types.h"
#include "platform/com/hresult.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr CLSID CLSID_NULL = IID_NULL;
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints = {
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections = {
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// Our own small type-information interfaces (type_info.h); they are not the
// Windows ones, so they carry identifiers of their own.
inline constexpr IID IID_ITypeInfo = {0x5E1B7A30, 0x2C4D, 0x4F3A, {0x9B, 0x61, 0x0D, 0x8E, 0x3A, 0x57, 0x21, 0xC4}};
inline constexpr IID IID_ITypeLib = {0x5E1B7A31, 0x2C4D, 0x4F3A, {0x9B, 0x61, 0x0D, 0x8E, 0x3A, 0x57, 0x21, 0xC4}};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in either case,
// braces required). CO_E_CLASSSTRING on anything else; E_POINTER on null.
TARVO_COM_API HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
TARVO_COM_API HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// Writes the braced upper-case form (38 characters + zero) into `buffer`;
// returns the characters written including the zero, or 0 when `max` < 39.
TARVO_COM_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int max);

// The same two conversions on byte strings, for the registration store.
TARVO_COM_API std::string GuidToString(REFGUID guid);
TARVO_COM_API bool GuidFromString(const std::string& text, GUID* guid);
